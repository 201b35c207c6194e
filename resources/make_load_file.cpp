// Builds the stand-in load file that the updater embeds: the shipped file's
// header, info block, section table, section headers and trailers, with
// synthetic section data fitted to the shipped checksums. The output is the
// same on every run and every host.
//
//   quillon_make_load_file OUT
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct SectionPlan {
    char tag[2];
    uint32_t loadAddress;
    uint32_t areaSize;
    uint32_t dataOffset;
    uint32_t dataLength;
    char flag;
    uint32_t classValue;
    uint16_t sum;
    uint8_t xorValue;
    uint64_t seed;  // 0: no pseudo-random data (the ST placeholder)
};

constexpr char kTitle[] = "ZK9930 Load File";
constexpr uint32_t kTotalSize = 1834404;
constexpr uint32_t kInfoOffset = 0x40;
constexpr uint32_t kLayoutNumber = 6;
constexpr char kVersionText[] = "1.3             ";  // 16 bytes
constexpr uint32_t kAttributeWord = 1;
constexpr char kFormatCode[] = "RAWS";
constexpr char kPlaceholderText[] = "DUMY00000000";
constexpr uint8_t kTail[4] = {0x40, 0xFD, 0xAD, 0xBA};

const SectionPlan kSections[] = {
    {{'M', 'C'}, 0x600D0000, 0x11D000, 0x1A0, 0x11D000, 'Y', 1, 0x1191, 0x67, 0x4D43C0DE5EED0001},
    {{'S', 'T'}, 0x601ED000, 0x600, 0x11D200, 0x600, 'N', 0, 0x2C2C, 0x0A, 0},
    {{'D', 'P'}, 0x601F0000, 0xFD00, 0x11D860, 0xFD00, 'Y', 1, 0x29ED, 0xD1, 0x4450C0DE5EED0003},
    {{'F', 'G'}, 0x60200000, 0x927C0, 0x12D5C0, 0x927C0, 'Y', 1, 0x2CFC, 0x8E, 0x4647C0DE5EED0004},
};

