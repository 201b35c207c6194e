// A host that talks to the virtual printer the way the updater does: frames
// built by hand, payload parts in separate writes, replies read back and
// split into header and data.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/byte_order.h"
#include "sim/engine/scenario.h"
#include "sim/engine/virtual_printer.h"
#include "update/checksum.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kFs = 0x1C;
constexpr uint8_t kGs = 0x1D;
constexpr uint8_t kNak = 0x15;

inline Bytes Header(uint8_t introducer, char letter, uint32_t parameter) {
    Bytes h(6, 0);
    h[0] = introducer;
    h[1] = static_cast<uint8_t>(letter);
    PutBE32(&h[2], parameter);
    return h;
}

inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Deterministic test data.
inline Bytes Pattern(size_t n, uint32_t seed) {
    Bytes out(n);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<uint8_t>(x);
    }
    return out;
}

struct Reply {
    bool complete = false;  // a header arrived and the data it announced
    uint8_t introducer = 0;
    uint8_t code = 0;
    uint32_t length = 0;
    Bytes data;
    bool refused() const { return complete && code == kNak; }
};

// The 13-byte section descriptor of GS Q.
inline Bytes Descriptor(uint8_t classByte, uint32_t attribute, uint16_t blocks, Checksum c) {
    Bytes d(13, 0);
    d[0] = classByte;
    PutBE32(&d[4], attribute);
    PutBE16(&d[8], blocks);
    PutBE16(&d[10], c.sum);
    d[12] = c.xorValue;
    return d;
}

inline uint16_t BlocksOf(size_t n) { return static_cast<uint16_t>((n + 8191) / 8192); }

// Data block k (1-based) of a section: header, data, trailer.
inline Bytes Block(const std::string& tag, const Bytes& section, uint16_t k) {
    const size_t offset = (k - 1) * size_t{8192};
    const size_t length = std::min<size_t>(8192, section.size() - offset);
    Bytes b(24 + length + 4, 0);
    b[0] = static_cast<uint8_t>(tag[0]);
    b[1] = static_cast<uint8_t>(tag[1]);
    PutBE16(&b[2], k);
    b[4] = 'R';
    b[5] = 'A';
    b[6] = 'W';
    b[7] = 'S';
    PutBE32(&b[16], static_cast<uint32_t>(offset));
    PutBE32(&b[20], static_cast<uint32_t>(length));
    std::copy_n(section.begin() + static_cast<std::ptrdiff_t>(offset), length, b.begin() + 24);
    const Checksum c = ComputeChecksum(section.data() + offset, length);
    PutBE16(&b[24 + length], c.sum);
    b[26 + length] = c.xorValue;
    return b;
}

// One 64-byte entry of a GS I image table.
inline Bytes TableEntry(const std::string& tag, uint32_t attribute, uint32_t address,
                        uint32_t size) {
    Bytes e(64, 0);
    e[0] = static_cast<uint8_t>(tag[0]);
    e[1] = static_cast<uint8_t>(tag[1]);
    PutBE32(&e[4], attribute);
    PutBE32(&e[8], address);
    PutBE32(&e[12], size);
    return e;
}

// A GS I image table: the 32-byte header (version "1.3") and the entries.
inline Bytes ImageTable(uint32_t layout, const std::vector<Bytes>& entries) {
    Bytes t(32, 0);
    t[0] = 1;
    PutBE32(&t[4], layout);
    const std::string v = "1.3             ";
    std::copy(v.begin(), v.end(), t.begin() + 8);
    PutBE16(&t[24], static_cast<uint16_t>(entries.size()));
    for (const Bytes& e : entries) t.insert(t.end(), e.begin(), e.end());
    return t;
}

class Host {
public:
    explicit Host(sim::Scenario s = sim::Scenario())
        : printer(std::make_unique<sim::VirtualPrinter>(std::move(s))) {}

    void Write(const Bytes& b) { printer->HostWrite(b.data(), b.size()); }

    // Everything the printer has ready.
    Bytes Drain() {
        Bytes out;
        uint8_t buf[65536];
        while (size_t n = printer->HostRead(buf, sizeof buf)) out.insert(out.end(), buf, buf + n);
        return out;
    }

    static Reply Parse(const Bytes& raw) {
        Reply r;
        if (raw.size() < 6) return r;
        r.introducer = raw[0];
        r.code = raw[1];
        r.length = GetBE32(&raw[2]);
        r.data.assign(raw.begin() + 6, raw.end());
        r.complete = r.data.size() == r.length;
        return r;
    }

