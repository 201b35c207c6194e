// main() of the umockdev tests: re-executes the test program with
// umockdev's preload library in LD_PRELOAD (and the sanitizer's link-order
// check off, which a preloaded library would trip), then runs the tests.
#include "tests/usb_libusb/preload_launcher.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace usbtest {
namespace {

constexpr const char* kTriedMarker = "QUILLON_UMOCKDEV_REEXEC";

std::string& Reason() {
    static std::string reason;
    return reason;
}

bool Preloaded() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

// Returns only when the program cannot (or need not) start again.
void StartUnderPreload(char** argv) {
    if (Preloaded()) return;
    if (std::getenv(kTriedMarker) != nullptr) {
        Reason() = "umockdev's preload library did not take effect (LD_PRELOAD ignored?)";
        return;
    }
    if (::access(UMOCKDEV_PRELOAD_PATH, R_OK) != 0) {
        Reason() = std::string("umockdev's preload library ") + UMOCKDEV_PRELOAD_PATH +
                   " is missing (package umockdev): the libusb tests cannot run here";
        return;
    }
    std::string preload = UMOCKDEV_PRELOAD_PATH;
    if (const char* old = std::getenv("LD_PRELOAD"); old != nullptr && *old != '\0')
        preload += std::string(":") + old;
    std::string asan = "verify_asan_link_order=0";
    if (const char* old = std::getenv("ASAN_OPTIONS"); old != nullptr && *old != '\0')
        asan = std::string(old) + ":" + asan;
    ::setenv("LD_PRELOAD", preload.c_str(), 1);
    ::setenv("ASAN_OPTIONS", asan.c_str(), 1);
    ::setenv(kTriedMarker, "1", 1);
    ::execv("/proc/self/exe", argv);
    Reason() = std::string("cannot start again under umockdev: ") + std::strerror(errno);
}

}  // namespace

const std::string& UmockdevUnavailable() { return Reason(); }

}  // namespace usbtest

int main(int argc, char** argv) {
    usbtest::StartUnderPreload(argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
