// A test whose printer is a scripted reply stream: the stream is built with
// Add(), then OpenScriptedLink() installs it as the USB device and opens the
// link as identification leaves it (maintenance frames on, 4,096-byte
// read-back packets). Trace lines are swallowed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "link/link_settings.h"
#include "link/printer_io.h"
#include "platform/clock.h"
#include "platform/trace_sink.h"
#include "tests/update/scripted_usb.h"
#include "update/fw_commands.h"

namespace testing_update {

class ScriptedLinkTest : public ::testing::Test {
protected:
    void SetUp() override { platform::SetTraceObserver([](std::string_view) {}, true); }
    void TearDown() override {
        CloseLink();
        g_linkKind = 0;
        platform::SetUsbBackend(nullptr);
        platform::SetTraceObserver(nullptr);
    }
    void Add(const std::vector<uint8_t>& b) { script.insert(script.end(), b.begin(), b.end()); }
    void OpenScriptedLink() {
        usb = std::make_unique<ScriptedUsb>(script.data(), script.size(), clock);
        platform::SetUsbBackend(usb.get());
        g_linkKind = kLinkUsb;
        g_vendorIdText = "5B7D";
        g_productIdText = "0023";
        ASSERT_NE(OpenLink(), 0);
        g_fwFramesEnabled = 1;
        g_fwPacketSize = 4096;
    }

    platform::VirtualClock clock;
    platform::ScopedClock scoped{clock};
    std::vector<uint8_t> script;
    std::unique_ptr<ScriptedUsb> usb;
};

}  // namespace testing_update
