#include "update/fw_commands.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "link/byte_order.h"
#include "link/link_settings.h"
#include "link/printer_io.h"
#include "platform/clock.h"

int32_t g_fwFramesEnabled;
int32_t g_fwPacketSize;

namespace {

bool LinkKindUsable() {
    return g_linkKind == kLinkTcp || g_linkKind == kLinkUsb || g_linkKind == kLinkLibrary;
}

void BuildFrame(uint8_t frame[kFwFrameSize], uint8_t introducer, uint8_t letter,
                uint32_t parameter) {
    frame[0] = introducer;
    frame[1] = letter;
    PutBE32(frame + 2, parameter);
}

// Sends one part of a frame or payload on its own. A part is sent only
// while frames are enabled. Anything but the whole part leaving (a failed
// transfer, or no link to send on) fails the operation.
int SendPart(const void* data, uint32_t length) {
    if (g_fwFramesEnabled != 1) return kFwOk;
    if (!LinkKindUsable()) return kFwFailed;
    if (length > 0 && data == nullptr) return kFwFailed;
    const int32_t want = static_cast<int32_t>(length);
    if (want < 0) return kFwFailed;
    if (g_printerIO.Send(data, want) != want) return kFwFailed;
    return kFwOk;
}

// Receives exactly n bytes; false when the link kind is unusable or fewer
// bytes arrived.
bool RecvExact(void* buffer, uint32_t n) {
    uint8_t* at = static_cast<uint8_t*>(buffer);
    while (n > 0) {
        if (!LinkKindUsable()) return false;
        const uint32_t piece = std::min<uint32_t>(n, 0x10000000u);
        const int32_t want = static_cast<int32_t>(piece);
        if (g_printerIO.Recv(at, want) != want) return false;
        at += piece;
        n -= piece;
    }
    return true;
}

// Reads n bytes and drops them, never holding more than one piece.
bool Drain(uint32_t n) {
    uint8_t piece[kFwDrainPiece];
    while (n > 0) {
        const uint32_t len = std::min<uint32_t>(n, kFwDrainPiece);
        if (!RecvExact(piece, len)) return false;
        n -= len;
    }
    return true;
}

// Sends the frame alone, then the payload through FwTransact, after the wait
// for `mode` (0: no wait). The reply data is dropped.
int FrameThenPayload(uint8_t mode, uint8_t letter, uint32_t parameter, const uint8_t* payload,
                     uint32_t n) {
    if (n > 0 && payload == nullptr) return g_fwFramesEnabled == 1 ? kFwFailed : kFwOk;
    if (mode != 0) {
        const int r = FwWaitMode(mode);
        if (r != kFwOk) return r;
    }
    uint8_t frame[kFwFrameSize];
    BuildFrame(frame, kFwGs, letter, parameter);
    const int r = SendPart(frame, kFwFrameSize);
    if (r != kFwOk) return r;
    return FwTransact(payload, static_cast<int32_t>(n), nullptr, 0, nullptr);
}

int FrameOnly(uint8_t letter, uint32_t waitFlag) {
    if ((waitFlag & 0xFFFF) != 0) {
        const int r = FwWaitMode(kFwModeMaintenance);
        if (r != kFwOk) return r;
    }
    return FwRequest(kFwGs, letter, 0, nullptr);
}

}  // namespace

int FwTransact(const void* data, int32_t length, void* reply, uint32_t capacity,
               uint32_t* replyLength) {
    if (g_fwFramesEnabled != 1) return kFwOk;
    if (!LinkKindUsable() || length < 0) return kFwFailed;
    if (length > 0 && data == nullptr) return kFwFailed;
    if (g_printerIO.Send(data, length) != length) return kFwFailed;

    uint8_t header[kFwReplyHeaderSize] = {};
    if (!RecvExact(header, kFwReplyHeaderSize)) return kFwFailed;
    if (header[1] == kFwNakByte) return kFwNak;
    const uint32_t n = GetBE32(header + 2);
    if (n == 0) return kFwOk;

    // The part that is kept goes into a buffer of its own first, so that a
    // reply that breaks off leaves the caller's buffer as it was; the rest
    // is drained piece by piece.
    const uint32_t keep = reply != nullptr ? std::min(n, capacity) : 0;
    std::unique_ptr<uint8_t[]> temp;
    if (keep > 0) {
        temp.reset(new (std::nothrow) uint8_t[keep]());
        if (!temp) return kFwFailed;
        if (!RecvExact(temp.get(), keep)) return kFwFailed;
    }
    if (!Drain(n - keep)) return kFwFailed;
    if (keep > 0) std::memcpy(reply, temp.get(), keep);
    if (replyLength != nullptr) *replyLength = keep;
    return kFwOk;
}

int FwRequest(uint8_t introducer, uint8_t letter, uint32_t n, void* buffer,
              uint32_t* replyLength) {
    uint8_t frame[kFwFrameSize];
    BuildFrame(frame, introducer, letter, n);
    return FwTransact(frame, kFwFrameSize, buffer, buffer != nullptr ? n : 0, replyLength);
}

int FwReadStatus(uint8_t* buffer, uint32_t n) { return FwRequest(kFwGs, 'E', n, buffer); }

