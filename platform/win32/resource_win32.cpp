// The embedded load file on Windows: custom resource "QZR" 135 of the
// program's own module.
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "platform/resource.h"

namespace platform {
namespace {

constexpr int kLoadFileResourceId = 135;

}  // namespace

bool FindPlatformLoadFile(const uint8_t** data, size_t* size) {
    HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(kLoadFileResourceId), L"QZR");
    if (found == nullptr) return false;
    HGLOBAL loaded = ::LoadResource(nullptr, found);
    if (loaded == nullptr) return false;
    const void* locked = ::LockResource(loaded);
    if (locked == nullptr) return false;
    // The size bounds every read the reader makes of the resource.
    const DWORD resourceSize = ::SizeofResource(nullptr, found);
    if (resourceSize == 0) return false;
    *data = static_cast<const uint8_t*>(locked);
    *size = resourceSize;
    return true;
}

}  // namespace platform
