// The umockdev tests need their whole process under umockdev's preload
// library (libusb and the testbed both go through it). Their main() starts
// the program again under the preload when it is not there yet; where that
// cannot be done, the tests skip and say why.
#pragma once

#include <string>

namespace usbtest {

// Empty when the process runs under the preload; otherwise why not.
const std::string& UmockdevUnavailable();

}  // namespace usbtest

// Skips the current test when umockdev cannot run here.
#define SKIP_WITHOUT_UMOCKDEV()                                              \
    do {                                                                     \
        if (!::usbtest::UmockdevUnavailable().empty())                       \
            GTEST_SKIP() << ::usbtest::UmockdevUnavailable();                \
    } while (0)
