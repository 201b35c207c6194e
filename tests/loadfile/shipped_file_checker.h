// Checks every described field of the shipped load file at its fixed
// offset, without the reader: the header, the info block, the four table
// entries, the section headers, the trailers against the data, the ST
// placeholder and the closing bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace loadfile_test {

struct ShippedSection {
    const char* tag;
    uint32_t loadAddress;
    uint32_t areaSize;
    uint32_t dataOffset;
    uint32_t dataLength;
    char flag;
    uint32_t headerAt;
    uint32_t classValue;
    uint16_t sum;
    uint8_t xorValue;
};

inline constexpr ShippedSection kShippedSections[] = {
    {"MC", 0x600D0000, 0x11D000, 0x1A0, 0x11D000, 'Y', 0x160, 1, 0x1191, 0x67},
    {"ST", 0x601ED000, 0x600, 0x11D200, 0x600, 'N', 0x11D1C0, 0, 0x2C2C, 0x0A},
    {"DP", 0x601F0000, 0xFD00, 0x11D860, 0xFD00, 'Y', 0x11D820, 1, 0x29ED, 0xD1},
    {"FG", 0x60200000, 0x927C0, 0x12D5C0, 0x927C0, 'Y', 0x12D580, 1, 0x2CFC, 0x8E},
};
inline constexpr uint32_t kShippedSize = 1834404;

inline uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline bool AllZero(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != 0) return false;
    return true;
}

inline void ExpectShippedLoadFile(const uint8_t* d, size_t size) {
    ASSERT_EQ(size, kShippedSize);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(d), 16), "ZK9930 Load File");
    EXPECT_TRUE(AllZero(d + 0x10, 8));
    EXPECT_EQ(Le32(d + 0x18), 1834404u);
    EXPECT_EQ(d[0x18], 0xA4);  // 0x1BFDA4, low byte first
    EXPECT_EQ(d[0x1A], 0x1B);
    EXPECT_EQ(Le32(d + 0x1C), 64u);
    EXPECT_TRUE(AllZero(d + 0x20, 32));

    EXPECT_EQ(Le32(d + 0x40), 4u);
    EXPECT_EQ(Le32(d + 0x44), 6u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(d + 0x48), 16), "1.3             ");
    EXPECT_TRUE(AllZero(d + 0x58, 8));

    for (size_t k = 0; k < 4; ++k) {
        const ShippedSection& s = kShippedSections[k];
        SCOPED_TRACE(s.tag);
        const uint8_t* e = d + 0x60 + 64 * k;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(e), 2), s.tag);
        EXPECT_TRUE(AllZero(e + 2, 6));
        EXPECT_EQ(Le32(e + 0x08), s.loadAddress);
        EXPECT_EQ(Le32(e + 0x0C), s.areaSize);
        EXPECT_EQ(Le32(e + 0x10), s.dataOffset);
        EXPECT_EQ(Le32(e + 0x14), s.dataLength);
        EXPECT_EQ(e[0x18], static_cast<uint8_t>(s.flag));
        EXPECT_TRUE(AllZero(e + 0x19, 39));

        const uint8_t* h = d + s.headerAt;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(h), 2), s.tag);
        EXPECT_TRUE(AllZero(h + 2, 2));
        EXPECT_EQ(Le32(h + 0x04), 1u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(h + 8), 4), "RAWS");
        EXPECT_TRUE(AllZero(h + 0x0C, 8));
        EXPECT_EQ(Le32(h + 0x14), s.classValue);
        EXPECT_TRUE(AllZero(h + 0x18, 40));

        uint32_t sum = 0;
        uint8_t x = 0;
        for (uint32_t i = 0; i < s.dataLength; ++i) {
            sum += d[s.dataOffset + i];
            x ^= d[s.dataOffset + i];
        }
        EXPECT_EQ(sum & 0xFFFF, s.sum);
        EXPECT_EQ(x, s.xorValue);

        const uint8_t* t = d + s.dataOffset + s.dataLength;
        EXPECT_TRUE(AllZero(t, 2));
        EXPECT_EQ(t[2] | t[3] << 8, s.sum);
        EXPECT_TRUE(AllZero(t + 4, 3));
        EXPECT_EQ(t[7], s.xorValue);
        EXPECT_TRUE(AllZero(t + 8, 24));
    }
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(d + 0x11D200), 12), "DUMY00000000");
    const uint8_t tail[4] = {0x40, 0xFD, 0xAD, 0xBA};
    EXPECT_EQ(std::memcmp(d + kShippedSize - 4, tail, 4), 0);
}

}  // namespace loadfile_test
