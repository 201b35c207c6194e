// The built-in virtual printer: a VirtualPrinter behind the USB link in
// this process, on the real clock. Installed for the lifetime of the
// object.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/usb.h"
#include "sim/engine/scenario.h"
#include "sim/engine/virtual_printer.h"
#include "sim/transport/inprocess_usb.h"

// The built-in printer restarts quickly: 2 s unless a scenario says
// otherwise (the real printer takes longer).
constexpr uint32_t kBuiltInRestartMs = 2000;

// The scenario of the built-in printer: the healthy default, or the file at
// path (keys it leaves out keep the defaults, the restart and drop delays
// the built-in ones). False with a message naming the file on failure.
bool BuiltInScenario(const std::string& path, sim::Scenario* scenario, std::string* error);

class BuiltInPrinter : public platform::UsbBackend {
public:
    explicit BuiltInPrinter(sim::Scenario scenario);
    // Closes a USB link that is still open on this device (the link object
    // would otherwise close it at process end, after the device is gone)
    // and restores the platform's own backend.
    ~BuiltInPrinter() override;
    BuiltInPrinter(const BuiltInPrinter&) = delete;
    BuiltInPrinter& operator=(const BuiltInPrinter&) = delete;

    bool ListDevices(std::vector<platform::UsbMember>* members, unsigned long* error) override;
    bool Open(const std::string& path, platform::DeviceHandle* handle,
              unsigned long* error) override;
    bool Write(platform::DeviceHandle h, const void* data, uint32_t n, uint32_t* done,
               unsigned long* error) override;
    bool Read(platform::DeviceHandle h, void* data, uint32_t n, uint32_t* done,
              unsigned long* error) override;
    void Close(platform::DeviceHandle h) override;

    sim::VirtualPrinter& printer() { return m_printer; }

private:
    // The printer learns how much real time has passed.
    void Sync();

    sim::VirtualPrinter m_printer;
    sim::InProcessUsb m_usb;
    std::chrono::steady_clock::time_point m_last;
};
