// A USB device whose replies are a fixed byte stream: every read takes the
// next bytes of the script, every write is recorded call by call. Once the
// script is used up, a read runs into the device's 30 s limit and fails.
// Used where a test needs reply bytes that no healthy printer sends (a NAK
// carrying data, a failed condition) and by the replies fuzz target.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/usb.h"

namespace testing_update {

class ScriptedUsb : public platform::UsbBackend {
public:
    ScriptedUsb(const uint8_t* data, size_t size, platform::VirtualClock& clock)
        : data_(data), size_(size), clock_(clock) {}

    bool ListDevices(std::vector<platform::UsbMember>* members, unsigned long*) override {
        clock_.Advance(1);
        platform::UsbMember m;
        m.instanceId = "USB\\VID_5B7D&PID_0023\\SCRIPT01";
        m.path = "script:lp0";
        members->push_back(m);
        return true;
    }
    bool Open(const std::string&, platform::DeviceHandle* handle, unsigned long*) override {
        clock_.Advance(1);
        *handle = 7;
        ++openHandles;
        return true;
    }
    bool Write(platform::DeviceHandle, const void* data, uint32_t n, uint32_t* done,
               unsigned long*) override {
        clock_.Advance(1);
        if (record) {
            const uint8_t* p = static_cast<const uint8_t*>(data);
            writes.emplace_back(p, p + n);
        }
        *done = n;
        return true;
    }
    bool Read(platform::DeviceHandle, void* out, uint32_t n, uint32_t* done,
              unsigned long* error) override {
        ++reads;
        maxRequested = std::max(maxRequested, n);
        if (at_ >= size_) {
            clock_.Advance(platform::kUsbReadTimeoutMs);
            *done = 0;
            *error = ETIMEDOUT;
            return false;
        }
        clock_.Advance(1);
        const size_t take = std::min<size_t>({n, size_ - at_, maxPiece});
        std::memcpy(out, data_ + at_, take);
        at_ += take;
        *done = static_cast<uint32_t>(take);
        return true;
    }
    void Close(platform::DeviceHandle) override { --openHandles; }

    size_t consumed() const { return at_; }

    int openHandles = 0;
    unsigned reads = 0;
    uint32_t maxRequested = 0;   // largest read asked for
    bool record = true;
    size_t maxPiece = SIZE_MAX;  // largest piece one read returns
    std::vector<std::vector<uint8_t>> writes;

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    platform::VirtualClock& clock_;
};

// A reply: the 6-byte header (byte 1 the code, bytes 2..5 the length n)
// followed by the data.
inline std::vector<uint8_t> Reply(const std::vector<uint8_t>& data, uint8_t code = 0x06,
                                  uint32_t announced = UINT32_MAX) {
    const uint32_t n = announced == UINT32_MAX ? static_cast<uint32_t>(data.size()) : announced;
    std::vector<uint8_t> r = {0x1D, code, uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8),
                              uint8_t(n)};
    r.insert(r.end(), data.begin(), data.end());
    return r;
}

}  // namespace testing_update