int FwWaitMode(uint8_t mode) {
    // With frames disabled every operation is a no-op, the wait included (it
    // could never see a status and would only burn its second).
    if (g_fwFramesEnabled != 1) return kFwOk;
    uint8_t status[2] = {0, 0};
    const uint32_t start = platform::TickCount();
    while (platform::TickCount() - start < kFwWaitModeMs) {
        const int r = FwReadStatus(status, 2);
        if (r != kFwOk) return r;
        if (status[0] == kFwModeNormal) return kFwFailed;
        if (status[1] == kFwConditionFailed) return kFwFailed;
        if (status[0] == mode && status[1] == kFwConditionReady) return kFwOk;
    }
    return kFwFailed;
}

int FwStart() { return FwRequest(kFwGs, 'A', 0, nullptr); }

int FwEndReadBack() { return FwRequest(kFwGs, 'W', 0, nullptr); }

int FwFinish(uint32_t waitFlag) { return FrameOnly('B', waitFlag); }

int FwCancel(uint32_t waitFlag) { return FrameOnly('C', waitFlag); }

int FwCommitSection() {
    const int r = FwWaitMode(kFwModeData);
    if (r != kFwOk) return r;
    return FwRequest(kFwGs, 'S', 0, nullptr);
}

int FwSendImageTable(const uint8_t* table, uint32_t n) {
    return FrameThenPayload(kFwModeMaintenance, 'I', n, table, n);
}

int FwSetVersion(const uint8_t* text, uint32_t n) {
    return FrameThenPayload(kFwModeMaintenance, 'N', n, text, n);
}

int FwBeginSection(const uint8_t tag[2], const uint8_t* descriptor, uint32_t n) {
    if (g_fwFramesEnabled != 1) return kFwOk;
    if (tag == nullptr || (n > 0 && descriptor == nullptr)) return kFwFailed;
    int r = FwWaitMode(kFwModeMaintenance);
    if (r != kFwOk) return r;
    uint8_t frame[kFwFrameSize];
    BuildFrame(frame, kFwGs, 'Q', n + 2);
    if ((r = SendPart(frame, kFwFrameSize)) != kFwOk) return r;
    if ((r = SendPart(tag, 2)) != kFwOk) return r;
    return FwTransact(descriptor, static_cast<int32_t>(n), nullptr, 0, nullptr);
}

int FwWriteBlock(const uint8_t* block, uint32_t n) {
    if (g_fwFramesEnabled != 1) return kFwOk;
    // A block is at least its header and trailer.
    constexpr uint32_t kFraming = kBlockHeaderSize + kBlockTrailerSize;
    if (block == nullptr || n < kFraming) return kFwFailed;
    int r = FwWaitMode(kFwModeData);
    if (r != kFwOk) return r;
    uint8_t frame[kFwFrameSize];
    BuildFrame(frame, kFwGs, 'R', n);
    if ((r = SendPart(frame, kFwFrameSize)) != kFwOk) return r;
    if ((r = SendPart(block, kBlockHeaderSize)) != kFwOk) return r;
    if ((r = SendPart(block + kBlockHeaderSize, n - kFraming)) != kFwOk) return r;
    return FwTransact(block + n - kBlockTrailerSize, kBlockTrailerSize, nullptr, 0, nullptr);
}

int FwBeginReadBack(const uint8_t tag[2], uint8_t* reply, uint32_t capacity) {
    if (g_fwFramesEnabled != 1) return kFwOk;
    if (tag == nullptr) return kFwFailed;
    int r = FwWaitMode(kFwModeMaintenance);
    if (r != kFwOk) return r;
    uint8_t frame[kFwFrameSize];
    BuildFrame(frame, kFwGs, 'U', 6);
    if ((r = SendPart(frame, kFwFrameSize)) != kFwOk) return r;
    uint8_t payload[6] = {tag[0], tag[1]};
    PutBE32(payload + 2, static_cast<uint32_t>(g_fwPacketSize));
    return FwTransact(payload, sizeof payload, reply, reply != nullptr ? capacity : 0, nullptr);
}

int FwCommand(uint32_t code, uint32_t arg, void* buffer, uint32_t n) {
    uint8_t* bytes = static_cast<uint8_t*>(buffer);
    const uint8_t tag[2] = {static_cast<uint8_t>(arg), static_cast<uint8_t>(arg >> 8)};
    switch (code) {
    case kFwCodeStart: return FwStart();
    case kFwCodeReadStatus: return FwReadStatus(bytes, n);
    case kFwCodeImageTable: return FwSendImageTable(bytes, n);
    case kFwCodeBeginSection: return FwBeginSection(tag, bytes, n);
    case kFwCodeBeginReadBack: return FwBeginReadBack(tag, bytes, n);
    case kFwCodeFinish: return FwFinish(arg);
    case kFwCodeReadTable: return FwRequest(kFwGs, 'J', n, buffer);
    case kFwCodeWriteBlock: return FwWriteBlock(bytes, n);
    case kFwCodeReadPacket: return FwRequest(kFwGs, 'V', n, buffer);
    case kFwCodeCancel: return FwCancel(arg);
    case kFwCodeCommitSection: return FwCommitSection();
    case kFwCodeEndReadBack: return FwEndReadBack();
    case kFwCodeSetVersion: return FwSetVersion(bytes, n);
    case kFwCodeSystemInfo: return FwRequest(kFwFs, 'Y', n, buffer);
    case kFwCodeClass: return FwRequest(kFwGs, 'O', n, buffer);
    default: return kFwUnknownCode;
    }
}
