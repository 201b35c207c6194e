// The printer search's socket failures. Each case runs in a child process
// that first moves into a network namespace of its own, with only its
// loopback interface up and no route beyond it: whatever the search does, nothing it sends can leave
// that namespace (the machine's own network is never touched).
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "commands/printer_search.h"
#include "link/byte_order.h"
#include "link/printer_io.h"
#include "platform/trace_sink.h"

namespace {

constexpr int kNoNamespace = 77;

// Brings the namespace's loopback interface up, so that the namespace knows
// which addresses are its own (127.0.0.0/8 only).
bool LoopbackUp() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return up;
}

// Runs body in a forked child inside a fresh network namespace; returns
// the child's exit status (kNoNamespace when the namespace could not be
// made). The body reports its own mismatches on standard error.
int InPrivateNetwork(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (::unshare(CLONE_NEWNET) != 0 || !LoopbackUp()) ::_exit(kNoNamespace);
        const int status = body();
        std::fflush(nullptr);
        ::_exit(status);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// One search with the given own address; checks the result, that exactly
// one trace line names the method and the failed operation, and that
// neither the reply array nor the count text was written.
int FailingSearch(const char* ownAddress, const char* operation) {
    std::vector<std::string> traces;
    platform::SetTraceObserver([&](std::string_view line) { traces.emplace_back(line); }, true);
    char k1[256] = "", k2[256] = "", own[256] = "", max[256] = "16", count[256] = "keep";
    std::snprintf(own, sizeof own, "%s", ownAddress);
    std::vector<uint8_t> replies(32 * 16, 0xEE);
    char* args[6] = {k1, k2, own, max, reinterpret_cast<char*>(replies.data()), count};
    const int result = g_printerIO.CmdSearchPrinter(args);
    platform::SetTraceObserver(nullptr);

    int failures = 0;
    auto check = [&](bool ok, const std::string& what) {
        if (!ok) {
            std::fprintf(stderr, "mismatch: %s\n", what.c_str());
            ++failures;
        }
    };
    check(result == 0, "result " + std::to_string(result));
    check(traces.size() == 1, std::to_string(traces.size()) + " trace lines");
    if (!traces.empty()) {
        check(traces[0].rfind("CPrinterIO::CmdSearchPrinter() [", 0) == 0, traces[0]);
        check(traces[0].find(std::string("] ") + operation + " -[") != std::string::npos,
              traces[0]);
    }
    check(std::string(count) == "keep", std::string("count text ") + count);
    for (uint8_t b : replies) {
        if (b != 0xEE) {
            check(false, "reply array written");
            break;
        }
    }
    return failures == 0 ? 0 : 1;
}

struct SocketCase {
    const char* name;
    const char* ownAddress;
    const char* operation;
};

class SearchSocketFailure : public ::testing::TestWithParam<SocketCase> {};

TEST_P(SearchSocketFailure, ReturnsZeroAfterOneTrace) {
    const SocketCase& c = GetParam();
    const int status = InPrivateNetwork([&] { return FailingSearch(c.ownAddress, c.operation); });
    if (status == kNoNamespace) GTEST_SKIP() << "no network namespace of its own (needs root)";
    EXPECT_EQ(status, 0) << "see the mismatch lines above";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SearchSocketFailure,
    ::testing::Values(
        // An address the machine does not have cannot be bound.
        SocketCase{"ForeignOwnAddress", "10.213.254.254", "bind"},
        // A text that is no address is not taken for the broadcast address
        // it converts to.
        SocketCase{"OwnAddressNotDotted", "printer.local", "bind"},
        // Bound to any address, but no route for the broadcast.
        SocketCase{"NoRouteForTheBroadcast", "", "sendto"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Replies that do not fit -----------------------------------------------

constexpr int kNoVethPair = 78;

// Gives the namespace a way out for the limited broadcast: a veth pair whose
// two ends both stay inside it, an address on one end and a default route
// through it. The broadcast then also reaches the namespace's own sockets.
bool BroadcastRouteInside() {
    return std::system("ip link add va type veth peer name vb 2>/dev/null &&"
                       " ip addr add 10.213.0.1/24 dev va && ip link set va up &&"
                       " ip link set vb up && ip route add default dev va") == 0;
}

// A reply datagram: 1C 2A, the length of the data, the data.
std::vector<uint8_t> ReplyDatagram(size_t length, uint8_t fill) {
    std::vector<uint8_t> d(6 + length, fill);
    d[0] = 0x1C;
    d[1] = 0x2A;
    PutBE32(&d[2], static_cast<uint32_t>(length));
    return d;
}

// Answers one search request on port 9100 with these datagrams, in order,
// sent to where the request came from. False when no request came within
// five seconds or a send failed.
bool AnswerOneSearch(int fd, const std::vector<std::vector<uint8_t>>& answers) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) != 1) return false;
    uint8_t request[512];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    if (::recvfrom(fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from),
                   &fromLength) <= 0)
        return false;
    for (const std::vector<uint8_t>& a : answers)
        if (::sendto(fd, a.data(), a.size(), 0, reinterpret_cast<const sockaddr*>(&from),
                     fromLength) != static_cast<ssize_t>(a.size()))
            return false;
    return true;
}

