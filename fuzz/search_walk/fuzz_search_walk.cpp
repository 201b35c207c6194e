// fuzz_search_walk: the bytes that printers answer a search with, against
// the walk over the collected replies. The first byte sets the maximum to
// take, the second the length of the request payload that the replies are
// compared with; the rest is what arrived (at most one collection buffer).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "commands/printer_search.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int maxTaken = static_cast<int8_t>(data[0]);
    size_t payloadLength = data[1];
    data += 2;
    size -= 2;
    if (payloadLength > size) payloadLength = size;
    const std::string payload(reinterpret_cast<const char*>(data), payloadLength);
    data += payloadLength;
    size -= payloadLength;
    if (size > kSearchBufferSize) size = kSearchBufferSize;

    // Exactly the bytes received, so that a read past them is caught.
    std::vector<uint8_t> received(data, data + size);
    std::vector<uint8_t> replies(kSearchRecordSize * 20);
    char countText[256] = "unchanged";
    const int taken = WalkSearchReplies(received.data(), received.size(), payload,
                                        maxTaken > 20 ? 20 : maxTaken, replies.data(), countText);
    if (taken < 0 || taken > 20 || (maxTaken <= 0 && taken != 0)) __builtin_trap();
    return 0;
}
