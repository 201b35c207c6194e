#include "sim/engine/virtual_printer.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>

#include <nlohmann/json.hpp>

#include "link/byte_order.h"
#include "update/checksum.h"

namespace sim {

namespace {

constexpr uint8_t kFs = 0x1C;
constexpr uint8_t kGs = 0x1D;
constexpr uint8_t kNak = 0x15;
constexpr uint8_t kEsc = 0x1B;

constexpr uint32_t kBlockSize = 8192;
constexpr uint32_t kBlockOverhead = 28;  // 24-byte block header, 4-byte trailer
constexpr uint32_t kPlaneBytes = 2048u * 1300u;
constexpr uint32_t kPlanePayload = 2 + 24 + kPlaneBytes;
// No frame the printer knows carries more than one image plane. A header
// announcing more cannot be in step with the stream.
constexpr uint32_t kLargestPayload = kPlanePayload;
// FS P text commands are short; a longer FS P payload is a plane (or junk)
// and only its first 26 bytes are kept for observation.
constexpr uint32_t kKeptPrintPayload = 4096;
constexpr uint32_t kKeptPlaneBytes = 26;
constexpr uint32_t kMaxTableEntries = 64;
constexpr uint32_t kMaxPacketSize = 65536;
constexpr uint8_t kOverlongFill = 0xA5;

constexpr size_t kErrorInfoSize = 22;
constexpr size_t kProductInfoSize = 36;
constexpr size_t kSystemInfoSize = 51;
constexpr size_t kStatusSize = 60;
constexpr size_t kNetSettingsSize = 64;
constexpr size_t kImageHeaderSize = 32;
constexpr size_t kImageEntrySize = 64;
constexpr size_t kDescriptorSize = 13;
constexpr size_t kVersionTextSize = 16;

std::vector<uint8_t> Sized(std::vector<uint8_t> v, size_t n) {
    v.resize(n, 0);
    return v;
}

std::string Padded(const std::string& s, size_t n) {
    std::string out = s.substr(0, n);
    out.resize(n, ' ');
    return out;
}

bool IsTagByte(uint8_t b) { return b > 0x20 && b < 0x7F; }

bool AllZero(const uint8_t* p, size_t n) {
    return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

bool Printable(const uint8_t* p, size_t n) {
    return std::all_of(p, p + n, [](uint8_t b) { return b >= 0x20 && b <= 0x7E; });
}

// Attribute words use their low 24 bits: a word whose top byte is set was
// written in the wrong byte order (attribute 1 sent little-endian reads
// 0x01000000).
bool AttributeWordValid(uint32_t word) { return (word >> 24) == 0; }

uint32_t BlocksFor(size_t bytes) {
    return static_cast<uint32_t>((bytes + kBlockSize - 1) / kBlockSize);
}

// How the payload of a frame is taken in.
enum class PayloadKind {
    kNone,     // the parameter is a reply length (or 0)
    kPayload,  // the parameter is the payload length
};

PayloadKind KindOf(uint8_t introducer, uint8_t letter) {
    if (introducer == kFs) {
        switch (letter) {
        case '=': case 'H': case 'K': case 'P': return PayloadKind::kPayload;
        default: return PayloadKind::kNone;
        }
    }
    if (introducer == kGs) {
        switch (letter) {
        case 'I': case 'N': case 'Q': case 'R': case 'U': return PayloadKind::kPayload;
        default: return PayloadKind::kNone;
        }
    }
    return PayloadKind::kNone;
}

}  // namespace

struct VirtualPrinter::Impl {
    explicit Impl(Scenario s);

    // --- configuration and printer state ---------------------------------
    Scenario sc;
    std::vector<Area> areas;
    std::vector<Checksum> sums;        // per area, over its data
    std::vector<uint8_t> classValues;  // per area, descriptor byte 0 of GS U
    std::vector<uint8_t> netSettings;
    uint32_t layout = 0;
    std::string version;       // 4 characters
    std::string imageVersion;  // 16 characters
    uint8_t mode = kModeNormal;
    uint8_t condition = kConditionReady;
    uint32_t busyPollsLeft = 0;  // GS E polls still answered busy
    uint64_t startLeftMs = 0;    // printer time until a started run may be ready
    uint32_t settlePolls = 0;    // polls still answered busy after a mode change
    bool finishing = false;      // GS B accepted, firmware being finished
    uint64_t finishLeftMs = 0;   // printer time until the firmware is finished
    std::string pendingVersion;  // from GS N, empty when none
    uint32_t statusRequests = 0; // FS T requests so far

    struct ReadBack {
        bool active = false;
        size_t area = 0;
        uint32_t packetSize = 0;
        uint32_t offset = 0;
        uint16_t packet = 0;
    } readBack;
    // Per tag: the area that the last GS U for it read (several areas may
    // share a tag; each GS U takes the next one).
    std::map<std::string, size_t> lastReadArea;

