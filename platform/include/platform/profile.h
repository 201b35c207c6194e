// Reading a configuration (INI) file as the Windows private-profile
// functions read it. The updater never writes one.
//
// What the reader does, on every platform:
//   - the file is UTF-16 (little- or big-endian) when it starts with the
//     matching byte-order mark, else UTF-8 (with or without its mark) on
//     POSIX; on Windows the system reads a file without a mark in the ANSI
//     code page (as GetPrivateProfileStringW does), so Japanese text there
//     needs UTF-16;
//   - lines end at CR or LF; leading blanks of a line are skipped; a line
//     that starts with ';' is a comment;
//   - "[name]" opens a section; section and key names compare without
//     regard to ASCII case; blanks around names are not part of them; the
//     first section of a name and the first key of a name in it count;
//   - "key=value": blanks around the value are dropped, and one pair of
//     matching quotes (' or ") around it is removed;
//   - a string value is cut to fit a buffer of `bufferUnits` UTF-16 units
//     with its terminator (at most bufferUnits - 1 units), never between
//     the two halves of a surrogate pair;
//   - an integer value reads as GetPrivateProfileIntW reads it: leading
//     blanks, an optional sign, decimal digits or "0x" and hex digits, up
//     to the first other character, arithmetic modulo 2^32 (so -1 is
//     0xFFFFFFFF); no digits gives 0; a missing key or an empty value gives
//     the default.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The value buffer of the updater's reads: 256 UTF-16 units.
constexpr uint32_t kProfileValueUnits = 256;

// GetPrivateProfileIntW: the value of key in section of the file at path
// (UTF-8), or defaultValue.
uint32_t ReadProfileInt(const std::string& path, std::string_view section, std::string_view key,
                        int32_t defaultValue);
// GetPrivateProfileStringW into a buffer of bufferUnits UTF-16 units: the
// value as UTF-8, or defaultValue (cut the same way).
std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view defaultValue,
                              uint32_t bufferUnits = kProfileValueUnits);

// The portable reader behind both (POSIX), usable on its own.
class ProfileText {
public:
    // The decoded text of a file's bytes.
    static ProfileText FromBytes(std::string_view bytes);
    // False when the file cannot be read (then it has no sections).
    static bool FromFile(const std::string& path, ProfileText* out);

    // The value of key in section, blanks and quotes removed; false when
    // the section or the key is missing.
    bool Find(std::u16string_view section, std::u16string_view key, std::u16string* value) const;

private:
    struct Entry {
        std::u16string key;
        std::u16string value;
    };
    struct Section {
        std::u16string name;
        std::vector<Entry> entries;
    };
    std::vector<Section> m_sections;
};

// The integer reading of a value (see above), without the default rule.
uint32_t ProfileIntFromValue(std::u16string_view value);
// A value cut for a buffer of bufferUnits units (see above).
std::u16string CutProfileValue(std::u16string_view value, uint32_t bufferUnits);

}  // namespace platform
