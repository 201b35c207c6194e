// The trace line and the error record.
#include <gtest/gtest.h>

#include <cerrno>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "link/trace.h"
#include "platform/text.h"
#include "tests/link/link_fixture.h"

namespace {

using linktest::LinkTest;
using linktest::WithoutLineNumber;

class TraceTest : public LinkTest {};

// What the brackets hold for an error number: on POSIX the text given here
// (the Win32 text of a constant, the C library's of an errno). On Windows
// every number is the system's, and the text is the system's as
// FormatMessageW gives it with the trace's flags (0x13FF, neutral
// language): under wine in wine's wording ("Invalid data." for 13), and
// with the blank that the flags leave in place of the text's line end.
std::string Bracketed(platform::ErrorNumber error, const char* posixText) {
#ifdef _WIN32
    (void)posixText;
    return linktest::FormatMessageText(error.value);
#else
    (void)error;
    return posixText;
#endif
}

TEST_F(TraceTest, LineHasFunctionLineMessageAndSystemText) {
    TraceError(412, "CPrinterIO::Send", kErrorDeviceNotConnected, "%s", "send");
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(traces[0], "CPrinterIO::Send() [412] send -[" +
                             Bracketed(kErrorDeviceNotConnected, "The device is not connected.") +
                             "]\n");
}

// The text in the brackets comes from the system that produced the number:
// the Windows codes that the updater passes as constants keep their Windows
// texts, while the same values reported by a POSIX call read as errno. A
// number with no text shows "(null)".
struct TextCase {
    const char* name;
    platform::ErrorNumber number;
    const char* text;
};

class SystemTextTest : public TraceTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(SystemTextTest, BracketsHoldTheTextOfTheNumbersOrigin) {
    TraceError(7, "F", GetParam().number, "m");
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(traces[0], "F() [7] m -[" + Bracketed(GetParam().number, GetParam().text) + "]\n");
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, SystemTextTest,
    ::testing::Values(TextCase{"InvalidData", kErrorInvalidData, "The data is invalid."},
                      TextCase{"BadCommand", kErrorBadCommand,
                               "The device does not recognize the command."},
                      TextCase{"DeviceNotConnected", kErrorDeviceNotConnected,
                               "The device is not connected."},
                      TextCase{"NotEnoughMemory", kErrorNotEnoughMemory,
                               "Not enough memory resources are available to process this "
                               "command."},
                      TextCase{"Eacces", platform::SystemError(EACCES), "Permission denied"},
                      TextCase{"Einval", platform::SystemError(EINVAL), "Invalid argument"},
                      TextCase{"Enomem", platform::SystemError(ENOMEM), "Cannot allocate memory"},
                      TextCase{"Enodev", platform::SystemError(ENODEV), "No such device"},
                      TextCase{"UnknownWin32", platform::Win32Error(1460), "(null)"},
                      TextCase{"HugeSystem", platform::SystemError(0x7FFFFFF0u), "(null)"},
                      TextCase{"SystemBeyondErrno", platform::SystemError(4096), "(null)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TraceTest, FinishedMessageIsNotFormattedTwice) {
    // The message is formatted once; a '%' that the formatting produced is
    // appended as it stands.
    TraceError(1, "F", kErrorInvalidData, "%s", "100% of %d bytes %s");
    TraceError(2, "F", kErrorInvalidData, "rate %d%%", 50);
    ASSERT_EQ(traces.size(), 2u);
    const std::string invalid = Bracketed(kErrorInvalidData, "The data is invalid.");
    EXPECT_EQ(traces[0], "F() [1] 100% of %d bytes %s -[" + invalid + "]\n");
    EXPECT_EQ(traces[1], "F() [2] rate 50% -[" + invalid + "]\n");
}

TEST_F(TraceTest, WideMessageCarriesNonAsciiPathAsUtf8) {
    TraceErrorW(33, "CPrinterIO::Open", platform::SystemError(ENOENT), L"CreateFile(%ls)", L"/dev/usb/\u30D7\u30EA\u30F3\u30BF");
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(WithoutLineNumber(traces[0]),
              linktest::TraceLine("CPrinterIO::Open",
                                  "CreateFile(/dev/usb/\xE3\x83\x97\xE3\x83\xAA\xE3\x83\xB3\xE3\x82\xBF)",
                                  ENOENT));
}

TEST_F(TraceTest, LongMessageIsKeptWhole) {
    const std::string big(3000, 'x');
    TraceError(9, "F", kErrorBadCommand, "%s", big.c_str());
    std::wstring wbig(3000, L'y');
    TraceErrorW(10, "F", kErrorBadCommand, L"%ls", wbig.c_str());
    ASSERT_EQ(traces.size(), 2u);
    EXPECT_NE(traces[0].find(big + " -["), std::string::npos);
    EXPECT_NE(traces[1].find(std::string(3000, 'y') + " -["), std::string::npos);
}

TEST_F(TraceTest, TransferWithoutLinkTracesTheKindAndSendsNothing) {
    uint8_t byte = 0;
    EXPECT_EQ(g_printerIO.Send(&byte, 1), 0);
    EXPECT_EQ(g_printerIO.Recv(&byte, 1), 0);
    ASSERT_EQ(traces.size(), 2u);
    const std::string notConnected = Bracketed(kErrorDeviceNotConnected, "The device is not connected.");
    EXPECT_EQ(WithoutLineNumber(traces[0]),
              "CPrinterIO::Send() [N] 通信経路種別=[0] -[" + notConnected + "]\n");
    EXPECT_EQ(WithoutLineNumber(traces[1]),
              "CPrinterIO::Recv() [N] 通信経路種別=[0] -[" + notConnected + "]\n");
    // An exchange without a link fails; nothing of it reaches the record.
    CommandBlock request{0x1C, 'Y', 51, nullptr};
    uint8_t buffer[51];
    CommandBlock reply{0, 0, 0, buffer};
    EXPECT_EQ(g_printerIO.SendRecv(&request, 0, &reply, 51), -1);
    EXPECT_EQ(g_printerIO.m_errorCategory, 0);
    EXPECT_EQ(g_printerIO.m_errorDetail, 0u);
}

// The error record keeps the first failure, the two fields independently.
struct RecordCase {
    const char* name;
    std::vector<std::pair<uint8_t, uint32_t>> failures;
    uint8_t category;
    uint32_t detail;
};

class ErrorRecordTest : public TraceTest, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(ErrorRecordTest, FirstFailureWinsPerField) {
    for (const auto& [category, detail] : GetParam().failures)
        g_printerIO.RecordError(category, detail);
    EXPECT_EQ(g_printerIO.m_errorCategory, GetParam().category);
    EXPECT_EQ(g_printerIO.m_errorDetail, GetParam().detail);
    EXPECT_TRUE(traces.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, ErrorRecordTest,
    ::testing::Values(
        RecordCase{"Empty", {}, 0, 0},
        RecordCase{"WriteThenRead", {{2, 31}, {3, 5}}, 2, 31},
        RecordCase{"CodeZeroThenCode", {{2, 0}, {3, 5}}, 2, 5},
        RecordCase{"OpenThenWriteThenRead", {{1, 2}, {2, 9}, {3, 110}}, 1, 2},
        RecordCase{"ReadOnly", {{3, 110}}, 3, 110},
        RecordCase{"LargeDetail", {{3, 0xFFFFFFFFu}, {2, 1}}, 3, 0xFFFFFFFFu}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
