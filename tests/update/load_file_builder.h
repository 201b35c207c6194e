// Builds small load files in memory for tests and the fuzz target: the
// header, info block, section table and, per section, its header, data and
// trailer, back to back, then the 4 closing bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace testing_update {

struct BuiltSection {
    std::string tag = "MC";           // two letters
    std::vector<uint8_t> data;
    uint8_t flag = 'Y';
    uint32_t classValue = 1;
    uint32_t attribute = 1;
    uint32_t areaSize = 0;            // 0: the data length
    uint32_t loadAddress = 0x60000000;
    bool wrongTrailer = false;        // store a checksum that does not hold
};

inline void PutLE32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

inline std::vector<uint8_t> BuildLoadFile(const std::vector<BuiltSection>& sections,
                                          uint32_t layout = 6,
                                          const char* version = "1.3") {
    const size_t count = sections.size();
    size_t total = 64 + 32 + count * 64;
    for (const BuiltSection& s : sections) total += 64 + s.data.size() + 32;
    total += 4;
    if (count == 0) total += 64;  // keep "the 64 bytes after the table" inside
    std::vector<uint8_t> f(total, 0);
    std::memcpy(f.data(), "ZK9930 Load File", 16);
    PutLE32(f, 0x18, static_cast<uint32_t>(total));
    PutLE32(f, 0x1C, 64);
    PutLE32(f, 64, static_cast<uint32_t>(count));
    PutLE32(f, 68, layout);
    std::memset(f.data() + 72, ' ', 16);
    std::memcpy(f.data() + 72, version, std::min<size_t>(16, std::strlen(version)));
    size_t at = 64 + 32 + count * 64;
    for (size_t k = 0; k < count; ++k) {
        const BuiltSection& s = sections[k];
        const size_t entry = 96 + k * 64;
        const size_t dataOffset = at + 64;
        f[entry] = static_cast<uint8_t>(s.tag[0]);
        f[entry + 1] = static_cast<uint8_t>(s.tag[1]);
        PutLE32(f, entry + 0x08, s.loadAddress + static_cast<uint32_t>(k) * 0x10000);
        PutLE32(f, entry + 0x0C, s.areaSize != 0 ? s.areaSize : static_cast<uint32_t>(s.data.size()));
        PutLE32(f, entry + 0x10, static_cast<uint32_t>(dataOffset));
        PutLE32(f, entry + 0x14, static_cast<uint32_t>(s.data.size()));
        f[entry + 0x18] = s.flag;
        // Section header.
        f[at] = static_cast<uint8_t>(s.tag[0]);
        f[at + 1] = static_cast<uint8_t>(s.tag[1]);
        PutLE32(f, at + 0x04, s.attribute);
        std::memcpy(f.data() + at + 0x08, "RAWS", 4);
        PutLE32(f, at + 0x14, s.classValue);
        if (!s.data.empty()) std::memcpy(f.data() + dataOffset, s.data.data(), s.data.size());
        uint32_t sum = 0;
        uint8_t x = 0;
        for (uint8_t b : s.data) {
            sum += b;
            x ^= b;
        }
        if (s.wrongTrailer) ++sum;
        const size_t trailer = dataOffset + s.data.size();
        f[trailer + 2] = static_cast<uint8_t>(sum);
        f[trailer + 3] = static_cast<uint8_t>(sum >> 8);
        f[trailer + 7] = x;
        at = trailer + 32;
    }
    const uint8_t tail[4] = {0x40, 0xFD, 0xAD, 0xBA};
    std::memcpy(f.data() + total - 4, tail, 4);
    return f;
}

// Deterministic filler.
inline std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    uint32_t s = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        s = s * 1103515245u + 12345u;
        v[i] = static_cast<uint8_t>(s >> 16);
    }
    return v;
}

// An ST placeholder of n bytes.
inline std::vector<uint8_t> Placeholder(size_t n) {
    std::vector<uint8_t> v(n, '0');
    const char mark[] = "DUMY00000000";
    std::memcpy(v.data(), mark, std::min<size_t>(n, 12));
    return v;
}

}  // namespace testing_update
