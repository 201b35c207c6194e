// qzrtool run as a program: extract, verify and info on the embedded file,
// on sound files and on faulty ones.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/loadfile/load_file_builder.h"
#include "tests/loadfile/shipped_file_checker.h"
#include "tests/support/build_path.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#ifndef QZRTOOL_PATH
#error "QZRTOOL_PATH must name the built qzrtool"
#endif

namespace {

using loadfile_test::BuildLoadFile;
using loadfile_test::Bytes;
using loadfile_test::EntryAt;
using loadfile_test::PutLE32;

struct ToolRun {
    int exitCode;  // -1 when the tool did not end normally (a crash)
    std::string output;
};

// The arguments of a command line as a shell splits them: at blanks, with
// '...' quoting (the form every call below uses).
std::vector<std::string> Arguments(const std::string& line) {
    std::vector<std::string> args;
    std::string arg;
    bool inArg = false, quoted = false;
    for (char c : line) {
        if (c == '\'') {
            quoted = !quoted;
            inArg = true;
        } else if (c == ' ' && !quoted) {
            if (inArg) args.push_back(arg);
            arg.clear();
            inArg = false;
        } else {
            arg += c;
            inArg = true;
        }
    }
    if (inArg) args.push_back(arg);
    return args;
}

ToolRun RunTool(const std::string& arguments) {
    std::vector<std::string> argv = Arguments(arguments);
    argv.insert(argv.begin(), testsupport::BuildPath(QZRTOOL_PATH));
    testsupport::ChildOptions options;
    options.input = testsupport::ChildOptions::Input::kNull;
    testsupport::CChildProcess tool(argv, options);
    ToolRun run{-1, {}};
    if (!tool.started()) return run;
    const int status = tool.Wait(60000);
    run.output = tool.out() + tool.err();
    // A signal (128 and up on POSIX) or an exception (a negative NTSTATUS
    // on Windows) ended it: no normal end.
    run.exitCode = status >= 0 && status < 128 ? status : -1;
    return run;
}

class Qzrtool : public testing::Test {
protected:
    std::string Write(const char* name, const std::vector<uint8_t>& bytes) const {
        const std::string path = (m_dir / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    testsupport::CTempDir m_tempDir{"quillon-qzrtool"};
    const std::filesystem::path& m_dir = m_tempDir.path();
};

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST_F(Qzrtool, ExtractWritesTheShippedFileAndVerifyAcceptsIt) {
    const std::string out = (m_dir / "extracted.qzr").string();
    const ToolRun extract = RunTool("extract --embedded '" + out + "'");
    ASSERT_EQ(extract.exitCode, 0) << extract.output;
    const std::vector<uint8_t> bytes = ReadAll(out);
    ASSERT_EQ(bytes.size(), 1834404u);
    loadfile_test::ExpectShippedLoadFile(bytes.data(), bytes.size());

    const ToolRun verifyFile = RunTool("verify '" + out + "'");
    EXPECT_EQ(verifyFile.exitCode, 0) << verifyFile.output;
    const ToolRun verifyEmbedded = RunTool("verify --embedded");
    EXPECT_EQ(verifyEmbedded.exitCode, 0) << verifyEmbedded.output;
    EXPECT_NE(verifyEmbedded.output.find("verify: ok"), std::string::npos);
}

TEST_F(Qzrtool, InfoDescribesTheEmbeddedFile) {
    const ToolRun info = RunTool("info --embedded");
    ASSERT_EQ(info.exitCode, 0) << info.output;
    for (const char* expected :
         {"title:           \"ZK9930 Load File\"", "total size:      1834404 (0x1BFDA4)",
          "section count:   4", "layout number:   6", "version text:    \"1.3             \"",
          "  load address:  0x601ED000", "  header at:     0x11D1C0 (tag ST)",
          "  format:        \"RAWS\"", "  class:         0", "  sum:           0x2CFC (matches)",
          "  xor:           0x0A (matches)", "  placeholder:   yes", "hasRealSt:       false",
          "last 4 bytes:    40 FD AD BA"}) {
        EXPECT_NE(info.output.find(expected), std::string::npos) << expected;
    }
}

TEST_F(Qzrtool, InfoShowsARealSt) {
    const std::string path = Write("real.qzr", BuildLoadFile({{"ST", Bytes("printer's own")}}));
    const ToolRun info = RunTool("info '" + path + "'");
    ASSERT_EQ(info.exitCode, 0) << info.output;
    EXPECT_NE(info.output.find("placeholder:   no"), std::string::npos);
    EXPECT_NE(info.output.find("hasRealSt:       true"), std::string::npos);
}

struct FaultCase {
    const char* name;
    void (*mutate)(std::vector<uint8_t>* file);
    const char* message;  // expected in the output
};

// Sound file: MC 16 bytes "0123456789abcdef" (data at 0x120), ST 8 bytes
// (data at 0x190), total 0x1BC.
std::vector<uint8_t> SoundFile() {
    return BuildLoadFile({{"MC", Bytes("0123456789abcdef")}, {"ST", Bytes("DUMY0000"), 'N', 0}});
}

const FaultCase kFaults[] = {
    {"DataByteChanged", [](std::vector<uint8_t>* f) { (*f)[0x125] ^= 0x01; },
     "section 0 (MC): trailer sum"},
    // +2 on one byte, -2 on another: the sum holds, the XOR does not.
    {"XorOnly",
     [](std::vector<uint8_t>* f) {
         (*f)[0x120] += 2;
         (*f)[0x125] -= 2;
     },
     "section 0 (MC): trailer XOR 0x"},
    {"TrailerSumChanged", [](std::vector<uint8_t>* f) { (*f)[0x198 + 2] ^= 0x10; },
     "section 1 (ST): trailer sum"},
    {"HeaderTagDiffers", [](std::vector<uint8_t>* f) { (*f)[0x150] = 'X'; },
     "section 1 (ST): its header is tagged XT"},
    {"FlagNeitherYNorN", [](std::vector<uint8_t>* f) { (*f)[EntryAt(0) + 0x18] = 'y'; },
     "neither Y nor N"},
    {"DataLongerThanArea", [](std::vector<uint8_t>* f) { PutLE32(&(*f)[EntryAt(0) + 0x0C], 15); },
     "exceeds the area size"},
    {"SectionsNotBackToBack",
     [](std::vector<uint8_t>* f) {
         // ST one byte later; its data still inside.
         PutLE32(&(*f)[EntryAt(1) + 0x10], 0x191);
         PutLE32(&(*f)[EntryAt(1) + 0x14], 7);
     },
     "section 1 (ST): data at 0x191, expected at 0x190"},
    {"TotalSizeBeyondTheClosingBytes",
     [](std::vector<uint8_t>* f) {
         f->resize(f->size() + 8);
         PutLE32(&(*f)[0x18], static_cast<uint32_t>(f->size()));
     },
     "total size 0x1C4, expected 0x1BC"},
    {"NoSection", [](std::vector<uint8_t>* f) { *f = BuildLoadFile({}); },
     "the file holds no section"},
    {"Truncated", [](std::vector<uint8_t>* f) { f->resize(0x100); }, "not a usable load file"},
    {"Empty", [](std::vector<uint8_t>* f) { f->clear(); }, "not a usable load file"},
    {"TableOutsideTheFile", [](std::vector<uint8_t>* f) { PutLE32(&(*f)[0x40], 0x10000000); },
     "section table"},
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class QzrtoolFaults : public Qzrtool, public testing::WithParamInterface<FaultCase> {};

TEST_P(QzrtoolFaults, VerifyNamesTheFaultAndFails) {
    std::vector<uint8_t> file = SoundFile();
    GetParam().mutate(&file);
    const std::string path = Write("faulty.qzr", file);
    const ToolRun verify = RunTool("verify '" + path + "'");
    EXPECT_EQ(verify.exitCode, 1) << verify.output;
    EXPECT_NE(verify.output.find(GetParam().message), std::string::npos) << verify.output;
    // info never crashes on it: it either describes the file or says why not.
    const ToolRun info = RunTool("info '" + path + "'");
    EXPECT_TRUE(info.exitCode == 0 || info.exitCode == 1) << info.output;
}

INSTANTIATE_TEST_SUITE_P(Cases, QzrtoolFaults, testing::ValuesIn(kFaults),
                         [](const testing::TestParamInfo<FaultCase>& info) {
                             return info.param.name;
                         });

TEST_F(Qzrtool, XorOnlyFaultLeavesTheSumAlone) {
    std::vector<uint8_t> file = SoundFile();
    file[0x120] += 2;
    file[0x125] -= 2;
    const ToolRun verify = RunTool("verify '" + Write("xor.qzr", file) + "'");
    EXPECT_EQ(verify.output.find("trailer sum"), std::string::npos) << verify.output;
}

TEST_F(Qzrtool, SoundSmallFileVerifies) {
    const ToolRun verify = RunTool("verify '" + Write("sound.qzr", SoundFile()) + "'");
    EXPECT_EQ(verify.exitCode, 0) << verify.output;
}

TEST_F(Qzrtool, MalformedInfoSaysWhy) {
    std::vector<uint8_t> file = SoundFile();
    PutLE32(&file[0x18], 64);
    const ToolRun info = RunTool("info '" + Write("bad.qzr", file) + "'");
    EXPECT_EQ(info.exitCode, 1);
    EXPECT_NE(info.output.find("qzrtool: not a usable load file: total size 64"),
              std::string::npos)
        << info.output;
}

TEST_F(Qzrtool, UsageErrors) {
    EXPECT_EQ(RunTool("--help").exitCode, 0);
    EXPECT_EQ(RunTool("info --help").exitCode, 0);
    const ToolRun missing = RunTool("verify '" + (m_dir / "nothing").string() + "'");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.output.find("cannot open"), std::string::npos) << missing.output;
    EXPECT_GT(RunTool("").exitCode, 0);
    EXPECT_GT(RunTool("info").exitCode, 0);
    EXPECT_GT(RunTool("info x --embedded").exitCode, 0);
    EXPECT_GT(RunTool("extract out.qzr").exitCode, 0);  // --embedded is required
    EXPECT_GT(RunTool("frobnicate").exitCode, 0);
    const ToolRun unwritable = RunTool("extract --embedded '" + (m_dir / "no/such/dir").string() + "'");
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_NE(unwritable.output.find("cannot create"), std::string::npos) << unwritable.output;
}

}  // namespace
