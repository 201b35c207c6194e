// zkq870-sim as its own process: options, the pseudo-terminal device tree
// with a client that opens the node as the updater does, TCP, and the
// JSON summary. Real time, kept short: the printer restarts in 300 ms.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "sim/transport/unique_fd.h"
#include "tests/sim_transport/frames.h"
#include "tests/sim_transport/sim_process.h"
#include "tests/sim_transport/socket_client.h"
#include "tests/support/loopback.h"
#include "tests/support/process_env.h"

namespace fs = std::filesystem;

namespace {

using simtest::Frame;
using simtest::ReadEnd;
using simtest::SimProcess;

constexpr int kWaitMs = 5000;  // bound on every wait; normally milliseconds

std::string ReadFile(const fs::path& p) {
    std::ifstream f(p);
    std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    return s;
}

bool WaitFor(const std::function<bool()>& cond, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The current test's name as one folder name: a parameterised test's name
// holds a '/', which would leave a parent folder behind after TearDown.
inline std::string FlatTestName() {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name)
        if (c == '/') c = '_';
    return name;
}

class SimProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("zkq870-sim-test-" + std::to_string(testsupport::CurrentProcessId()) + "-" +
               FlatTestName());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string WriteScenario(const std::string& json) {
        const fs::path p = dir / "scenario.json";
        std::ofstream(p) << json;
        return p.string();
    }

    // One exchange on fd: the frame out, the 6-byte header and its data in.
    static ReadEnd Exchange(int fd, const std::vector<uint8_t>& frame, std::vector<uint8_t>* reply) {
        size_t sent = 0;
        while (sent < frame.size()) {
            const ssize_t n = ::write(fd, frame.data() + sent, frame.size() - sent);
            if (n <= 0) return ReadEnd::kClosed;
            sent += static_cast<size_t>(n);
        }
        std::vector<uint8_t> data;
        const ReadEnd e = simtest::ReadExactly(fd, 6, reply, kWaitMs);
        if (e != ReadEnd::kComplete) return e;
        const uint32_t n = simtest::BigEndian32(&(*reply)[2]);
        if (n == 0) return e;
        const ReadEnd d = simtest::ReadExactly(fd, n, &data, kWaitMs);
        reply->insert(reply->end(), data.begin(), data.end());
        return d;
    }

    // GS A, then GS E until mode 2 and ready, then GS C: the printer restarts.
    static void CancelMaintenance(int fd) {
        std::vector<uint8_t> r;
        ASSERT_EQ(Exchange(fd, Frame(0x1D, 'A', 0), &r), ReadEnd::kComplete);
        bool ready = false;
        for (int i = 0; i < 50 && !ready; ++i) {
            ASSERT_EQ(Exchange(fd, Frame(0x1D, 'E', 2), &r), ReadEnd::kComplete);
            ASSERT_EQ(r.size(), 8u);
            ready = r[6] == 2 && r[7] == 1;
        }
        ASSERT_TRUE(ready);
        ASSERT_EQ(Exchange(fd, Frame(0x1D, 'C', 0), &r), ReadEnd::kComplete);
        ASSERT_NE(r[1], 0x15);
    }

    static nlohmann::json Summary(const SimProcess& p) {
        auto j = nlohmann::json::parse(p.out(), nullptr, false);
        EXPECT_FALSE(j.is_discarded()) << "stdout is not JSON: " << p.out();
        return j;
    }

    fs::path dir;
};

TEST_F(SimProcessTest, HelpListsTheOptions) {
    SimProcess p({"--help"});
    ASSERT_TRUE(p.started());
    EXPECT_EQ(p.Wait(kWaitMs), 0);
    for (const char* o : {"--tcp", "--usb", "--udp", "--scenario", "--exit-after-restart",
                          "--max-seconds"})
        EXPECT_NE(p.out().find(o), std::string::npos) << o;
}

struct BadStart {
    std::vector<std::string> args;
    const char* scenario;  // written to DIR/scenario.json when not null
    const char* says;      // on standard error
};

void PrintTo(const BadStart& c, std::ostream* os) {
    for (const auto& a : c.args) *os << a << ' ';
}

class SimProcessErrors : public SimProcessTest, public ::testing::WithParamInterface<BadStart> {};

