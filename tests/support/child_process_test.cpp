// The child-process helper itself: arguments reach the child exactly
// (blanks, quotes, backslashes, empty and Japanese arguments: on Windows
// they travel as one command line), extra environment variables, both
// output streams, the exit status, a file as standard output, and the
// bounded waits that end a child that does not end by itself.
#include "tests/support/child_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/build_path.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::CChildProcess;
using testsupport::ChildOptions;

const std::string kHelper = testsupport::BuildPath(SUPPORT_CHILD_HELPER);

ChildOptions NullInput() {
    ChildOptions o;
    o.input = ChildOptions::Input::kNull;
    return o;
}

// Standard output without the CR of Windows line ends.
std::string Lines(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    return out;
}

TEST(ChildProcess, ArgumentsEnvironmentOutputAndStatus) {
    const std::vector<std::string> args = {
        "plain",         "two words",        "",
        "quote\"inside", "trailing\\",       "back\\\\slashes\\\"quote",
        "\"quoted\"",    "カードプリンター", "tab\there"};
    std::vector<std::string> argv = {kHelper, "echo"};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildOptions o = NullInput();
    o.env["SUPPORT_CHILD_VALUE"] = "値 with blanks";
    CChildProcess p(argv, o);
    ASSERT_TRUE(p.started());
    EXPECT_EQ(p.Wait(20000), 7);
    EXPECT_FALSE(p.running());
    std::string expected;
    for (const std::string& a : args) expected += "[" + a + "]\n";
    expected += "値 with blanks\n";
    EXPECT_EQ(Lines(p.out()), expected);
    EXPECT_EQ(Lines(p.err()), "err\n");
    EXPECT_TRUE(p.atEnd(CChildProcess::Stream::kOut));
}

TEST(ChildProcess, InheritsTheEnvironmentWithoutExtras) {
    CChildProcess p({kHelper, "echo"}, NullInput());
    ASSERT_TRUE(p.started());
    EXPECT_EQ(p.Wait(20000), 7);
    EXPECT_EQ(Lines(p.out()), "unset\n");
}

TEST(ChildProcess, StandardOutputIntoAFile) {
    testsupport::CTempDir dir("child-process");
    ChildOptions o = NullInput();
    o.stdoutPath = (dir.path() / "out.txt").string();
    CChildProcess p({kHelper, "echo", "to the file"}, o);
    ASSERT_TRUE(p.started());
    EXPECT_EQ(p.Wait(20000), 7);
    EXPECT_EQ(p.out(), "");
    std::ifstream in(o.stdoutPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(Lines(text.str()), "[to the file]\nunset\n");
    EXPECT_EQ(Lines(p.err()), "err\n");
}

TEST(ChildProcess, WaitsAreBoundedAndAStopEndsTheChild) {
    CChildProcess p({kHelper, "sleep", "60000"}, NullInput());
    ASSERT_TRUE(p.started());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(p.WaitFor(200).has_value()) << "still running";
    EXPECT_TRUE(p.running());
    EXPECT_EQ(p.WaitForLine("never", 200, CChildProcess::Stream::kOut), "");
    EXPECT_EQ(p.Stop(15, 10000), 128 + 15);
    EXPECT_FALSE(p.running());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(ChildProcess, AProgramThatDoesNotExistDoesNotStart) {
    CChildProcess p({testsupport::BuildPath("/nonexistent/program")}, NullInput());
    EXPECT_FALSE(p.started());
    EXPECT_EQ(p.Wait(100), -1);
}

}  // namespace
