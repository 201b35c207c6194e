// The common ground of the update tests: a private current directory, the
// virtual printer behind the USB link on a virtual clock, the link opened
// and the maintenance run started as identification leaves them, and a
// compact notation for the frames the printer received.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "link/link_settings.h"
#include "link/printer_io.h"
#include "platform/clock.h"
#include "platform/resource.h"
#include "platform/trace_sink.h"
#include "sim/engine/scenario.h"
#include "sim/engine/virtual_printer.h"
#include "sim/transport/inprocess_usb.h"
#include "tests/update/temp_cwd.h"
#include "update/fw_commands.h"
#include "update/progress.h"
#include "update/update_error.h"
#include "update/update_firmware.h"

namespace testing_update {

// One frame as "<letter><parameter>", FS frames with a leading '^'
// (e.g. "^Y51", "O1", "R8220"), GS E polls left out; consecutive equal
// entries are folded into "R8220*142".
inline std::string FrameOrder(const std::vector<sim::Frame>& frames, size_t from = 0,
                              bool keepPolls = false) {
    std::vector<std::string> items;
    for (size_t k = from; k < frames.size(); ++k) {
        const sim::Frame& f = frames[k];
        if (f.introducer == 0x1D && f.letter == 'E' && !keepPolls) continue;
        std::string s = f.introducer == 0x1C ? "^" : "";
        s += static_cast<char>(f.letter);
        if (f.parameter != 0) s += std::to_string(f.parameter);
        items.push_back(s);
    }
    std::string out;
    for (size_t k = 0; k < items.size();) {
        size_t run = 1;
        while (k + run < items.size() && items[k + run] == items[k]) ++run;
        if (!out.empty()) out += ' ';
        out += items[k];
        if (run > 1) out += "*" + std::to_string(run);
        k += run;
    }
    return out;
}

// Counts the GS frames with this letter from index `from` on.
inline size_t CountFrames(const std::vector<sim::Frame>& frames, char letter, size_t from = 0) {
    size_t n = 0;
    for (size_t k = from; k < frames.size(); ++k)
        if (frames[k].introducer == 0x1D && frames[k].letter == letter) ++n;
    return n;
}

// The frames with this letter from index `from` on.
inline std::vector<sim::Frame> FramesOf(const std::vector<sim::Frame>& frames, char letter,
                                        size_t from = 0) {
    std::vector<sim::Frame> out;
    for (size_t k = from; k < frames.size(); ++k)
        if (frames[k].introducer == 0x1D && frames[k].letter == letter) out.push_back(frames[k]);
    return out;
}

inline const sim::Area* FindArea(const std::vector<sim::Area>& areas, const std::string& tag) {
    for (const sim::Area& a : areas)
        if (a.tag == tag) return &a;
    return nullptr;
}

class UpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Trace lines are expected on failure paths; keep them out of the
        // system's debug channel but visible to the test.
        platform::SetTraceObserver([this](std::string_view line) { traces.emplace_back(line); },
                                   true);
    }
    void TearDown() override {
        if (link_open_) CloseLink();
        g_linkKind = 0;
        rig.reset();
        platform::ClearLoadFileOverride();
        platform::SetTraceObserver(nullptr);
    }

    // Installs the printer, opens the link as identification does and starts
    // the maintenance run (GS A, GS E until not busy).
    void Start(const sim::Scenario& scenario = sim::Scenario()) {
        rig = std::make_unique<sim::InProcessRig>(scenario);
        g_linkKind = kLinkUsb;
        g_vendorIdText = "5B7D";
        g_productIdText = "0023";
        g_deviceIndexText.clear();
        g_fwPacketSize = 4096;
        ASSERT_NE(OpenLink(), 0);
        link_open_ = true;
        g_fwFramesEnabled = 1;
        ASSERT_EQ(FwStart(), 0);
        uint8_t status[2] = {0, 2};
        for (int k = 0; k < 100 && status[1] == 2; ++k) ASSERT_EQ(FwReadStatus(status, 2), 0);
        ASSERT_NE(status[1], 2) << "the printer stayed busy after GS A";
        preamble = rig->printer.frames().size();
    }

    // Runs the update and notes what the end must always hold.
    int Update() {
        const int result = RunFirmwareUpdate(errors.record, progress_);
        link_open_ = false;
        return result;
    }

    const std::vector<sim::Frame>& frames() const { return rig->printer.frames(); }
    std::string Order() const { return FrameOrder(frames(), preamble); }

    TempCwd cwd;
    std::unique_ptr<sim::InProcessRig> rig;
    UpdateErrorFields errors;
    IUpdateProgress* progress_ = nullptr;  // where the run reports, if anywhere
    size_t preamble = 0;
    std::vector<std::string> traces;
    bool link_open_ = false;
};

}  // namespace testing_update
