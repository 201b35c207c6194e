// The USB search where the device set misbehaves (the set cannot be had, a
// member cannot be named, a matching member has no interface), the listing
// behind quillon --list, and a pseudo-terminal as the printer's node: bytes
// pass unchanged both ways. The device sets are scripted and run
// everywhere; the listing and the node are POSIX (sysfs and a terminal).
#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/usb.h"
#include "sim/transport/inprocess_usb.h"
#include "tests/link/link_fixture.h"
#ifndef _WIN32
#include "sim/transport/unique_fd.h"
#endif

namespace fs = std::filesystem;

namespace {

using linktest::LinkTest;
using linktest::TraceLine;
using linktest::WithoutLineNumber;

// A device set as the test describes it; opening any path succeeds and is
// counted, transfers are refused.
class ScriptedSet : public platform::UsbBackend {
public:
    bool ListDevices(std::vector<platform::UsbMember>* members, unsigned long* error) override {
        if (setError != 0) {
            *error = setError;
            return false;
        }
        *members = this->members;
        return true;
    }
    bool Open(const std::string& path, platform::DeviceHandle* handle,
              unsigned long* error) override {
        opened.push_back(path);
        if (openError != 0) {
            *error = openError;
            return false;
        }
        *handle = 7;
        return true;
    }
    bool Write(platform::DeviceHandle, const void*, uint32_t, uint32_t*, unsigned long* e) override {
        ++transfers;
        *e = 5;
        return false;
    }
    bool Read(platform::DeviceHandle, void*, uint32_t, uint32_t*, unsigned long* e) override {
        ++transfers;
        *e = 5;
        return false;
    }
    void Close(platform::DeviceHandle) override { ++closes; }

