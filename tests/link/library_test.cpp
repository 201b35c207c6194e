// The access-library link: the sample library reaching the virtual printer
// over TCP, and counting the printers a library offers.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/printer_record.h"
#include "platform/dynlib.h"
#include "sim/transport/printer_host.h"
#include "sim/transport/tcp_server.h"
#include "tests/link/link_fixture.h"
#include "tests/support/build_path.h"
#include "tests/support/process_env.h"

namespace {

using linktest::TraceLine;
using linktest::WithoutLineNumber;

// The test libraries, as this process names them.
const std::string kSampleLibrary = testsupport::BuildPath(QV71XX_SAMPLE_PATH);
const std::string kEnumLibrary = testsupport::BuildPath(LINK_TEST_ENUM_LIBRARY);
const std::string kLyingLibrary = testsupport::BuildPath(LINK_TEST_LYING_LIBRARY);

// A loaded library, freed at the end of the scope.
class Module {
public:
    explicit Module(const std::string& path) : handle_(platform::LoadDynamicLibrary(path)) {}
    ~Module() { platform::FreeDynamicLibrary(handle_); }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    platform::ModuleHandle get() const { return handle_; }
    template <class F>
    F* Find(const char* name) const {
        return reinterpret_cast<F*>(platform::FindSymbol(handle_, name));
    }

private:
    platform::ModuleHandle handle_;
};

void SelectPrinter(const std::string& address) {
    memset(&g_selectedPrinter, 0, sizeof g_selectedPrinter);
    memcpy(g_selectedPrinter.bytes + 8, address.data(), address.size());
}

class LibraryLinkTest : public linktest::LinkTest {
protected:
    void Serve(sim::Scenario s = sim::Scenario()) {
        printer = std::make_unique<sim::VirtualPrinter>(std::move(s));
        host = std::make_unique<sim::PrinterHost>(*printer);
        server = std::make_unique<sim::TcpServer>(*host, 0);
        std::string error;
        ASSERT_TRUE(server->Listen(&error)) << error;
        server->Start();
        SelectPrinter("127.0.0.1:" + std::to_string(server->port()));
        ASSERT_NE(library.get(), nullptr);
        completeCount = library.Find<int32_t()>("qv71XXSampleCompleteCount");
        callLog = library.Find<const char*()>("qv71XXSampleCallLog");
        openCount = library.Find<int32_t()>("qv71XXSampleOpenCount");
        resetLog = library.Find<void()>("qv71XXSampleReset");
        ASSERT_TRUE(completeCount && callLog && openCount && resetLog);
        resetLog();
    }
    void TearDown() override {
        LinkTest::TearDown();  // closes the library link while the library is loaded
        if (server) server->Stop();
    }
    int32_t Exchange(uint8_t letter, uint32_t length, uint32_t limit) {
        buffer.assign(limit + 8, 0xEE);
        CommandBlock request{0x1C, letter, length, nullptr};
        CommandBlock reply{0, 0, 0, buffer.data()};
        return g_printerIO.SendRecv(&request, 0, &reply, limit);
    }
    // The frames the printer received, as letter + payload bytes.
    std::vector<std::string> FramesSeen() {
        return host->With([](sim::VirtualPrinter& p) {
            std::vector<std::string> out;
            for (const sim::Frame& f : p.frames()) {
                std::string s(1, static_cast<char>(f.letter));
                for (uint8_t b : f.payload) s += std::to_string(b);
                out.push_back(s);
            }
            return out;
        });
    }

    Module library{kSampleLibrary};
    std::unique_ptr<sim::VirtualPrinter> printer;
    std::unique_ptr<sim::PrinterHost> host;
    std::unique_ptr<sim::TcpServer> server;
    std::vector<uint8_t> buffer;
    int32_t (*completeCount)() = nullptr;
    const char* (*callLog)() = nullptr;
    int32_t (*openCount)() = nullptr;
    void (*resetLog)() = nullptr;
};

TEST_F(LibraryLinkTest, OpensExchangesAndClosesInOrder) {
    Serve();
    ASSERT_EQ(g_printerIO.OpenLibrary(library.get()), 1);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkLibrary);
    EXPECT_NE(g_printerIO.m_hPrinter, -1);
    EXPECT_STREQ(callLog(), "OpenPrinter,Reserve1");
    EXPECT_EQ(completeCount(), 0);

