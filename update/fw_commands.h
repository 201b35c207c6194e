// The maintenance frames: the GS family (and its one FS Y frame) through
// which the printer takes firmware and gives back the content of its areas.
//
// A frame is six bytes: the introducer (GS 0x1D), a command letter and a
// 32-bit big-endian parameter; some frames are followed by a payload, and
// every exchange ends with a reply that starts with a 6-byte header (byte 1
// 0x15 = NAK, bytes 2..5 the big-endian length of the data that follows).
//
// Every operation returns 0 (done), 1 (unknown command code, FwCommand
// only), 3 (the printer answered NAK) or 4 (a transfer failed, a wait ran
// out, no memory, or the configured link kind is not 1 to 3). The layer
// sends over the link of the global CPrinterIO object; it never opens or
// closes it and never writes its error record.
#pragma once

#include <cstdint>

// 1 while maintenance traffic is allowed; any other value turns every
// operation below into a no-op that returns 0 without touching the link.
extern int32_t g_fwFramesEnabled;
// Bytes per read-back packet (4,096, set by identification).
extern int32_t g_fwPacketSize;

enum : int {
    kFwOk = 0,
    kFwUnknownCode = 1,
    kFwNak = 3,
    kFwFailed = 4,
};

inline constexpr uint8_t kFwGs = 0x1D;
inline constexpr uint8_t kFwFs = 0x1C;
inline constexpr uint8_t kFwNakByte = 0x15;
inline constexpr uint32_t kFwFrameSize = 6;
inline constexpr uint32_t kFwReplyHeaderSize = 6;

// StatusReply (GS E with parameter 2): byte 0 the mode, byte 1 the condition.
inline constexpr uint8_t kFwModeNormal = 1;       // not in maintenance (after a restart)
inline constexpr uint8_t kFwModeMaintenance = 2;  // ready for section and control frames
inline constexpr uint8_t kFwModeData = 3;         // ready for data blocks
inline constexpr uint8_t kFwConditionReady = 1;
inline constexpr uint8_t kFwConditionBusy = 2;
inline constexpr uint8_t kFwConditionFailed = 0x80;

// How long FwWaitMode polls for the wanted mode.
inline constexpr uint32_t kFwWaitModeMs = 1000;
// Reply data beyond what the caller keeps is read and dropped in pieces of
// at most this size, so that a reply's announced length never decides an
// allocation.
inline constexpr uint32_t kFwDrainPiece = 4096;

// Record sizes.
inline constexpr uint32_t kImageHeaderSize = 32;
inline constexpr uint32_t kImageTableEntrySize = 64;
inline constexpr uint32_t kSectionDescriptorSize = 13;
inline constexpr uint32_t kBlockHeaderSize = 24;
inline constexpr uint32_t kBlockTrailerSize = 4;
inline constexpr uint32_t kBlockDataSize = 8192;

// FwCommand codes.
enum : uint32_t {
    kFwCodeStart = 224,            // GS A
    kFwCodeReadStatus = 225,       // GS E
    kFwCodeImageTable = 226,       // GS I
    kFwCodeBeginSection = 227,     // GS Q
    kFwCodeBeginReadBack = 228,    // GS U
    kFwCodeFinish = 480,           // GS B
    kFwCodeReadTable = 482,        // GS J
    kFwCodeWriteBlock = 483,       // GS R
    kFwCodeReadPacket = 484,       // GS V
    kFwCodeCancel = 736,           // GS C
    kFwCodeCommitSection = 739,    // GS S
    kFwCodeEndReadBack = 740,      // GS W
    kFwCodeSetVersion = 1506,      // GS N
    kFwCodeSystemInfo = 1760,      // FS Y
    kFwCodeClass = 1762,           // GS O
};

// Sends length bytes from data (a frame, or the last part of a payload),
// then receives the reply header and its data. At most capacity data bytes
// are kept in reply and their number stored in *replyLength (which may be
// null); the rest is read and dropped. A reply without data leaves reply
// and *replyLength as they were. reply may be null with capacity 0.
int FwTransact(const void* data, int32_t length, void* reply, uint32_t capacity,
               uint32_t* replyLength);

// A frame with no payload and no wait: introducer, letter, parameter n; up
// to n reply bytes into buffer (null: dropped).
int FwRequest(uint8_t introducer, uint8_t letter, uint32_t n, void* buffer,
              uint32_t* replyLength = nullptr);

int FwReadStatus(uint8_t* buffer, uint32_t n);  // GS E
// Polls GS E until the printer reports mode and condition 1; 4 at once on
// mode 1 or condition 0x80, 4 when 1,000 ms pass.
int FwWaitMode(uint8_t mode);
int FwStart();                 // GS A
int FwEndReadBack();           // GS W
int FwFinish(uint32_t waitFlag);  // [mode 2 when the low 16 bits are set] GS B
int FwCancel(uint32_t waitFlag);  // [mode 2 when the low 16 bits are set] GS C
int FwCommitSection();         // mode 3, GS S
int FwSendImageTable(const uint8_t* table, uint32_t n);  // mode 2, GS I + table
int FwSetVersion(const uint8_t* text, uint32_t n);       // mode 2, GS N + text
// mode 2, GS Q with n + 2, the two tag bytes, the n descriptor bytes.
int FwBeginSection(const uint8_t tag[2], const uint8_t* descriptor, uint32_t n);
// mode 3, GS R with n, then the block in three parts (24, n - 28, 4); n is
// L + 28 and never less than 28.
int FwWriteBlock(const uint8_t* block, uint32_t n);
// mode 2, GS U with 6, then the tag and g_fwPacketSize; up to capacity
// reply bytes (the section descriptor) into reply.
int FwBeginReadBack(const uint8_t tag[2], uint8_t* reply, uint32_t capacity);

// The dispatcher by command code (the codes above). arg carries the tag of
// GS Q and GS U (low byte first) and the wait flag of GS B and GS C; buffer
// and n the payload or the reply.
int FwCommand(uint32_t code, uint32_t arg, void* buffer, uint32_t n);
