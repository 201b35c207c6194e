// Opening and closing the link: the USB search over a sysfs tree, the
// configured kind with its texts, TCP, and what every open closes first.
// The sysfs tree is POSIX; everything else runs everywhere.
#ifndef _WIN32
#include <stdlib.h>
#endif

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/transport/inprocess_usb.h"
#include "tests/link/link_fixture.h"
#include "tests/support/loopback.h"

namespace fs = std::filesystem;

namespace {

using linktest::LinkTest;
using linktest::TraceLine;
using linktest::WithoutLineNumber;

#ifndef _WIN32
// One USB device of the sysfs tree.
struct Device {
    std::string name;     // e.g. "1-1"
    std::string vendor;   // idVendor text; "<dir>" makes it a directory, "<broken>" a dangling link
    std::string product;
    std::string serial;   // "" writes no serial attribute
    int lp;               // printer interface lpN; -1 for none
    bool node = true;     // whether dev/usb/lpN exists
};

// A sysfs tree in a fresh temporary folder, found through QUILLON_USB_ROOT.
class SysfsTree {
public:
    SysfsTree() {
        char pattern[] = "/tmp/link-usb-XXXXXX";
        root_ = mkdtemp(pattern);
        setenv("QUILLON_USB_ROOT", root_.c_str(), 1);
    }
    ~SysfsTree() {
        unsetenv("QUILLON_USB_ROOT");
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    void Add(const Device& d) {
        const fs::path dir = root_ / "sys/bus/usb/devices" / d.name;
        fs::create_directories(dir);
        Attribute(dir / "idVendor", d.vendor);
        Attribute(dir / "idProduct", d.product);
        if (!d.serial.empty()) Attribute(dir / "serial", d.serial);
        if (d.lp >= 0) {
            const std::string lp = "lp" + std::to_string(d.lp);
            fs::create_directories(dir / (d.name + ":1.0") / "usbmisc" / lp);
            fs::create_directories(root_ / "dev/usb");
            if (d.node) std::ofstream(root_ / "dev/usb" / lp) << "";
        }
    }
    std::string Node(int lp) const { return (root_ / "dev/usb" / ("lp" + std::to_string(lp))).string(); }

private:
    static void Attribute(const fs::path& path, const std::string& value) {
        if (value == "<dir>") {
            fs::create_directories(path);
        } else if (value == "<broken>") {
            fs::create_symlink(path.string() + ".missing", path);
        } else {
            std::ofstream(path) << value << "\n";
        }
    }
    fs::path root_;
};

// What the link's device handle refers to.
std::string OpenedPath() {
    if (g_printerIO.m_hDevice == platform::kInvalidDevice) return "";
    std::error_code ec;
    const fs::path p =
        fs::read_symlink("/proc/self/fd/" + std::to_string(g_printerIO.m_hDevice), ec);
    return ec ? "?" : p.string();
}

struct SearchCase {
    const char* name;
    std::vector<Device> devices;
    int32_t index;
    int openedLp;  // -1: nothing opens
};

class UsbSearchTest : public LinkTest, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(UsbSearchTest, OpensTheFirstMatchingMember) {
    SysfsTree tree;
    for (const Device& d : GetParam().devices) tree.Add(d);
    const int r = g_printerIO.Open(0x5B7D, 0x0023, GetParam().index);
    if (GetParam().openedLp < 0) {
        EXPECT_EQ(r, 0);
        EXPECT_EQ(g_printerIO.m_linkKind, kLinkNone);
        EXPECT_EQ(g_printerIO.m_hDevice, platform::kInvalidDevice);
    } else {
        ASSERT_EQ(r, 1);
        EXPECT_EQ(g_printerIO.m_linkKind, kLinkUsb);
        EXPECT_EQ(OpenedPath(), tree.Node(GetParam().openedLp));
    }
    // Not finding a printer is not a failure of the system: no trace, no record.
    EXPECT_TRUE(traces.empty()) << traces[0];
    EXPECT_EQ(g_printerIO.m_errorCategory, 0);
    g_printerIO.Close();
    EXPECT_EQ(g_printerIO.m_hDevice, platform::kInvalidDevice);
}

INSTANTIATE_TEST_SUITE_P(
    Trees, UsbSearchTest,
    ::testing::Values(
        SearchCase{"AnyIndexTakesFirstByName",
                   {{"1-2", "5b7d", "0023", "B", 1}, {"1-1", "5b7d", "0023", "A", 0}}, -1, 0},
        SearchCase{"NoSerialUsesTheName", {{"3-1", "5B7D", "0023", "", 4}}, -1, 4},
        SearchCase{"OtherProductPassedOver",
                   {{"1-1", "5b7d", "0024", "A", 0}, {"1-2", "5b7d", "0023", "B", 1}}, -1, 1},
        SearchCase{"OtherVendorPassedOver",
                   {{"1-1", "04b8", "0023", "A", 0}, {"1-2", "5b7d", "0023", "B", 1}}, -1, 1},
        SearchCase{"IndexSevenNeedsTheIdMarker",
                   {{"1-1", "5b7d", "0023", "#ID3_X", 0}, {"1-2", "5b7d", "0023", "#ID7_Y", 1}},
                   7, 1},
        SearchCase{"IndexSevenWithoutMarkerFindsNothing",
                   {{"1-1", "5b7d", "0023", "ID7_Y", 0}, {"1-2", "5b7d", "0023", "#ID77_", 1}}, 7,
                   -1},
        SearchCase{"LowerCaseIdMatches", {{"1-1", "5b7d", "0023", "#id7_abc", 0}}, 7, 0},
        SearchCase{"VendorAsDirectoryPassedOver",
                   {{"1-1", "<dir>", "0023", "A", 0}, {"1-2", "5b7d", "0023", "B", 1}}, -1, 1},
        SearchCase{"VendorAsBrokenLinkPassedOver",
                   {{"1-1", "<broken>", "0023", "A", 0}, {"1-2", "5b7d", "0023", "B", 1}}, -1, 1},
        SearchCase{"ProductUnreadablePassedOver",
                   {{"1-1", "5b7d", "<dir>", "A", 0}, {"1-2", "5b7d", "0023", "B", 1}}, -1, 1},
        SearchCase{"MemberWithoutInterfacePassedOver",
                   {{"1-1", "5b7d", "0023", "A", -1}, {"1-2", "5b7d", "0023", "B", 2}}, -1, 2},
        SearchCase{"NoDevicesAtAll", {}, -1, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinkTest, FailedDeviceOpenWritesCategoryOneAndTracesThePath) {
    SysfsTree tree;
    tree.Add({"1-1", "5b7d", "0023", "A", 0, /*node=*/false});
    EXPECT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 0);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkNone);
    EXPECT_EQ(g_printerIO.m_hDevice, platform::kInvalidDevice);
    EXPECT_EQ(g_printerIO.m_errorCategory, kErrUsbOpen);
    EXPECT_EQ(g_printerIO.m_errorDetail, 2u);  // ENOENT
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(WithoutLineNumber(traces[0]),
              TraceLine("CPrinterIO::Open", "CreateFile(" + tree.Node(0) + ")", 2));

    // A second failure keeps the first one's record.
    tree.Add({"1-2", "5b7d", "0023", "B", 1});
    fs::remove(tree.Node(1));
    fs::create_directory(tree.Node(1));  // opening a folder for writing: EISDIR
    EXPECT_EQ(g_printerIO.Open(0x5B7D, 0x0023, 7), 0);  // no "#ID7_": not even tried
    EXPECT_EQ(traces.size(), 1u);
    EXPECT_EQ(g_printerIO.m_errorDetail, 2u);
}

TEST_F(LinkTest, DeviceSetThatCannotBeHadIsTracedOnce) {
    SysfsTree tree;
    tree.Add({"1-1", "5b7d", "0023", "A", 0});
    // The device folder is a file: the set of devices cannot be listed.
    const fs::path devices = fs::path(getenv("QUILLON_USB_ROOT")) / "sys/bus/usb/devices";
    fs::remove_all(devices);
    std::ofstream(devices) << "";
    EXPECT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 0);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkNone);
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(WithoutLineNumber(traces[0]),
              TraceLine("CPrinterIO::Open", "SetupDiGetClassDevs", ENOTDIR));
    EXPECT_EQ(g_printerIO.m_errorCategory, 0);
}

