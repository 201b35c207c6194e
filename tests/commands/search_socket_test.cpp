// The printer search's socket failures. Each case runs in a child process
// that first moves into a network namespace of its own, with only its
// loopback interface up and no route beyond it: whatever the search does, nothing it sends can leave
// that namespace (the machine's own network is never touched).
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

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