    struct Section {
        size_t area = 0;
        uint8_t classByte = 0;
        uint32_t blocks = 0;
        uint32_t nextBlock = 1;
        Checksum expected;
        std::vector<uint8_t> data;
    } section;  // valid in mode 3

    // --- link ---------------------------------------------------------------
    enum class Down { kNone, kDropped, kRestarting };
    bool linkUp = true;
    Down down = Down::kNone;
    bool returns = false;
    uint64_t returnInMs = 0;
    bool restartWhenDrained = false;
    bool restartFinishes = false;  // the restart installs the pending version
    bool silent = false;
    uint32_t pieceSize = 0;  // 0: replies leave whole
    uint32_t generation = 0;

    // --- input and output -----------------------------------------------------
    uint8_t header[6] = {};
    size_t headerLength = 0;
    bool collecting = false;
    uint32_t remaining = 0;
    uint32_t keepLimit = 0;
    bool discardRest = false;
    Frame current;
    std::vector<uint8_t> out;
    size_t outPos = 0;

    // --- observation ---------------------------------------------------------
    std::vector<Frame> frames;
    Stats stats;
    std::vector<bool> faultFired;
    std::map<uint16_t, uint32_t> occurrences;

    // --- stream ---------------------------------------------------------------
    void Write(const uint8_t* data, size_t n);
    void StartFrame();
    void FinishFrame();
    void QueueReply(uint8_t introducer, uint8_t code, const std::vector<uint8_t>& data,
                    uint32_t extra);
    size_t Read(uint8_t* dst, size_t n);
    size_t Pending() const { return linkUp && !silent ? out.size() - outPos : 0; }
    void ClearStream();

    // --- link ---------------------------------------------------------------
    void GoDown(Down why);
    void ComeBack();
    void Advance(uint32_t ms);

