// The ground of the terminal updater's end-to-end tests: a private folder
// with a USB device tree, a runtime directory and a working directory, the
// virtual printer as a separate process, and quillon started in it.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"

namespace e2e {

const std::string kMessage117 = "ファームウェアのアップデートが完了しました。";
const std::string kMessage116 = "ファームウェアのアップデートに失敗しました。";
const std::string kMessage118 = "予期せぬエラーが発生しました。";
const std::string kMessage114 = "アップデートを中断しました。";
const std::string kMessage111 = "コンピューターとプリンターがUSB接続されていることを確認し";

// A scenario of a printer that restarts quickly.
const std::string kFastPrinter =
    R"({"restartDelayMs": 1500, "dropReturnMs": 1500, "finishBusyPolls": 1})";

class QuillonE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "qe2e.XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        ASSERT_NE(::mkdtemp(buf.data()), nullptr);
        dir_ = buf.data();
        usb_ = dir_ / "usb";
        runtime_ = dir_ / "runtime";
        work_ = dir_ / "work";
        std::filesystem::create_directories(usb_);
        std::filesystem::create_directories(runtime_);
        std::filesystem::create_directories(work_);
        ::chmod(runtime_.c_str(), 0700);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // The environment of every quillon: its own USB root, runtime
    // directory and state folder (the ST archive), so that nothing outside
    // the test interferes.
    std::map<std::string, std::string> Env() const {
        return {{"QUILLON_USB_ROOT", usb_.string()},
                {"XDG_RUNTIME_DIR", runtime_.string()},
                {"XDG_STATE_HOME", (dir_ / "state").string()}};
    }
    // The files of the ST archive, sorted.
    std::vector<std::filesystem::path> ArchiveFiles() const {
        std::vector<std::filesystem::path> files;
        std::error_code ec;
        for (const auto& e :
             std::filesystem::directory_iterator(dir_ / "state" / "quillon" / "st", ec))
            files.push_back(e.path());
        std::sort(files.begin(), files.end());
        return files;
    }
    std::string Scenario(const std::string& name, const std::string& json) const {
        const std::string path = (dir_ / name).string();
        std::ofstream(path) << json;
        return path;
    }
    // Starts zkq870-sim serving the device tree; false when it never became
    // ready.
    bool StartSim(const std::string& scenarioJson) {
        sim_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{ZKQ870_SIM_PATH, "--usb", usb_.string(), "--scenario",
                                     Scenario("sim.json", scenarioJson)},
            std::map<std::string, std::string>{});
        return sim_->started() && sim_->WaitForOutput("ready usb", 10000, true);
    }
    std::unique_ptr<ChildProcess> Quillon(std::vector<std::string> args,
                                          ChildProcess::Input input = ChildProcess::Input::kNull) {
        args.insert(args.begin(), QUILLON_PATH);
        return std::make_unique<ChildProcess>(args, Env(), input);
    }

    std::filesystem::path dir_, usb_, runtime_, work_;
    std::unique_ptr<ChildProcess> sim_;
};

}  // namespace e2e