// A reply too large for the space left in the collection buffer is dropped
// whole, and collecting goes on: the printers that answer after it are
// found. Two such replies: one larger than the whole buffer, and one that
// would fit an empty buffer but not the space left after a record.
int SearchPastOversizedReplies() {
    if (!BroadcastRouteInside()) return kNoVethPair;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(9100);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        std::fprintf(stderr, "mismatch: no responder socket\n");
        return 1;
    }
    const std::vector<std::vector<uint8_t>> answers = {
        ReplyDatagram(kSearchRecordSize, 0xA1),
        ReplyDatagram(kSearchBufferSize - 8, 0xEE),  // fits 608 bytes, not the 570 left
        ReplyDatagram(kSearchRecordSize, 0xB2),
        ReplyDatagram(4000, 0xEE),                   // larger than the whole buffer
        ReplyDatagram(kSearchRecordSize, 0xC3),
    };
    bool answered = false;
    std::thread responder([&] { answered = AnswerOneSearch(fd, answers); });

    platform::SetTraceObserver([](std::string_view) {}, true);
    char k1[256] = "", k2[256] = "", own[256] = "", max[256] = "16", count[256] = "none";
    std::vector<uint8_t> replies(32 * 16, 0);
    char* args[6] = {k1, k2, own, max, reinterpret_cast<char*>(replies.data()), count};
    const int result = g_printerIO.CmdSearchPrinter(args);
    platform::SetTraceObserver(nullptr);
    responder.join();
    ::close(fd);

    int failures = 0;
    auto check = [&](bool ok, const std::string& what) {
        if (!ok) {
            std::fprintf(stderr, "mismatch: %s\n", what.c_str());
            ++failures;
        }
    };
    check(answered, "the responder saw no search request");
    check(result == 1, "result " + std::to_string(result));
    check(std::string(count) == "3", std::string("count text ") + count);
    const uint8_t expected[3] = {0xA1, 0xB2, 0xC3};
    for (size_t k = 0; k < 3; ++k)
        check(replies[32 * k] == expected[k] && replies[32 * k + 31] == expected[k],
              "reply " + std::to_string(k) + " starts with " + std::to_string(replies[32 * k]));
    check(replies[32 * 3] == 0, "a fourth reply was written");
    return failures == 0 ? 0 : 1;
}

TEST(SearchCollection, AReplyTooLargeForTheSpaceLeftHidesNoPrinterAfterIt) {
    const int status = InPrivateNetwork(SearchPastOversizedReplies);
    if (status == kNoNamespace) GTEST_SKIP() << "no network namespace of its own (needs root)";
    if (status == kNoVethPair) GTEST_SKIP() << "no veth pair inside the namespace";
    EXPECT_EQ(status, 0) << "see the mismatch lines above";
}

TEST(SearchArguments, MissingArrayOrVectorSendsNothing) {
    const int status = InPrivateNetwork([] {
        std::vector<std::string> traces;
        platform::SetTraceObserver([&](std::string_view line) { traces.emplace_back(line); },
                                   true);
        char empty[256] = "", max[256] = "16", count[256] = "0";
        char* noArray[6] = {empty, empty, empty, max, nullptr, count};
        const bool refused = g_printerIO.CmdSearchPrinter(noArray) == 0 &&
                             g_printerIO.CmdSearchPrinter(nullptr) == 0;
        platform::SetTraceObserver(nullptr);
        bool traced = traces.size() == 2;
        for (const std::string& t : traces)
            traced = traced && t.find("CPrinterIO::CmdSearchPrinter() ") == 0 &&
                     t.find("引数エラー") != std::string::npos;
        if (!refused || !traced) {
            std::fprintf(stderr, "mismatch: refused %d, %zu trace lines\n", refused, traces.size());
            for (const std::string& t : traces) std::fprintf(stderr, "  %s", t.c_str());
            return 1;
        }
        return 0;
    });
    if (status == kNoNamespace) GTEST_SKIP() << "no network namespace of its own (needs root)";
    EXPECT_EQ(status, 0) << "see the mismatch lines above";
}

}  // namespace
