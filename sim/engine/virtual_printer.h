// The virtual ZK-Q870: the printer's side of the wire protocol, byte by
// byte. It is a byte-stream state machine with no I/O of its own: a
// transport feeds it the host's bytes, takes its reply bytes, and tells it
// how much time has passed. It is strict the way the real printer is: a
// frame it does not understand, or one whose fields do not hold, is
// refused (GS frames with NAK 0x15 in reply byte 1, FS frames with a reply
// whose letter differs from the request's).
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
    std::vector<uint8_t> payload;   // payload bytes that followed, if any
    bool refused = false;           // answered with a refusal
};

struct Stats {
    uint32_t framesReceived = 0;
    uint32_t replies = 0;
    uint32_t refusals = 0;
    uint32_t faultsFired = 0;
    uint32_t blocksWritten = 0;
    uint32_t restarts = 0;
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

    // --- Transport side ---------------------------------------------------
    // Bytes from the host. Ignored while the link is down.
    void HostWrite(const uint8_t* data, size_t n);
    // Reply bytes for the host, at most n (and at most one piece when a
    // kPieces fault is active). Returns 0 when nothing is ready.
    size_t HostRead(uint8_t* out, size_t n);
    // Reply bytes ready now.
    size_t Pending() const;
    // False while the link is down: dropped by a fault, or the printer is
    // restarting. A transport fails transfers and hides the device then.
    bool LinkUp() const;
    // True once a kSilent fault fired: reads must time out.
    bool Silent() const;
    // Printer time passes (restart delays, returning after a drop).
    void AdvanceTime(uint32_t ms);
    // Incremented each time the link goes down and comes back, so that a
    // transport can tell a new connection from the old one.
    uint32_t LinkGeneration() const;
    // A new connection begins (the transport opened the device / accepted
    // a client): any half-received frame and unread reply are discarded.
    void Connect();

    // UDP search: the reply datagrams for one request datagram (empty when
    // the request is not a search).
    std::vector<std::vector<uint8_t>> AnswerSearch(const uint8_t* data, size_t n);

    // --- Observation --------------------------------------------------------
    const std::vector<Frame>& frames() const;
    const Stats& stats() const;
    // JSON text: frames received, replies, refusals, faults fired, restarts.
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
    std::shared_ptr<Impl> impl_;
};

}  // namespace sim
