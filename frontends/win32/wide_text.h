// UTF-8 (the core's texts) to UTF-16 (the Win32 calls' texts) and back, on
// top of the platform's conversions.
#pragma once

#include <string>
#include <string_view>

#include "platform/text.h"

inline std::wstring WideText(std::string_view utf8) {
    const std::u16string u = platform::Utf8ToUtf16(utf8);
    return std::wstring(u.begin(), u.end());
}

inline std::string Utf8Text(std::wstring_view wide) {
    return platform::Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}
