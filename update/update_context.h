// The working state of one firmware update, and the steps that work on it:
// ST area preservation and section transfer. Created at the start of
// RunFirmwareUpdate and released on every path by its owners.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "update/load_image.h"
#include "update/progress.h"
#include "update/update_error.h"
#include "update/update_firmware.h"

// The update's limits: map entries (load-file sections) and slots
// (printer-table entries).
inline constexpr uint32_t kMaxLoadEntries = 64;
inline constexpr uint32_t kMaxPrinterEntries = 30;
inline constexpr uint8_t kNoSlot = 0xFF;

// Whether a load-file section or printer-table entry is the printer's ST
// area (tag "ST").
inline bool IsSt(const uint8_t* tag) { return tag[0] == 'S' && tag[1] == 'T'; }
inline bool IsSt(const char* tag) { return tag[0] == 'S' && tag[1] == 'T'; }

// Categories of the update error record (backup file failures).
enum : uint8_t {
    kUpdErrCreateBackup = 0x51,
    kUpdErrWriteBackup = 0x52,
    kUpdErrCreateBackupN = 0x61,
    kUpdErrWriteBackupN = 0x62,
    kUpdErrOpenBackup = 0x71,
    kUpdErrReadBackup = 0x72,
    // The archive of the printer's ST data: its folder cannot be had or
    // made, or the file cannot be written.
    kUpdErrArchiveFolder = 0x53,
    kUpdErrWriteArchive = 0x54,
};

// The selection of a service restore: only the ST section is sent.
inline constexpr uint8_t kSelectionRestore = 'R';

// A zeroed byte block that knows its size; allocation failure is reported,
// never thrown.
class ByteBlock {
public:
    bool Allocate(size_t size);
    void Release() { m_data.reset(); m_size = 0; }
    bool IsAllocated() const { return m_data != nullptr; }
    uint8_t* data() { return m_data.get(); }
    const uint8_t* data() const { return m_data.get(); }
    size_t size() const { return m_size; }

private:
    std::unique_ptr<uint8_t[]> m_data;
    size_t m_size = 0;
};

// The printer's image table (GS J): a 32-byte ImageHeader and its entries.
struct PrinterTable {
    ByteBlock block;
    uint32_t entries = 0;
    uint8_t* Entry(uint32_t i) { return block.data() + 32 + size_t{i} * 64; }
    const uint8_t* Entry(uint32_t i) const { return block.data() + 32 + size_t{i} * 64; }
};

struct UpdateContext {
    UpdateContext(UpdateErrorRecord& errorRecord, IUpdateProgress* progressSink,
                  const UpdateOptions& runOptions, UpdateReport& runReport)
        : errors(errorRecord), progress(progressSink), options(runOptions), report(runReport) {
        for (uint8_t& m : map) m = kNoSlot;
    }
    // A plain update whose report nobody reads (the step tests).
    UpdateContext(UpdateErrorRecord& errorRecord, IUpdateProgress* progressSink)
        : UpdateContext(errorRecord, progressSink, m_defaultOptions, m_unreadReport) {}
    UpdateContext(const UpdateContext&) = delete;
    UpdateContext& operator=(const UpdateContext&) = delete;

private:
    UpdateOptions m_defaultOptions;
    UpdateReport m_unreadReport;

public:
    // Where file failures are recorded and progress is reported.
    UpdateErrorRecord& errors;
    IUpdateProgress* progress;
    // What the run was asked for, and what it tells its caller.
    const UpdateOptions& options;
    UpdateReport& report;
    std::string backupPath;
    // The archive: its folder (resolved on first use) and the contents
    // archived so far, so that a second read-back of the same data adds no
    // second file.
    std::string archiveFolder;
    std::vector<std::vector<uint8_t>> archivedContents;
    // The version the printer must report after its restart (4 bytes).
    uint8_t expectedVersion[4] = {};
    LoadImage image;
    uint8_t map[kMaxLoadEntries];
    uint8_t printerHeader[32] = {};
    PrinterTable printerTable;
    ByteBlock slots[kMaxPrinterEntries];
    uint8_t selection = ' ';
    uint8_t status[2] = {0, 2};  // mode, condition
    int result = 0;

    // Buffers of the transfer: the section descriptor and one data block.
    ByteBlock descriptor;
    ByteBlock block;
    // Progress of the transfer.
    uint32_t sectionsSent = 0;
    uint64_t bytesSent = 0;

    // Releases the transfer's tables and the read-back data.
    void ReleaseTables();
    // Reports a phase to the progress interface, if there is one.
    void Report(UpdatePhase phase) const {
        if (progress != nullptr) progress->OnPhase(phase);
    }
    const StRestoreRequest* Restore() const { return options.restore; }
};

// The entry count and layout number of an ImageHeader (big-endian).
uint16_t HeaderEntryCount(const uint8_t* header);
uint32_t HeaderLayout(const uint8_t* header);

// ST area preservation: backup from the printer, re-read when the layouts
// differ, restore into the image. 0 or the first failure's result.
int PreserveStArea(UpdateContext& ctx);
// Reads printer area i for load-file entry j into slot i, asking under tag.
int ReadBackArea(UpdateContext& ctx, uint32_t i, uint32_t j, const uint8_t tag[2]);
// Writes slot i to the backup file; 0 or 4.
int SaveBackup(UpdateContext& ctx, uint32_t i, uint8_t createCategory, uint8_t writeCategory);
// Writes slot i into the archive unless the run archived the same bytes
// already; 0 or 4 (with the update error record written).
int ArchiveSlot(UpdateContext& ctx, uint32_t i);
// A restore's checks against the printer's table: 0, or 4 with the
// refusal in the report.
int CheckRestoreFits(UpdateContext& ctx);

// Section transfer: selection, capacity check, image table, sections,
// version text. 0 or the first failure's result.
int TransferSections(UpdateContext& ctx);
int SendImageTable(UpdateContext& ctx);
int SendSection(UpdateContext& ctx, uint32_t j);
