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
namespace {

bool g_overrideActive = false;
const uint8_t* g_overrideData = nullptr;
size_t g_overrideSize = 0;

}  // namespace

bool FindEmbeddedLoadFile(const uint8_t** data, size_t* size) {
    if (g_overrideActive) {
        if (g_overrideData == nullptr) return false;
        *data = g_overrideData;
        *size = g_overrideSize;
        return true;
    }
    const uint8_t* begin = quillon_load_file_begin;
    const uint8_t* end = quillon_load_file_end;
    if (begin == nullptr || end == nullptr || end < begin) return false;
    *data = begin;
    *size = static_cast<size_t>(end - begin);
    return true;
}

void SetLoadFileOverride(const uint8_t* data, size_t size) {
    g_overrideActive = true;
    g_overrideData = data;
    g_overrideSize = size;
}

void ClearLoadFileOverride() {
    g_overrideActive = false;
    g_overrideData = nullptr;
    g_overrideSize = 0;
}

}  // namespace platform
