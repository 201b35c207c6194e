// The checksum pair of the load file, section descriptors and data blocks:
// the sum of the bytes modulo 65,536 and the XOR of the bytes.
#pragma once

#include <cstddef>
#include <cstdint>

struct Checksum {
    uint16_t sum = 0;
    uint8_t xorValue = 0;
    bool operator==(const Checksum&) const = default;
};

inline Checksum ComputeChecksum(const uint8_t* data, size_t n) {
    uint32_t sum = 0;
    uint8_t x = 0;
    for (size_t i = 0; i < n; ++i) {
        sum += data[i];
        x ^= data[i];
    }
    return Checksum{static_cast<uint16_t>(sum), x};
}