    // --- frames ---------------------------------------------------------------
    // Each handler checks everything first and changes state only when it
    // accepts; it returns false to refuse. `reply` receives the data.
    bool HandleFs(const Frame& f, std::vector<uint8_t>& reply);
    bool HandleGs(const Frame& f, std::vector<uint8_t>& reply);
    bool HandlePrintJob(const Frame& f);
    bool MaintenanceReady(bool duringReadBack) const;
    // No mode change is still under way: a frame that the host must wait
    // for a ready mode before sending may come.
    bool Settled() const { return settlePolls == 0; }
    // A section or table for this printer carries its class (what GS O
    // reports) or class 0, data that belongs to no class (the ST area).
    bool ClassAccepted(uint8_t c) const { return c == 0 || c == sc.classByte; }
    // A frame was accepted that changes the mode: the next polls answer busy.
    bool Settle(uint32_t polls) {
        settlePolls = polls;
        return true;
    }
    void LengthReply(const std::vector<uint8_t>& available, uint32_t asked,
                     std::vector<uint8_t>& reply) const;
    std::vector<uint8_t> SystemInfo() const;
    std::vector<uint8_t> StatusInfo();
    std::vector<uint8_t> ImageTable() const;
    bool ApplyImageTable(const Frame& f);
    bool BeginReadBack(const Frame& f, std::vector<uint8_t>& reply);
    bool NextPacket(const Frame& f, std::vector<uint8_t>& reply);
    bool BeginSection(const Frame& f);
    bool WriteBlock(const Frame& f);
    bool CommitSection();
    bool SetVersion(const Frame& f);
    void StatusPoll(uint32_t asked, std::vector<uint8_t>& reply);
    int FindArea(const std::string& tag) const;
    void Recompute(size_t area) {
        sums[area] = ComputeChecksum(areas[area].data.data(), areas[area].data.size());
    }
};

VirtualPrinter::Impl::Impl(Scenario s) : sc(std::move(s)) {
    areas = sc.areas;
    if (areas.empty() && !sc.noAreas) areas = DefaultAreas();
    sums.resize(areas.size());
    classValues.resize(areas.size());
    for (size_t k = 0; k < areas.size(); ++k) {
        Recompute(k);
        classValues[k] = areas[k].tag == "ST" ? 0 : sc.classByte;
    }
    netSettings = Sized(sc.netSettings, kNetSettingsSize);
    layout = sc.layout;
    version = Padded(sc.version, 4);
    imageVersion = Padded(sc.imageVersion, kVersionTextSize);
    faultFired.assign(sc.faults.size(), false);
}

// ---------------------------------------------------------------------------
// Stream

void VirtualPrinter::Impl::Write(const uint8_t* data, size_t n) {
    if (!linkUp || silent) return;
    if (restartWhenDrained) {
        // The host speaks before it took the last answer: the printer is
        // already on its way down.
        GoDown(Down::kRestarting);
        return;
    }
    size_t i = 0;
    while (i < n) {
        if (!linkUp || silent || restartWhenDrained) return;  // a frame ended the link
        if (collecting) {
            const uint32_t take = static_cast<uint32_t>(std::min<size_t>(remaining, n - i));
            const size_t received = current.parameter - remaining;
            if (received < keepLimit) {
                const size_t keep = std::min<size_t>(take, keepLimit - received);
                current.payload.insert(current.payload.end(), data + i, data + i + keep);
            }
            remaining -= take;
            i += take;
            if (remaining == 0) {
                collecting = false;
                FinishFrame();
            }
            continue;
        }
        header[headerLength++] = data[i++];
        if (headerLength == 6) {
            headerLength = 0;
            StartFrame();
            if (discardRest) {
                // Out of step: whatever else came with this write is noise.
                discardRest = false;
                return;
            }
        }
    }
}

void VirtualPrinter::Impl::StartFrame() {
    current = Frame();
    current.introducer = header[0];
    current.letter = header[1];
    current.parameter = GetBE32(header + 2);
    const bool known = current.introducer == kFs || current.introducer == kGs;
    if (!known) {
        discardRest = true;
        FinishFrame();
        return;
    }
    if (KindOf(current.introducer, current.letter) == PayloadKind::kNone ||
        current.parameter == 0) {
        FinishFrame();
        return;
    }
    if (current.parameter > kLargestPayload) {
        // Refused on its header (the frame handler sees the size); what
        // follows in this write cannot be trusted to start a frame.
        discardRest = true;
        FinishFrame();
        return;
    }
    keepLimit = current.parameter;
    if (current.introducer == kFs && current.letter == 'P' && keepLimit > kKeptPrintPayload)
        keepLimit = kKeptPlaneBytes;
    current.payload.reserve(keepLimit);
    remaining = current.parameter;
    collecting = true;
}

void VirtualPrinter::Impl::FinishFrame() {
    ++stats.framesReceived;
    frames.push_back(std::move(current));
    current = Frame();
    Frame& f = frames.back();

    // Faults that fire on this frame.
    const uint16_t key = static_cast<uint16_t>((f.introducer << 8) | f.letter);
    const uint32_t occurrence = ++occurrences[key];
    bool drop = false, nak = false, goSilent = false;
    uint32_t extra = 0;
    for (size_t k = 0; k < sc.faults.size(); ++k) {
        const Fault& fault = sc.faults[k];
        if (faultFired[k]) continue;
        const bool hit = fault.atFrame != 0
                             ? fault.atFrame == stats.framesReceived
                             : fault.introducer != 0 && fault.introducer == f.introducer &&
                                   fault.letter == f.letter && fault.occurrence == occurrence;
        if (!hit) continue;
        faultFired[k] = true;
        ++stats.faultsFired;
        switch (fault.action) {
        case FaultAction::kDrop: drop = true; break;
        case FaultAction::kNak: nak = true; break;
        case FaultAction::kSilent: goSilent = true; break;
        case FaultAction::kPieces: pieceSize = std::max<uint32_t>(fault.pieceSize, 1); break;
        case FaultAction::kOverlong: extra += fault.extraBytes; break;
        }
    }
    if (goSilent) {
        f.unanswered = true;
        silent = true;
        ClearStream();
        return;
    }
    if (drop) {
        f.unanswered = true;
        GoDown(Down::kDropped);
        return;
    }

    std::vector<uint8_t> reply;
    bool accepted = false;
    if (!nak) {
        if (f.introducer == kFs)
            accepted = HandleFs(f, reply);
        else if (f.introducer == kGs)
            accepted = HandleGs(f, reply);
    }
    if (!accepted) {
        reply.clear();
        f.refused = true;
        ++stats.refusals;
    }
    QueueReply(f.introducer, accepted ? f.letter : kNak, reply, extra);
}

void VirtualPrinter::Impl::QueueReply(uint8_t introducer, uint8_t code,
                                      const std::vector<uint8_t>& data, uint32_t extra) {
    uint8_t h[6] = {introducer, code, 0, 0, 0, 0};
    PutBE32(h + 2, static_cast<uint32_t>(data.size()) + extra);
    out.insert(out.end(), h, h + 6);
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), extra, kOverlongFill);
    ++stats.replies;
}