void PutLE16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void PutLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// splitmix64: a fixed generator, so that the file is the same everywhere.
uint64_t NextRandom(uint64_t* state) {
    uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void FillRandom(uint8_t* p, size_t n, uint64_t seed) {
    uint64_t state = seed;
    for (size_t i = 0; i < n; i += 8) {
        const uint64_t r = NextRandom(&state);
        for (size_t j = 0; j < 8 && i + j < n; ++j) p[i + j] = static_cast<uint8_t>(r >> (8 * j));
    }
}

// Adjusts the bytes p[0..n) so that their sum modulo 65,536 is wantSum and
// their XOR is wantXor. The last two bytes settle both values; the others
// are nudged by one, in turn, until the last two can.
bool FitChecksum(uint8_t* p, size_t n, uint16_t wantSum, uint8_t wantXor) {
    if (n < 3) return false;
    const size_t body = n - 2;
    uint32_t sum = 0;
    uint8_t x = 0;
    for (size_t i = 0; i < body; ++i) {
        sum += p[i];
        x ^= p[i];
    }
    size_t next = 0;
    for (uint64_t steps = 0; steps < 4'000'000; ++steps) {
        // The pair (a, b) must give a + b == s and a ^ b == t:
        // a + b == (a ^ b) + 2 * (a & b).
        const uint32_t s = (wantSum - sum) & 0xFFFF;
        const uint32_t t = static_cast<uint8_t>(wantXor ^ x);
        if (s >= t && s <= 510 && ((s - t) & 1) == 0) {
            const uint32_t both = (s - t) / 2;
            if (both <= 255 && (both & t) == 0) {
                p[body] = static_cast<uint8_t>(both | t);
                p[body + 1] = static_cast<uint8_t>(both);
                return true;
            }
        }
        // Raise the running sum when the pair would need more than it can
        // carry; lower it when the pair would need less than nothing.
        const bool raise = s >= 128;
        for (size_t tries = 0; tries < body; ++tries) {
            uint8_t& b = p[next];
            next = (next + 1) % body;
            if (raise && b < 255) {
                x ^= b;
                ++b;
                x ^= b;
                sum += 1;
                break;
            }
            if (!raise && b > 0) {
                x ^= b;
                --b;
                x ^= b;
                sum -= 1;
                break;
            }
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fprintf(argc == 2 ? stdout : stderr,
                     "Usage: %s OUT\nWrites the stand-in load file (%u bytes) to OUT.\n",
                     argv[0], kTotalSize);
        return argc == 2 ? 0 : 2;
    }

    std::vector<uint8_t> file(kTotalSize, 0);
    uint8_t* f = file.data();

    std::memcpy(f, kTitle, 16);
    PutLE32(f + 0x18, kTotalSize);
    PutLE32(f + 0x1C, kInfoOffset);

    uint8_t* info = f + kInfoOffset;
    const uint32_t count = sizeof kSections / sizeof kSections[0];
    PutLE32(info + 0x00, count);
    PutLE32(info + 0x04, kLayoutNumber);
    std::memcpy(info + 0x08, kVersionText, 16);

    for (uint32_t k = 0; k < count; ++k) {
        const SectionPlan& s = kSections[k];
        uint8_t* entry = info + 0x20 + k * 64;
        entry[0] = static_cast<uint8_t>(s.tag[0]);
        entry[1] = static_cast<uint8_t>(s.tag[1]);
        PutLE32(entry + 0x08, s.loadAddress);
        PutLE32(entry + 0x0C, s.areaSize);
        PutLE32(entry + 0x10, s.dataOffset);
        PutLE32(entry + 0x14, s.dataLength);
        entry[0x18] = static_cast<uint8_t>(s.flag);

        uint8_t* header = f + s.dataOffset - 64;
        header[0] = static_cast<uint8_t>(s.tag[0]);
        header[1] = static_cast<uint8_t>(s.tag[1]);
        PutLE32(header + 0x04, kAttributeWord);
        std::memcpy(header + 0x08, kFormatCode, 4);
        PutLE32(header + 0x14, s.classValue);

        uint8_t* data = f + s.dataOffset;
        bool fitted;
        if (s.seed != 0) {
            FillRandom(data, s.dataLength, s.seed);
            fitted = FitChecksum(data, s.dataLength, s.sum, s.xorValue);
        } else {
            // The placeholder: its mark, then filler that carries the sums.
            const size_t mark = sizeof kPlaceholderText - 1;
            std::memcpy(data, kPlaceholderText, mark);
            fitted = FitChecksum(data + mark, s.dataLength - mark,
                                 static_cast<uint16_t>(s.sum - (0x44 + 0x55 + 0x4D + 0x59 + 8 * 0x30)),
                                 static_cast<uint8_t>(s.xorValue ^ 0x44 ^ 0x55 ^ 0x4D ^ 0x59));
        }
        if (!fitted) {
            std::fprintf(stderr, "cannot fit the data of section %c%c to its checksums\n",
                         s.tag[0], s.tag[1]);
            return 1;
        }

        uint8_t* trailer = data + s.dataLength;
        PutLE16(trailer + 0x02, s.sum);
        trailer[0x07] = s.xorValue;
    }
    std::memcpy(f + kTotalSize - 4, kTail, 4);

    const std::string out = argv[1];
    std::FILE* file_out = std::fopen(out.c_str(), "wb");
    if (file_out == nullptr) {
        std::perror(out.c_str());
        return 1;
    }
    const bool written = std::fwrite(f, 1, file.size(), file_out) == file.size();
    const bool closed = std::fclose(file_out) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "%s: write failed\n", out.c_str());
        std::remove(out.c_str());
        return 1;
    }
    return 0;
}
