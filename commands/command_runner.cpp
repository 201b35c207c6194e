#include "commands/command_runner.h"

#include <cstring>

bool IsAddressSlot(const CommandParam& param) { return strcmp(param.defaultText, "0x...") == 0; }

CommandArguments::CommandArguments(const CommandDescriptor& row) {
    for (int i = 0; i < kCmdParamSlots; ++i) {
        const CommandParam& p = row.params[i];
        memcpy(m_texts[static_cast<size_t>(i)].data(), p.defaultText, kCmdDefaultTextSize);
        m_texts[static_cast<size_t>(i)][kCmdDefaultTextSize - 1] = '\0';
        // An address slot has no memory until the caller gives it some.
        m_elements[static_cast<size_t>(i)] =
            IsAddressSlot(p) ? nullptr : m_texts[static_cast<size_t>(i)].data();
    }
}

int RunCommandRow(CPrinterIO* io, int row, CommandArguments* arguments) {
    if (row < 0 || row >= kCmdTableSize) return 0;
    // The list ends at the first row without a handler.
    for (int r = 0; r <= row; ++r) {
        if (io->m_commandTable[r].handler == nullptr) return 0;
    }
    return (io->*(io->m_commandTable[row].handler))(arguments->Vector());
}
