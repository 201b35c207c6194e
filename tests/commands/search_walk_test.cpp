// The printer search: the request datagram, and the walk over the bytes
// collected in one window.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "command_fixture.h"
#include "commands/printer_search.h"

namespace cmdtest {
namespace {

TEST(SearchPayload, KeywordsAndDefaults) {
    const std::string pad9(9, ' ');
    EXPECT_EQ(SearchPayload(nullptr, nullptr), "ZK-Q920" + pad9 + "ZK-Q920" + pad9);
    EXPECT_EQ(SearchPayload("", "XY"), "ZK-Q920" + pad9 + "ZK-Q920" + pad9);
    EXPECT_EQ(SearchPayload("ABC", ""), "ABC" + std::string(13, ' '));
    EXPECT_EQ(SearchPayload("ABC", nullptr), "ABC" + std::string(13, ' '));
    EXPECT_EQ(SearchPayload("A", "B"), "A" + std::string(15, ' ') + "B" + std::string(15, ' '));
    // A long keyword is not cut.
    EXPECT_EQ(SearchPayload("0123456789ABCDEFGH", "B"),
              "0123456789ABCDEFGH" + std::string("B") + std::string(15, ' '));
}

TEST(SearchPayload, Datagram) {
    std::vector<uint8_t> expected = Hex("1C 2A 00 00 00 10");
    const std::string payload = SearchPayload("ABC", nullptr);
    expected.insert(expected.end(), payload.begin(), payload.end());
    EXPECT_EQ(SearchDatagram(payload), expected);
    EXPECT_EQ(SearchDatagram(SearchPayload(nullptr, nullptr)).size(), 38u);
    EXPECT_EQ(SearchDatagram(SearchPayload(nullptr, nullptr))[5], 0x20);
}

// A record: 2 unexamined bytes, the big-endian length, the data.
std::vector<uint8_t> Record(uint32_t length, uint8_t fill, size_t dataBytes) {
    std::vector<uint8_t> r{0x1C, 0x2A, static_cast<uint8_t>(length >> 24),
                           static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 8),
                           static_cast<uint8_t>(length)};
    r.insert(r.end(), dataBytes, fill);
    return r;
}
std::vector<uint8_t> Record(uint8_t fill) { return Record(32, fill, 32); }
std::vector<uint8_t> Echo(const std::string& payload) {
    std::vector<uint8_t> r = Record(32, 0, 0);
    r.insert(r.end(), payload.begin(), payload.end());
    r.resize(38, ' ');
    return r;
}

struct WalkCase {
    const char* name;
    std::string payload;
    std::vector<std::vector<uint8_t>> records;
    int max;
    std::vector<uint8_t> taken;  // fill bytes of the records taken, in order
};

std::vector<WalkCase> WalkCases() {
    const std::string two = SearchPayload(nullptr, nullptr);
    const std::string one = SearchPayload("ABC", nullptr);
    return {
        {"TwoKeywordsThreeReplies", two, {Record(1), Record(2), Record(3)}, 16, {1, 2, 3}},
        {"OneKeywordOneReply", one, {Record(9)}, 16, {9}},
        {"PayloadEchoSkipped", two, {Echo(two), Record(4)}, 16, {4}},
        {"OneKeywordEchoSkipped", one, {Echo(one), Record(5)}, 16, {5}},
        {"Length31Skipped", two, {Record(31, 6, 31), Record(7)}, 16, {7}},
        {"Length33Skipped", two, {Record(33, 6, 33), Record(8)}, 16, {8}},
        {"MaxTaken", two, {Record(1), Record(2), Record(3)}, 2, {1, 2}},
        {"ZeroMax", two, {Record(1)}, 0, {}},
        {"NegativeMax", two, {Record(1)}, -3, {}},
        {"NoReply", two, {}, 16, {}},
        {"LengthRunsPastTheEnd", two, {Record(1), Record(600, 2, 32)}, 16, {1}},
        {"HugeLength", two, {Record(0xFFFFFFF0u, 2, 32), Record(3)}, 16, {}},
        {"HeaderCutShort", two, {Record(1), {0x1C, 0x2A, 0x00}}, 16, {1}},
        {"DataCutShort", two, {Record(1), Record(32, 2, 20)}, 16, {1}},
        {"EmptyRecordsAdvance", two, {Record(0, 0, 0), Record(0, 0, 0), Record(4)}, 16, {4}},
    };
}

class SearchWalk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(SearchWalk, TakesTheRightRecords) {
    const WalkCase& c = GetParam();
    std::vector<uint8_t> received;
    for (const auto& r : c.records) received.insert(received.end(), r.begin(), r.end());
    // Exactly as many bytes as were collected: the sanitizers see any read
    // past them.
    std::vector<uint8_t> exact(received);
    std::vector<uint8_t> replies(32 * 17, 0xEE);
    char count[256] = "unchanged";
    const int taken = WalkSearchReplies(exact.data(), exact.size(), c.payload, c.max,
                                        replies.data(), count);
    ASSERT_EQ(taken, static_cast<int>(c.taken.size()));
    EXPECT_STREQ(count, c.taken.empty() ? "unchanged" : std::to_string(taken).c_str());
    for (size_t k = 0; k < c.taken.size(); ++k)
        for (size_t i = 0; i < 32; ++i) ASSERT_EQ(replies[32 * k + i], c.taken[k]) << k << ":" << i;
    for (size_t i = 32 * c.taken.size(); i < replies.size(); ++i) ASSERT_EQ(replies[i], 0xEE) << i;
}

INSTANTIATE_TEST_SUITE_P(Cases, SearchWalk, ::testing::ValuesIn(WalkCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SearchWalkLongPayload, ComparedOverTheRecordOnly) {
    // A payload longer than a record: a record that repeats its first 32
    // bytes is an echo; the walk never reads past the record.
    const std::string payload = SearchPayload("0123456789ABCDEFGHIJ", "KLMNOPQRSTUVWXYZ");
    ASSERT_GT(payload.size(), 32u);
    std::vector<uint8_t> received = Record(32, 0, 0);
    received.insert(received.end(), payload.begin(), payload.begin() + 32);
    std::vector<uint8_t> other = Record(7);
    received.insert(received.end(), other.begin(), other.end());
    std::vector<uint8_t> replies(64, 0);
    EXPECT_EQ(WalkSearchReplies(received.data(), received.size(), payload, 16, replies.data(),
                                nullptr),
              1);
    EXPECT_EQ(replies[0], 7);
}

// Arbitrary bytes with lengths of every kind: the walk stays inside what
// was collected, always advances, and takes no more than fits.
TEST(SearchWalkArbitraryBytes, StaysInsideAndAdvances) {
    const std::string payload = SearchPayload(nullptr, nullptr);
    uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    const uint32_t lengths[] = {0, 1, 26, 31, 32, 33, 570, 571, 602, 0x7FFFFFFF, 0xFFFFFFFF};
    for (int round = 0; round < 20000; ++round) {
        std::vector<uint8_t> received(next() % (kSearchBufferSize + 1));
        for (uint8_t& b : received) b = static_cast<uint8_t>(next());
        // Plant plausible headers so that the walk goes past the first one.
        for (size_t at = 0; at + 6 <= received.size(); at += 6 + 32) {
            if (next() % 4 == 0) continue;
            const uint32_t length = lengths[next() % (sizeof lengths / sizeof lengths[0])];
            received[at + 2] = static_cast<uint8_t>(length >> 24);
            received[at + 3] = static_cast<uint8_t>(length >> 16);
            received[at + 4] = static_cast<uint8_t>(length >> 8);
            received[at + 5] = static_cast<uint8_t>(length);
        }
        const int max = static_cast<int>(next() % 20) - 2;
        // Exactly as many reply slots as could be taken.
        std::vector<uint8_t> replies(32 * (received.size() / 38) + 1, 0xEE);
        char count[256] = "none";
        const int taken = WalkSearchReplies(received.data(), received.size(), payload, max,
                                            replies.data(), count);
        ASSERT_GE(taken, 0);
        ASSERT_LE(taken, max < 0 ? 0 : max);
        ASSERT_LE(static_cast<size_t>(taken), received.size() / 38);
        ASSERT_EQ(replies.back(), 0xEE);
        ASSERT_STREQ(count, taken == 0 ? "none" : std::to_string(taken).c_str());
    }
}

TEST(SearchWindow, ClosesWhenTheWholeSecondsMoveOnByThree) {
    // Started at the very beginning of a second: three full seconds.
    EXPECT_FALSE(SearchWindowClosed(5000, 5000));
    EXPECT_FALSE(SearchWindowClosed(5000, 7999));
    EXPECT_TRUE(SearchWindowClosed(5000, 8000));
    // Started late in a second: a little over two seconds.
    EXPECT_FALSE(SearchWindowClosed(5999, 7999));
    EXPECT_TRUE(SearchWindowClosed(5999, 8000));
    // Never more than three seconds and never less than two, wherever the
    // start falls, also across the wrap of the millisecond counter.
    for (uint32_t start : {0u, 999u, 123456u, 0xFFFFFFFFu - 1500u}) {
        EXPECT_FALSE(SearchWindowClosed(start, start + 1999)) << start;
        EXPECT_TRUE(SearchWindowClosed(start, start + 3000)) << start;
    }
}

}  // namespace
}  // namespace cmdtest
