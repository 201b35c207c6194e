// Builds small, well-formed load files for tests: header, info block,
// section table, and each section as header, data and trailer, back to
// back, then 4 closing bytes. Offsets and checksums are computed here on
// their own, without the reader.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace loadfile_test {

struct SectionSpec {
    std::string tag;  // two letters
    std::vector<uint8_t> data;
    char flag = 'Y';
    uint32_t classValue = 1;
    uint32_t loadAddress = 0x60000000;
};

inline void PutLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint32_t GetLE32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Offsets of the fields the tests change.
constexpr size_t kTotalSizeAt = 0x18;
constexpr size_t kInfoOffsetAt = 0x1C;
constexpr size_t kCountAt = 0x40;
constexpr size_t kFirstEntryAt = 0x60;
inline size_t EntryAt(size_t k) { return kFirstEntryAt + 64 * k; }

inline std::vector<uint8_t> BuildLoadFile(const std::vector<SectionSpec>& sections,
                                          uint32_t layout = 6) {
    size_t size = 64 + 32 + 64 * sections.size();
    for (const SectionSpec& s : sections) size += 64 + s.data.size() + 32;
    size += 4;
    std::vector<uint8_t> f(size, 0);
    std::memcpy(f.data(), "ZK9930 Load File", 16);
    PutLE32(&f[kTotalSizeAt], static_cast<uint32_t>(size));
    PutLE32(&f[kInfoOffsetAt], 0x40);
    PutLE32(&f[kCountAt], static_cast<uint32_t>(sections.size()));
    PutLE32(&f[0x44], layout);
    std::memcpy(&f[0x48], "1.3             ", 16);
    size_t at = EntryAt(sections.size());
    for (size_t k = 0; k < sections.size(); ++k) {
        const SectionSpec& s = sections[k];
        uint8_t* e = &f[EntryAt(k)];
        e[0] = static_cast<uint8_t>(s.tag[0]);
        e[1] = static_cast<uint8_t>(s.tag[1]);
        PutLE32(e + 0x08, s.loadAddress);
        PutLE32(e + 0x0C, static_cast<uint32_t>(s.data.size()));
        PutLE32(e + 0x10, static_cast<uint32_t>(at + 64));
        PutLE32(e + 0x14, static_cast<uint32_t>(s.data.size()));
        e[0x18] = static_cast<uint8_t>(s.flag);
        uint8_t* h = &f[at];
        h[0] = e[0];
        h[1] = e[1];
        PutLE32(h + 0x04, 1);
        std::memcpy(h + 0x08, "RAWS", 4);
        PutLE32(h + 0x14, s.classValue);
        at += 64;
        uint32_t sum = 0;
        uint8_t x = 0;
        for (uint8_t b : s.data) {
            f[at++] = b;
            sum += b;
            x ^= b;
        }
        f[at + 2] = static_cast<uint8_t>(sum);
        f[at + 3] = static_cast<uint8_t>(sum >> 8);
        f[at + 7] = x;
        at += 32;
    }
    f[at] = 0x40;
    f[at + 1] = 0xFD;
    f[at + 2] = 0xAD;
    f[at + 3] = 0xBA;
    return f;
}

}  // namespace loadfile_test