size_t VirtualPrinter::Impl::Read(uint8_t* dst, size_t n) {
    if (!linkUp || silent) return 0;
    size_t k = std::min(n, out.size() - outPos);
    if (pieceSize != 0) k = std::min<size_t>(k, pieceSize);
    if (k) std::memcpy(dst, out.data() + outPos, k);
    outPos += k;
    if (outPos == out.size()) {
        out.clear();
        outPos = 0;
        // The printer leaves the link once its last answer is out.
        if (restartWhenDrained) GoDown(Down::kRestarting);
    }
    return k;
}

void VirtualPrinter::Impl::ClearStream() {
    headerLength = 0;
    collecting = false;
    remaining = 0;
    discardRest = false;
    current = Frame();
    out.clear();
    outPos = 0;
}

// ---------------------------------------------------------------------------
// Link

void VirtualPrinter::Impl::GoDown(Down why) {
    linkUp = false;
    down = why;
    ClearStream();
    if (why == Down::kRestarting) {
        restartWhenDrained = false;
        ++stats.restarts;
        returns = true;
        returnInMs = sc.restartDelayMs;
    } else {
        returns = sc.dropReturnMs != 0;
        returnInMs = sc.dropReturnMs;
    }
    if (returns && returnInMs == 0) ComeBack();
}

void VirtualPrinter::Impl::ComeBack() {
    if (down == Down::kRestarting) {
        // A restart ends every run: the printer is back in normal mode,
        // with the new version when it finished, the old one when it was
        // cancelled. Whatever sections it stored stay stored.
        if (restartFinishes && !pendingVersion.empty()) {
            imageVersion = pendingVersion;
            version = pendingVersion.substr(0, 4);
        }
        mode = kModeNormal;
        condition = kConditionReady;
        busyPollsLeft = 0;
        startLeftMs = 0;
        settlePolls = 0;
        finishing = false;
        finishLeftMs = 0;
        pendingVersion.clear();
        readBack = ReadBack();
        section = Section();
        restartFinishes = false;
    }
    linkUp = true;
    down = Down::kNone;
    returns = false;
    returnInMs = 0;
    ++generation;
}

void VirtualPrinter::Impl::Advance(uint32_t ms) {
    if (finishing) finishLeftMs = ms >= finishLeftMs ? 0 : finishLeftMs - ms;
    startLeftMs = ms >= startLeftMs ? 0 : startLeftMs - ms;
    if (linkUp || !returns) return;
    if (ms >= returnInMs)
        ComeBack();
    else
        returnInMs -= ms;
}

// ---------------------------------------------------------------------------
// FS frames

void VirtualPrinter::Impl::LengthReply(const std::vector<uint8_t>& available, uint32_t asked,
                                       std::vector<uint8_t>& reply) const {
    const size_t n = std::min<size_t>(available.size(), asked);
    reply.assign(available.begin(), available.begin() + static_cast<std::ptrdiff_t>(n));
}

std::vector<uint8_t> VirtualPrinter::Impl::SystemInfo() const {
    std::vector<uint8_t> info = Sized(sc.systemInfo, kSystemInfoSize);
    std::memcpy(info.data() + 38, version.data(), 4);
    std::memset(info.data() + 42, 0, 8);
    std::memcpy(info.data() + 42, sc.identifier.data(), std::min<size_t>(sc.identifier.size(), 8));
    return info;
}

std::vector<uint8_t> VirtualPrinter::Impl::StatusInfo() {
    std::vector<uint8_t> status = Sized(sc.status, kStatusSize);
    ++statusRequests;
    if (statusRequests <= sc.busyPolls) status[0] |= 0x02;
    return status;
}

bool VirtualPrinter::Impl::HandleFs(const Frame& f, std::vector<uint8_t>& reply) {
    const uint32_t p = f.parameter;
    switch (f.letter) {
    case 'S': LengthReply(Sized(sc.errorInfo, kErrorInfoSize), p, reply); return true;
    case 'I': LengthReply(Sized(sc.productInfo, kProductInfoSize), p, reply); return true;
    case 'Y': LengthReply(SystemInfo(), p, reply); return true;
    case 'T': LengthReply(StatusInfo(), p, reply); return true;
    case 'G': LengthReply(sc.printerData, p, reply); return true;
    case 'V': LengthReply(sc.log, p, reply); return true;
    case 'J': LengthReply(netSettings, p, reply); return true;
    case 'A':
        return p == 0;
    case '=':
        if (p != 1 || f.payload[0] > 2) return false;
        reply.assign(1, sc.reserveResult);
        return true;
    case 'H':
        return p == 1 && f.payload[0] <= 1;
    case 'K':
        if (p > kNetSettingsSize) return false;
        std::copy(f.payload.begin(), f.payload.end(), netSettings.begin());
        return true;
    case 'P':
        return HandlePrintJob(f);
    default:
        return false;
    }
}

