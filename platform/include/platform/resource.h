// The load file embedded in the updater's executable (resource "QZR" 135
// on Windows; linked in as a binary blob on POSIX).
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// The embedded bytes, or false when the resource cannot be found.
bool FindEmbeddedLoadFile(const uint8_t** data, size_t* size);

// Tests: serve these bytes instead of the embedded ones (data == nullptr
// makes the lookup fail); ClearLoadFileOverride restores the real one.
void SetLoadFileOverride(const uint8_t* data, size_t size);
void ClearLoadFileOverride();

}  // namespace platform
