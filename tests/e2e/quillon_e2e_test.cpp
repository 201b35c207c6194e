// The terminal updater end to end, in real time, as separate processes:
// quillon against zkq870-sim's USB device tree, against its built-in
// virtual printer, and against itself (the single-instance guard).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <locale.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/e2e/quillon_fixture.h"

namespace e2e {
namespace {

TEST_F(QuillonE2eTest, UpdatesThePrinterOnTheDeviceTree) {
    ASSERT_TRUE(StartSim(kFastPrinter));
    auto q = Quillon({"--update", "--yes"});
    EXPECT_EQ(q->Wait(90000), 0) << q->out() << q->err();
    EXPECT_NE(q->out().find("Ver1.3\n（現在のバージョン：Ver1.2）"), std::string::npos) << q->out();
    EXPECT_NE(q->out().find(kMessage117), std::string::npos) << q->out();
    EXPECT_NE(q->err().find("update: transferring the firmware"), std::string::npos) << q->err();
    EXPECT_EQ(sim_->Stop(SIGTERM, 10000), 0);
    EXPECT_NE(sim_->out().find("\"restarts\""), std::string::npos) << sim_->out();
}

TEST_F(QuillonE2eTest, DeclinedConfirmationEndsWith114) {
    ASSERT_TRUE(StartSim(R"({"imageVersion": "1.3", "restartDelayMs": 1500})"));
    auto q = Quillon({"--update"});  // no --yes, no terminal: the answer is No
    EXPECT_EQ(q->Wait(30000), 2) << q->out() << q->err();
    const std::string& out = q->out();
    const size_t ask = out.find("現在のバージョン：Ver1.3\nアップデート後：Ver1.3");
    ASSERT_NE(ask, std::string::npos) << out;
    EXPECT_NE(out.find("いいえ(N) (no terminal)", ask), std::string::npos) << out;
    EXPECT_NE(out.find(kMessage114, ask), std::string::npos) << out;
    EXPECT_EQ(out.find(kMessage117), std::string::npos);
}

TEST_F(QuillonE2eTest, PrinterLostMidTransferFails) {
    ASSERT_TRUE(StartSim(R"({"restartDelayMs": 1500, "dropReturnMs": 1500,
        "faults": [{"introducer": "GS", "letter": "R", "occurrence": 20, "action": "drop"}]})"));
    auto q = Quillon({"--update", "--yes"});
    const int status = q->Wait(90000);
    EXPECT_EQ(status, 1) << q->out() << q->err();
    EXPECT_TRUE(q->out().find(kMessage118) != std::string::npos ||
                q->out().find(kMessage116) != std::string::npos)
        << q->out();
    EXPECT_EQ(q->out().find(kMessage117), std::string::npos);
}

TEST_F(QuillonE2eTest, ASecondUpdaterEndsAtOnce) {
    // The first waits in the connection box (no printer) on a terminal.
    auto first = Quillon({}, ChildProcess::Input::kTerminal);
    ASSERT_TRUE(first->WaitForOutput("再試行(R)", 10000)) << first->out() << first->err();

    auto second = Quillon({"--update", "--yes"});
    EXPECT_EQ(second->Wait(5000), 5);
    EXPECT_LT(second->seconds(), 2.0);
    EXPECT_EQ(second->out(), "") << "the second instance shows nothing";

    // Cancel in the first one's box; afterwards a new start gets past the
    // guard (and, without a terminal, cancels its own connection box).
    ASSERT_TRUE(first->Type("2\n"));
    EXPECT_EQ(first->Wait(10000), 4) << first->out();
    auto third = Quillon({});
    EXPECT_EQ(third->Wait(10000), 4) << third->out();
    EXPECT_NE(third->out().find(kMessage111), std::string::npos) << third->out();
}

TEST_F(QuillonE2eTest, BuiltInVirtualPrinterReaches117) {
    auto q = Quillon({"--virtual-printer", "--update"});
    EXPECT_EQ(q->Wait(90000), 0) << q->out() << q->err();
    EXPECT_NE(q->out().find(kMessage117), std::string::npos) << q->out();
}

TEST_F(QuillonE2eTest, BuiltInPrinterRefusingTheStartFails) {
    // A scenario file for the built-in printer: GS A is refused, so
    // identification fails at once with the fallback code.
    const std::string scenario = Scenario(
        "nak.json", R"({"faults": [{"introducer": "GS", "letter": "A", "action": "nak"}]})");
    auto q = Quillon({"--virtual-printer", "--scenario", scenario});
    EXPECT_EQ(q->Wait(30000), 3) << q->out() << q->err();
    EXPECT_NE(q->out().find("内部エラー：ff-ffffffff"), std::string::npos) << q->out();
}

// --json on a failure: the last line says what the user saw (message 118
// and its code) and how far the run got.
TEST_F(QuillonE2eTest, JsonReportOfAFailedIdentification) {
    const std::string scenario = Scenario(
        "nak.json", R"({"faults": [{"introducer": "GS", "letter": "A", "action": "nak"}]})");
    auto q = Quillon({"--virtual-printer", "--scenario", scenario, "--json"});
    EXPECT_EQ(q->Wait(30000), 3) << q->out() << q->err();
    std::string out = q->out();
    while (!out.empty() && out.back() == '\n') out.pop_back();
    const nlohmann::json j = nlohmann::json::parse(out.substr(out.rfind('\n') + 1), nullptr, false);
    ASSERT_TRUE(j.is_object()) << q->out();
    EXPECT_EQ(j["outcome"], "identification-failed");
    EXPECT_EQ(j["exitStatus"], 3);
    EXPECT_EQ(j["message"], 118);
    EXPECT_EQ(j["internalError"], "ff-ffffffff");
    EXPECT_TRUE(j["versionBefore"].is_null());
    EXPECT_TRUE(j["versionAfter"].is_null());
    EXPECT_EQ(j["wayIn"], "virtual printer");
    EXPECT_EQ(j["printer"]["instanceId"], "USB\\VID_5B7D&PID_0023\\SIM00001");
    EXPECT_EQ(j["bytesWritten"], 0);

    auto bad = Quillon({"--virtual-printer", "--scenario", (dir_ / "none").string(), "--json"});
    EXPECT_EQ(bad->Wait(10000), 65);
    const nlohmann::json b = nlohmann::json::parse(bad->out(), nullptr, false);
    ASSERT_TRUE(b.is_object()) << bad->out();
    EXPECT_EQ(b["outcome"], "bad-scenario");
    EXPECT_EQ(b["exitStatus"], 65);
}

TEST_F(QuillonE2eTest, CommandLine) {
    auto help = Quillon({"--help"});
    EXPECT_EQ(help->Wait(10000), 0);
    for (const char* text : {"--virtual-printer", "--update", "--yes", "--list", "--trace",
                             "--scenario", "--version", "Exit status:", "64"})
        EXPECT_NE(help->out().find(text), std::string::npos) << text;

    auto version = Quillon({"--version"});
    EXPECT_EQ(version->Wait(10000), 0);
    EXPECT_NE(version->out().find("1.3"), std::string::npos);

    auto unknown = Quillon({"--frobnicate"});
    EXPECT_EQ(unknown->Wait(10000), 64);
    auto scenarioAlone = Quillon({"--scenario", "x.json"});
    EXPECT_EQ(scenarioAlone->Wait(10000), 64) << scenarioAlone->err();

    const std::string bad = Scenario("bad.json", R"({"restartDelayMs": "soon"})");
    auto badScenario = Quillon({"--virtual-printer", "--scenario", bad});
    EXPECT_EQ(badScenario->Wait(10000), 65);
    EXPECT_NE(badScenario->err().find("bad.json"), std::string::npos) << badScenario->err();
    auto missingScenario = Quillon({"--virtual-printer", "--scenario", (dir_ / "none").string()});
    EXPECT_EQ(missingScenario->Wait(10000), 65);
}

// The front end's own texts (help, the printer list) follow the user's
// language; the system's messages stay Japanese whatever it is.
TEST_F(QuillonE2eTest, OwnTextsFollowTheUsersLanguage) {
    locale_t ja = ::newlocale(LC_MESSAGES_MASK, "ja_JP.UTF-8", nullptr);
    if (ja == nullptr) GTEST_SKIP() << "the ja_JP.UTF-8 locale is not installed here "
                                       "(scripts/install-deps makes it)";
    ::freelocale(ja);
    auto run = [this](const std::string& lang, std::vector<std::string> args) {
        std::map<std::string, std::string> env = Env();
        env["LANG"] = lang;
        env["LC_ALL"] = "";
        env["LC_MESSAGES"] = "";
        env["LANGUAGE"] = "";
        args.insert(args.begin(), QUILLON_PATH);
        return std::make_unique<ChildProcess>(args, env, ChildProcess::Input::kNull);
    };
    auto english = run("C.UTF-8", {"--help"});
    EXPECT_EQ(english->Wait(10000), 0);
    EXPECT_NE(english->out().find("Exit status:\n  0   the firmware was updated (message 117)"),
              std::string::npos)
        << english->out();
    EXPECT_NE(english->out().find("Usage: quillon [OPTIONS]"), std::string::npos);

    auto japanese = run("ja_JP.UTF-8", {"--help"});
    EXPECT_EQ(japanese->Wait(10000), 0);
    EXPECT_NE(japanese->out().find("終了ステータス:\n  0   ファームウェアを更新した（メッセージ 117）"),
              std::string::npos)
        << japanese->out();
    EXPECT_NE(japanese->out().find("使い方: quillon [オプション]"), std::string::npos);
    EXPECT_NE(japanese->out().find("確認に「はい」と答える"), std::string::npos);
    EXPECT_EQ(japanese->out().find("Exit status:"), std::string::npos);

    auto list = run("ja_JP.UTF-8", {"--list"});
    EXPECT_EQ(list->Wait(10000), 0);
    EXPECT_EQ(list->out(), "USB ID 5B7D/0023 のプリンターはありません\n");

    // Without a printer the connection message is the system's, in either
    // language; only the front end's own words around it change.
    auto box = run("ja_JP.UTF-8", {});
    EXPECT_EQ(box->Wait(10000), 4);
    EXPECT_NE(box->out().find(kMessage111), std::string::npos) << box->out();
    EXPECT_NE(box->out().find("キャンセル （端末なし）"), std::string::npos) << box->out();
}

TEST_F(QuillonE2eTest, ListsThePrinterOfTheDeviceTree) {
    auto none = Quillon({"--list"});
    EXPECT_EQ(none->Wait(10000), 0);
    EXPECT_NE(none->out().find("no printer"), std::string::npos) << none->out();

    ASSERT_TRUE(StartSim(kFastPrinter));
    auto q = Quillon({"--list"});
    EXPECT_EQ(q->Wait(10000), 0) << q->err();
    EXPECT_NE(q->out().find("SIM00001"), std::string::npos) << q->out();
    EXPECT_NE(q->out().find("openable"), std::string::npos) << q->out();
    EXPECT_EQ(q->out().find("not openable"), std::string::npos) << q->out();
}

TEST_F(QuillonE2eTest, ExitWithoutATerminalReleasesAndSays114) {
    ASSERT_TRUE(StartSim(kFastPrinter));
    auto q = Quillon({"--trace"});
    EXPECT_EQ(q->Wait(30000), 2) << q->out() << q->err();
    EXPECT_NE(q->out().find("終了 (no terminal)"), std::string::npos) << q->out();
    EXPECT_NE(q->out().find(kMessage114), std::string::npos) << q->out();
}

}  // namespace
}  // namespace e2e