#endif  // !_WIN32

// A loopback listener that the test accepts from itself.
using Listener = testsupport::CLoopbackListener;

// True when the peer sees the end of the connection within 1 s.
bool PeerSeesEnd(testsupport::Socket s) { return testsupport::PeerEnds(s, 1000); }

TEST_F(LinkTest, UsbOpenClosesAnOpenTcpLinkFirst) {
    Listener listener;
    ASSERT_EQ(g_printerIO.Open(listener.port(), "127.0.0.1"), 1);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkTcp);
    testsupport::UniqueSocket peer = listener.Accept();
    ASSERT_TRUE(peer);

    sim::InProcessRig rig;
    ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkUsb);
    EXPECT_EQ(g_printerIO.m_socket, platform::kInvalidSocket);
    EXPECT_TRUE(PeerSeesEnd(peer.get()));
    EXPECT_EQ(rig.usb.openHandles(), 1);
    g_printerIO.Close();
    EXPECT_EQ(rig.usb.openHandles(), 0);
    EXPECT_TRUE(traces.empty());
}

TEST_F(LinkTest, FailedUsbOpenStillClosesTheTcpLink) {
    Listener listener;
    ASSERT_EQ(g_printerIO.Open(listener.port(), "127.0.0.1"), 1);
    testsupport::UniqueSocket peer = listener.Accept();
    sim::InProcessRig rig;
    rig.usb.SetPresent(false);
    EXPECT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 0);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkNone);
    EXPECT_EQ(g_printerIO.m_socket, platform::kInvalidSocket);
    EXPECT_TRUE(PeerSeesEnd(peer.get()));
    EXPECT_TRUE(traces.empty());
}

