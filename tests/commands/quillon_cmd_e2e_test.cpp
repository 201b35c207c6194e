// quillon-cmd as a separate process against zkq870-sim: rows run over TCP
// on 127.0.0.1, and the UDP search inside a pair of network namespaces that
// the test makes and removes itself (the broadcast never leaves them).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "process.h"

namespace cmdtest {
namespace {

const std::string kCmd = QUILLON_CMD_PATH;
const std::string kSim = ZKQ870_SIM_PATH;

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/quillon-cmd-test-XXXXXX";
        if (::mkdtemp(pattern) != nullptr) m_path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name, const std::string& text) const {
        const std::string path = m_path + "/" + name;
        std::ofstream(path) << text;
        return path;
    }

private:
    std::string m_path;
};

TEST(QuillonCmdRun, RowsOverTcpAgainstTheVirtualPrinter) {
    TempDir dir;
    const std::string scenario =
        dir.File("printer.json", R"({"reserveResult": 1, "version": "4.5 "})");
    Process sim({kSim, "--tcp", "0", "--scenario", scenario, "--max-seconds", "20"});
    ASSERT_TRUE(sim.started());
    const std::string ready = sim.WaitForErrLine("ready tcp 127.0.0.1:", 5000);
    ASSERT_FALSE(ready.empty()) << sim.err();
    const std::string link = ready.substr(std::string("ready tcp ").size());

    struct Case {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {{"run", "3", "--tcp", link}, 0,
         {"row 3 FS Y [システム情報要求]: result 1", "reply area: 51 bytes",
          "00000020  00 00 00 00 00 00 34 2E 35 20"}},
        {{"run", "7", "--arg", "0=0", "--tcp", link}, 0,
         {"row 7 FS = [印刷予約]: result 1", "slot 1 要求結果（0：不可、1：可、2：中） = \"1\""}},
        // A reservation does not write back the "possible" answer.
        {{"run", "7", "--tcp", link}, 0, {"result 1", "= \"0\""}},
        {{"run", "14", "--arg", "0=300", "--tcp", link}, 0,
         {"row 14 FS P ESC N [印刷枚数設定]: result 1"}},
        {{"run", "18", "--tcp", link}, 0, {"row 18 FS P ESC M [エンコードデータ転送]: result 1"}},
        {{"run", "21", "--tcp", link}, 1, {"row 21 FS P ESC A [磁気エンコード読み込み]: result 0"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv{kCmd};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const Finished f = RunToEnd(argv, 10000);
        SCOPED_TRACE(c.args[1] + "\n" + f.out + f.err);
        EXPECT_EQ(f.status, c.status);
        for (const std::string& line : c.lines) EXPECT_NE(f.out.find(line), std::string::npos) << line;
    }
}

// One framed row run by quillon-cmd against its own zkq870-sim: what the
// printer took in, from the summary it prints when it ends. The printer
// refuses any frame whose letter, length or ending it does not know, so a
// frame of the right size accepted without refusal is the table's frame.
struct RowRun {
    std::vector<std::string> args;  // after "run"; the link is added
    uint64_t bytesIn;               // the frames' bytes, headers included
    uint32_t frames;
    bool usb = false;
};

class QuillonCmdRows : public ::testing::TestWithParam<RowRun> {};

TEST_P(QuillonCmdRows, ThePrinterTakesTheRowsFrames) {
    const RowRun& c = GetParam();
    TempDir dir;
    std::vector<std::string> runArgs{kCmd, "run"};
    runArgs.insert(runArgs.end(), c.args.begin(), c.args.end());
    std::vector<std::string> simArgs{kSim, "--max-seconds", "20"};
    for (std::string& a : runArgs)
        if (a == "IMAGE") a = dir.File("plane.bin", std::string(2662400, 'P'));
    const std::string usbDir = dir.Path() + "/usb";
    if (c.usb) {
        simArgs.insert(simArgs.end(), {"--usb", usbDir});
    } else {
        simArgs.insert(simArgs.end(), {"--tcp", "0"});
    }
    Process sim(simArgs);
    ASSERT_TRUE(sim.started());
    const std::string ready = sim.WaitForErrLine(c.usb ? "ready usb " : "ready tcp 127.0.0.1:", 5000);
    ASSERT_FALSE(ready.empty()) << sim.err();
    if (c.usb) {
        runArgs.insert(runArgs.begin(), {"env", "QUILLON_USB_ROOT=" + usbDir});
        runArgs.push_back("--usb");
    } else {
        runArgs.insert(runArgs.end(), {"--tcp", ready.substr(std::string("ready tcp ").size())});
    }
    const Finished run = RunToEnd(runArgs, 10000);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find(": result 1"), std::string::npos) << run.out;

    ASSERT_EQ(sim.Stop(5000), 0) << sim.err();
    const auto summary = nlohmann::json::parse(sim.out(), nullptr, false);
    ASSERT_FALSE(summary.is_discarded()) << sim.out();
    EXPECT_EQ(summary["printer"]["framesReceived"], c.frames) << sim.out();
    EXPECT_EQ(summary["printer"]["refusals"], 0u) << sim.out();
    EXPECT_EQ(summary["transports"][c.usb ? "usb" : "tcp"]["bytesIn"], c.bytesIn) << sim.out();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, QuillonCmdRows,
    ::testing::Values(
        RowRun{{"0"}, 6, 1}, RowRun{{"1"}, 6, 1}, RowRun{{"2"}, 6, 1}, RowRun{{"3"}, 6, 1},
        RowRun{{"4"}, 6, 1}, RowRun{{"5", "--arg", "0=16"}, 6, 1}, RowRun{{"6"}, 6, 1},
        RowRun{{"7"}, 7, 1}, RowRun{{"8"}, 7, 1}, RowRun{{"9"}, 6, 1},
        RowRun{{"10"}, 6 + 64, 1},        // a zero-filled setting area
        RowRun{{"12"}, 12, 1}, RowRun{{"13"}, 8, 1}, RowRun{{"14"}, 10, 1},
        RowRun{{"15"}, 6 + 24, 1}, RowRun{{"16"}, 6 + 26, 1}, RowRun{{"17"}, 8, 1},
        RowRun{{"18"}, 10, 1}, RowRun{{"19"}, 8, 1},
        RowRun{{"25", "--arg", "0=1", "--in", "IMAGE"}, 6 + 26 + 2662400, 1},
        RowRun{{"4"}, 6, 1, true}),  // the same over the USB device tree
    [](const auto& info) {
        return "Row" + info.param.args[0] + (info.param.usb ? "Usb" : "Tcp");
    });

TEST(QuillonCmdRun, BadArgumentsFailWithAMessage) {
    TempDir dir;
    const std::string small = dir.File("small.bin", "0123");
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"run", "26", "--tcp", "127.0.0.1:1"}, "ROW 26 is not a row"},
        {{"run", "3"}, "needs --tcp HOST[:PORT] or --usb"},
        {{"run", "3", "--tcp", "localhost"}, "not a dotted IPv4 address"},
        {{"run", "3", "--tcp", "127.0.0.1:70000"}, "not a port number"},
        {{"run", "3", "--arg", "x=1", "--tcp", "127.0.0.1:1"}, "not a slot number"},
        {{"run", "6", "--arg", "1=5", "--tcp", "127.0.0.1:1"}, "address slot"},
        {{"run", "25", "--tcp", "127.0.0.1:1"}, "needs --in FILE (7987200 bytes)"},
        {{"run", "25", "--arg", "0=1", "--in", small, "--tcp", "127.0.0.1:1"},
         "holds 4 bytes; row 25 needs 2662400"},
        {{"run", "3", "--out", small, "--tcp", "127.0.0.1:1"}, "--out saves data only"},
        // What the command-line parser itself refuses ends the same way.
        {{"run", "3", "--tcp", "127.0.0.1:1", "--usb"}, "excludes"},
        {{"run", "x", "--usb"}, "ROW"},
        {{}, "subcommand is required"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv{kCmd};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const Finished f = RunToEnd(argv, 10000);
        SCOPED_TRACE(f.out + f.err);
        EXPECT_EQ(f.status, 2);
        EXPECT_NE(f.err.find(c.message), std::string::npos) << c.message;
    }
}

