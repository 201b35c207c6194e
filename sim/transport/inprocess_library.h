// The virtual printer behind the access-library link, in process: the
// relay access library (sim/access_library/qv71xx_relay.h) bound to a
// library implementation whose one printer is a VirtualPrinter on a
// virtual clock. The link loads nothing itself: a test puts module() into
// the library table.
//
// The library behaves as a network printer library would: it offers one
// printer; a printer handle is a connection to the printer, which fails to
// open while the printer is off its link; the reservation (mode 1) and its
// release (mode 2) exchange the printer's FS = frame over that connection
// (result 0 when the printer grants it with 1, 31 with 2, 1 when it
// refuses, 2 when the exchange fails); a transfer on a connection that the
// printer left fails, and a read that gets no answer fails after 30 s of
// virtual time. Arguments the interface fixes as 0 must be 0.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/dynlib.h"
#include "sim/engine/virtual_printer.h"

namespace sim {

class InProcessLibrary {
public:
    // Loads the relay library at relayPath and binds it to this library.
    // clock may be null (no time is charged).
    InProcessLibrary(VirtualPrinter& printer, platform::VirtualClock* clock,
                     const std::string& relayPath);
    // Unbinds and frees the relay library.
    ~InProcessLibrary();
    InProcessLibrary(const InProcessLibrary&) = delete;
    InProcessLibrary& operator=(const InProcessLibrary&) = delete;

    // The loaded relay library (null when it did not load or has no
    // qv71XXRelayBind): what a library-table entry takes.
    platform::ModuleHandle module() const;

    // Every call in order: "EnumPrinters", "OpenPrinter <id>" (the text at
    // byte 8 of the record it was handed), "Reserve<mode>", "Write",
    // "Read", "WriteData", "ReadData", "WriteReadComplete", "ClosePrinter",
    // "Terminate"; a call that fails adds " failed" (the printer is off its
    // link or left the connection), " timeout" (no answer), " refused" (the
    // printer refused the reservation), " bad handle" or " bad argument".
    const std::vector<std::string>& calls() const;
    // Printer handles open in the library.
    int openPrinters() const;
    // Virtual milliseconds charged per transfer (default 1).
    void SetCostPerCall(uint32_t ms);

    // The identification of the library's one printer, at byte 8 of the
    // record it enumerates.
    static constexpr const char* kPrinterId = "SIM00001";

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The virtual printer behind the access-library link on a virtual clock;
// the clock is installed for the lifetime of the object.
class InProcessLibraryRig {
public:
    InProcessLibraryRig(Scenario scenario, const std::string& relayPath);
    ~InProcessLibraryRig();
    InProcessLibraryRig(const InProcessLibraryRig&) = delete;
    InProcessLibraryRig& operator=(const InProcessLibraryRig&) = delete;
    platform::VirtualClock clock;
    VirtualPrinter printer;
    InProcessLibrary library;
};

}  // namespace sim