    ASSERT_EQ(Exchange('Y', 51, 51), 51);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data()) + 38, 4), "1.2 ");
    EXPECT_EQ(completeCount(), 1);
    EXPECT_EQ(Exchange('A', 0, 0), 0);
    EXPECT_EQ(completeCount(), 2);
    EXPECT_TRUE(traces.empty());

    resetLog();
    g_linkKind = kLinkLibrary;
    EXPECT_EQ(CloseLink(), 1);
    EXPECT_STREQ(callLog(), "WriteReadComplete,Reserve2,ClosePrinter,Terminate");
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkNone);
    EXPECT_EQ(g_printerIO.m_hPrinter, -1);
    EXPECT_EQ(openCount(), 0);
    for (uint8_t b : g_selectedPrinter.bytes) ASSERT_EQ(b, 0);
    EXPECT_EQ(FramesSeen(), (std::vector<std::string>{"=1", "Y", "A", "=2"}));

    // A second close finds nothing to close.
    resetLog();
    g_printerIO.CloseLibrary();
    EXPECT_STREQ(callLog(), "");
}

TEST_F(LibraryLinkTest, EveryExchangeCompletesOnceAlsoWhenItFails) {
    sim::Scenario s;
    sim::Fault drop;
    drop.atFrame = 3;  // FS = and FS Y pass; the printer drops the link on the third frame
    drop.action = sim::FaultAction::kDrop;
    drop.introducer = 0;
    s.faults.push_back(drop);
    s.dropReturnMs = 0;
    Serve(s);
    ASSERT_EQ(g_printerIO.OpenLibrary(library.get()), 1);

    EXPECT_EQ(Exchange('Z', 0, 0), -1);  // refused: another code comes back
    EXPECT_EQ(completeCount(), 1);
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(WithoutLineNumber(traces[0]),
              TraceLine("CPrinterIO::SendRecv", "NAK応答（送信コード=[Z] 受信コード=[15]）",
                        kErrorBadCommand));

    EXPECT_EQ(Exchange('Y', 51, 51), -1);  // the link drops
    EXPECT_EQ(completeCount(), 2);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Exchange('Y', 51, 51), -1);
        EXPECT_EQ(completeCount(), 3 + i);
    }
    // Each failed exchange wrote one line, from the library call that failed.
    EXPECT_EQ(traces.size(), 5u);
    for (size_t i = 1; i < traces.size(); ++i)
        EXPECT_NE(traces[i].find("m_qv71XX"), std::string::npos) << traces[i];
    EXPECT_EQ(g_printerIO.m_errorCategory, 0);  // library failures are not recorded
}

TEST_F(LibraryLinkTest, FailedLibraryWriteIsTracedAndStillCompletesTheExchange) {
    Serve();
    ASSERT_EQ(g_printerIO.OpenLibrary(library.get()), 1);
    // The library loses the printer behind the link's back.
    auto closePrinter = library.Find<int32_t(int32_t)>("qv71XXClosePrinter");
    ASSERT_NE(closePrinter, nullptr);
    ASSERT_EQ(closePrinter(g_printerIO.m_hPrinter), 0);
    EXPECT_EQ(Exchange('Y', 51, 51), -1);
    EXPECT_EQ(completeCount(), 1);
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(WithoutLineNumber(traces[0]), TraceLine("CPrinterIO::Send", "m_qv71XXWrite", sim::net::kErrorBadHandle));
    uint8_t b[4];
    EXPECT_EQ(g_printerIO.Recv(b, 4), -1);
    ASSERT_EQ(traces.size(), 2u);
    EXPECT_EQ(WithoutLineNumber(traces[1]), TraceLine("CPrinterIO::Recv", "m_qv71XXRead", sim::net::kErrorBadHandle));
    EXPECT_EQ(completeCount(), 1);  // plain transfers are no exchange
}

TEST_F(LibraryLinkTest, SampleLibraryEnumeratesWholeRecordsWithTheAddressAtByteEight) {
    Serve();
    testsupport::SetEnv("QV71XX_SAMPLE_PRINTERS", "127.0.0.1:9100, 127.0.0.1:9101 ,,10.0.0.1:1");
    auto enumerate = library.Find<int32_t(void*, int32_t, int32_t*, int32_t*)>("qv71XXEnumPrinters");
    ASSERT_NE(enumerate, nullptr);
    int32_t needed = 0, count = 0;
    ASSERT_EQ(enumerate(nullptr, 0, &needed, &count), 0);
    EXPECT_EQ(needed, 3 * 1308);
    EXPECT_EQ(count, 3);
    // Room for two records and a part of a third: two are written.
    std::vector<uint8_t> records(2 * 1308 + 1000, 0xEE);
    ASSERT_EQ(enumerate(records.data(), static_cast<int32_t>(records.size()), &needed, &count), 0);
    EXPECT_EQ(count, 2);
    EXPECT_STREQ(reinterpret_cast<const char*>(records.data() + 8), "127.0.0.1:9100");
    EXPECT_STREQ(reinterpret_cast<const char*>(records.data() + 1308 + 8), "127.0.0.1:9101");
    EXPECT_EQ(records[2 * 1308], 0xEE);  // the part record is left alone
    testsupport::UnsetEnv("QV71XX_SAMPLE_PRINTERS");
}

