// Running a row of the command descriptor table: the argument vector is
// formed from the row's slots in order; element i points at a 256-byte copy
// of slot i's default text (so output slots are written back there), and
// an address slot ("0x...") is given caller memory.
#pragma once

#include <array>

#include "link/printer_io.h"

// True when the slot's argument is an address of caller memory.
bool IsAddressSlot(const CommandParam& param);

class CommandArguments {
public:
    // Copies the default texts of the row's 20 slots.
    explicit CommandArguments(const CommandDescriptor& row);

    // The 256-byte text of slot i (read an output, or override an input).
    char* Text(int slot) { return m_texts[static_cast<size_t>(slot)].data(); }
    // Gives slot i caller memory instead of its text.
    void SetAddress(int slot, void* memory) {
        m_elements[static_cast<size_t>(slot)] = static_cast<char*>(memory);
    }
    ArgVector Vector() { return m_elements.data(); }

private:
    std::array<std::array<char, kCmdDefaultTextSize>, kCmdParamSlots> m_texts{};
    std::array<char*, kCmdParamSlots> m_elements{};
};

// Runs row r on the link object; returns the handler's result, or 0 when
// the row has no handler (the closing row, or past it).
int RunCommandRow(CPrinterIO* io, int row, CommandArguments* arguments);
