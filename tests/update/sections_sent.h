// Reads the sections back out of the frames the printer received: each
// GS Q (tag and descriptor), its GS R blocks (checked block by block: tag,
// number, format code, offset, length, checksums) and the closing GS S.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/engine/virtual_printer.h"
#include "update/checksum.h"

namespace testing_update {

struct SentSection {
    std::string tag;                  // as GS Q carried it
    std::vector<uint8_t> descriptor;  // 13 bytes
    std::vector<uint8_t> data;        // the blocks' data, in order
    std::vector<uint32_t> blockLengths;
    bool committed = false;           // GS S followed
};

inline uint32_t BE32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline uint16_t BE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

// Parses every section from frame `from` on; block structure errors are
// reported as test failures.
inline std::vector<SentSection> SectionsSent(const std::vector<sim::Frame>& frames,
                                             size_t from = 0) {
    std::vector<SentSection> out;
    SentSection* cur = nullptr;
    for (size_t k = from; k < frames.size(); ++k) {
        const sim::Frame& f = frames[k];
        if (f.introducer != 0x1D) continue;
        if (f.letter == 'Q') {
            out.emplace_back();
            cur = &out.back();
            EXPECT_EQ(f.payload.size(), 15u);
            EXPECT_EQ(f.parameter, 15u);
            if (f.payload.size() < 15) continue;
            cur->tag.assign(f.payload.begin(), f.payload.begin() + 2);
            cur->descriptor.assign(f.payload.begin() + 2, f.payload.end());
        } else if (f.letter == 'R' && cur != nullptr) {
            const std::vector<uint8_t>& b = f.payload;
            EXPECT_EQ(b.size(), f.parameter);
            if (b.size() < 28) {
                ADD_FAILURE() << "block of " << b.size() << " bytes";
                continue;
            }
            const uint32_t number = BE16(b.data() + 2);
            const uint32_t length = BE32(b.data() + 20);
            EXPECT_EQ(b.size(), length + 28u);
            EXPECT_EQ(std::string(b.begin(), b.begin() + 2), cur->tag);
            EXPECT_EQ(number, cur->blockLengths.size() + 1);
            EXPECT_EQ(std::string(b.begin() + 4, b.begin() + 8), "RAWS");
            EXPECT_EQ(std::vector<uint8_t>(b.begin() + 8, b.begin() + 16),
                      std::vector<uint8_t>(8, 0));
            EXPECT_EQ(BE32(b.data() + 16), (number - 1) * 8192u);
            EXPECT_LE(length, 8192u);
            if (b.size() != length + 28u) continue;
            const Checksum c = ComputeChecksum(b.data() + 24, length);
            EXPECT_EQ(BE16(b.data() + 24 + length), c.sum) << cur->tag << " block " << number;
            EXPECT_EQ(b[26 + length], c.xorValue) << cur->tag << " block " << number;
            EXPECT_EQ(b[27 + length], 0);
            cur->data.insert(cur->data.end(), b.begin() + 24, b.begin() + 24 + length);
            cur->blockLengths.push_back(length);
        } else if (f.letter == 'S' && cur != nullptr) {
            cur->committed = true;
            cur = nullptr;
        }
    }
    return out;
}

// The descriptor a section should carry.
inline std::vector<uint8_t> Descriptor(uint8_t classByte, uint32_t attribute, uint16_t blocks,
                                       uint16_t sum, uint8_t xorValue) {
    return {classByte,
            0,
            0,
            0,
            uint8_t(attribute >> 24),
            uint8_t(attribute >> 16),
            uint8_t(attribute >> 8),
            uint8_t(attribute),
            uint8_t(blocks >> 8),
            uint8_t(blocks),
            uint8_t(sum >> 8),
            uint8_t(sum),
            xorValue};
}

}  // namespace testing_update
