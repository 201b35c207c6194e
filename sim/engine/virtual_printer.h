// The virtual ZK-Q870: the printer's side of the wire protocol, byte by
// byte. It is a byte-stream state machine with no I/O of its own: a
// transport feeds it the host's bytes, takes its reply bytes, and tells it
// how much time has passed. It is strict the way the real printer is: a
// frame it does not understand, or one whose fields do not hold, is
// refused with NAK 0x15 in reply byte 1 and no data (for an FS frame that
// is a reply whose letter differs from the request's), and a refused
// frame changes nothing in the printer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/engine/scenario.h"

namespace sim {

// One frame as the printer received it.
struct Frame {
    uint8_t introducer = 0;         // 0x1C FS or 0x1D GS
    uint8_t letter = 0;
    uint32_t parameter = 0;         // the 32-bit header field
    // Payload bytes that followed, if any. An FS P frame whose payload is
    // larger than 4,096 bytes (a DMA image plane) keeps only its first 26
    // bytes here; `parameter` still gives its full size.
    std::vector<uint8_t> payload;
    bool refused = false;           // answered with a refusal
    bool unanswered = false;        // a fault swallowed it (link dropped, printer silent)
};

struct Stats {
    uint32_t framesReceived = 0;
    uint32_t replies = 0;
    uint32_t refusals = 0;
    uint32_t faultsFired = 0;
    uint32_t blocksWritten = 0;     // GS R blocks accepted
    uint32_t restarts = 0;          // restarts begun (after GS B or GS C)
    uint32_t sectionsWritten = 0;   // GS S commits stored into an area
    uint32_t planesReceived = 0;    // FS P ESC J image planes accepted
    uint32_t searchesAnswered = 0;  // UDP searches that got replies
};

// Maintenance mode as GS E reports it.
enum : uint8_t {
    kModeNormal = 1,
    kModeMaintenance = 2,
    kModeData = 3,
    kConditionReady = 1,
    kConditionBusy = 2,
    kConditionFailed = 0x80,
};

class VirtualPrinter {
public:
    explicit VirtualPrinter(Scenario scenario = Scenario());
    ~VirtualPrinter();
    VirtualPrinter(VirtualPrinter&&) noexcept;
    VirtualPrinter& operator=(VirtualPrinter&&) noexcept;
    VirtualPrinter(const VirtualPrinter&) = delete;
    VirtualPrinter& operator=(const VirtualPrinter&) = delete;

    // --- Transport side ---------------------------------------------------
    // Bytes from the host, in pieces of any size. Ignored while the link is
    // down or the printer is silent. A frame's payload is taken in as its
    // parameter announces (so a refused frame leaves the stream in step);
    // a header with an unknown introducer, or announcing more payload than
    // any frame carries, is refused and the rest of that write discarded.
    void HostWrite(const uint8_t* data, size_t n);
    // Reply bytes for the host, at most n (and at most one piece when a
    // kPieces fault is active). Returns 0 when nothing is ready.
    size_t HostRead(uint8_t* out, size_t n);
    // Reply bytes ready now.
    size_t Pending() const;
    // False while the link is down: dropped by a fault, or the printer is
    // restarting. A transport fails transfers and hides the device then.
    // After GS B (once the final status is out) and GS C the link goes down
    // when the reply has been read, or when the host writes or connects
    // again without reading it.
    bool LinkUp() const;
    // True once a kSilent fault fired: reads must time out.
    bool Silent() const;
    // Printer time passes (restart delays, returning after a drop).
    void AdvanceTime(uint32_t ms);
    // Incremented each time the link comes back after going down, so that
    // a transport can tell a new connection from the old one.
    uint32_t LinkGeneration() const;
    // A new connection begins (the transport opened the device / accepted
    // a client): any half-received frame and unread reply are discarded.
    void Connect();

    // UDP search: the reply datagrams for one request datagram, one per
    // search record (cut or zero-padded to 32 bytes); none when the request
    // is not a well-formed search or the printer is off its link or silent.
    std::vector<std::vector<uint8_t>> AnswerSearch(const uint8_t* data, size_t n);

    // --- Observation --------------------------------------------------------
    const std::vector<Frame>& frames() const;
    const Stats& stats() const;
    // JSON text: the counters of stats() and the printer's state (mode,
    // condition, layout, versions, link).
    std::string SummaryJson() const;

    // Printer state for assertions.
    uint8_t mode() const;
    uint8_t condition() const;
    uint32_t layout() const;
    const std::string& version() const;          // 4 characters, system info bytes 38..41
    const std::string& imageVersion() const;     // 16 characters
    const std::vector<Area>& areas() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sim
