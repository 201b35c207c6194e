// Files and the current directory on Windows; paths are UTF-8 in the core
// and UTF-16 here, error codes are GetLastError values.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/files.h"

namespace platform {

const char kPathSeparator = '\\';

namespace {

void SetError(unsigned long* error, unsigned long code) {
    if (error != nullptr) *error = code;
}

bool ToWide(const std::string& text, std::wstring* wide) {
    wide->clear();
    if (text.empty()) return true;
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                        static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return false;
    wide->resize(static_cast<size_t>(n));
    return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                 static_cast<int>(text.size()), wide->data(), n) == n;
}

bool ToUtf8(const wchar_t* wide, size_t length, std::string* text) {
    text->clear();
    if (length == 0) return true;
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0,
                                        nullptr, nullptr);
    if (n <= 0) return false;
    text->resize(static_cast<size_t>(n));
    return ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), text->data(), n,
                                 nullptr, nullptr) == n;
}

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// Transfers are made in pieces that fit a DWORD.
constexpr size_t kPiece = 1u << 30;

}  // namespace

bool File::Open(const std::string& path, Mode mode, unsigned long* error) {
    Close();
    std::wstring wide;
    if (!ToWide(path, &wide)) {
        SetError(error, ERROR_NO_UNICODE_TRANSLATION);
        return false;
    }
    HANDLE h = mode == Mode::kCreateAlways
                   ? ::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
                   : ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        SetError(error, ::GetLastError());
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(h);
    return true;
}

int64_t File::Size(unsigned long* error) const {
    if (handle_ == kInvalid) {
        SetError(error, ERROR_INVALID_HANDLE);
        return -1;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(AsHandle(handle_), &size)) {
        SetError(error, ::GetLastError());
        return -1;
    }
    return static_cast<int64_t>(size.QuadPart);
}

bool File::Write(const void* data, size_t n, unsigned long* error) {
    if (handle_ == kInvalid) {
        SetError(error, ERROR_INVALID_HANDLE);
        return false;
    }
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const DWORD piece = static_cast<DWORD>(n < kPiece ? n : kPiece);
        DWORD done = 0;
        if (!::WriteFile(AsHandle(handle_), p, piece, &done, nullptr)) {
            SetError(error, ::GetLastError());
            return false;
        }
        if (done == 0) {
            SetError(error, ERROR_WRITE_FAULT);
            return false;
        }
        p += done;
        n -= done;
    }
    return true;
}

bool File::Read(void* data, size_t n, unsigned long* error) {
    if (handle_ == kInvalid) {
        SetError(error, ERROR_INVALID_HANDLE);
        return false;
    }
    char* p = static_cast<char*>(data);
    while (n > 0) {
        const DWORD piece = static_cast<DWORD>(n < kPiece ? n : kPiece);
        DWORD done = 0;
        if (!::ReadFile(AsHandle(handle_), p, piece, &done, nullptr)) {
            SetError(error, ::GetLastError());
            return false;
        }
        if (done == 0) {
            SetError(error, ERROR_HANDLE_EOF);
            return false;
        }
        p += done;
        n -= done;
    }
    return true;
}

void File::Close() {
    if (handle_ != kInvalid) {
        ::CloseHandle(AsHandle(handle_));
        handle_ = kInvalid;
    }
}

bool CurrentDirectory(std::string* dir) {
    const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) return false;
    std::vector<wchar_t> buffer(needed);
    const DWORD n = ::GetCurrentDirectoryW(needed, buffer.data());
    if (n == 0 || n >= needed) return false;
    return ToUtf8(buffer.data(), n, dir);
}

bool RemoveFile(const std::string& path, unsigned long* error) {
    std::wstring wide;
    if (!ToWide(path, &wide)) {
        SetError(error, ERROR_NO_UNICODE_TRANSLATION);
        return false;
    }
    if (::DeleteFileW(wide.c_str())) return true;
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
    SetError(error, code);
    return false;
}

bool ExecutablePath(std::string* path) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return false;
        if (n < buffer.size()) return ToUtf8(buffer.data(), n, path);
        if (buffer.size() >= 32768) return false;
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace platform
