// The printer's side of the FS command frames, the stream's framing rules
// and the UDP printer search.
#include <gtest/gtest.h>

#include <ostream>

#include <nlohmann/json.hpp>

#include "tests/sim/host.h"

namespace {

using namespace simtest;

sim::Scenario Described() {
    sim::Scenario s;
    s.errorInfo = Pattern(22, 1);
    s.productInfo = Pattern(36, 2);
    s.systemInfo = Pattern(51, 3);
    s.status = Bytes(60, 0x40);
    s.netSettings = Pattern(64, 4);
    s.printerData = Pattern(300, 5);
    s.log = Pattern(5000, 6);
    return s;
}

struct LengthCase {
    const char* name;
    Bytes request;      // the frame as the command set sends it
    uint32_t replied;   // data bytes in the reply
    Bytes (*expected)(const sim::Scenario&);
};
void PrintTo(const LengthCase& c, std::ostream* os) { *os << c.name; }

Bytes Prefix(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + n); }

class LengthRequests : public ::testing::TestWithParam<LengthCase> {};

TEST_P(LengthRequests, ReplyCarriesTheSmallerOfAskedAndAvailable) {
    const LengthCase& c = GetParam();
    const sim::Scenario s = Described();
    Host host(s);
    const Reply r = host.Exchange({c.request});
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(r.introducer, 0x1C);
    EXPECT_EQ(r.code, c.request[1]);
    EXPECT_EQ(r.length, c.replied);
    EXPECT_EQ(r.data, c.expected(s));
    ASSERT_EQ(host.printer->frames().size(), 1u);
    EXPECT_FALSE(host.printer->frames()[0].refused);
    EXPECT_EQ(host.printer->frames()[0].parameter, GetBE32(&c.request[2]));
}

INSTANTIATE_TEST_SUITE_P(
    Fs, LengthRequests,
    ::testing::Values(
        LengthCase{"S22", {0x1C, 0x53, 0, 0, 0, 0x16}, 22,
                   [](const sim::Scenario& s) { return s.errorInfo; }},
        LengthCase{"S5", {0x1C, 0x53, 0, 0, 0, 0x05}, 5,
                   [](const sim::Scenario& s) { return Prefix(s.errorInfo, 5); }},
        LengthCase{"S100", {0x1C, 0x53, 0, 0, 0, 100}, 22,
                   [](const sim::Scenario& s) { return s.errorInfo; }},
        LengthCase{"I36", {0x1C, 0x49, 0, 0, 0, 0x24}, 36,
                   [](const sim::Scenario& s) { return s.productInfo; }},
        LengthCase{"T60", {0x1C, 0x54, 0, 0, 0, 0x3C}, 60,
                   [](const sim::Scenario& s) { return s.status; }},
        LengthCase{"J64", {0x1C, 0x4A, 0, 0, 0, 0x40}, 64,
                   [](const sim::Scenario& s) { return s.netSettings; }},
        LengthCase{"G0", {0x1C, 0x47, 0, 0, 0, 0}, 0, [](const sim::Scenario&) { return Bytes{}; }},
        LengthCase{"G1000", {0x1C, 0x47, 0, 0, 0x03, 0xE8}, 300,
                   [](const sim::Scenario& s) { return s.printerData; }},
        LengthCase{"VDefault", {0x1C, 0x56, 0, 0x10, 0, 0}, 5000,
                   [](const sim::Scenario& s) { return s.log; }},
        LengthCase{"V1000", {0x1C, 0x56, 0, 0, 0x03, 0xE8}, 1000,
                   [](const sim::Scenario& s) { return Prefix(s.log, 1000); }},
        LengthCase{"A", {0x1C, 0x41, 0, 0, 0, 0}, 0, [](const sim::Scenario&) { return Bytes{}; }}),
    [](const ::testing::TestParamInfo<LengthCase>& info) { return std::string(info.param.name); });

TEST(SystemInformation, CarriesVersionAndIdentifierOverTheScenarioBytes) {
    sim::Scenario s = Described();
    s.version = "2.1";  // shown as four characters
    s.identifier = "AB12";
    Host host(s);
    const Reply r = host.Exchange({{0x1C, 0x59, 0, 0, 0, 0x33}});
    ASSERT_TRUE(r.complete);
    ASSERT_EQ(r.length, 51u);
    EXPECT_EQ(Prefix(r.data, 38), Prefix(s.systemInfo, 38));
    EXPECT_EQ(std::string(r.data.begin() + 38, r.data.begin() + 42), "2.1 ");
    EXPECT_EQ(Bytes(r.data.begin() + 42, r.data.begin() + 50), (Bytes{'A', 'B', '1', '2', 0, 0, 0, 0}));
    EXPECT_EQ(r.data[50], s.systemInfo[50]);

    // The healthy default printer.
    Host plain;
    const Reply d = plain.Fs('Y', 51);
    EXPECT_EQ(std::string(d.data.begin() + 38, d.data.begin() + 50), "1.2 ZKQ00001");
    // Fewer bytes asked: fewer sent.
    EXPECT_EQ(plain.Fs('Y', 40).length, 40u);
}

