// The common ground of the dialog tests: the virtual printer behind the USB
// link on a virtual clock, a configuration directory that stands in for the
// executable's, a private current directory, and a scripted window.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "app/quillon_app.h"
#include "app/quillon_dlg.h"
#include "app/string_table.h"
#include "tests/app/expected_texts.h"
#include "link/link_settings.h"
#include "link/printer_io.h"
#include "platform/trace_sink.h"
#include "sim/engine/scenario.h"
#include "sim/engine/virtual_printer.h"
#include "sim/transport/inprocess_usb.h"
#include "tests/app/fake_window.h"
#include "tests/support/temp_dir.h"

namespace apptest {

using TempDir = testsupport::CTempDir;

// Where the tests pretend the executable lives.
inline std::string& FakeExecutable() {
    static std::string path;
    return path;
}
inline bool FakeExecutablePath(std::string* path) {
    if (FakeExecutable().empty()) return false;
    *path = FakeExecutable();
    return true;
}

inline std::string BoxText(unsigned id) { return ExpectedBoxText(id); }
inline std::string InternalError(unsigned category, unsigned detail) {
    return ExpectedInternalError(category, detail);
}

class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The process-wide state that a test before this one in the same
        // process may have left (ctest runs each test in its own process).
        g_printerIO.m_errorCategory = 0;
        g_printerIO.m_errorDetail = 0;
        for (LibraryEntry& e : g_libraries) e = LibraryEntry{};
        g_linkKind = 0;
        platform::SetTraceObserver([this](std::string_view line) { traces.emplace_back(line); },
                                   true);
        oldCwd_ = std::filesystem::current_path();
        std::filesystem::current_path(cwd.path());
        FakeExecutable() = (exeDir.path() / "quillon").string();
        SetExecutablePathSource(&FakeExecutablePath);
    }
    void TearDown() override {
        if (g_printerIO.m_linkKind != kLinkNone) CloseLink();
        g_linkKind = 0;
        platform::SetUsbBackend(nullptr);
        rig.reset();
        SetExecutablePathSource(nullptr);
        std::filesystem::current_path(oldCwd_);
        platform::SetTraceObserver(nullptr);
    }

    // The virtual printer, installed as the USB device on a virtual clock.
    sim::InProcessRig& Printer(const sim::Scenario& scenario = sim::Scenario()) {
        rig = std::make_unique<sim::InProcessRig>(scenario);
        return *rig;
    }
    // Writes Vadrellix.ini beside the (pretended) executable.
    void Config(const std::string& text) const {
        std::ofstream(exeDir.path() / "Vadrellix.ini", std::ios::binary) << text;
    }
    // Runs the dialog modally in the scripted window.
    int Run() { return dlg.DoModal(window); }
    // Identifies the printer, then presses Firmware Update and gives the
    // boxes these answers.
    int PressUpdate(const sim::Scenario& scenario, std::initializer_list<int> answers) {
        Printer(scenario);
        window.messages = {platform::CommandMessage(kIdcUpdate)};
        window.answers.assign(answers.begin(), answers.end());
        return Run();
    }

    const std::vector<sim::Frame>& frames() const { return rig->printer.frames(); }
    size_t CountGs(char letter) const {
        size_t n = 0;
        for (const sim::Frame& f : frames())
            if (f.introducer == 0x1D && f.letter == letter) ++n;
        return n;
    }

    TempDir cwd{"appcwd"};
    TempDir exeDir{"appexe"};
    std::unique_ptr<sim::InProcessRig> rig;
    FakeWindow window;
    CQuillonDlg dlg;
    std::vector<std::string> traces;

private:
    std::filesystem::path oldCwd_;
};

}  // namespace apptest
