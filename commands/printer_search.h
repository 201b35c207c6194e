// The printer search (FS * over UDP): the request datagram and the walk
// over the replies collected in one window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Size of the buffer that collects the replies of one search.
constexpr size_t kSearchBufferSize = 608;
// Bytes of one reply record's data.
constexpr size_t kSearchRecordSize = 32;

// The search payload: keyword 1 and keyword 2 each left-aligned in a field
// of at least 16 characters ("%-16s%-16s"), or keyword 1 alone ("%-16s")
// when keyword 2 is absent or empty; both "ZK-Q920" when keyword 1 is
// absent or empty. A longer keyword is not cut.
std::string SearchPayload(const char* keyword1, const char* keyword2);

// The datagram: 1C 2A, the payload length big-endian, the payload.
std::vector<uint8_t> SearchDatagram(const std::string& payload);

// Walks the received bytes as back-to-back records (2 bytes not examined,
// a big-endian 32-bit length, the data) and takes each record whose length
// is 32, whose data differs from the payload (compared over the payload's
// length, at most the record's 32 bytes) while fewer than maxTaken have
// been taken. A taken record's 32 bytes go to replies + 32 * taken; then
// the new count is written with "%d" into countText (256 bytes, may be
// null). The walk never reads past `received` bytes and always advances;
// a record whose header or data runs past the end ends it. Returns the
// number taken.
int WalkSearchReplies(const uint8_t* data, size_t received, const std::string& payload,
                      int maxTaken, uint8_t* replies, char* countText);

// True once the collection window that began at startTick (milliseconds of
// the platform clock) has closed at nowTick: the clock, read in whole
// seconds, has moved on by 3, so the window lasts between 2 and 3 seconds.
bool SearchWindowClosed(uint32_t startTick, uint32_t nowTick);
