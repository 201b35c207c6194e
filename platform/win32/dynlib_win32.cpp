// Dynamic libraries on Windows: LoadLibraryW, GetProcAddress, FreeLibrary.
#include <windows.h>

#include <string>

#include "platform/dynlib.h"

namespace platform {

ModuleHandle LoadDynamicLibrary(const std::string& name) {
    if (name.empty()) return nullptr;
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(),
                                        static_cast<int>(name.size()), nullptr, 0);
    if (n <= 0) return nullptr;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(),
                              static_cast<int>(name.size()), wide.data(), n) != n)
        return nullptr;
    return reinterpret_cast<ModuleHandle>(::LoadLibraryW(wide.c_str()));
}

void* FindSymbol(ModuleHandle module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

void FreeDynamicLibrary(ModuleHandle module) {
    if (module != nullptr) ::FreeLibrary(static_cast<HMODULE>(module));
}

}  // namespace platform
