// UTF-8 inside the core, UTF-16 where the system counts or stores text in
// 16-bit units (profile values, paths in a 260-unit buffer).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// UTF-8 to UTF-16. A byte that does not start or continue a well-formed
// sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// The number of UTF-16 units the text takes.
size_t Utf16Length(std::string_view utf8);

}  // namespace platform
