// The command methods against the virtual printer behind the USB link, in
// process and in virtual time. Every write that reaches the device is also
// kept, so that tests can look at bytes the printer does not record.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "link/byte_order.h"
#include "link/link_settings.h"
#include "link/printer_io.h"
#include "platform/trace_sink.h"
#include "platform/usb.h"
#include "sim/transport/inprocess_usb.h"

namespace cmdtest {

// Forwards to the virtual printer's device and keeps every byte written.
class RecordingUsb : public platform::UsbBackend {
public:
    explicit RecordingUsb(platform::UsbBackend& inner) : m_inner(inner) {}
    bool ListDevices(std::vector<platform::UsbMember>* m, unsigned long* e) override {
        return m_inner.ListDevices(m, e);
    }
    bool Open(const std::string& p, platform::DeviceHandle* h, unsigned long* e) override {
        return m_inner.Open(p, h, e);
    }
    bool Write(platform::DeviceHandle h, const void* data, uint32_t n, uint32_t* done,
               unsigned long* e) override {
        const bool ok = m_inner.Write(h, data, n, done, e);
        if (ok) {
            const auto* b = static_cast<const uint8_t*>(data);
            written.insert(written.end(), b, b + *done);
        }
        return ok;
    }
    bool Read(platform::DeviceHandle h, void* data, uint32_t n, uint32_t* done,
              unsigned long* e) override {
        return m_inner.Read(h, data, n, done, e);
    }
    void Close(platform::DeviceHandle h) override { m_inner.Close(h); }

    std::vector<uint8_t> written;

private:
    platform::UsbBackend& m_inner;
};

// "1C 50 00 .." -> bytes.
inline std::vector<uint8_t> Hex(std::string_view text) {
    std::vector<uint8_t> out;
    unsigned v = 0;
    int digits = 0;
    for (char c : text) {
        int d = -1;
        if (c >= '0' && c <= '9') d = c - '0';
        if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        if (d < 0) continue;
        v = v * 16 + static_cast<unsigned>(d);
        if (++digits == 2) {
            out.push_back(static_cast<uint8_t>(v));
            v = 0;
            digits = 0;
        }
    }
    return out;
}

// A frame as it went over the wire (header with big-endian length, then
// the payload as the printer kept it).
inline std::vector<uint8_t> Wire(const sim::Frame& f) {
    std::vector<uint8_t> out(6 + f.payload.size());
    out[0] = f.introducer;
    out[1] = f.letter;
    PutBE32(out.data() + 2, f.parameter);
    std::copy(f.payload.begin(), f.payload.end(), out.begin() + 6);
    return out;
}

// An argument vector of texts; nullptr marks an absent element. Twenty
// elements, like a table row, the rest absent.
class Args {
public:
    Args(std::initializer_list<const char*> texts) {
        // Each present text has room for 256 bytes (output elements).
        for (const char* t : texts) {
            std::unique_ptr<std::vector<char>> text;
            if (t != nullptr) {
                text = std::make_unique<std::vector<char>>(std::max<size_t>(256, strlen(t) + 1), '\0');
                memcpy(text->data(), t, strlen(t));
            }
            m_texts.push_back(std::move(text));
        }
        m_texts.resize(20);
        for (auto& t : m_texts) m_elements.push_back(t ? t->data() : nullptr);
    }
    // Gives element i caller memory.
    void SetAddress(int i, void* memory) { m_elements[static_cast<size_t>(i)] = static_cast<char*>(memory); }
    char** get() { return m_elements.data(); }
    std::string Text(int i) const { return m_elements[static_cast<size_t>(i)]; }

private:
    std::vector<std::unique_ptr<std::vector<char>>> m_texts;
    std::vector<char*> m_elements;
};

class CommandTest : public ::testing::Test {
protected:
    void TearDown() override {
        g_printerIO.Close();
        g_linkKind = kLinkNone;
        rig.reset();
        platform::SetTraceObserver(nullptr);
    }

    // Puts the virtual printer behind the USB link and opens it; with
    // record, every byte written is kept in recorder->written.
    void Start(const sim::Scenario& scenario = sim::Scenario(), bool record = false) {
        platform::SetTraceObserver([this](std::string_view line) { traces.emplace_back(line); },
                                   true);
        rig = std::make_unique<sim::InProcessRig>(scenario);
        if (record) {
            recorder = std::make_unique<RecordingUsb>(rig->usb);
            platform::SetUsbBackend(recorder.get());
        }
        g_linkKind = kLinkUsb;
        ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);
    }

    const std::vector<sim::Frame>& frames() const { return rig->printer.frames(); }

    std::string AllTraces() const {
        std::string all;
        for (const auto& t : traces) all += t;
        return all;
    }

    std::unique_ptr<sim::InProcessRig> rig;
    std::unique_ptr<RecordingUsb> recorder;
    std::vector<std::string> traces;
};

}  // namespace cmdtest
