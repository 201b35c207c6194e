// The update's progress on the terminal: a bar that redraws itself when
// the output is a terminal, plain lines otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "update/progress.h"

class TerminalProgress : public IUpdateProgress {
public:
    TerminalProgress(std::FILE* out, bool bar);
    ~TerminalProgress() override;

    void OnPhase(UpdatePhase phase) override;
    void OnTransferPlan(uint32_t sections, uint32_t blocks, uint64_t bytes) override;
    void OnSection(const char tag[2], uint32_t section, uint32_t blocks) override;
    void OnBlock(uint32_t block, uint32_t blocks, uint64_t bytes) override;
    void OnArchived(const std::string& path) override;
    void OnPrinterBack(const char version[4]) override;

    // The bar's text for the current state (also what plain lines show).
    std::string BarText(uint32_t width) const;

    // Firmware bytes sent so far, and the version the printer reported
    // when it came back after its restart ("" if it did not).
    uint64_t bytesSent() const { return m_bytes; }
    const std::string& versionBack() const { return m_versionBack; }

private:
    using Clock = std::chrono::steady_clock;
    void EndBar();
    void Line(const std::string& text);

    std::FILE* m_out;
    bool m_bar;
    bool m_barDrawn = false;
    Clock::time_point m_start{};
    Clock::time_point m_lastDraw{};
    uint32_t m_sections = 0;
    uint32_t m_totalBlocks = 0;
    uint64_t m_totalBytes = 0;
    std::string m_tag;
    uint32_t m_section = 0;
    uint32_t m_sectionBlocks = 0;
    uint32_t m_block = 0;
    uint32_t m_blocksDone = 0;  // over all sections
    uint64_t m_bytes = 0;
    std::string m_versionBack;
};

// "1.2 MiB", "512 KiB", "800 B".
std::string FormatBytes(uint64_t bytes);