TEST_F(LinkTest, TcpOpenClosesAnOpenUsbLinkFirst) {
    sim::InProcessRig rig;
    ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);
    Listener listener;
    ASSERT_EQ(g_printerIO.Open(listener.port(), "127.0.0.1"), 1);
    EXPECT_EQ(rig.usb.openHandles(), 0);
    EXPECT_EQ(g_printerIO.m_hDevice, platform::kInvalidDevice);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkTcp);
}

TEST_F(LinkTest, TcpToTheUnspecifiedAddressFailsAtConnect) {
    g_linkKind = kLinkTcp;
    EXPECT_EQ(OpenLink(), 0);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkNone);
    EXPECT_EQ(g_printerIO.m_socket, platform::kInvalidSocket);
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(WithoutLineNumber(traces[0]).rfind("CPrinterIO::Open() [N] connect -[", 0), 0u)
        << traces[0];
    EXPECT_EQ(g_printerIO.m_errorCategory, 0);
    EXPECT_EQ(g_printerIO.m_errorDetail, 0u);
}

TEST_F(LinkTest, TcpToAClosedPortFailsWithOneTrace) {
    uint16_t port;
    {
        Listener gone;
        port = gone.port();
    }
    EXPECT_EQ(g_printerIO.Open(port, "127.0.0.1"), 0);
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(WithoutLineNumber(traces[0]),
              TraceLine("CPrinterIO::Open", "connect", sim::net::kErrorConnectionRefused));
    EXPECT_EQ(g_printerIO.m_errorCategory, 0);
}

