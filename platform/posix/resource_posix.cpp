// The embedded load file on POSIX: the bytes are linked into the
// executable as a binary blob by the quillon_embedded_loadfile object
// library. The symbols are weak so that a program without that object
// still links; its lookup then fails as a missing resource does.
#include <cstddef>
#include <cstdint>

#include "platform/resource.h"

extern "C" {
extern const uint8_t quillon_load_file_begin[] __attribute__((weak));
extern const uint8_t quillon_load_file_end[] __attribute__((weak));
}

namespace platform {

bool FindPlatformLoadFile(const uint8_t** data, size_t* size) {
    const uint8_t* begin = quillon_load_file_begin;
    const uint8_t* end = quillon_load_file_end;
    if (begin == nullptr || end == nullptr || end < begin) return false;
    *data = begin;
    *size = static_cast<size_t>(end - begin);
    return true;
}

}  // namespace platform