struct ReserveCase {
    const char* name;
    uint8_t printerResult;
    int opened;
};

class ReservationTest : public LibraryLinkTest, public ::testing::WithParamInterface<ReserveCase> {};

TEST_P(ReservationTest, OnlyGrantedOrInProgressOpens) {
    sim::Scenario s;
    s.reserveResult = GetParam().printerResult;
    Serve(s);
    EXPECT_EQ(g_printerIO.OpenLibrary(library.get()), GetParam().opened);
    EXPECT_EQ(g_printerIO.m_linkKind, GetParam().opened ? kLinkLibrary : kLinkNone);
    if (!GetParam().opened) {
        // The refused printer's handle is given back.
        EXPECT_EQ(g_printerIO.m_hPrinter, -1);
        EXPECT_EQ(openCount(), 0);
        EXPECT_STREQ(callLog(), "OpenPrinter,Reserve1,ClosePrinter");
    }
    EXPECT_TRUE(traces.empty());
}

INSTANTIATE_TEST_SUITE_P(Results, ReservationTest,
                         ::testing::Values(ReserveCase{"Granted", 1, 1},
                                           ReserveCase{"InProgress", 2, 1},
                                           ReserveCase{"Refused0", 0, 0},
                                           ReserveCase{"Refused3", 3, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LibraryLinkTest, UnreachablePrinterDoesNotOpen) {
    Serve();
    server->Stop();
    const uint16_t port = server->port();
    server.reset();  // nothing listens on the port now
    SelectPrinter("127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(g_printerIO.OpenLibrary(library.get()), 0);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkNone);
    EXPECT_EQ(g_printerIO.m_hPrinter, -1);
    EXPECT_TRUE(traces.empty());
}

TEST_F(LibraryLinkTest, ModuleZeroKeepsTheEarlierBinding) {
    Serve();
    EXPECT_EQ(g_printerIO.OpenLibrary(nullptr), 0);  // nothing bound yet
    ASSERT_EQ(g_printerIO.OpenLibrary(library.get()), 1);
    g_printerIO.CloseLibrary();
    ASSERT_EQ(g_printerIO.OpenLibrary(nullptr), 1);
    EXPECT_EQ(g_printerIO.m_hLibrary, library.get());
    EXPECT_EQ(Exchange('Y', 51, 51), 51);
}

TEST_F(LibraryLinkTest, OpenLinkUsesTheActiveLibrary) {
    Serve();
    g_linkKind = kLinkLibrary;
    g_libraries[1].module = library.get();
    g_activeLibrary = -1;  // as the application leaves it
    EXPECT_EQ(OpenLink(), 0);
    g_activeLibrary = 0;  // an entry whose library did not load
    EXPECT_EQ(OpenLink(), 0);
    g_activeLibrary = 1;
    EXPECT_EQ(OpenLink(), 1);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkLibrary);
}

TEST(LibraryWithoutOpen, DoesNotOpen) {
    ResetLinkForTest();
    Module enumOnly(kEnumLibrary);
    ASSERT_NE(enumOnly.get(), nullptr);
    EXPECT_EQ(g_printerIO.OpenLibrary(enumOnly.get()), 0);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkNone);
    ResetLinkForTest();
}

// CountLibraryPrinters over the sample library and a library that reports
// any number of bytes.
struct CountCase {
    const char* name;
    const char* library;  // null: an entry whose library did not load
    const char* samplePrinters;  // QV71XX_SAMPLE_PRINTERS
    int32_t needed;               // what the enumerating library reports
    int32_t result;               // and its result
    uint32_t count;               // 99: left as it was
    int32_t calls;                // calls into the enumerating library
    int32_t lastSize;             // buffer size of its last call
};

class CountTest : public ::testing::TestWithParam<CountCase> {};

TEST_P(CountTest, StoresWholeRecordsOnlyAfterASecondSuccessfulCall) {
    const CountCase& c = GetParam();
    if (c.samplePrinters != nullptr) testsupport::SetEnv("QV71XX_SAMPLE_PRINTERS", c.samplePrinters);
    std::unique_ptr<Module> module;
    if (c.library != nullptr) {
        module = std::make_unique<Module>(testsupport::BuildPath(c.library));
        ASSERT_NE(module->get(), nullptr);
        if (auto set = module->Find<void(int32_t, int32_t)>("linkTestSetNeeded"))
            set(c.needed, c.result);
    }
    LibraryEntry entry{0, 99, module ? module->get() : nullptr};
    CountLibraryPrinters(&entry);
    EXPECT_EQ(entry.printerCount, c.count);
    if (module) {
        if (auto calls = module->Find<int32_t()>("linkTestCalls")) {
            EXPECT_EQ(calls(), c.calls);
            EXPECT_EQ(module->Find<int32_t()>("linkTestLastSize")(), c.lastSize);
        }
    }
    testsupport::UnsetEnv("QV71XX_SAMPLE_PRINTERS");
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, CountTest,
    ::testing::Values(
        CountCase{"SampleTwoPrinters", QV71XX_SAMPLE_PATH, "127.0.0.1:9100,127.0.0.1:9101", 0, 0,
                  2, 0, 0},
        CountCase{"SampleNoPrinters", QV71XX_SAMPLE_PATH, "", 0, 0, 99, 0, 0},
        CountCase{"NeedsLessThanOneRecord", LINK_TEST_ENUM_LIBRARY, nullptr, 1307, 0, 0, 2, 0},
        CountCase{"NeedsOneByte", LINK_TEST_ENUM_LIBRARY, nullptr, 1, 0, 0, 2, 0},
        CountCase{"OneRecord", LINK_TEST_ENUM_LIBRARY, nullptr, 1308, 0, 1, 2, 1308},
        CountCase{"PartRecordIsCut", LINK_TEST_ENUM_LIBRARY, nullptr, 2617, 0, 2, 2, 2616},
        CountCase{"NothingNeeded", LINK_TEST_ENUM_LIBRARY, nullptr, 0, 0, 99, 1, 0},
        CountCase{"NegativeNeeded", LINK_TEST_ENUM_LIBRARY, nullptr, -1308, 0, 99, 1, 0},
        CountCase{"FirstCallFails", LINK_TEST_ENUM_LIBRARY, nullptr, 1308, 5, 99, 1, 0},
        CountCase{"LibraryDidNotLoad", nullptr, nullptr, 0, 0, 99, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// A library that reports more bytes moved than it was given room for must
// not move the link past the caller's buffer; a negative count fails.
struct LieCase {
    const char* name;
    int32_t lie;
    int32_t sent;      // Send of 10 bytes
    int32_t received;  // Recv of 6 bytes
    int32_t exchange;  // SendRecv of FS Y with limit 3
};

class LyingLibraryTest : public linktest::LinkTest, public ::testing::WithParamInterface<LieCase> {};

TEST_P(LyingLibraryTest, CountsAreBoundedByWhatWasAsked) {
    Module lying(kLyingLibrary);
    ASSERT_NE(lying.get(), nullptr);
    lying.Find<void(int32_t)>("linkTestSetLie")(GetParam().lie);
    const uint8_t replyBytes[] = {0x1C, 'Y', 0, 0, 0, 3, 'a', 'b', 'c'};
    lying.Find<void(const uint8_t*, int32_t)>("linkTestSetReply")(replyBytes, sizeof replyBytes);
    ASSERT_EQ(g_printerIO.OpenLibrary(lying.get()), 1);

    const uint8_t data[10] = {};
    EXPECT_EQ(g_printerIO.Send(data, 10), GetParam().sent);
    std::vector<uint8_t> header(6 + 64, 0xEE);  // room past the 6 for an overrun to show
    EXPECT_EQ(g_printerIO.Recv(header.data(), 6), GetParam().received);
    std::vector<uint8_t> payload(3 + 64, 0xEE);
    CommandBlock request{0x1C, 'Y', 3, nullptr};
    CommandBlock reply{0, 0, 0, payload.data()};
    EXPECT_EQ(g_printerIO.SendRecv(&request, 0, &reply, 3), GetParam().exchange);
    if (GetParam().exchange == 3) {
        EXPECT_EQ(std::string(reinterpret_cast<char*>(payload.data()), 3), "abc");
        EXPECT_EQ(payload[3], 0xEE);
    }
    g_printerIO.CloseLibrary();
}

INSTANTIATE_TEST_SUITE_P(Counts, LyingLibraryTest,
                         ::testing::Values(LieCase{"Honest", 0, 10, 6, 3},
                                           LieCase{"ReportsMore", 100, 10, 6, 3},
                                           LieCase{"ReportsNegative", -1, -1, -1, -1}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
