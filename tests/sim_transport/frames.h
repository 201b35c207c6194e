// Frames as the host sends them, and a few helpers shared by the transport
// tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace simtest {

inline std::vector<uint8_t> Frame(uint8_t introducer, char letter, uint32_t parameter,
                                  const std::vector<uint8_t>& payload = {}) {
    std::vector<uint8_t> f = {introducer, static_cast<uint8_t>(letter),
                              static_cast<uint8_t>(parameter >> 24),
                              static_cast<uint8_t>(parameter >> 16),
                              static_cast<uint8_t>(parameter >> 8), static_cast<uint8_t>(parameter)};
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

// FS Y asking for the 51 bytes of system information: 1C 59 00 00 00 33.
inline std::vector<uint8_t> FsY() { return Frame(0x1C, 'Y', 51); }

inline uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The search datagram with the default keywords: 1C 2A 00 00 00 20 and
// "ZK-Q920" blank-padded to 16 characters, twice.
inline std::vector<uint8_t> SearchDatagram() {
    std::string payload = "ZK-Q920";
    payload.resize(16, ' ');
    payload += payload;
    std::vector<uint8_t> p(payload.begin(), payload.end());
    return Frame(0x1C, '*', static_cast<uint32_t>(p.size()), p);
}

inline std::string Text(const std::vector<uint8_t>& bytes, size_t from, size_t n) {
    return std::string(bytes.begin() + from, bytes.begin() + from + n);
}

// A readable test name from a case's expected message, unique by its index.
inline std::string CaseName(const std::string& text, size_t index) {
    std::string name;
    for (char c : text) {
        const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (word) name += c;
        else if (!name.empty() && name.back() != '_') name += '_';
        if (name.size() >= 40) break;
    }
    while (!name.empty() && name.back() == '_') name.pop_back();
    return name + "_" + std::to_string(index);
}

}  // namespace simtest
