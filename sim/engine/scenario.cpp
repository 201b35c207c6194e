#include "sim/engine/scenario.h"

namespace sim {

namespace {

// Deterministic bytes that look like old firmware: a small linear
// congruential sequence, seeded per area so that no two areas match.
std::vector<uint8_t> OldFirmware(size_t n, uint32_t seed) {
    std::vector<uint8_t> out(n);
    uint32_t x = seed;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        out[i] = static_cast<uint8_t>(x >> 24);
    }
    return out;
}

Area MakeArea(const char* tag, uint32_t loadAddress, uint32_t areaSize,
              std::vector<uint8_t> data) {
    Area a;
    a.tag = tag;
    a.attribute = 1;
    a.loadAddress = loadAddress;
    a.areaSize = areaSize;
    a.data = std::move(data);
    return a;
}

// The printer's own ST data: an identifying record followed by settings
// bytes; never the load file's placeholder text.
std::vector<uint8_t> PrinterStData() {
    std::vector<uint8_t> st = OldFirmware(0x600, 0x53540001u);
    const char head[] = "ST01ZKQ00001";
    for (size_t i = 0; i + 1 < sizeof head; ++i) st[i] = static_cast<uint8_t>(head[i]);
    return st;
}

}  // namespace

std::vector<Area> DefaultAreas() {
    // The areas hold a few kilobytes of old firmware each (far less than
    // their capacity) so that a printer is cheap to build; ST is full.
    return {
        MakeArea("MC", 0x600D0000u, 0x11D000u, OldFirmware(10240, 0x4D430001u)),
        MakeArea("ST", 0x601ED000u, 0x600u, PrinterStData()),
        MakeArea("DP", 0x601F0000u, 0xFD00u, OldFirmware(5000, 0x44500001u)),
        MakeArea("FG", 0x60200000u, 0x927C0u, OldFirmware(7000, 0x46470001u)),
    };
}

}  // namespace sim