bool VirtualPrinter::Impl::HandlePrintJob(const Frame& f) {
    if (f.parameter < 2 || f.payload.size() < 2 || f.payload[0] != kEsc) return false;
    const uint8_t letter = f.payload[1];
    switch (letter) {
    case 'J':
        // One image plane: ESC J, 24 bytes, 2,662,400 bytes of plane data.
        if (f.parameter != kPlanePayload) return false;
        ++stats.planesReceived;
        return true;
    case '>': case 'H': case 'T':
        return f.parameter == 2;
    case '@': case 'N': case 'I': case 'C':
        return f.parameter <= kKeptPrintPayload && f.payload.back() == '.';
    case 'M':
        return f.parameter <= kKeptPrintPayload;
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------
// GS frames

int VirtualPrinter::Impl::FindArea(const std::string& tag) const {
    for (size_t k = 0; k < areas.size(); ++k)
        if (areas[k].tag == tag) return static_cast<int>(k);
    return -1;
}

bool VirtualPrinter::Impl::MaintenanceReady(bool duringReadBack) const {
    return mode == kModeMaintenance && !finishing && condition == kConditionReady &&
           (duringReadBack || !readBack.active);
}

void VirtualPrinter::Impl::StatusPoll(uint32_t asked, std::vector<uint8_t>& reply) {
    // A started run whose busy polls are answered is ready (or failed) as
    // soon as its time has passed too.
    if (!finishing && condition == kConditionBusy && busyPollsLeft == 0 && startLeftMs == 0)
        condition = sc.startCondition;
    uint8_t status[2] = {mode, condition};
    if (finishing) {
        // Finishing takes the printer's own time; the polls only watch it.
        if (busyPollsLeft > 0 || finishLeftMs > 0) {
            if (busyPollsLeft > 0) --busyPollsLeft;
            status[1] = kConditionBusy;
        } else {
            // Done: the printer says so once and restarts when the answer
            // has left.
            mode = kModeNormal;
            condition = kConditionReady;
            status[0] = mode;
            status[1] = condition;
            restartWhenDrained = true;
            restartFinishes = true;
        }
    } else if (settlePolls > 0) {
        --settlePolls;
        status[1] = kConditionBusy;
    } else if (condition == kConditionBusy && busyPollsLeft > 0) {
        if (--busyPollsLeft == 0 && startLeftMs == 0) condition = sc.startCondition;
    }
    reply.assign(status, status + std::min<uint32_t>(asked, 2));
}

std::vector<uint8_t> VirtualPrinter::Impl::ImageTable() const {
    std::vector<uint8_t> t(kImageHeaderSize + kImageEntrySize * areas.size(), 0);
    t[0] = sc.classByte;
    PutBE32(&t[4], layout);
    std::memcpy(&t[8], imageVersion.data(), kVersionTextSize);
    PutBE16(&t[24], static_cast<uint16_t>(areas.size()));
    for (size_t k = 0; k < areas.size(); ++k) {
        uint8_t* e = &t[kImageHeaderSize + kImageEntrySize * k];
        const Area& a = areas[k];
        std::memcpy(e, a.tag.data(), std::min<size_t>(a.tag.size(), 2));
        PutBE32(e + 4, a.attribute);
        PutBE32(e + 8, a.loadAddress);
        PutBE32(e + 12, a.areaSize);
        PutBE32(e + 20, static_cast<uint32_t>(a.data.size()));
        PutBE16(e + 24, sums[k].sum);
        e[28] = sums[k].xorValue;
    }
    return t;
}

bool VirtualPrinter::Impl::ApplyImageTable(const Frame& f) {
    const std::vector<uint8_t>& t = f.payload;
    if (t.size() < kImageHeaderSize) return false;
    const uint32_t count = GetBE16(&t[24]);
    if (count == 0 || count > kMaxTableEntries) return false;
    if (t.size() != kImageHeaderSize + kImageEntrySize * count) return false;
    if (!AllZero(&t[1], 3) || !AllZero(&t[26], 6)) return false;
    if (!ClassAccepted(t[0]) || !Printable(&t[8], kVersionTextSize)) return false;
    std::vector<Area> next(count);
    for (uint32_t k = 0; k < count; ++k) {
        const uint8_t* e = &t[kImageHeaderSize + kImageEntrySize * k];
        if (!IsTagByte(e[0]) || !IsTagByte(e[1])) return false;
        if (!AllZero(e + 2, 2) || !AllZero(e + 16, kImageEntrySize - 16)) return false;
        if (!AttributeWordValid(GetBE32(e + 4))) return false;
        next[k].tag.assign(reinterpret_cast<const char*>(e), 2);
        next[k].attribute = GetBE32(e + 4);
        next[k].loadAddress = GetBE32(e + 8);
        next[k].areaSize = GetBE32(e + 12);
    }
    // Accepted. An area whose tag stays keeps its data (the n-th area of a
    // tag takes the n-th old one) as long as the data fits the new size;
    // data that no longer fits is gone.
    std::map<std::string, size_t> seen;
    std::vector<uint8_t> nextClass(count, 0);
    for (uint32_t k = 0; k < count; ++k) {
        const size_t nth = seen[next[k].tag]++;
        size_t found = 0;
        for (size_t old = 0; old < areas.size(); ++old) {
            if (areas[old].tag != next[k].tag) continue;
            if (found++ != nth) continue;
            nextClass[k] = classValues[old];
            // Flash memory that is moved or resized is erased.
            const bool moved = areas[old].loadAddress != next[k].loadAddress ||
                               areas[old].areaSize != next[k].areaSize;
            if (areas[old].data.size() <= next[k].areaSize && !(sc.flashErase && moved))
                next[k].data = std::move(areas[old].data);
            break;
        }
        if (found <= nth) nextClass[k] = next[k].tag == "ST" ? 0 : sc.classByte;
    }
    areas = std::move(next);
    classValues = std::move(nextClass);
    sums.assign(areas.size(), Checksum());
    for (size_t k = 0; k < areas.size(); ++k) Recompute(k);
    lastReadArea.clear();
    layout = GetBE32(&t[4]);
    return true;
}

bool VirtualPrinter::Impl::BeginReadBack(const Frame& f, std::vector<uint8_t>& reply) {
    if (f.parameter != 6) return false;
    const std::string tag(f.payload.begin(), f.payload.begin() + 2);
    const uint32_t packetSize = GetBE32(&f.payload[2]);
    if (packetSize == 0 || packetSize > kMaxPacketSize) return false;
    // Several areas may carry the tag: each read-back takes the next one.
    int area = -1;
    auto last = lastReadArea.find(tag);
    const size_t start = last == lastReadArea.end() ? 0 : last->second + 1;
    for (size_t k = 0; k < areas.size() && area < 0; ++k) {
        const size_t i = (start + k) % areas.size();
        if (areas[i].tag == tag) area = static_cast<int>(i);
    }
    if (area < 0) return false;
    lastReadArea[tag] = static_cast<size_t>(area);
    readBack.active = true;
    readBack.area = static_cast<size_t>(area);
    readBack.packetSize = packetSize;
    readBack.offset = 0;
    readBack.packet = 0;
    const Area& a = areas[readBack.area];
    reply.assign(kDescriptorSize, 0);
    reply[0] = classValues[readBack.area];
    PutBE32(&reply[4], a.attribute);
    PutBE16(&reply[8], static_cast<uint16_t>(BlocksFor(a.data.size())));
    PutBE16(&reply[10], sums[readBack.area].sum);
    reply[12] = sums[readBack.area].xorValue;
    return true;
}

bool VirtualPrinter::Impl::NextPacket(const Frame& f, std::vector<uint8_t>& reply) {
    if (!readBack.active) return false;
    const Area& a = areas[readBack.area];
    const size_t left = a.data.size() - readBack.offset;
    if (left == 0) return false;
    const uint32_t length = static_cast<uint32_t>(std::min<size_t>(left, readBack.packetSize));
    if (f.parameter != length + kBlockOverhead) return false;
    const uint8_t* data = a.data.data() + readBack.offset;
    reply.assign(length + kBlockOverhead, 0);
    std::memcpy(&reply[0], a.tag.data(), std::min<size_t>(a.tag.size(), 2));
    PutBE16(&reply[2], static_cast<uint16_t>(readBack.packet + 1));
    std::memcpy(&reply[4], "RAWS", 4);
    PutBE32(&reply[16], readBack.offset);
    PutBE32(&reply[20], length);
    std::memcpy(&reply[24], data, length);
    const Checksum c = ComputeChecksum(data, length);
    PutBE16(&reply[24 + length], c.sum);
    reply[26 + length] = c.xorValue;
    ++readBack.packet;
    readBack.offset += length;
    return true;
}

bool VirtualPrinter::Impl::BeginSection(const Frame& f) {
    if (f.parameter != 2 + kDescriptorSize) return false;
    const std::string tag(f.payload.begin(), f.payload.begin() + 2);
    const uint8_t* d = &f.payload[2];
    const int area = FindArea(tag);
    if (area < 0 || !AllZero(d + 1, 3)) return false;
    if (!ClassAccepted(d[0]) || !AttributeWordValid(GetBE32(d + 4))) return false;
    const uint32_t blocks = GetBE16(d + 8);
    // The smallest section that needs this many blocks must fit the area.
    if (blocks > BlocksFor(areas[static_cast<size_t>(area)].areaSize)) return false;
    section = Section();
    section.area = static_cast<size_t>(area);
    section.classByte = d[0];
    section.blocks = blocks;
    section.expected = Checksum{GetBE16(d + 10), d[12]};
    section.data.reserve(std::min<size_t>(size_t{blocks} * kBlockSize,
                                          areas[section.area].areaSize));
    if (sc.flashErase) {
        // Flash is erased when writing begins: from here until the commit
        // the area holds nothing, whatever becomes of the section.
        areas[section.area].data.clear();
        Recompute(section.area);
    }
    mode = kModeData;
    return true;
}

bool VirtualPrinter::Impl::WriteBlock(const Frame& f) {
    const std::vector<uint8_t>& b = f.payload;
    if (f.parameter < kBlockOverhead || f.parameter > kBlockSize + kBlockOverhead) return false;
    if (section.nextBlock > section.blocks) return false;
    const Area& a = areas[section.area];
    const uint32_t number = GetBE16(&b[2]);
    const uint32_t offset = GetBE32(&b[16]);
    const uint32_t length = GetBE32(&b[20]);
    if (b[0] != static_cast<uint8_t>(a.tag[0]) || b[1] != static_cast<uint8_t>(a.tag[1]))
        return false;
    if (number != section.nextBlock) return false;
    if (std::memcmp(&b[4], "RAWS", 4) != 0 || !AllZero(&b[8], 8)) return false;
    if (offset != (number - 1) * kBlockSize) return false;
    if (length != f.parameter - kBlockOverhead) return false;
    // Every block but the last is full; the last carries at least a byte,
    // so the section's size agrees with its block count.
    const bool last = number == section.blocks;
    if (last ? length == 0 : length != kBlockSize) return false;
    if (uint64_t{offset} + length > a.areaSize) return false;
    const Checksum c = ComputeChecksum(&b[24], length);
    if (GetBE16(&b[24 + length]) != c.sum || b[26 + length] != c.xorValue ||
        b[27 + length] != 0)
        return false;
    section.data.insert(section.data.end(), b.begin() + 24, b.begin() + 24 + length);
    ++section.nextBlock;
    ++stats.blocksWritten;
    return true;
}

bool VirtualPrinter::Impl::CommitSection() {
    if (section.nextBlock != section.blocks + 1) return false;
    if (ComputeChecksum(section.data.data(), section.data.size()) != section.expected) return false;
    areas[section.area].data = std::move(section.data);
    classValues[section.area] = section.classByte;
    Recompute(section.area);
    section = Section();
    mode = kModeMaintenance;
    ++stats.sectionsWritten;
    return true;
}

bool VirtualPrinter::Impl::SetVersion(const Frame& f) {
    // The version text is a whole 16-byte field, space-padded.
    if (f.parameter != kVersionTextSize) return false;
    if (!Printable(f.payload.data(), f.payload.size())) return false;
    pendingVersion = Padded(std::string(f.payload.begin(), f.payload.end()), kVersionTextSize);
    return true;
}

bool VirtualPrinter::Impl::HandleGs(const Frame& f, std::vector<uint8_t>& reply) {
    const uint32_t p = f.parameter;
    switch (f.letter) {
    case 'E':
        StatusPoll(p, reply);
        return true;
    case 'A':
        // Starts a maintenance run, or starts it again while no section is
        // open and the printer is not finishing.
        if (p != 0 || mode == kModeData || finishing) return false;
        mode = kModeMaintenance;
        readBack = ReadBack();
        pendingVersion.clear();
        settlePolls = 0;
        busyPollsLeft = sc.maintenanceBusyPolls;
        startLeftMs = sc.maintenanceBusyMs;
        condition = busyPollsLeft > 0 || startLeftMs > 0 ? uint8_t{kConditionBusy}
                                                         : sc.startCondition;
        return true;
    case 'C':
        if (p != 0 || finishing || (mode != kModeMaintenance && mode != kModeData)) return false;
        readBack = ReadBack();
        section = Section();
        settlePolls = 0;
        restartWhenDrained = true;
        restartFinishes = false;
        return true;
    case 'J':
        if (!MaintenanceReady(true)) return false;
        LengthReply(ImageTable(), p, reply);
        return true;
    case 'O':
        if (!MaintenanceReady(true)) return false;
        reply.assign(std::min<uint32_t>(p, 1), sc.classByte);
        return true;
    case 'U':
        return MaintenanceReady(false) && Settled() && BeginReadBack(f, reply) &&
               Settle(sc.busyPollsAfter.beginReadBack);
    case 'V':
        return MaintenanceReady(true) && NextPacket(f, reply);
    case 'W':
        if (p != 0 || !MaintenanceReady(true) || !readBack.active) return false;
        readBack = ReadBack();
        return Settle(sc.busyPollsAfter.endReadBack);
    case 'I':
        return MaintenanceReady(false) && Settled() && ApplyImageTable(f) &&
               Settle(sc.busyPollsAfter.imageTable);
    case 'Q':
        return MaintenanceReady(false) && Settled() && BeginSection(f) &&
               Settle(sc.busyPollsAfter.beginSection);
    case 'R':
        return mode == kModeData && Settled() && WriteBlock(f);
    case 'S':
        return p == 0 && mode == kModeData && Settled() && CommitSection() &&
               Settle(sc.busyPollsAfter.commit);
    case 'N':
        return MaintenanceReady(false) && Settled() && SetVersion(f) &&
               Settle(sc.busyPollsAfter.version);
    case 'B':
        if (p != 0 || !MaintenanceReady(false) || !Settled()) return false;
        finishing = true;
        condition = kConditionBusy;
        busyPollsLeft = sc.finishBusyPolls;
        finishLeftMs = sc.finishMs;
        return true;
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------
// Public face

VirtualPrinter::VirtualPrinter(Scenario scenario)
    : impl_(std::make_unique<Impl>(std::move(scenario))) {}
VirtualPrinter::~VirtualPrinter() = default;
VirtualPrinter::VirtualPrinter(VirtualPrinter&&) noexcept = default;
VirtualPrinter& VirtualPrinter::operator=(VirtualPrinter&&) noexcept = default;

void VirtualPrinter::HostWrite(const uint8_t* data, size_t n) {
    if (n) impl_->Write(data, n);
}
size_t VirtualPrinter::HostRead(uint8_t* out, size_t n) { return impl_->Read(out, n); }
size_t VirtualPrinter::Pending() const { return impl_->Pending(); }
bool VirtualPrinter::LinkUp() const { return impl_->linkUp; }
bool VirtualPrinter::Silent() const { return impl_->silent; }
void VirtualPrinter::AdvanceTime(uint32_t ms) { impl_->Advance(ms); }
uint32_t VirtualPrinter::LinkGeneration() const { return impl_->generation; }

void VirtualPrinter::Connect() {
    Impl& p = *impl_;
    if (!p.linkUp) return;
    p.ClearStream();
    // An answer that nobody will read no longer holds the printer back.
    if (p.restartWhenDrained) p.GoDown(Impl::Down::kRestarting);
}

std::vector<std::vector<uint8_t>> VirtualPrinter::AnswerSearch(const uint8_t* data, size_t n) {
    std::vector<std::vector<uint8_t>> replies;
    const Impl& p = *impl_;
    if (!p.linkUp || p.silent || data == nullptr || n < 7) return replies;
    if (data[0] != kFs || data[1] != '*' || GetBE32(data + 2) != n - 6) return replies;
    for (const std::vector<uint8_t>& record : p.sc.searchRecords) {
        std::vector<uint8_t> d(6 + 32, 0);
        d[0] = kFs;
        d[1] = '*';
        PutBE32(&d[2], 32);
        std::copy_n(record.begin(), std::min<size_t>(record.size(), 32), d.begin() + 6);
        replies.push_back(std::move(d));
    }
    if (!replies.empty()) ++impl_->stats.searchesAnswered;
    return replies;
}

const std::vector<Frame>& VirtualPrinter::frames() const { return impl_->frames; }
const Stats& VirtualPrinter::stats() const { return impl_->stats; }

std::string VirtualPrinter::SummaryJson() const {
    const Impl& p = *impl_;
    const Stats& s = p.stats;
    nlohmann::json j = {
        {"framesReceived", s.framesReceived},
        {"replies", s.replies},
        {"refusals", s.refusals},
        {"faultsFired", s.faultsFired},
        {"blocksWritten", s.blocksWritten},
        {"sectionsWritten", s.sectionsWritten},
        {"planesReceived", s.planesReceived},
        {"searchesAnswered", s.searchesAnswered},
        {"restarts", s.restarts},
        {"mode", p.mode},
        {"condition", p.condition},
        {"layout", p.layout},
        {"version", p.version},
        {"imageVersion", p.imageVersion},
        {"linkUp", p.linkUp},
        {"silent", p.silent},
        {"linkGeneration", p.generation},
    };
    return j.dump();
}

uint8_t VirtualPrinter::mode() const { return impl_->mode; }
uint8_t VirtualPrinter::condition() const { return impl_->condition; }
uint32_t VirtualPrinter::layout() const { return impl_->layout; }
const std::string& VirtualPrinter::version() const { return impl_->version; }
const std::string& VirtualPrinter::imageVersion() const { return impl_->imageVersion; }
const std::vector<Area>& VirtualPrinter::areas() const { return impl_->areas; }

}  // namespace sim