TEST(QuillonCmdList, ShowsEveryRowUpToTheClosingRow) {
    const Finished f = RunToEnd({kCmd, "list"}, 10000);
    ASSERT_EQ(f.status, 0) << f.err;
    EXPECT_NE(f.out.find(" 0  FS S [エラー情報要求]"), std::string::npos);
    EXPECT_NE(f.out.find("25  FS P ESC J [DMA転送2]"), std::string::npos);
    EXPECT_NE(f.out.find("slot  3  応答データ最大取得数（0～16） = \"16\""), std::string::npos);
    EXPECT_NE(f.out.find("26 rows"), std::string::npos) << f.out;
}

// --- The search inside two network namespaces joined by a veth pair ------

bool Ip(const std::vector<std::string>& args, std::string* why) {
    std::vector<std::string> argv{"ip"};
    argv.insert(argv.end(), args.begin(), args.end());
    const Finished f = RunToEnd(argv, 10000);
    if (f.status == 0) return true;
    std::string text;
    for (const auto& a : argv) text += a + " ";
    *why = text + "-> " + std::to_string(f.status) + ": " + f.err;
    return false;
}

class NamespacePair {
public:
    NamespacePair()
        : a("qcmd-a-" + std::to_string(::getpid())), b("qcmd-b-" + std::to_string(::getpid())) {}
    ~NamespacePair() {
        std::string ignored;
        if (m_b) Ip({"netns", "del", b}, &ignored);
        if (m_a) Ip({"netns", "del", a}, &ignored);
    }
    // Only the namespaces get addresses and links; the machine's own
    // namespace is not touched.
    bool Create(std::string* why) {
        RemoveLeftovers();
        if (!(m_a = Ip({"netns", "add", a}, why))) return false;
        if (!(m_b = Ip({"netns", "add", b}, why))) return false;
        return Ip({"-n", a, "link", "add", "va", "type", "veth", "peer", "name", "vb", "netns", b},
                  why) &&
               Ip({"-n", a, "addr", "add", "10.213.0.1/24", "dev", "va"}, why) &&
               Ip({"-n", b, "addr", "add", "10.213.0.2/24", "dev", "vb"}, why) &&
               Ip({"-n", a, "link", "set", "lo", "up"}, why) &&
               Ip({"-n", b, "link", "set", "lo", "up"}, why) &&
               Ip({"-n", a, "link", "set", "va", "up"}, why) &&
               Ip({"-n", b, "link", "set", "vb", "up"}, why) &&
               // The limited broadcast from an unbound socket leaves by va.
               Ip({"-n", a, "route", "add", "default", "dev", "va"}, why);
    }
    const std::string a;
    const std::string b;

private:
    // Namespaces of an earlier run of this test that was killed before it
    // could remove them (their process is gone).
    static void RemoveLeftovers() {
        const Finished list = RunToEnd({"ip", "netns", "list"}, 10000);
        size_t at = 0;
        while (at < list.out.size()) {
            size_t end = list.out.find('\n', at);
            if (end == std::string::npos) end = list.out.size();
            const std::string name = list.out.substr(at, list.out.find(' ', at) < end
                                                             ? list.out.find(' ', at) - at
                                                             : end - at);
            at = end + 1;
            if (name.rfind("qcmd-a-", 0) != 0 && name.rfind("qcmd-b-", 0) != 0) continue;
            const long pid = std::atol(name.c_str() + 7);
            if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
                std::string ignored;
                Ip({"netns", "del", name}, &ignored);
            }
        }
    }

    bool m_a = false;
    bool m_b = false;
};