TEST(StatusInformation, BusyBitForTheFirstRequestsOnly) {
    sim::Scenario s;
    s.busyPolls = 2;
    Host host(s);
    EXPECT_EQ(host.Fs('T', 60).data[0], 0x02);
    EXPECT_EQ(host.Fs('T', 60).data[0], 0x02);
    const Reply third = host.Fs('T', 60);
    EXPECT_EQ(third.data, Bytes(60, 0));
}

TEST(PrintReservation, AnswersTheScenarioResultForEachRequestCode) {
    sim::Scenario s;
    s.reserveResult = 2;
    Host host(s);
    for (uint8_t code : {0, 1, 2}) {
        const Reply r = host.Exchange({{0x1C, 0x3D, 0, 0, 0, 0x01, code}});
        ASSERT_TRUE(r.complete);
        EXPECT_EQ(r.code, '=');
        EXPECT_EQ(r.data, Bytes{2});
    }
}

TEST(NetworkSettings, ChangeIsStoredAndReadBackAndLockIsAnswered) {
    Host host;
    EXPECT_EQ(host.Fs('J', 64).data, Bytes(64, 0));
    const Bytes head = Pattern(10, 9);
    const Reply k = host.Fs('K', 10, head);
    ASSERT_TRUE(k.complete);
    EXPECT_EQ(k.code, 'K');
    EXPECT_EQ(k.length, 0u);
    Bytes expected(64, 0);
    std::copy(head.begin(), head.end(), expected.begin());
    EXPECT_EQ(host.Fs('J', 64).data, expected);
    EXPECT_EQ(host.Exchange({{0x1C, 0x48, 0, 0, 0, 0x01, 0x01}}).code, 'H');
}

TEST(PrintJob, TextCommandsAndAPlaneArriveInPieces) {
    Host host;
    const Bytes frames[] = {
        {0x1C, 0x50, 0, 0, 0, 0x06, 0x1B, 0x40, 0x31, 0x2C, 0x31, 0x2E},  // ESC @ 1,1.
        {0x1C, 0x50, 0, 0, 0, 0x02, 0x1B, 0x3E},                          // ESC >
        {0x1C, 0x50, 0, 0, 0, 0x04, 0x1B, 0x4E, 0x31, 0x2E},              // ESC N 1.
        {0x1C, 0x50, 0, 0, 0, 0x04, 0x1B, 0x4D, 0x2C, 0x2C},              // ESC M ,,
        {0x1C, 0x50, 0, 0, 0, 0x02, 0x1B, 0x48},                          // ESC H
        {0x1C, 0x50, 0, 0, 0, 0x02, 0x1B, 0x54},                          // ESC T
    };
    for (const Bytes& f : frames) {
        const Reply r = host.Exchange({f});
        ASSERT_TRUE(r.complete);
        EXPECT_EQ(r.code, 'P') << int(f[7]);
        EXPECT_EQ(r.length, 0u);
    }
    // One plane: 1C 50 00 28 A0 1A, ESC J, 24 zero bytes, 2,662,400 bytes,
    // in uneven writes.
    Bytes plane = Concat({{0x1B, 0x4A}, Bytes(24, 0), Pattern(2662400, 7)});
    host.Write({0x1C, 0x50, 0x00, 0x28, 0xA0, 0x1A});
    size_t at = 0;
    for (size_t piece : {1u, 25u, 100000u, 1u}) {
        host.Write(Bytes(plane.begin() + at, plane.begin() + at + piece));
        at += piece;
        EXPECT_EQ(host.printer->Pending(), 0u) << "answered before the plane was complete";
    }
    host.Write(Bytes(plane.begin() + at, plane.end()));
    const Reply r = Host::Parse(host.Drain());
    EXPECT_EQ(r.code, 'P');
    EXPECT_EQ(host.printer->stats().planesReceived, 1u);
    // The log keeps the plane's first 26 bytes and its size only.
    const sim::Frame& logged = host.printer->frames().back();
    EXPECT_EQ(logged.parameter, 2662426u);
    EXPECT_EQ(logged.payload, Bytes(plane.begin(), plane.begin() + 26));
    // The stream is in step afterwards.
    EXPECT_EQ(host.Fs('Y', 51).length, 51u);
}

