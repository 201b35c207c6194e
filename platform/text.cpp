#include "platform/text.h"

#include <cstdint>

namespace platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at text[*k] and moves *k past it; malformed input
// yields U+FFFD and moves one byte.
char32_t NextCodePoint(std::string_view text, size_t* k) {
    const auto b = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = b(*k);
    if (lead < 0x80) {
        ++*k;
        return lead;
    }
    size_t extra;
    char32_t cp;
    char32_t min;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1, cp = lead & 0x1F, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2, cp = lead & 0x0F, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3, cp = lead & 0x07, min = 0x10000;
    } else {
        ++*k;
        return kReplacement;
    }
    for (size_t i = 1; i <= extra; ++i) {
        if (*k + i >= text.size() || (b(*k + i) & 0xC0) != 0x80) {
            ++*k;
            return kReplacement;
        }
        cp = (cp << 6) | (b(*k + i) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++*k;
        return kReplacement;
    }
    *k += extra + 1;
    return cp;
}

void AppendUtf8(std::string* out, char32_t cp) {
    if (cp < 0x80) {
        out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t k = 0; k < text.size();) {
        const char32_t cp = NextCodePoint(text, &k);
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t k = 0; k < text.size(); ++k) {
        const char16_t u = text[k];
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < text.size() && text[k + 1] >= 0xDC00 &&
            text[k + 1] <= 0xDFFF) {
            AppendUtf8(&out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (text[k + 1] - 0xDC00));
            ++k;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            AppendUtf8(&out, kReplacement);
        } else {
            AppendUtf8(&out, u);
        }
    }
    return out;
}

size_t Utf16Length(std::string_view utf8) {
    size_t n = 0;
    for (size_t k = 0; k < utf8.size();) n += NextCodePoint(utf8, &k) >= 0x10000 ? 2 : 1;
    return n;
}

}  // namespace platform
