// The per-user state folder and durable new files on Windows: the local
// application data folder, CreateDirectoryW, and a flushed temporary file
// moved to a name that is still free.
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <string>

#include "platform/state_files.h"
#include "platform/text.h"

namespace platform {

namespace {

constexpr int kMaxNameTries = 1000;

void SetError(unsigned long* error, unsigned long code) {
    if (error != nullptr) *error = code;
}

std::wstring Wide(const std::string& utf8) {
    const std::u16string w = Utf8ToUtf16(utf8);
    return std::wstring(w.begin(), w.end());
}

std::string Narrow(const wchar_t* wide) {
    std::u16string w;
    for (; *wide != 0; ++wide) w.push_back(static_cast<char16_t>(*wide));
    return Utf16ToUtf8(w);
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Owns a file handle.
class Handle {
public:
    explicit Handle(HANDLE h) : m_h(h) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_h; }
    bool valid() const { return m_h != INVALID_HANDLE_VALUE; }
    bool Close() {
        const HANDLE h = m_h;
        m_h = INVALID_HANDLE_VALUE;
        return h == INVALID_HANDLE_VALUE || ::CloseHandle(h) != 0;
    }

private:
    HANDLE m_h;
};

bool WriteAll(HANDLE h, const uint8_t* data, size_t n) {
    while (n > 0) {
        const DWORD piece = n > (1u << 30) ? (1u << 30) : static_cast<DWORD>(n);
        DWORD done = 0;
        if (!::WriteFile(h, data, piece, &done, nullptr)) return false;
        if (done == 0) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        data += done;
        n -= done;
    }
    return true;
}

}  // namespace

bool PlatformUserStateDirectory(std::string* dir) {
    PWSTR known = nullptr;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known)) &&
        known != nullptr && known[0] != 0) {
        *dir = Narrow(known);
        ::CoTaskMemFree(known);
        return true;
    }
    if (known != nullptr) ::CoTaskMemFree(known);
    // The environment, where the shell cannot say.
    wchar_t value[MAX_PATH + 1];
    const DWORD n = ::GetEnvironmentVariableW(L"LOCALAPPDATA", value, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH) return false;
    *dir = Narrow(value);
    return true;
}

bool CreateDirectories(const std::string& dir, unsigned long* error) {
    if (dir.empty()) {
        SetError(error, ERROR_PATH_NOT_FOUND);
        return false;
    }
    // Each folder from the top down; a drive ("C:") or a share's root is
    // never made.
    for (size_t at = 0; at != std::string::npos;) {
        at = dir.find_first_of("\\/", at + 1);
        std::string part = dir.substr(0, at);
        while (!part.empty() && IsSeparator(part.back())) part.pop_back();
        if (part.empty() || part.back() == ':' || part.size() < 3) continue;
        const std::wstring w = Wide(part);
        if (::CreateDirectoryW(w.c_str(), nullptr)) continue;
        const DWORD code = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesW(w.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        // The top of a UNC path cannot be made or listed; go on below it.
        if (code == ERROR_BAD_NETPATH || code == ERROR_BAD_NET_NAME ||
            code == ERROR_INVALID_NAME)
            if (at != std::string::npos) continue;
        SetError(error, code == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : code);
        return false;
    }
    return true;
}

bool WriteNewFileDurably(const std::string& dir, const std::string& stem, const std::string& ext,
                         const uint8_t* data, size_t n, std::string* path,
                         unsigned long* error) {
    const std::string folder = dir.empty() || IsSeparator(dir.back()) ? dir : dir + "\\";
    const std::wstring temp = Wide(folder + "." + stem + "." +
                                   std::to_string(::GetCurrentProcessId()) + ext + ".tmp");
    {
        Handle h(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h.valid()) {
            SetError(error, ::GetLastError());
            return false;
        }
        if (!WriteAll(h.get(), data, n) || !::FlushFileBuffers(h.get()) || !h.Close()) {
            SetError(error, ::GetLastError());
            ::DeleteFileW(temp.c_str());
            return false;
        }
    }
    DWORD code = ERROR_ALREADY_EXISTS;
    for (int k = 1; k <= kMaxNameTries; ++k) {
        std::string name = folder + stem;
        if (k > 1) name.append("-").append(std::to_string(k));
        name += ext;
        // Without MOVEFILE_REPLACE_EXISTING the move fails on a taken name.
        if (::MoveFileExW(temp.c_str(), Wide(name).c_str(), MOVEFILE_WRITE_THROUGH)) {
            *path = name;
            return true;
        }
        code = ::GetLastError();
        if (code != ERROR_ALREADY_EXISTS && code != ERROR_FILE_EXISTS) break;
    }
    SetError(error, code);
    ::DeleteFileW(temp.c_str());
    return false;
}

}  // namespace platform