std::string RecordHex(int k) {
    std::string hex;
    char byte[4];
    for (int i = 0; i < 32; ++i) {
        std::snprintf(byte, sizeof byte, "%02X", (k * 0x10 + i) & 0xFF);
        hex += byte;
    }
    return hex;
}

// The first line of the hex dump of record k, as quillon-cmd prints it.
std::string DumpLine(int k) {
    std::string line = "00000000 ";
    char byte[4];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(byte, sizeof byte, " %02X", (k * 0x10 + i) & 0xFF);
        line += byte;
    }
    return line;
}

TEST(QuillonCmdSearch, FindsThePrinterInsideANamespacePair) {
    if (::geteuid() != 0) GTEST_SKIP() << "network namespaces need root";
    NamespacePair ns;
    std::string why;
    if (!ns.Create(&why)) GTEST_SKIP() << "cannot build the network namespace pair: " << why;

    TempDir dir;
    const std::string scenario = dir.File(
        "search.json", "{\"searchRecords\": [\"" + RecordHex(1) + "\", \"" + RecordHex(2) +
                           "\", \"" + RecordHex(3) + "\"]}");
    Process sim({"ip", "netns", "exec", ns.b, kSim, "--udp", "9100", "--scenario", scenario,
                 "--max-seconds", "30"});
    ASSERT_TRUE(sim.started());
    ASSERT_FALSE(sim.WaitForErrLine("ready udp", 5000).empty()) << sim.err();

    // Bound to the own address, at most two replies taken.
    const Finished two = RunToEnd({"ip", "netns", "exec", ns.a, kCmd, "search", "--address",
                                   "10.213.0.1", "--max", "2"},
                                  10000);
    EXPECT_EQ(two.status, 0) << two.out << two.err;
    EXPECT_NE(two.out.find("search: result 1, 2 replies"), std::string::npos) << two.out;
    EXPECT_NE(two.out.find(DumpLine(1)), std::string::npos) << two.out;
    EXPECT_NE(two.out.find(DumpLine(2)), std::string::npos) << two.out;
    EXPECT_EQ(two.out.find(DumpLine(3)), std::string::npos) << two.out;

    // Bad search arguments end before any socket is made (run inside the
    // namespace all the same, so that nothing could leave the machine).
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--address", "10.1"}, std::vector<std::string>{"--max", "17"}}) {
        std::vector<std::string> argv{"ip", "netns", "exec", ns.a, kCmd, "search"};
        argv.insert(argv.end(), bad.begin(), bad.end());
        const Finished f = RunToEnd(argv, 10000);
        EXPECT_EQ(f.status, 2) << f.out << f.err;
        EXPECT_NE(f.err.find(bad[0]), std::string::npos) << f.err;
        EXPECT_EQ(f.out.find("search: result"), std::string::npos) << f.out;
    }

    // Any local address, one keyword, every reply.
    const Finished all = RunToEnd(
        {"ip", "netns", "exec", ns.a, kCmd, "search", "--keyword1", "ABC"}, 10000);
    EXPECT_EQ(all.status, 0) << all.out << all.err;
    EXPECT_NE(all.out.find("search: result 1, 3 replies"), std::string::npos) << all.out;
    EXPECT_NE(all.out.find(DumpLine(3)), std::string::npos) << all.out;
}

}  // namespace
}  // namespace cmdtest
