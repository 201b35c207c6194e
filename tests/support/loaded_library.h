// Whether this process has a dynamic library loaded, without loading it
// (dlopen with RTLD_NOLOAD on POSIX, GetModuleHandleW on Windows).
#pragma once

#include <string>

namespace testsupport {

bool IsLibraryLoaded(const std::string& path);

}  // namespace testsupport
