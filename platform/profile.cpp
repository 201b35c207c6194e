// The portable configuration-file reader. It reproduces what the Windows
// private-profile functions (GetPrivateProfileIntW and
// GetPrivateProfileStringW) return for the files the updater reads, so that
// a configuration file means the same on every platform; the rules are
// listed in platform/profile.h.
#include "platform/profile.h"

#include <fstream>
#include <iterator>

#include "platform/text.h"

namespace platform {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char16_t FoldCase(char16_t c) { return (c >= u'a' && c <= u'z') ? c - u'a' + u'A' : c; }

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k)
        if (FoldCase(a[k]) != FoldCase(b[k])) return false;
    return true;
}

std::u16string Decode(std::string_view bytes) {
    const auto at = [&](size_t k) { return static_cast<uint8_t>(bytes[k]); };
    if (bytes.size() >= 2 && at(0) == 0xFF && at(1) == 0xFE) {
        std::u16string out;
        for (size_t k = 2; k + 1 < bytes.size(); k += 2)
            out.push_back(static_cast<char16_t>(at(k) | (at(k + 1) << 8)));
        return out;
    }
    if (bytes.size() >= 2 && at(0) == 0xFE && at(1) == 0xFF) {
        std::u16string out;
        for (size_t k = 2; k + 1 < bytes.size(); k += 2)
            out.push_back(static_cast<char16_t>((at(k) << 8) | at(k + 1)));
        return out;
    }
    if (bytes.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF)
        bytes.remove_prefix(3);
    return Utf8ToUtf16(bytes);
}

int DigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return 99;
}

}  // namespace

ProfileText ProfileText::FromBytes(std::string_view bytes) {
    ProfileText profile;
    const std::u16string text = Decode(bytes);
    Section* current = nullptr;  // keys before the first section belong to none
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of(u"\r\n", pos);
        if (end == std::u16string::npos) end = text.size();
        std::u16string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
        if (line.empty() || line.front() == u';') continue;
        if (line.front() == u'[') {
            line.remove_prefix(1);
            const size_t close = line.rfind(u']');
            if (close != std::u16string_view::npos) line = line.substr(0, close);
            profile.m_sections.push_back(Section{std::u16string(Trim(line)), {}});
            current = &profile.m_sections.back();
            continue;
        }
        if (current == nullptr) continue;
        const size_t eq = line.find(u'=');
        Entry entry;
        if (eq == std::u16string_view::npos) {
            entry.key = std::u16string(Trim(line));
        } else {
            entry.key = std::u16string(Trim(line.substr(0, eq)));
            std::u16string_view value = Trim(line.substr(eq + 1));
            if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
                value.back() == value.front())
                value = value.substr(1, value.size() - 2);
            entry.value = std::u16string(value);
        }
        current->entries.push_back(std::move(entry));
    }
    return profile;
}

bool ProfileText::FromFile(const std::string& path, ProfileText* out) {
    *out = ProfileText();
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return false;
    *out = FromBytes(bytes);
    return true;
}

bool ProfileText::Find(std::u16string_view section, std::u16string_view key,
                       std::u16string* value) const {
    section = Trim(section);
    key = Trim(key);
    for (const Section& s : m_sections) {
        if (!SameName(s.name, section)) continue;
        for (const Entry& e : s.entries)
            if (SameName(e.key, key)) {
                *value = e.value;
                return true;
            }
        return false;  // only the first section of a name counts
    }
    return false;
}

uint32_t ProfileIntFromValue(std::u16string_view value) {
    size_t k = 0;
    while (k < value.size() && IsBlank(value[k])) ++k;
    bool negative = false;
    if (k < value.size() && (value[k] == u'-' || value[k] == u'+')) negative = value[k++] == u'-';
    uint32_t base = 10;
    if (k + 1 < value.size() && value[k] == u'0' &&
        (value[k + 1] == u'x' || value[k + 1] == u'X')) {
        base = 16;
        k += 2;
    }
    uint32_t result = 0;  // arithmetic modulo 2^32, as the system's own
    for (; k < value.size(); ++k) {
        const int d = DigitValue(value[k]);
        if (d >= static_cast<int>(base)) break;
        result = result * base + static_cast<uint32_t>(d);
    }
    return negative ? 0u - result : result;
}

std::u16string CutProfileValue(std::u16string_view value, uint32_t bufferUnits) {
    if (bufferUnits == 0) return std::u16string();
    size_t n = value.size();
    if (n > bufferUnits - 1) {
        n = bufferUnits - 1;
        // Never keep the first half of a pair without its second.
        if (n > 0 && value[n - 1] >= 0xD800 && value[n - 1] <= 0xDBFF) --n;
    }
    return std::u16string(value.substr(0, n));
}

}  // namespace platform