struct RefusalCase {
    const char* name;
    Bytes frame;
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class FsRefusals : public ::testing::TestWithParam<RefusalCase> {};

// Each is refused with 0x15 and no data, changes nothing, and the stream
// stays in step: the next request is answered normally.
TEST_P(FsRefusals, RefusedAndTheStreamStaysInStep) {
    Host host;
    const Reply r = host.Exchange({GetParam().frame});
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(r.introducer, 0x1C);
    EXPECT_EQ(r.code, kNak);
    EXPECT_EQ(r.length, 0u);
    ASSERT_EQ(host.printer->frames().size(), 1u);
    EXPECT_TRUE(host.printer->frames()[0].refused);
    EXPECT_EQ(host.printer->stats().refusals, 1u);
    EXPECT_EQ(host.printer->stats().planesReceived, 0u);
    EXPECT_EQ(host.Fs('J', 64).data, Bytes(64, 0)) << "network settings changed";
    EXPECT_EQ(host.Fs('Y', 51).length, 51u);
}

INSTANTIATE_TEST_SUITE_P(
    Fs, FsRefusals,
    ::testing::Values(
        RefusalCase{"UnknownLetter", {0x1C, 'Z', 0, 0, 0, 0}},
        RefusalCase{"SearchOnTheLink", {0x1C, '*', 0, 0, 0, 0}},
        RefusalCase{"StopWithParameter", {0x1C, 'A', 0, 0, 0, 1}},
        RefusalCase{"ReserveCodeThree", {0x1C, '=', 0, 0, 0, 1, 3}},
        RefusalCase{"ReserveTwoBytes", {0x1C, '=', 0, 0, 0, 2, 1, 1}},
        RefusalCase{"ReserveWithoutPayload", {0x1C, '=', 0, 0, 0, 0}},
        RefusalCase{"LanConfigTwo", {0x1C, 'H', 0, 0, 0, 1, 2}},
        RefusalCase{"SettingsOf65Bytes", Concat({{0x1C, 'K', 0, 0, 0, 65}, Bytes(65, 7)})},
        RefusalCase{"PrintWithoutEsc", {0x1C, 'P', 0, 0, 0, 2, 0x1A, 0x3E}},
        RefusalCase{"PrintOneByte", {0x1C, 'P', 0, 0, 0, 1, 0x1B}},
        RefusalCase{"PrintUnknownEscLetter", {0x1C, 'P', 0, 0, 0, 2, 0x1B, 'Z'}},
        RefusalCase{"PrintEscEHasNoFrame", {0x1C, 'P', 0, 0, 0, 2, 0x1B, 'E'}},
        RefusalCase{"ResetWithoutStop", {0x1C, 'P', 0, 0, 0, 3, 0x1B, '@', '1'}},
        RefusalCase{"PrintStartWithText", {0x1C, 'P', 0, 0, 0, 3, 0x1B, '>', '1'}},
        RefusalCase{"PlaneOneByteShort",
                    Concat({{0x1C, 'P', 0x00, 0x28, 0xA0, 0x19, 0x1B, 'J'}, Bytes(2662423, 0)})}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

TEST(Framing, HeaderAndPayloadMayArriveByteByByte) {
    Host host;
    const Bytes frame = {0x1C, 0x3D, 0, 0, 0, 0x01, 0x01, 0x1C, 0x59, 0, 0, 0, 0x33};
    for (uint8_t b : frame) host.Write({b});
    const Bytes raw = host.Drain();
    ASSERT_EQ(raw.size(), 7u + 57u);
    EXPECT_EQ(Bytes(raw.begin(), raw.begin() + 7), (Bytes{0x1C, 0x3D, 0, 0, 0, 1, 1}));
    EXPECT_EQ(raw[8], 0x59);
    EXPECT_EQ(host.printer->stats().framesReceived, 2u);
    EXPECT_EQ(host.printer->stats().replies, 2u);
}

TEST(Framing, UnknownIntroducerIsRefusedAndTheRestOfItsWriteDiscarded) {
    Host host;
    // Garbage with what looks like a frame behind it in the same write.
    host.Write(Concat({{0x42, 'Y', 0, 0, 0, 0x33}, {0x1C, 0x59, 0, 0, 0, 0x33}}));
    const Reply r = Host::Parse(host.Drain());
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(r.introducer, 0x42);
    EXPECT_EQ(r.code, kNak);
    EXPECT_EQ(r.length, 0u);
    ASSERT_EQ(host.printer->frames().size(), 1u);
    EXPECT_TRUE(host.printer->frames()[0].refused);
    // A clean write afterwards is understood.
    EXPECT_EQ(host.Fs('Y', 51).length, 51u);
}

TEST(Framing, PayloadLargerThanAnyFrameIsRefusedOnItsHeader) {
    Host host;
    host.Write(Concat({{0x1D, 'R', 0xFF, 0xFF, 0xFF, 0xFF}, Bytes(100, 0x1C)}));
    const Reply r = Host::Parse(host.Drain());
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(r.code, kNak);
    EXPECT_EQ(host.printer->stats().framesReceived, 1u);
    EXPECT_EQ(host.Fs('Y', 51).length, 51u);
}

TEST(Framing, ConnectDiscardsAHalfFrameAndAnUnreadReply) {
    Host host;
    host.Write({0x1C, 0x59, 0, 0, 0, 0x33});  // answered, never read
    host.Write({0x1C, 0x3D, 0, 0});          // half a header
    host.printer->Connect();
    EXPECT_EQ(host.printer->Pending(), 0u);
    const Reply r = host.Fs('Y', 51);
    EXPECT_EQ(r.code, 'Y');
    EXPECT_EQ(r.length, 51u);
    EXPECT_EQ(host.printer->stats().framesReceived, 2u);
}

TEST(Summary, IsAJsonObjectWithTheCounters) {
    Host host;
    host.Fs('Y', 51);
    host.Fs('Z', 0);
    const nlohmann::json j = nlohmann::json::parse(host.printer->SummaryJson());
    ASSERT_TRUE(j.is_object());
    EXPECT_EQ(j["framesReceived"], 2);
    EXPECT_EQ(j["replies"], 2);
    EXPECT_EQ(j["refusals"], 1);
    EXPECT_EQ(j["faultsFired"], 0);
    EXPECT_EQ(j["blocksWritten"], 0);
    EXPECT_EQ(j["restarts"], 0);
    EXPECT_EQ(j["mode"], 1);
    EXPECT_EQ(j["version"], "1.2 ");
    EXPECT_EQ(j["layout"], 6);
    EXPECT_EQ(j["linkUp"], true);
}

// --- printer search -----------------------------------------------------------

Bytes Search(const std::string& keywords) {
    return Concat({Header(0x1C, '*', static_cast<uint32_t>(keywords.size())), Text(keywords)});
}

TEST(Search, OneReplyPerRecordPaddedToThirtyTwoBytes) {
    sim::Scenario s;
    s.searchRecords = {Pattern(32, 1), Text("short"), Pattern(40, 2)};
    sim::VirtualPrinter printer(s);
    const Bytes request = Search("ZK-Q920         ZK-Q920         ");
    const auto replies = printer.AnswerSearch(request.data(), request.size());
    ASSERT_EQ(replies.size(), 3u);
    for (const Bytes& r : replies) {
        ASSERT_EQ(r.size(), 38u);
        EXPECT_EQ(GetBE32(&r[2]), 32u);
    }
    EXPECT_EQ(Bytes(replies[0].begin() + 6, replies[0].end()), Pattern(32, 1));
    Bytes shortRecord = Text("short");
    shortRecord.resize(32, 0);
    EXPECT_EQ(Bytes(replies[1].begin() + 6, replies[1].end()), shortRecord);
    EXPECT_EQ(Bytes(replies[2].begin() + 6, replies[2].end()), Prefix(Pattern(40, 2), 32));
    EXPECT_EQ(printer.stats().searchesAnswered, 1u);
    EXPECT_EQ(printer.stats().framesReceived, 0u) << "a search is not a link frame";
}

TEST(Search, MalformedRequestsGetNoReply) {
    sim::Scenario s;
    s.searchRecords = {Pattern(32, 1)};
    sim::VirtualPrinter printer(s);
    Bytes wrongLength = Search("ABC             ");
    wrongLength[5] = 0x11;
    Bytes wrongLetter = Search("ABC             ");
    wrongLetter[1] = 'Y';
    Bytes wrongIntroducer = Search("ABC             ");
    wrongIntroducer[0] = 0x1D;
    const Bytes cases[] = {wrongLength, wrongLetter, wrongIntroducer, Header(0x1C, '*', 0),
                           Bytes{0x1C, '*', 0}, Bytes{}};
    for (const Bytes& c : cases)
        EXPECT_TRUE(printer.AnswerSearch(c.data(), c.size()).empty()) << c.size();
    const Bytes one = Search("ABC             ");
    EXPECT_EQ(printer.AnswerSearch(one.data(), one.size()).size(), 1u);
}

}  // namespace