TEST_P(SimProcessErrors, EndWithAMessageAndAFailureStatus) {
    std::vector<std::string> args;
    for (const auto& a : GetParam().args)
        args.push_back(a == "SCENARIO" ? (dir / "scenario.json").string()
                                       : a == "FILE" ? (dir / "file").string() : a);
    if (GetParam().scenario) WriteScenario(GetParam().scenario);
    std::ofstream(dir / "file") << "x";
    SimProcess p(args);
    ASSERT_TRUE(p.started());
    EXPECT_NE(p.Wait(kWaitMs), 0);
    EXPECT_NE(p.err().find(GetParam().says), std::string::npos) << p.err();
    EXPECT_EQ(p.out().find("ready"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimProcessErrors,
    ::testing::Values(
        BadStart{{}, nullptr, "nothing to serve"},
        BadStart{{"--tcp", "70000"}, nullptr, "--tcp"},
        BadStart{{"--udp", "x"}, nullptr, "--udp"},
        BadStart{{"--tcp", "0", "--scenario", "SCENARIO"}, nullptr, "cannot open"},
        BadStart{{"--tcp", "0", "--scenario", "SCENARIO"}, R"({"layout": 6, "colour": 1})",
                 "key 'colour': unknown key"},
        BadStart{{"--tcp", "0", "--scenario", "SCENARIO"}, R"({"faults": [{"atFrame": "x"}]})",
                 "faults[0].atFrame"},
        BadStart{{"--usb", "FILE"}, nullptr, "cannot create folder"},
        BadStart{{"--tcp", "0", "--max-seconds", "-1"}, nullptr, "--max-seconds"}),
    [](const ::testing::TestParamInfo<BadStart>& info) {
        return simtest::CaseName(info.param.says, info.index);
    });

TEST_F(SimProcessTest, UsbTreeServesThePtyAndReturnsAfterARestart) {
    const std::string scenario = WriteScenario(R"({
        "systemInfo": "0a 0d 03 1c 7f 11 13 04 00 ff",
        "restartDelayMs": 300
    })");
    SimProcess p({"--usb", dir.string(), "--scenario", scenario});
    ASSERT_TRUE(p.started());
    ASSERT_EQ(p.WaitForLine("ready usb ", kWaitMs), "ready usb " + dir.string()) << p.err();

    const fs::path device = dir / "sys/bus/usb/devices/1-1";
    EXPECT_EQ(ReadFile(device / "idVendor"), "5b7d\n");
    EXPECT_EQ(ReadFile(device / "idProduct"), "0023\n");
    EXPECT_EQ(ReadFile(device / "serial"), "SIM00001\n");
    EXPECT_TRUE(fs::is_directory(device / "1-1:1.0/usbmisc/lp0"));
    const fs::path node = dir / "dev/usb/lp0";
    ASSERT_TRUE(fs::is_symlink(node));
    EXPECT_EQ(fs::read_symlink(node).string().rfind("/dev/pts/", 0), 0u);

    sim::UniqueFd fd(::open(node.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(fd) << std::strerror(errno);
    std::vector<uint8_t> r;
    ASSERT_EQ(Exchange(fd.get(), simtest::FsY(), &r), ReadEnd::kComplete);
    ASSERT_EQ(r.size(), 57u);
    EXPECT_EQ(r[1], 'Y');
    // Raw terminal: control bytes travel unchanged in both directions.
    EXPECT_EQ(std::vector<uint8_t>(r.begin() + 6, r.begin() + 16),
              (std::vector<uint8_t>{0x0A, 0x0D, 0x03, 0x1C, 0x7F, 0x11, 0x13, 0x04, 0x00, 0xFF}));
    EXPECT_EQ(simtest::Text(r, 6 + 42, 8), "ZKQ00001");

    CancelMaintenance(fd.get());
    // The printer leaves: the node and the sysfs entry go, the open
    // descriptor reports the end.
    ASSERT_TRUE(WaitFor([&] { return !fs::exists(fs::symlink_status(node)); }, kWaitMs));
    EXPECT_FALSE(fs::exists(device));
    EXPECT_EQ(simtest::ReadExactly(fd.get(), 1, &r, kWaitMs), ReadEnd::kClosed);
    fd.Reset();

    // ... and comes back with a fresh terminal.
    ASSERT_TRUE(WaitFor([&] { return fs::exists(node) && fs::exists(device / "idVendor"); }, kWaitMs));
    fd.Reset(::open(node.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(fd) << std::strerror(errno);
    ASSERT_EQ(Exchange(fd.get(), simtest::FsY(), &r), ReadEnd::kComplete);
    EXPECT_EQ(simtest::Text(r, 6 + 42, 8), "ZKQ00001");
    fd.Reset();

    EXPECT_EQ(p.Stop(SIGTERM, kWaitMs), 0) << p.err();
    const auto j = Summary(p);
    EXPECT_EQ(j["endedBy"], "SIGTERM");
    EXPECT_EQ(j["transports"]["usb"]["ptysCreated"], 2);
    EXPECT_GE(j["transports"]["usb"]["hostOpens"], 2);
    EXPECT_TRUE(j.contains("printer"));
    // What the tree held is gone with the process.
    EXPECT_FALSE(fs::exists(fs::symlink_status(node)));
    EXPECT_FALSE(fs::exists(dir / "sys"));
    EXPECT_FALSE(fs::exists(dir / "dev"));
}

TEST_F(SimProcessTest, RepliesWaitingWhenTheNodeIsClosedDoNotReachTheNextOpener) {
    SimProcess p({"--usb", dir.string()});
    ASSERT_TRUE(p.started());
    ASSERT_FALSE(p.WaitForLine("ready usb ", kWaitMs).empty()) << p.err();
    const fs::path node = dir / "dev/usb/lp0";
    {
        sim::UniqueFd fd(::open(node.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
        ASSERT_TRUE(fd);
        const auto f = simtest::FsY();
        ASSERT_EQ(::write(fd.get(), f.data(), f.size()), static_cast<ssize_t>(f.size()));
        std::vector<uint8_t> r;
        ASSERT_EQ(simtest::ReadExactly(fd.get(), 1, &r, kWaitMs), ReadEnd::kComplete);
    }  // closed with 56 reply bytes unread
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    sim::UniqueFd fd(::open(node.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(fd);
    std::vector<uint8_t> r;
    ASSERT_EQ(Exchange(fd.get(), simtest::FsY(), &r), ReadEnd::kComplete);
    EXPECT_EQ(r[1], 'Y');
    EXPECT_EQ(r.size(), 57u);
    EXPECT_EQ(simtest::ReadExactly(fd.get(), 1, &r, 100), ReadEnd::kTimeout) << "stale bytes";
    EXPECT_EQ(p.Stop(SIGINT, kWaitMs), 0);
}

TEST_F(SimProcessTest, TcpRunEndsByItselfAfterTheRestartWithASummary) {
    const std::string scenario = WriteScenario(R"({"restartDelayMs": 300})");
    SimProcess p({"--tcp", "0", "--scenario", scenario, "--exit-after-restart", "--max-seconds", "20"});
    ASSERT_TRUE(p.started());
    const std::string ready = p.WaitForLine("ready tcp 127.0.0.1:", kWaitMs);
    ASSERT_FALSE(ready.empty()) << p.err();
    const int port = std::stoi(ready.substr(ready.rfind(':') + 1));
    ASSERT_GT(port, 0);

    {
        testsupport::UniqueSocket c = testsupport::ConnectLoopback(static_cast<uint16_t>(port));
        ASSERT_TRUE(c);
        CancelMaintenance(static_cast<int>(c.get()));
    }
    // Back on the port after the restart (the port refuses until then).
    std::vector<uint8_t> r;
    bool answered = false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!answered && std::chrono::steady_clock::now() < end) {
        testsupport::UniqueSocket c =
            testsupport::ConnectLoopbackWithin(static_cast<uint16_t>(port), kWaitMs);
        answered = c && Exchange(static_cast<int>(c.get()), simtest::FsY(), &r) == ReadEnd::kComplete;
    }
    ASSERT_TRUE(answered);
    EXPECT_EQ(simtest::Text(r, 6 + 42, 8), "ZKQ00001");

    EXPECT_EQ(p.Wait(kWaitMs), 0) << p.err();
    const auto j = Summary(p);
    EXPECT_EQ(j["endedBy"], "restart");
    EXPECT_EQ(j["transports"]["tcp"]["port"], port);
    EXPECT_GE(j["transports"]["tcp"]["accepted"], 2);
    EXPECT_EQ(j["transports"]["tcp"]["closedByPrinter"], 1);
}

TEST_F(SimProcessTest, MaxSecondsEndsARunThatNobodyUses) {
    SimProcess p({"--tcp", "0", "--udp", "0", "--udp-bind", "127.0.0.1", "--max-seconds", "0.2"});
    ASSERT_TRUE(p.started());
    EXPECT_FALSE(p.WaitForLine("ready udp 127.0.0.1:", kWaitMs).empty()) << p.err();
    EXPECT_EQ(p.Wait(kWaitMs), 0);
    const auto j = Summary(p);
    EXPECT_EQ(j["endedBy"], "max-seconds");
    EXPECT_TRUE(j["transports"].contains("tcp"));
    EXPECT_TRUE(j["transports"].contains("udp"));
}

}  // namespace
