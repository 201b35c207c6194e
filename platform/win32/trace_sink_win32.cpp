// The debug channel on Windows: OutputDebugStringW, and the system's texts
// for error numbers through FormatMessageW.
#include <winsock2.h>
#include <windows.h>

#include <string>

#include "platform/trace_sink.h"

namespace platform {

namespace {

std::wstring ToWide(std::string_view text) {
    std::wstring wide;
    if (text.empty()) return wide;
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0);
    if (n <= 0) return wide;
    wide.resize(static_cast<size_t>(n));
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string ToUtf8(const wchar_t* wide, size_t length) {
    std::string text;
    if (length == 0) return text;
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0,
                                        nullptr, nullptr);
    if (n <= 0) return text;
    text.resize(static_cast<size_t>(n));
    ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), text.data(), n, nullptr,
                          nullptr);
    return text;
}

}  // namespace

void WriteDebugChannel(std::string_view line) {
    const std::wstring wide = ToWide(line);
    ::OutputDebugStringW(wide.c_str());
}

// Both origins are Windows codes here: the system's own text for each.
bool SystemErrorText(ErrorNumber error, std::string* text) {
    const DWORD errorNumber = error.value;
    wchar_t* buffer = nullptr;
    // FORMAT_MESSAGE_ALLOCATE_BUFFER | IGNORE_INSERTS | FROM_SYSTEM |
    // MAX_WIDTH_MASK (0x13FF), neutral language with the default sublanguage.
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
            FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK,
        nullptr, errorNumber, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (n == 0 || buffer == nullptr) {
        if (buffer != nullptr) ::LocalFree(buffer);
        return false;
    }
    *text = ToUtf8(buffer, n);
    ::LocalFree(buffer);
    return true;
}

unsigned long LastError() { return ::GetLastError(); }
unsigned long LastSocketError() { return static_cast<unsigned long>(::WSAGetLastError()); }

}  // namespace platform
