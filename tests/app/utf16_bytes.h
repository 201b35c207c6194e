// UTF-16 text as the bytes of a file, with or without its byte-order mark:
// the form in which the Windows private-profile functions read Unicode.
#pragma once

#include <string>

namespace apptest {

inline std::string Utf16Le(const std::u16string& text, bool bom = true) {
    std::string out = bom ? "\xFF\xFE" : "";
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

inline std::string Utf16Be(const std::u16string& text) {
    std::string out = "\xFE\xFF";
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c >> 8));
        out.push_back(static_cast<char>(c & 0xFF));
    }
    return out;
}

}  // namespace apptest
