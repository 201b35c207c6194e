#include "link/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/trace_sink.h"

namespace {

// Appends one code point as UTF-8.
void AppendUtf8(std::string* out, uint32_t c) {
    if (c < 0x80) {
        *out += static_cast<char>(c);
    } else if (c < 0x800) {
        *out += static_cast<char>(0xC0 | (c >> 6));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out += static_cast<char>(0xE0 | (c >> 12));
        *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (c >> 18));
        *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// wchar_t is UTF-16 on Windows and UTF-32 elsewhere.
std::string WideToUtf8(const std::wstring& w) {
    std::string out;
    for (size_t i = 0; i < w.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(w[i]);
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c < 0xDC00 && i + 1 < w.size()) {
            const uint32_t low = static_cast<uint32_t>(w[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        AppendUtf8(&out, c);
    }
    return out;
}

// Writes "%s() [%d] " + message + " -[%s]\n" as one line.
void WriteTraceLine(int line, const char* function, platform::ErrorNumber error,
                    const std::string& message) {
    char head[512];
    snprintf(head, sizeof head, "%s() [%d] ", function != nullptr ? function : "(null)", line);
    std::string text;
    if (!platform::SystemErrorText(error, &text)) text = "(null)";
    std::string out = head;
    out += message;
    out += " -[";
    out += text;
    out += "]\n";
    platform::WriteDebugLine(out);
}

}  // namespace

void TraceError(int line, const char* function, platform::ErrorNumber error, const char* format,
                ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string message;
    if (n > 0) {
        std::vector<char> buffer(static_cast<size_t>(n) + 1);
        vsnprintf(buffer.data(), buffer.size(), format, args);
        message.assign(buffer.data(), static_cast<size_t>(n));
    }
    va_end(args);
    // The finished text is appended as it stands: a '%' in it is not
    // formatted a second time.
    WriteTraceLine(line, function, error, message);
}

void TraceErrorW(int line, const char* function, platform::ErrorNumber error,
                 const wchar_t* format, ...) {
    std::vector<wchar_t> buffer(256);
    int n = -1;
    // A buffer that is too small comes back as a failure (the C library's
    // vswprintf) or as the length the whole text needs (mingw-w64's C99
    // one): grow until the text fits, never take more than was written.
    while (buffer.size() <= (1u << 20)) {
        va_list args;
        va_start(args, format);
        n = vswprintf(buffer.data(), buffer.size(), format, args);
        va_end(args);
        if (n >= 0 && static_cast<size_t>(n) < buffer.size()) break;
        buffer.resize(n >= 0 ? static_cast<size_t>(n) + 1 : buffer.size() * 4);
        n = -1;
    }
    const std::wstring message = n >= 0 ? std::wstring(buffer.data(), static_cast<size_t>(n)) : L"";
    WriteTraceLine(line, function, error, WideToUtf8(message));
}
