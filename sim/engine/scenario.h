// What a virtual ZK-Q870 looks like and how it misbehaves: everything a
// test or a scenario file can set. Defaults describe a healthy printer of
// layout 6 running firmware "1.2" with one ST area of 1,536 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// One memory area of the printer, as its image table lists it.
struct Area {
    std::string tag;           // two ASCII letters, e.g. "ST"
    uint32_t attribute = 1;    // attribute word
    uint32_t loadAddress = 0;
    uint32_t areaSize = 0;     // capacity in bytes
    std::vector<uint8_t> data; // what the area holds now (data length = size)
};

// What a fault does when it fires.
enum class FaultAction {
    kDrop,       // the link goes down on receipt of the frame; no reply
    kNak,        // the frame is refused
    kSilent,     // the printer never answers again (reads time out)
    kPieces,     // from this frame on replies leave in pieces of `pieceSize`
    kOverlong,   // the reply announces and sends `extraBytes` more than asked
};

struct Fault {
    // Fires on the Nth frame received (1-based, FS and GS frames counted
    // together, search datagrams not) ...
    uint32_t atFrame = 0;
    // ... or, when atFrame is 0, on the `occurrence`th frame (1-based) with
    // this introducer (0x1C / 0x1D) and letter.
    uint8_t introducer = 0;
    uint8_t letter = 0;
    uint32_t occurrence = 1;
    FaultAction action = FaultAction::kDrop;
    uint32_t pieceSize = 1;
    uint32_t extraBytes = 16;
};

// A fault on the occurrence-th GS frame with this letter.
inline Fault GsFault(char letter, uint32_t occurrence, FaultAction action) {
    Fault f;
    f.introducer = 0x1D;
    f.letter = static_cast<uint8_t>(letter);
    f.occurrence = occurrence;
    f.action = action;
    return f;
}

struct Scenario {
    // FS Y: 51 bytes; the firmware version in bytes 38 to 41 and the
    // identifier in bytes 42 to 49 are kept in step with `version` and
    // `identifier` below when the reply is built.
    std::string version = "1.2 ";        // 4 characters as the system info shows them
    std::string identifier = "ZKQ00001"; // up to 8 characters
    std::vector<uint8_t> systemInfo;     // other bytes of the 51 (zero when empty)
    // FS T: 60 bytes; byte 0 bit 0x02 (busy) is set for the first
    // `busyPolls` status requests.
    std::vector<uint8_t> status;
    uint32_t busyPolls = 0;
    // Reply areas of the other FS requests (zero-filled when empty).
    std::vector<uint8_t> errorInfo;     // FS S, 22 bytes
    std::vector<uint8_t> productInfo;   // FS I, 36 bytes
    std::vector<uint8_t> netSettings;   // FS J, 64 bytes
    std::vector<uint8_t> printerData;   // FS G
    std::vector<uint8_t> log;           // FS V
    uint8_t reserveResult = 1;          // FS = result byte for every request
    // UDP search: each responder answers with these 32-byte records.
    std::vector<std::vector<uint8_t>> searchRecords;

    // Maintenance side.
    uint32_t layout = 6;                 // layout number in the image header
    std::string imageVersion = "1.2";    // version text of the image header (space padded to 16)
    uint8_t classByte = 1;               // GS O reply
    std::vector<Area> areas;             // empty: the default table (MC, ST, DP, FG)
    bool noAreas = false;                // with `areas` empty: a table without entries
    uint32_t maintenanceBusyPolls = 2;   // GS E polls answered busy after GS A
    // ... and at least this much of the printer's own time after GS A: the
    // first poll after that time (and after those polls) answers ready.
    uint32_t maintenanceBusyMs = 0;
    // The condition once those polls are over: 1 ready, 0x80 the printer
    // failed to enter maintenance (it then refuses every maintenance frame).
    uint8_t startCondition = 1;
    // A mode change takes the printer a moment: after each of these frames
    // the next GS E polls answer busy (in the new mode), and a frame that
    // must wait for a ready mode (GS I, N, Q, U, B; GS R, S) is refused
    // until a poll has answered ready. Frames that go without a wait (GS J,
    // O, V, W, C, E) are served meanwhile.
    struct ModeChangePolls {
        uint32_t imageTable = 2;     // GS I
        uint32_t version = 2;        // GS N
        uint32_t beginSection = 2;   // GS Q (into mode 3)
        uint32_t commit = 2;         // GS S (back to mode 2)
        uint32_t beginReadBack = 2;  // GS U
        uint32_t endReadBack = 2;    // GS W
    } busyPollsAfter;
    // After GS B the printer finishes the firmware for `finishMs` of its own
    // time (GS E answers busy meanwhile, and for at least `finishBusyPolls`
    // polls), then answers mode 1 once and restarts.
    uint32_t finishMs = 1000;
    uint32_t finishBusyPolls = 0;
    uint32_t restartDelayMs = 15000;     // time the printer is off the link after GS B / GS C
    // A dropped link (fault) comes back after this long; 0: never.
    uint32_t dropReturnMs = 15000;
    // Flash-like areas: an accepted GS Q erases its area before the first
    // block arrives, and an accepted GS I erases every area whose place
    // (load address or size) it changes. An erased area holds no data until
    // a section is committed into it. Off: an area is only replaced when a
    // section is committed.
    bool flashErase = false;

    std::vector<Fault> faults;
};

// The default area table: MC, ST, DP and FG with the load addresses and
// sizes of the shipped firmware; ST holds 1,536 bytes of printer data.
std::vector<Area> DefaultAreas();

}  // namespace sim
