// quillon as a separate process against the virtual printer as a USB
// device under umockdev, in real time: the update through libusb with the
// printer re-enumerating after its restart, --list with the way in, --json,
// and a device this user may not open.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/usb_libusb/preload_launcher.h"
#include "tests/usb_libusb/usb_bridge.h"

namespace {

using testsupport::CChildProcess;
using testsupport::ChildOptions;
using usbtest::CUsbBridge;

constexpr uid_t kNobody = 65534;

// The JSON object on the last line of a run's output.
nlohmann::json LastLineJson(const std::string& out) {
    std::string text = out;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    const size_t nl = text.rfind('\n');
    return nlohmann::json::parse(nl == std::string::npos ? text : text.substr(nl + 1), nullptr,
                                 false);
}

class QuillonLibusbTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_UMOCKDEV();
        char pattern[] = "/tmp/qlibusb.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        runtime = dir / "runtime";
        std::filesystem::create_directories(runtime);
        ::chmod(dir.c_str(), 0755);
        ::chmod(runtime.c_str(), 0700);
    }
    void TearDown() override {
        bridge.reset();
        std::error_code ec;
        if (!dir.empty()) std::filesystem::remove_all(dir, ec);
    }
    // The printer on the bus, its time on the real clock.
    void Start(sim::Scenario scenario = sim::Scenario()) {
        bridge = std::make_unique<CUsbBridge>(std::move(scenario));
        bridge->RunOnRealTime();
    }
    // quillon under the same testbed (it inherits the preload and the
    // testbed's environment), English texts, its own runtime folder;
    // asUser runs it as another user when this test runs as root.
    std::unique_ptr<CChildProcess> Quillon(std::vector<std::string> args, bool asUser = false) {
        ChildOptions options;
        options.input = ChildOptions::Input::kNull;
        options.env = {{"XDG_RUNTIME_DIR", runtime.string()}, {"LANG", "C.UTF-8"},
                       {"LC_ALL", ""}, {"LANGUAGE", ""}, {"QUILLON_USB_ROOT", ""}};
        args.insert(args.begin(), QUILLON_PATH);
        if (asUser && ::geteuid() == 0) {
            ::chown(runtime.c_str(), kNobody, kNobody);
            args.insert(args.begin(), {"setpriv", "--reuid=65534", "--regid=65534",
                                       "--clear-groups"});
        }
        return std::make_unique<CChildProcess>(args, options);
    }

    std::filesystem::path dir, runtime;
    std::unique_ptr<CUsbBridge> bridge;
};

TEST_F(QuillonLibusbTest, UpdateThroughLibusbExitsZeroWithAJsonReport) {
    sim::Scenario s;
    s.restartDelayMs = 1500;
    Start(s);
    auto q = Quillon({"--update", "--yes", "--json"});
    ASSERT_EQ(q->Wait(90000), 0) << q->out() << q->err();
    EXPECT_NE(q->out().find("ファームウェアのアップデートが完了しました。"), std::string::npos)
        << q->out();
    EXPECT_EQ(bridge->Plugs(), 2u) << "the printer came back at a new address";

    const nlohmann::json j = LastLineJson(q->out());
    ASSERT_TRUE(j.is_object()) << q->out();
    EXPECT_EQ(j["outcome"], "updated");
    EXPECT_EQ(j["exitStatus"], 0);
    EXPECT_EQ(j["message"], 117);
    EXPECT_TRUE(j["internalError"].is_null());
    EXPECT_EQ(j["versionBefore"], "1.2");
    EXPECT_EQ(j["versionAfter"], "1.3");
    EXPECT_EQ(j["wayIn"], "libusb");
    EXPECT_EQ(j["printer"]["instanceId"], "USB\\VID_5B7D&PID_0023\\SIM00001");
    EXPECT_EQ(j["printer"]["location"], "1-1");
    EXPECT_EQ(j["printer"]["path"], "/dev/bus/usb/001/003");
    EXPECT_GT(j["bytesWritten"].get<uint64_t>(), 100000u);
    EXPECT_GT(j["durationSeconds"].get<double>(), 1.0);
    bridge->WithPrinter([](const sim::VirtualPrinter& p) { EXPECT_EQ(p.version(), "1.3 "); });
}

TEST_F(QuillonLibusbTest, ListShowsThePrinterWithItsWayIn) {
    Start();
    auto q = Quillon({"--list"});
    ASSERT_EQ(q->Wait(20000), 0) << q->err();
    EXPECT_EQ(q->out(), "1-1  serial SIM00001  way in libusb /dev/bus/usb/001/002  openable\n");
}

// The node may be opened by its owner only, and quillon runs as another
// user: the connection message stays as it is, with the device, the
// system's reason and the rule to install beside it; --list says why too.
TEST_F(QuillonLibusbTest, DeniedDeviceGetsTheGuidanceBesideTheConnectionMessage) {
    Start();
    bridge->SetNodeMode(::geteuid() == 0 ? 0600 : 0);
    bridge->ShareWithOtherUsers();

    auto list = Quillon({"--list"}, true);
    ASSERT_EQ(list->Wait(20000), 0) << list->err();
    EXPECT_NE(list->out().find("1-1  serial SIM00001  way in libusb /dev/bus/usb/001/002  not "
                               "openable: Permission denied (error 13)\n"),
              std::string::npos)
        << list->out();
    EXPECT_NE(list->out().find("70-zkq870.rules"), std::string::npos) << list->out();

    auto q = Quillon({"--update"}, true);
    EXPECT_EQ(q->Wait(20000), 4) << q->out() << q->err();
    const std::string& out = q->out();
    const size_t guidance = out.find(
        "quillon: the printer 1-1 (/dev/bus/usb/001/002) may not be opened by this user: "
        "Permission denied\n");
    ASSERT_NE(guidance, std::string::npos) << out;
    EXPECT_NE(out.find("70-zkq870.rules", guidance), std::string::npos) << out;
    const size_t box = out.find("コンピューターとプリンターがUSB接続されていることを確認し、"
                                "「再試行」を押してください。",
                                guidance);
    EXPECT_NE(box, std::string::npos) << "the system's message follows, unchanged\n" << out;

}

}  // namespace
