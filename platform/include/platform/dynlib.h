// Dynamic libraries (LoadLibraryW / GetProcAddress / FreeLibrary; dlopen on
// POSIX).
#pragma once

#include <string>

namespace platform {

using ModuleHandle = void*;

// Loads a library by file name or path (UTF-8); nullptr when it does not
// load (an empty name never loads).
ModuleHandle LoadDynamicLibrary(const std::string& name);
// Looks up a function by name; nullptr when missing or module is null.
void* FindSymbol(ModuleHandle module, const char* name);
void FreeDynamicLibrary(ModuleHandle module);

}  // namespace platform