    unsigned long setError = 0;
    unsigned long openError = 0;  // what Open fails with (0: it succeeds)
    std::vector<platform::UsbMember> members;
    std::vector<std::string> opened;
    int transfers = 0;
    int closes = 0;
};

platform::UsbMember Member(const char* id, const char* path) {
    platform::UsbMember m;
    m.instanceId = id;
    m.path = path;
    return m;
}

platform::UsbMember Unnamed(unsigned long error) {
    platform::UsbMember m;
    m.idReadable = false;
    m.idError = error;
    return m;
}

platform::UsbMember NoInterface(const char* id, unsigned long error) {
    platform::UsbMember m;
    m.instanceId = id;
    m.interfaceFound = false;
    m.interfaceError = error;
    return m;
}

struct SetCase {
    const char* name;
    unsigned long setError;
    std::vector<platform::UsbMember> members;
    const char* opened;   // nullptr: nothing is opened
    const char* traced;   // the one trace message, or nullptr
    unsigned long code;
};

class DeviceSetTest : public LinkTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(DeviceSetTest, SearchEndsWhereTheSystemFails) {
    ScriptedSet set;
    set.setError = GetParam().setError;
    set.members = GetParam().members;
    platform::SetUsbBackend(&set);
    const int r = g_printerIO.Open(0x5B7D, 0x0023, -1);
    if (GetParam().opened != nullptr) {
        EXPECT_EQ(r, 1);
        EXPECT_EQ(g_printerIO.m_linkKind, kLinkUsb);
        EXPECT_EQ(set.opened, std::vector<std::string>{GetParam().opened});
    } else {
        EXPECT_EQ(r, 0);
        EXPECT_EQ(g_printerIO.m_linkKind, kLinkNone);
        EXPECT_TRUE(set.opened.empty());
    }
    if (GetParam().traced != nullptr) {
        ASSERT_EQ(traces.size(), 1u);
        EXPECT_EQ(WithoutLineNumber(traces[0]),
                  TraceLine("CPrinterIO::Open", GetParam().traced, GetParam().code));
    } else {
        EXPECT_TRUE(traces.empty()) << traces[0];
    }
    // Failures of the search never reach the error record.
    EXPECT_EQ(g_printerIO.m_errorCategory, 0);
    EXPECT_EQ(g_printerIO.m_errorDetail, 0u);
    g_printerIO.Close();
    platform::SetUsbBackend(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Sets, DeviceSetTest,
    ::testing::Values(
        SetCase{"SetUnavailable", 13, {Member("USB\\VID_5B7D&PID_0023\\A", "a")}, nullptr,
                "SetupDiGetClassDevs", 13},
        SetCase{"UnnamedMemberEndsTheSearch",
                0,
                {Member("USB\\VID_04B8&PID_0023\\X", "x"), Unnamed(122),
                 Member("USB\\VID_5B7D&PID_0023\\A", "a")},
                nullptr,
                "SetupDiGetDeviceInstanceId",
                122},
        SetCase{"MatchWithoutInterfaceEndsTheSearch",
                0,
                {NoInterface("USB\\VID_5B7D&PID_0023\\A", 259),
                 Member("USB\\VID_5B7D&PID_0023\\B", "b")},
                nullptr,
                "SetupDiEnumDeviceInterfaces",
                259},
        SetCase{"OtherDeviceWithoutInterfaceIsNoMatter",
                0,
                {NoInterface("USB\\VID_1234&PID_0001\\Z", 259),
                 Member("USB\\VID_5B7D&PID_0023\\B", "b")},
                "b",
                nullptr,
                0},
        SetCase{"MatchWithoutPathIsPassedOver",
                0,
                {Member("USB\\VID_5B7D&PID_0023\\A", ""), Member("usb\\vid_5b7d&pid_0023\\b", "b")},
                "b",
                nullptr,
                0}),
    [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32
// An open that the system refuses is traced with the system's own text for
// its errno (on POSIX, 13 is EACCES, not the Windows "The data is invalid."),
// and the error record keeps the number as it is.
TEST_F(LinkTest, RefusedOpenTracesThePosixTextAndRecordsTheNumber) {
    ScriptedSet set;
    set.members = {Member("USB\\VID_5B7D&PID_0023\\A", "/dev/bus/usb/001/002")};
    set.openError = EACCES;
    platform::SetUsbBackend(&set);
    EXPECT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 0);
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(WithoutLineNumber(traces[0]),
              "CPrinterIO::Open() [N] CreateFile(/dev/bus/usb/001/002) -[Permission denied]\n");
    EXPECT_EQ(g_printerIO.m_errorCategory, kErrUsbOpen);
    EXPECT_EQ(g_printerIO.m_errorDetail, 13u);
    platform::SetUsbBackend(nullptr);
}
#endif

TEST_F(LinkTest, TransfersGoThroughTheBackendThatOpenedTheDevice) {
    sim::InProcessRig rig;
    ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);
    // Another backend installed while the device is open takes no part in
    // its transfers.
    ScriptedSet other;
    platform::SetUsbBackend(&other);
    const uint8_t frame[6] = {0x1C, 'A', 0, 0, 0, 0};
    EXPECT_EQ(g_printerIO.Send(frame, 6), 6);
    EXPECT_EQ(other.transfers, 0);
    ASSERT_EQ(rig.printer.frames().size(), 1u);
    EXPECT_EQ(rig.printer.frames()[0].letter, 'A');
    platform::SetUsbBackend(&rig.usb);
    g_printerIO.Close();
    EXPECT_EQ(rig.usb.openHandles(), 0);
    EXPECT_TRUE(traces.empty());
}

#ifndef _WIN32
// A temporary folder as QUILLON_USB_ROOT.
class UsbRoot {
public:
    UsbRoot() {
        char pattern[] = "/tmp/link-list-XXXXXX";
        root_ = mkdtemp(pattern);
        setenv("QUILLON_USB_ROOT", root_.c_str(), 1);
    }
    ~UsbRoot() {
        unsetenv("QUILLON_USB_ROOT");
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    // A device with idVendor 5b7d / idProduct `product`; lp < 0: no printer
    // interface.
    void Device(const std::string& name, const std::string& product, const std::string& serial,
                int lp) {
        const fs::path dir = root_ / "sys/bus/usb/devices" / name;
        fs::create_directories(dir);
        std::ofstream(dir / "idVendor") << "5b7d\n";
        std::ofstream(dir / "idProduct") << product << "\n";
        if (!serial.empty()) std::ofstream(dir / "serial") << serial << "\n";
        if (lp >= 0)
            fs::create_directories(dir / (name + ":1.0") / "usbmisc" / ("lp" + std::to_string(lp)));
        fs::create_directories(root_ / "dev/usb");
    }
    std::string Node(int lp) const { return (root_ / "dev/usb" / ("lp" + std::to_string(lp))).string(); }
    const fs::path& root() const { return root_; }

private:
    fs::path root_;
};

// A pseudo-terminal left in its default (cooked) mode, its slave linked as
// the node.
class Pty {
public:
    explicit Pty(const std::string& node) : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        if (!master_ || ::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0) return;
        slave_ = ::ptsname(master_.get());
        fs::create_symlink(slave_, node);
        // A slave end of our own keeps the terminal's settings alive while the
        // link has it closed.
        hold_ = sim::UniqueFd(::open(slave_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    }
    bool ok() const { return static_cast<bool>(hold_); }
    int master() const { return master_.get(); }
    // Reads exactly n bytes from the master within 2 s.
    std::vector<uint8_t> Take(size_t n) {
        std::vector<uint8_t> out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (out.size() < n && std::chrono::steady_clock::now() < end) {
            pollfd p{master_.get(), POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            uint8_t b[512];
            const ssize_t r = ::read(master_.get(), b, std::min(sizeof b, n - out.size()));
            if (r <= 0) break;
            out.insert(out.end(), b, b + r);
        }
        return out;
    }
    // Whatever else arrives within 100 ms.
    size_t Extra() {
        pollfd p{master_.get(), POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) return 0;
        uint8_t b[512];
        const ssize_t r = ::read(master_.get(), b, sizeof b);
        return r > 0 ? static_cast<size_t>(r) : 0;
    }

private:
    sim::UniqueFd master_;
    std::string slave_;
    sim::UniqueFd hold_;
};

TEST_F(LinkTest, ListingShowsEveryMatchingPrinterAndWhetherItOpens) {
    UsbRoot root;
    root.Device("1-1", "0023", "SN0001", 0);  // its node is a pty below
    root.Device("1-2", "0023", "", 1);        // no node: cannot be opened
    root.Device("1-3", "0024", "OTHER", 2);   // another product
    root.Device("2-1", "0023", "SN0002", -1); // no printer interface
    Pty pty(root.Node(0));
    ASSERT_TRUE(pty.ok());

    std::vector<platform::UsbPrinterListing> list;
    unsigned long error = 0;
    ASSERT_TRUE(platform::ListUsbPrinters(0x5B7D, 0x0023, &list, &error));
    ASSERT_EQ(list.size(), 3u);

    EXPECT_EQ(list[0].instanceId, "USB\\VID_5B7D&PID_0023\\SN0001");
    EXPECT_EQ(list[0].location, "1-1");
    EXPECT_EQ(list[0].serial, "SN0001");
    EXPECT_EQ(list[0].wayIn, "device node");
    EXPECT_EQ(list[0].path, root.Node(0));
    EXPECT_TRUE(list[0].openable);

    EXPECT_EQ(list[1].instanceId, "USB\\VID_5B7D&PID_0023\\1-2");  // no serial: the name
    EXPECT_EQ(list[1].location, "1-2");
    EXPECT_EQ(list[1].serial, "");
    EXPECT_EQ(list[1].path, root.Node(1));
    EXPECT_FALSE(list[1].openable);
    EXPECT_EQ(list[1].openError, static_cast<unsigned long>(ENOENT));

    EXPECT_EQ(list[2].location, "2-1");
    EXPECT_EQ(list[2].wayIn, "");
    EXPECT_EQ(list[2].path, "");
    EXPECT_FALSE(list[2].openable);
    EXPECT_EQ(list[2].openError, 0u);

    // A listing is no failure of the link: nothing traced, nothing recorded.
    EXPECT_TRUE(traces.empty());
    EXPECT_EQ(g_printerIO.m_errorCategory, 0);
}

TEST_F(LinkTest, DeviceFolderThatIsNoFolderFailsTheSearchWithATrace) {
    UsbRoot root;
    fs::create_directories(root.root() / "sys/bus/usb");
    std::ofstream(root.root() / "sys/bus/usb/devices") << "not a folder\n";
    EXPECT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 0);
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(WithoutLineNumber(traces[0]), TraceLine("CPrinterIO::Open", "SetupDiGetClassDevs", ENOTDIR));
    std::vector<platform::UsbPrinterListing> list;
    unsigned long error = 0;
    EXPECT_FALSE(platform::ListUsbPrinters(0x5B7D, 0x0023, &list, &error));
    EXPECT_EQ(error, static_cast<unsigned long>(ENOTDIR));
}

TEST_F(LinkTest, TerminalNodeCarriesEveryByteValueUnchanged) {
    UsbRoot root;
    root.Device("1-1", "0023", "SN0001", 0);
    Pty pty(root.Node(0));
    ASSERT_TRUE(pty.ok());
    ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);

    // Every byte value, line ends and control characters included: a
    // terminal in its default mode would translate, echo or swallow some.
    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(g_printerIO.Send(all.data(), 256), 256);
    EXPECT_EQ(pty.Take(256), all);

    ASSERT_EQ(::write(pty.master(), all.data(), all.size()), 256);
    std::vector<uint8_t> got(256, 0xEE);
    EXPECT_EQ(g_printerIO.Recv(got.data(), 256), 256);
    EXPECT_EQ(got, all);
    EXPECT_EQ(pty.Extra(), 0u);  // nothing echoed back
    EXPECT_TRUE(traces.empty()) << traces[0];
    g_printerIO.Close();
}
#endif  // !_WIN32

}  // namespace