    // Sends each part in its own write, then takes the whole reply.
    Reply Exchange(std::initializer_list<Bytes> parts) {
        for (const Bytes& p : parts) Write(p);
        return Parse(Drain());
    }

    Reply Fs(char letter, uint32_t parameter, const Bytes& payload = {}) {
        if (payload.empty()) return Exchange({Header(kFs, letter, parameter)});
        return Exchange({Concat({Header(kFs, letter, parameter), payload})});
    }
    Reply Gs(char letter, uint32_t parameter) { return Exchange({Header(kGs, letter, parameter)}); }

    Bytes Status() { return Gs('E', 2).data; }

    // Polls GS E while the printer answers busy (a mode change under way),
    // as the updater waits before a frame that needs a ready mode. Returns
    // the number of busy answers.
    int Settle() {
        int busy = 0;
        for (; busy < 100; ++busy) {
            const Bytes s = Status();
            if (s.size() != 2 || s[1] != sim::kConditionBusy) break;
        }
        return busy;
    }

    // GS S after the wait for a ready data mode.
    Reply Commit() {
        Settle();
        return Gs('S', 0);
    }

    // GS A, then GS E until the printer is ready in maintenance mode.
    void EnterMaintenance() {
        const Reply a = Gs('A', 0);
        ASSERT_TRUE(a.complete);
        ASSERT_EQ(a.code, 'A');
        for (int k = 0; k < 20; ++k)
            if (Status() == Bytes{2, 1}) return;
        FAIL() << "never ready in maintenance mode";
    }

    Reply BeginSection(const std::string& tag, const Bytes& descriptor) {
        Settle();
        return Exchange({Header(kGs, 'Q', 15), Text(tag), descriptor});
    }
    // A block in the three sends of the updater: header, data, trailer.
    Reply WriteBlock(const Bytes& block) {
        const Bytes head(block.begin(), block.begin() + 24);
        const Bytes data(block.begin() + 24, block.end() - 4);
        const Bytes tail(block.end() - 4, block.end());
        Settle();
        return Exchange({Header(kGs, 'R', static_cast<uint32_t>(block.size())), head, data, tail});
    }
    // GS Q, every block, GS S; true when all were accepted.
    bool WriteSection(const std::string& tag, const Bytes& data, uint8_t classByte = 1) {
        const Checksum c = ComputeChecksum(data.data(), data.size());
        const uint16_t blocks = BlocksOf(data.size());
        if (BeginSection(tag, Descriptor(classByte, 1, blocks, c)).code != 'Q') return false;
        for (uint16_t k = 1; k <= blocks; ++k)
            if (WriteBlock(Block(tag, data, k)).code != 'R') return false;
        return Commit().code == 'S';
    }

    // GS U, the GS V packets, GS W; the data read back.
    Bytes ReadBack(const std::string& tag, uint32_t packetSize, Bytes* descriptor = nullptr) {
        Bytes payload = Text(tag);
        payload.resize(6);
        PutBE32(&payload[2], packetSize);
        Settle();
        const Reply u = Exchange({Header(kGs, 'U', 6), payload});
        EXPECT_EQ(u.code, 'U');
        EXPECT_EQ(u.data.size(), 13u);
        if (descriptor) *descriptor = u.data;
        const sim::Area* area = Find(tag);
        Bytes data;
        if (area == nullptr) return data;
        size_t left = area->data.size();
        for (uint16_t k = 1; left > 0; ++k) {
            const uint32_t l = static_cast<uint32_t>(std::min<size_t>(left, packetSize));
            const Reply v = Gs('V', l + 28);
            EXPECT_EQ(v.code, 'V');
            if (v.data.size() != l + 28) break;
            EXPECT_EQ(GetBE16(&v.data[2]), k);
            EXPECT_EQ(GetBE32(&v.data[20]), l);
            data.insert(data.end(), v.data.begin() + 24, v.data.begin() + 24 + l);
            left -= l;
        }
        EXPECT_EQ(Gs('W', 0).code, 'W');
        return data;
    }

    const sim::Area* Find(const std::string& tag) const {
        for (const sim::Area& a : printer->areas())
            if (a.tag == tag) return &a;
        return nullptr;
    }

    std::unique_ptr<sim::VirtualPrinter> printer;
};

}  // namespace simtest
