// Progress of an update, reported by the engine and drawn by a front end.
// The engine never prints.
#pragma once

#include <cstdint>
#include <string>

enum class UpdatePhase {
    kPreparing,     // reading the load file and the printer's tables
    kPreserving,    // reading back and saving the printer's ST area
    kTransferring,  // writing sections
    kFinishing,     // finish or cancel sent, waiting for the printer
    kReconnecting,  // waiting for the printer to come back on the link
    kDone,
};

class IUpdateProgress {
public:
    virtual ~IUpdateProgress() = default;
    virtual void OnPhase(UpdatePhase phase) = 0;
    // Totals of the transfer, known once the sections to send are chosen.
    virtual void OnTransferPlan(uint32_t sections, uint32_t blocks, uint64_t bytes) = 0;
    // A section starts: its tag (two letters), its number among the
    // sections sent (from 1) and its block count.
    virtual void OnSection(const char tag[2], uint32_t section, uint32_t blocks) = 0;
    // A block went through; bytes counts the data bytes sent so far.
    virtual void OnBlock(uint32_t block, uint32_t blocks, uint64_t bytes) = 0;
    // The printer's ST data read back was archived in this file.
    virtual void OnArchived(const std::string& path) {}
    // The printer answered again after its restart; version is the 4-byte
    // version text of its system information (not terminated).
    virtual void OnPrinterBack(const char version[4]) { (void)version; }
};
