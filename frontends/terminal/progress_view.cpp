#include "frontends/terminal/progress_view.h"

#include <cinttypes>

#include "frontends/terminal/translation.h"

namespace {

const char* PhaseText(UpdatePhase phase) {
    switch (phase) {
        case UpdatePhase::kPreparing:
            return _("update: preparing: reading the load file and the printer");
        case UpdatePhase::kPreserving:
            return _("update: preserving the printer's ST area");
        case UpdatePhase::kTransferring:
            return _("update: transferring the firmware");
        case UpdatePhase::kFinishing:
            return _("update: finishing: the printer restarts");
        case UpdatePhase::kReconnecting:
            return _("update: waiting for the printer to come back");
        case UpdatePhase::kDone:
            return _("update: done");
    }
    return "";
}

std::string Duration(double seconds) {
    if (seconds < 0) seconds = 0;
    const auto s = static_cast<unsigned long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%lu:%02lu", s / 60, s % 60);
    return text;
}

}  // namespace

std::string FormatBytes(uint64_t bytes) {
    char text[32];
    if (bytes >= 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f MiB",
                      static_cast<double>(bytes) / (1024.0 * 1024.0));
    else if (bytes >= 1024)
        std::snprintf(text, sizeof text, "%.0f KiB", static_cast<double>(bytes) / 1024.0);
    else
        std::snprintf(text, sizeof text, "%" PRIu64 " B", bytes);
    return text;
}

TerminalProgress::TerminalProgress(std::FILE* out, bool bar) : m_out(out), m_bar(bar) {}

TerminalProgress::~TerminalProgress() { EndBar(); }

void TerminalProgress::EndBar() {
    if (m_barDrawn) {
        std::fputc('\n', m_out);
        std::fflush(m_out);
        m_barDrawn = false;
    }
}

void TerminalProgress::Line(const std::string& text) {
    EndBar();
    std::fprintf(m_out, "%s\n", text.c_str());
    std::fflush(m_out);
}

void TerminalProgress::OnPhase(UpdatePhase phase) { Line(PhaseText(phase)); }

void TerminalProgress::OnPrinterBack(const char version[4]) {
    m_versionBack.assign(version, 4);
    while (!m_versionBack.empty() && (m_versionBack.back() == ' ' || m_versionBack.back() == '\0'))
        m_versionBack.pop_back();
    Line(Format(_("update: the printer is back and runs version %s"), m_versionBack.c_str()));
}

void TerminalProgress::OnArchived(const std::string& path) {
    Line(Format(_("update: the printer's ST data is archived in %s"), path.c_str()));
}

void TerminalProgress::OnTransferPlan(uint32_t sections, uint32_t blocks, uint64_t bytes) {
    m_sections = sections;
    m_totalBlocks = blocks;
    m_totalBytes = bytes;
    m_start = Clock::now();
    Line(Format(_("update: %u sections, %u blocks, %s"), sections, blocks,
                FormatBytes(bytes).c_str()));
}

void TerminalProgress::OnSection(const char tag[2], uint32_t section, uint32_t blocks) {
    m_tag.assign(tag, 2);
    m_section = section;
    m_sectionBlocks = blocks;
    m_block = 0;
    if (!m_bar)
        Line(Format(_("update: section %s (%u/%u), %u blocks"), m_tag.c_str(), section,
                    m_sections, blocks));
}

std::string TerminalProgress::BarText(uint32_t width) const {
    const double done = m_totalBytes ? static_cast<double>(m_bytes) / m_totalBytes : 0.0;
    const auto filled = static_cast<uint32_t>(done * width + 0.5);
    std::string bar = "[" + std::string(filled, '#') + std::string(width - filled, '-') + "]";
    const double elapsed = std::chrono::duration<double>(Clock::now() - m_start).count();
    std::string left = "--:--";
    if (m_bytes > 0 && m_totalBytes >= m_bytes)
        left = Duration(elapsed * static_cast<double>(m_totalBytes - m_bytes) / m_bytes);
    return Format(_("%s %3u%%  %s %u/%u  block %u/%u  %s of %s  left %s"), bar.c_str(),
                  static_cast<unsigned>(done * 100 + 0.5), m_tag.c_str(), m_section, m_sections,
                  m_block, m_sectionBlocks, FormatBytes(m_bytes).c_str(),
                  FormatBytes(m_totalBytes).c_str(), left.c_str());
}

void TerminalProgress::OnBlock(uint32_t block, uint32_t blocks, uint64_t bytes) {
    m_block = block;
    m_sectionBlocks = blocks;
    m_bytes = bytes;
    ++m_blocksDone;
    const Clock::time_point now = Clock::now();
    if (m_bar) {
        // Redraw at most ten times a second, and always at a section's end.
        if (block == blocks || now - m_lastDraw >= std::chrono::milliseconds(100)) {
            m_lastDraw = now;
            // Back to the line's start, the new text, and the rest of the
            // line erased: a shorter text must not leave the end of the
            // longer one behind it.
            std::fprintf(m_out, "\r%s\x1b[K", BarText(30).c_str());
            std::fflush(m_out);
            m_barDrawn = true;
        }
    } else if (block == blocks) {
        Line(Format(_("update: section %s done, %u/%u blocks, %llu of %llu bytes"),
                    m_tag.c_str(), block, blocks, static_cast<unsigned long long>(bytes),
                    static_cast<unsigned long long>(m_totalBytes)));
    }
}
