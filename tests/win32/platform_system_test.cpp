// The system's texts for error numbers (FormatMessageW) as the trace puts
// them between its brackets, and the Winsock settings of the TCP link.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <string>
#include <vector>

#include "link/printer_io.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "platform/trace_sink.h"

namespace {

TEST(SystemErrorText, TheCodesTheUpdaterTracesHaveOneLineTexts) {
    // Not found, access denied, bad command, device not connected, and the
    // time-out of a USB transfer.
    for (unsigned long code : {2ul, 5ul, 22ul, 1167ul, 1460ul}) {
        SCOPED_TRACE("error " + std::to_string(code));
        std::string text;
        ASSERT_TRUE(platform::SystemErrorText(platform::SystemError(code), &text));
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
        // Valid UTF-8 all through: it survives the round trip unchanged.
        EXPECT_EQ(platform::Utf16ToUtf8(platform::Utf8ToUtf16(text)), text);
    }
}

TEST(SystemErrorText, ANumberWithoutTextHasNone) {
    std::string text = "unchanged";
    EXPECT_FALSE(platform::SystemErrorText(platform::SystemError(0x2000BEEF), &text));
}

TEST(SocketSettings, RefusedSettingsReportTheWinsockError) {
    unsigned long error = 0;
    ASSERT_TRUE(platform::SocketLibraryStart(&error));
    platform::SocketHandle s = platform::TcpSocket(&error);
    ASSERT_NE(s, platform::kInvalidSocket);
    const char* call = "";
    EXPECT_TRUE(platform::SetKeepAlive(s, 30000, 30000, &error, &call));
    EXPECT_TRUE(platform::SetReceiveTimeout(s, 30000, &error));
    platform::CloseSocket(s);
    // The same calls on a socket that is gone.
    EXPECT_FALSE(platform::SetKeepAlive(s, 30000, 30000, &error, &call));
    EXPECT_EQ(error, static_cast<unsigned long>(WSAENOTSOCK));
    EXPECT_STREQ(call, "setsockopt(SO_KEEPALIVE)");
    error = 0;
    EXPECT_FALSE(platform::SetReceiveTimeout(s, 30000, &error));
    EXPECT_EQ(error, static_cast<unsigned long>(WSAENOTSOCK));
    platform::SocketLibraryStop();
}

TEST(SocketSettings, ATcpOpenOnWindowsSetsThemWithoutATrace) {
    // A listener on 127.0.0.1 for the link to connect to.
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(listener, INVALID_SOCKET);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    int size = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &size);

    std::vector<std::string> lines;
    platform::SetTraceObserver([&](std::string_view line) { lines.emplace_back(line); }, true);
    EXPECT_EQ(g_printerIO.Open(ntohs(a.sin_port), "127.0.0.1"), 1);
    platform::SetTraceObserver(nullptr);
    EXPECT_TRUE(lines.empty()) << lines.front();
    g_printerIO.Close();
    ::closesocket(listener);
}

}  // namespace
