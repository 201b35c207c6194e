// Dynamic libraries on Windows: LoadLibraryExW, GetProcAddress, FreeLibrary.
//
// An access library is never looked for in the current directory, where
// anybody may have put a file of the same name:
//   - a bare file name ("qv71xx.dll") is searched in the executable's
//     folder and the system folder only (LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
//   - a relative path with a folder in it ("lib\qv71xx.dll") is taken from
//     the executable's folder, where the configuration file lives;
//   - an absolute path is loaded as it stands.
// The libraries a loaded library needs in turn are searched the same way,
// and in the library's own folder.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/dynlib.h"

namespace platform {
namespace {

bool ToWide(const std::string& text, std::wstring* wide) {
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                        static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return false;
    wide->assign(static_cast<size_t>(n), L'\0');
    return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                 static_cast<int>(text.size()), wide->data(), n) == n;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "C:\x.dll", "\\server\x.dll", "\x.dll" (the current drive's root) and
// "C:x.dll" name their place themselves; everything else with a separator
// is relative.
bool NamesItsPlace(const std::wstring& name) {
    if (!name.empty() && IsSeparator(name[0])) return true;
    return name.size() >= 2 && name[1] == L':';
}

// The executable's folder with a trailing backslash, or false.
bool ExecutableFolder(std::wstring* folder) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return false;
        if (n < buffer.size()) {
            folder->assign(buffer.data(), n);
            break;
        }
        if (buffer.size() >= 32768) return false;
        buffer.resize(buffer.size() * 2);
    }
    const size_t slash = folder->find_last_of(L"\\/");
    if (slash == std::wstring::npos) return false;
    folder->resize(slash + 1);
    return true;
}

}  // namespace

ModuleHandle LoadDynamicLibrary(const std::string& name) {
    if (name.empty()) return nullptr;
    std::wstring wide;
    if (!ToWide(name, &wide)) return nullptr;
    bool hasFolder = false;
    for (wchar_t c : wide) hasFolder = hasFolder || IsSeparator(c);
    if (!hasFolder)
        return reinterpret_cast<ModuleHandle>(
            ::LoadLibraryExW(wide.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS));
    if (!NamesItsPlace(wide)) {
        std::wstring folder;
        if (!ExecutableFolder(&folder)) return nullptr;
        wide = folder + wide;
    }
    // The library's own folder is searched for what it needs: that takes a
    // full path.
    const DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0) return nullptr;
    std::wstring full(n, L'\0');
    const DWORD m = ::GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    if (m == 0 || m >= n) return nullptr;
    full.resize(m);
    wide = full;
    return reinterpret_cast<ModuleHandle>(
        ::LoadLibraryExW(wide.c_str(), nullptr,
                         LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS));
}

void* FindSymbol(ModuleHandle module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

void FreeDynamicLibrary(ModuleHandle module) {
    if (module != nullptr) ::FreeLibrary(static_cast<HMODULE>(module));
}

}  // namespace platform
