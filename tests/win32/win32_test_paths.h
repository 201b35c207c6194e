// Paths for the Windows tests running under wine: host paths of the build
// turned into paths the Windows side opens, and temporary folders named
// after the process so that parallel runs do not collide.
#pragma once

#include <windows.h>

#include <string>

#include "frontends/win32/wide_text.h"

namespace win32_test {

// A host path ("/work/...") as wine sees it ("Z:\work\..."); any other
// path is returned with its slashes turned.
inline std::wstring HostPath(const std::string& path) {
    std::wstring wide = WideText(path);
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    if (!path.empty() && path[0] == '/') wide = L"Z:" + wide;
    return wide;
}

// The folder of the running test program, with a trailing backslash.
inline std::wstring ProgramFolder() {
    wchar_t buffer[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    std::wstring path(buffer, n);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

// Removes a folder with everything in it.
inline void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE h = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                ::DeleteFileW(path.c_str());
        } while (::FindNextFileW(h, &found));
        ::FindClose(h);
    }
    ::RemoveDirectoryW(folder.c_str());
}

// A fresh folder under the temporary folder, removed with everything in it
// when the object goes.
class TempFolder {
public:
    TempFolder() {
        static unsigned counter = 0;
        wchar_t base[MAX_PATH];
        ::GetTempPathW(MAX_PATH, base);
        m_path = std::wstring(base) + L"quillon-test-" + std::to_wstring(::GetCurrentProcessId()) +
                 L"-" + std::to_wstring(++counter);
        ::CreateDirectoryW(m_path.c_str(), nullptr);
    }
    ~TempFolder() { RemoveTree(m_path); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& path() const { return m_path; }
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

// Writes bytes to a file; false on failure.
inline bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok =
        ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(h);
    return ok && written == bytes.size();
}

// Reads a whole file; false on failure.
inline bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool ok = ::GetFileSizeEx(h, &size) != FALSE;
    bytes->assign(ok ? static_cast<size_t>(size.QuadPart) : 0, '\0');
    DWORD got = 0;
    if (ok && !bytes->empty())
        ok = ::ReadFile(h, bytes->data(), static_cast<DWORD>(bytes->size()), &got, nullptr) &&
             got == bytes->size();
    ::CloseHandle(h);
    return ok;
}

}  // namespace win32_test
