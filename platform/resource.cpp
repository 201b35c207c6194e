// The embedded load file, or the bytes a test put in its place.
#include "platform/resource.h"

namespace platform {

// The platform's own lookup (resource_posix / resource_win32).
bool FindPlatformLoadFile(const uint8_t** data, size_t* size);

namespace {
bool g_overrideActive = false;
const uint8_t* g_overrideData = nullptr;
size_t g_overrideSize = 0;
}  // namespace

bool FindEmbeddedLoadFile(const uint8_t** data, size_t* size) {
    if (!g_overrideActive) return FindPlatformLoadFile(data, size);
    if (g_overrideData == nullptr) return false;
    *data = g_overrideData;
    *size = g_overrideSize;
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