TEST_F(LinkTest, CloseLinkWithoutKindDoesNothing) {
    sim::InProcessRig rig;
    ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);
    g_linkKind = kLinkNone;
    EXPECT_EQ(CloseLink(), 1);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkUsb);  // untouched
    EXPECT_EQ(rig.usb.openHandles(), 1);
    g_linkKind = kLinkUsb;
    EXPECT_EQ(CloseLink(), 1);
    EXPECT_EQ(g_printerIO.m_linkKind, kLinkNone);
    EXPECT_EQ(rig.usb.openHandles(), 0);
    EXPECT_TRUE(traces.empty());
}

TEST_F(LinkTest, CloseZeroFillsTheThreeReplyAreasOnly) {
    sim::InProcessRig rig;
    ASSERT_EQ(g_printerIO.Open(0x5B7D, 0x0023, -1), 1);
    memset(g_printerIO.m_systemInfo, 0xAA, sizeof g_printerIO.m_systemInfo);
    memset(g_printerIO.m_printerStatus, 0xAA, sizeof g_printerIO.m_printerStatus);
    memset(g_printerIO.m_netSettings, 0xAA, sizeof g_printerIO.m_netSettings);
    memset(g_printerIO.m_errorInfo, 0xAA, sizeof g_printerIO.m_errorInfo);
    g_printerIO.Close();
    for (uint8_t b : g_printerIO.m_systemInfo) ASSERT_EQ(b, 0);
    for (uint8_t b : g_printerIO.m_printerStatus) ASSERT_EQ(b, 0);
    for (uint8_t b : g_printerIO.m_netSettings) ASSERT_EQ(b, 0);
    EXPECT_EQ(g_printerIO.m_errorInfo[0], 0xAA);
}

// OpenLink reads the configured texts: hexadecimal ids with or without
// "0x", a device index of -1 like an empty one.
struct TextCase {
    const char* name;
    const char* vendor;
    const char* product;
    const char* index;
    int opened;
};

class OpenLinkTextTest : public LinkTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(OpenLinkTextTest, ParsesTheTexts) {
    sim::InProcessRig rig;  // lists "USB\VID_5B7D&PID_0023\SIM00001"
    g_linkKind = kLinkUsb;
    g_vendorIdText = GetParam().vendor;
    g_productIdText = GetParam().product;
    g_deviceIndexText = GetParam().index;
    EXPECT_EQ(OpenLink(), GetParam().opened);
    EXPECT_EQ(g_printerIO.m_linkKind, GetParam().opened ? kLinkUsb : kLinkNone);
    EXPECT_EQ(CloseLink(), 1);
    EXPECT_EQ(rig.usb.openHandles(), 0);
    EXPECT_TRUE(traces.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, OpenLinkTextTest,
    ::testing::Values(TextCase{"HexPrefix", "0x5B7D", "0x0023", "", 1},
                      TextCase{"NoPrefix", "5B7D", "0023", "", 1},
                      TextCase{"LowerCase", "0x5b7d", "23", "", 1},
                      TextCase{"LeadingSpaceAndSign", "  +5B7D", " 0X23", "", 1},
                      TextCase{"TrailingText", "5B7Dzz", "0023;", "", 1},
                      TextCase{"IndexMinusOneLikeEmpty", "5B7D", "0023", "-1", 1},
                      TextCase{"IndexSevenNeedsMarker", "5B7D", "0023", "7", 0},
                      TextCase{"IndexWithoutDigitsIsZero", "5B7D", "0023", "x", 0},
                      TextCase{"WrongVendor", "5B7E", "0023", "", 0},
                      TextCase{"NoDigitsIsZero", "", "0023", "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinkTest, OpenLinkOfOtherKindsOpensNothing) {
    for (int32_t kind : {int32_t{kLinkNone}, int32_t{kLinkLibrary}, int32_t{4}, int32_t{-1}}) {
        g_linkKind = kind;
        g_activeLibrary = -1;
        EXPECT_EQ(OpenLink(), 0) << kind;
        EXPECT_EQ(CloseLink(), 1) << kind;
    }
    EXPECT_TRUE(traces.empty());
}

}  // namespace
