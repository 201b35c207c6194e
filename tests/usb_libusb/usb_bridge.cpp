#include "tests/usb_libusb/usb_bridge.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <umockdev.h>
#include <linux/usbdevice_fs.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace usbtest {
namespace {

constexpr uint8_t kEndpointOut = 0x01;
constexpr uint8_t kEndpointIn = 0x82;

// Device descriptor and configuration: one vendor-specific interface with
// a bulk endpoint each way, 512-byte packets; no strings.
const uint8_t kPrinterDescriptors[] = {
    18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x7D, 0x5B, 0x23, 0x00, 0x00, 0x01, 0, 0, 0, 1,
    9, 2, 32, 0, 1, 1, 0, 0xC0, 1,
    9, 4, 0, 0, 2, 0xFF, 0, 0, 0,
    7, 5, kEndpointOut, 2, 0x00, 0x02, 0,
    7, 5, kEndpointIn, 2, 0x00, 0x02, 0,
};
// The root hub the printer hangs off.
const uint8_t kHubDescriptors[] = {
    18, 1, 0x00, 0x02, 9, 0, 1, 64, 0x6B, 0x1D, 0x02, 0x00, 0x00, 0x01, 0, 0, 0, 1,
    9, 2, 25, 0, 1, 1, 0, 0xE0, 0,
    9, 4, 0, 0, 1, 9, 0, 0, 0,
    7, 5, 0x81, 3, 4, 0, 12,
};

struct GErrorOwner {
    GError* error = nullptr;
    ~GErrorOwner() {
        if (error != nullptr) g_error_free(error);
    }
};

// One URB of a client, resolved into this process.
struct Urb {
    UMockdevIoctlData* data = nullptr;  // struct usbdevfs_urb (owned reference)
    usbdevfs_urb* urb() const { return reinterpret_cast<usbdevfs_urb*>(data->data); }
};

// What the handler keeps per open device file.
struct ClientState {
    std::deque<Urb> waitingIn;   // bulk IN transfers with no data yet
    std::deque<Urb> waitingOut;  // bulk OUT transfers the printer does not take
    std::deque<Urb> reapable;   // completed, for the client to reap
};

}  // namespace

struct CUsbBridge::Impl {
    explicit Impl(sim::Scenario scenario) : printer(std::move(scenario)) {}

    // --- under lock -------------------------------------------------------
    mutable std::mutex lock;
    sim::VirtualPrinter printer;
    std::map<UMockdevIoctlClient*, ClientState> clients;
    std::set<std::string> goneNodes;  // nodes of devices that went away
    std::string node;                 // the node plugged now, "" while out
    bool cableIn = true;
    unsigned emptyPackets = 0;
    unsigned emptyLeft = 0;  // zero-length packets still due before this reply
    bool inStalled = false;
    bool outHeld = false;
    unsigned haltsCleared = 0;
    bool originSet = false;
    uint32_t lastMs = 0;

    // --- the testbed, under busLock (the test's thread and the real-time
    // thread both change it) ---------------------------------------------
    std::mutex busLock;
    UMockdevTestbed* testbed = nullptr;
    UMockdevIoctlBase* handler = nullptr;
    gchar* hubPath = nullptr;
    gchar* devicePath = nullptr;  // sysfs path of the printer while added
    std::vector<std::string> attached;
    unsigned address = 1;         // the last address given out
    std::atomic<unsigned> plugs{0};
    unsigned nodeMode = 0666;
    std::atomic<bool> stop{false};
    std::thread realTime;

    static void Complete(Urb& u, int status, int actual) {
        u.urb()->status = status;
        u.urb()->actual_length = actual;
    }

    // Gives up the references to a client and to its URBs.
    static void Release(UMockdevIoctlClient* client, ClientState& state) {
        for (const std::deque<Urb>* urbs : {&state.waitingIn, &state.waitingOut, &state.reapable})
            for (const Urb& u : *urbs) g_object_unref(u.data);
        g_object_unref(client);
    }

    // Drops the URBs of clients that went away (a process that ended with a
    // transfer pending would otherwise take the next one's reply).
    void ForgetVanishedClients() {
        for (auto it = clients.begin(); it != clients.end();) {
            if (umockdev_ioctl_client_get_connected(it->first)) {
                ++it;
                continue;
            }
            Release(it->first, it->second);
            it = clients.erase(it);
        }
    }

    ClientState& StateOf(UMockdevIoctlClient* client) {
        auto it = clients.find(client);
        if (it == clients.end()) {
            g_object_ref(client);
            it = clients.emplace(client, ClientState{}).first;
        }
        return it->second;
    }

    bool IsGone(UMockdevIoctlClient* client) const {
        const char* devnode = umockdev_ioctl_client_get_devnode(client);
        return devnode == nullptr || goneNodes.count(devnode) != 0 || node != devnode;
    }

    // The device of the node in use went away: every transfer waiting on
    // it ends with ENODEV, as the kernel ends them on a disconnect.
    void DeviceGone() {
        if (node.empty()) return;
        goneNodes.insert(node);
        for (auto& [client, state] : clients) {
            const char* devnode = umockdev_ioctl_client_get_devnode(client);
            if (devnode == nullptr || node != devnode) continue;
            for (std::deque<Urb>* waiting : {&state.waitingIn, &state.waitingOut}) {
                for (Urb& u : *waiting) {
                    Complete(u, -ENODEV, 0);
                    state.reapable.push_back(u);
                }
                waiting->clear();
            }
        }
        node.clear();
    }

    // Gives waiting IN transfers what the printer has to say.
    void FillWaitingIn(ClientState& state) {
        GErrorOwner e;
        while (!state.waitingIn.empty() && !printer.Silent() && printer.Pending() > 0) {
            Urb u = state.waitingIn.front();
            state.waitingIn.pop_front();
            if (emptyLeft > 0) {
                --emptyLeft;
                Complete(u, 0, 0);
                state.reapable.push_back(u);
                continue;
            }
            const int length = u.urb()->buffer_length;
            UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
                u.data, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(length), &e.error);
            if (buffer == nullptr) {
                Complete(u, -EFAULT, 0);
            } else {
                const size_t n = printer.HostRead(buffer->data, static_cast<size_t>(length));
                Complete(u, 0, static_cast<int>(n));
                g_object_unref(buffer);
            }
            state.reapable.push_back(u);
            if (printer.Pending() == 0) emptyLeft = emptyPackets;  // the next reply's
        }
    }

    void Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        GErrorOwner e;
        UMockdevIoctlData* data =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &e.error);
        if (data == nullptr) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        Urb u{data};
        ClientState& state = StateOf(client);
        const usbdevfs_urb* urb = u.urb();
        if (urb->type != USBDEVFS_URB_TYPE_BULK) {
            // No control requests are expected (nothing asks for strings):
            // the endpoint stalls.
            Complete(u, -EPIPE, 0);
            state.reapable.push_back(u);
        } else if (urb->endpoint == kEndpointOut && outHeld) {
            state.waitingOut.push_back(u);
        } else if (urb->endpoint == kEndpointOut) {
            UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
                data, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length),
                &e.error);
            if (buffer == nullptr) {
                Complete(u, -EFAULT, 0);
            } else {
                printer.HostWrite(buffer->data, static_cast<size_t>(urb->buffer_length));
                Complete(u, 0, urb->buffer_length);
                g_object_unref(buffer);
            }
            state.reapable.push_back(u);
            if (!printer.LinkUp()) DeviceGone();  // the printer dropped the link
        } else if (urb->endpoint == kEndpointIn && inStalled) {
            Complete(u, -EPIPE, 0);
            state.reapable.push_back(u);
        } else if (urb->endpoint == kEndpointIn) {
            state.waitingIn.push_back(u);
        } else {
            Complete(u, -EPIPE, 0);
            state.reapable.push_back(u);
        }
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    void Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        ClientState& state = StateOf(client);
        FillWaitingIn(state);
        // The reply that ends a restart takes the link down with it.
        if (!printer.LinkUp()) DeviceGone();
        if (state.reapable.empty()) {
            umockdev_ioctl_client_complete(client, -1, IsGone(client) ? ENODEV : EAGAIN);
            return;
        }
        GErrorOwner e;
        UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), &e.error);
        if (slot == nullptr) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        Urb u = state.reapable.front();
        state.reapable.pop_front();
        umockdev_ioctl_data_set_ptr(slot, 0, u.data);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(slot);
        g_object_unref(u.data);
    }

    void Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        ClientState& state = StateOf(client);
        gulong address = 0;
        std::memcpy(&address, arg->data, std::min<size_t>(sizeof address, arg->data_len));
        for (std::deque<Urb>* waiting : {&state.waitingIn, &state.waitingOut}) {
            for (auto it = waiting->begin(); it != waiting->end(); ++it) {
                if (it->data->client_addr != address) continue;
                Urb u = *it;
                waiting->erase(it);
                Complete(u, -ENOENT, 0);
                state.reapable.push_back(u);
                umockdev_ioctl_client_complete(client, 0, 0);
                return;
            }
        }
        umockdev_ioctl_client_complete(client, -1, EINVAL);
    }

    gboolean Handle(UMockdevIoctlClient* client) {
        std::lock_guard<std::mutex> guard(lock);
        ForgetVanishedClients();
        const gulong request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        // Transfers already completed may still be reaped after a
        // disconnect; everything else fails as on a device that is gone.
        const bool reaping = request == USBDEVFS_REAPURBNDELAY || request == USBDEVFS_REAPURB;
        if (IsGone(client) && !reaping) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return TRUE;
        }
        GErrorOwner e;
        switch (request) {
            case USBDEVFS_GET_CAPABILITIES: {
                UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, 4, &e.error);
                if (caps == nullptr) {
                    umockdev_ioctl_client_complete(client, -1, EFAULT);
                    break;
                }
                const uint32_t value = USBDEVFS_CAP_BULK_SCATTER_GATHER |
                                       USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                       USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
                std::memcpy(caps->data, &value, sizeof value);
                umockdev_ioctl_client_complete(client, 0, 0);
                g_object_unref(caps);
                break;
            }
            case USBDEVFS_SUBMITURB:
                Submit(client, arg);
                break;
            case USBDEVFS_REAPURB:
            case USBDEVFS_REAPURBNDELAY:
                Reap(client, arg);
                break;
            case USBDEVFS_DISCARDURB:
                Discard(client, arg);
                break;
            case USBDEVFS_CLAIMINTERFACE:
            case USBDEVFS_DISCONNECT_CLAIM:
                // The host opened the printer: a new connection.
                printer.Connect();
                emptyLeft = emptyPackets;
                umockdev_ioctl_client_complete(client, 0, 0);
                break;
            case USBDEVFS_GETDRIVER:
                umockdev_ioctl_client_complete(client, -1, ENODATA);  // no kernel driver
                break;
            case USBDEVFS_CLEAR_HALT: {
                unsigned endpoint = 0;
                UMockdevIoctlData* ep =
                    umockdev_ioctl_data_resolve(arg, 0, sizeof endpoint, &e.error);
                if (ep != nullptr) {
                    std::memcpy(&endpoint, ep->data, sizeof endpoint);
                    g_object_unref(ep);
                }
                if (endpoint == kEndpointIn && inStalled) {
                    inStalled = false;
                    ++haltsCleared;
                }
                umockdev_ioctl_client_complete(client, 0, 0);
                break;
            }
            case USBDEVFS_RELEASEINTERFACE:
            case USBDEVFS_SETINTERFACE:
            case USBDEVFS_SETCONFIGURATION:
            case USBDEVFS_RESETEP:
            case USBDEVFS_IOCTL:
                umockdev_ioctl_client_complete(client, 0, 0);
                break;
            default:
                umockdev_ioctl_client_complete(client, -1, ENOTTY);
                break;
        }
        return TRUE;
    }

    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        return static_cast<Impl*>(self)->Handle(client);
    }

    // --- the testbed (test thread) --------------------------------------
    void AddHub() {
        hubPath = umockdev_testbed_add_device(
            testbed, "usb", "usb1", nullptr, "busnum", "1\n", "devnum", "1\n", "speed", "480\n",
            "bConfigurationValue", "1\n", "idVendor", "1d6b\n", "idProduct", "0002\n", nullptr,
            "DEVNAME", "/dev/bus/usb/001/001", "DEVTYPE", "usb_device", nullptr);
        umockdev_testbed_set_attribute_binary(testbed, hubPath, "descriptors",
                                              const_cast<guint8*>(kHubDescriptors),
                                              sizeof kHubDescriptors);
    }

    void AddPrinter() {
        const unsigned a = ++address;
        char devnum[16], dev[16], name[32];
        std::snprintf(devnum, sizeof devnum, "%u\n", a);
        std::snprintf(dev, sizeof dev, "189:%u\n", a - 1);
        std::snprintf(name, sizeof name, "/dev/bus/usb/001/%03u", a);
        const std::string nodePath = name;
        devicePath = umockdev_testbed_add_device(
            testbed, "usb", "1-1", hubPath, "busnum", "1\n", "devnum", devnum, "speed", "480\n",
            "bConfigurationValue", "1\n", "idVendor", "5b7d\n", "idProduct", "0023\n", "serial",
            "SIM00001\n", "dev", dev, nullptr, "DEVNAME", name, "DEVTYPE", "usb_device", nullptr);
        umockdev_testbed_set_attribute_binary(testbed, devicePath, "descriptors",
                                              const_cast<guint8*>(kPrinterDescriptors),
                                              sizeof kPrinterDescriptors);
        // The testbed makes no node of its own for a usbfs device: a plain
        // file stands for it, and the handler answers its ioctls.
        const std::filesystem::path file = RootPath() / nodePath.substr(1);
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file).close();
        ::chmod(file.c_str(), nodeMode);
        GErrorOwner e;
        if (umockdev_testbed_attach_ioctl(testbed, nodePath.c_str(), handler, &e.error))
            attached.push_back(nodePath);
        {
            std::lock_guard<std::mutex> guard(lock);
            node = nodePath;
            emptyLeft = emptyPackets;
        }
        ++plugs;
    }

    void RemovePrinter() {
        {
            std::lock_guard<std::mutex> guard(lock);
            DeviceGone();
        }
        if (devicePath != nullptr) {
            umockdev_testbed_remove_device(testbed, devicePath);
            g_free(devicePath);
            devicePath = nullptr;
        }
    }

    std::filesystem::path RootPath() const {
        gchar* root = umockdev_testbed_get_root_dir(testbed);
        std::filesystem::path p = root;
        g_free(root);
        return p;
    }

    void CatchUp(uint32_t nowMs) {
        std::lock_guard<std::mutex> bus(busLock);
        bool wantDevice = false;
        bool wentAway = false;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (!originSet) {
                originSet = true;
                lastMs = nowMs;
            }
            const uint32_t elapsed = nowMs - lastMs;
            lastMs = nowMs;
            if (elapsed > 0) printer.AdvanceTime(elapsed);
            if (!printer.LinkUp()) DeviceGone();
            wantDevice = cableIn && printer.LinkUp();
            wentAway = node.empty();
        }
        // The device leaves the bus when its link went down, and comes back
        // at a new address when the link is up again.
        if (devicePath != nullptr && (!wantDevice || wentAway)) RemovePrinter();
        if (devicePath == nullptr && wantDevice) AddPrinter();
    }
};

CUsbBridge::CUsbBridge(sim::Scenario scenario)
    : m_impl(std::make_unique<Impl>(std::move(scenario))) {
    Impl& d = *m_impl;
    d.testbed = umockdev_testbed_new();
    d.handler = umockdev_ioctl_base_new();
    g_signal_connect(d.handler, "handle-ioctl", G_CALLBACK(&Impl::OnIoctl), &d);
    d.AddHub();
    d.AddPrinter();
}

CUsbBridge::~CUsbBridge() {
    Impl& d = *m_impl;
    d.stop = true;
    if (d.realTime.joinable()) d.realTime.join();
    for (const std::string& n : d.attached) {
        GErrorOwner e;
        umockdev_testbed_detach_ioctl(d.testbed, n.c_str(), &e.error);
    }
    {
        std::lock_guard<std::mutex> guard(d.lock);
        d.node.clear();
        for (auto& [client, state] : d.clients) Impl::Release(client, state);
        d.clients.clear();
    }
    g_free(d.devicePath);
    g_free(d.hubPath);
    g_object_unref(d.handler);
    g_object_unref(d.testbed);
}

void CUsbBridge::CatchUp(uint32_t nowMs) { m_impl->CatchUp(nowMs); }

void CUsbBridge::RunOnRealTime() {
    Impl& d = *m_impl;
    if (d.realTime.joinable()) return;
    d.realTime = std::thread([&d] {
        const auto start = std::chrono::steady_clock::now();
        while (!d.stop) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
            d.CatchUp(static_cast<uint32_t>(ms.count()));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
}

void CUsbBridge::Unplug() {
    std::lock_guard<std::mutex> bus(m_impl->busLock);
    {
        std::lock_guard<std::mutex> guard(m_impl->lock);
        m_impl->cableIn = false;
    }
    m_impl->RemovePrinter();
}

void CUsbBridge::Plug() {
    std::lock_guard<std::mutex> bus(m_impl->busLock);
    bool linkUp = false;
    {
        std::lock_guard<std::mutex> guard(m_impl->lock);
        m_impl->cableIn = true;
        linkUp = m_impl->printer.LinkUp();
    }
    if (m_impl->devicePath == nullptr && linkUp) m_impl->AddPrinter();
}

void CUsbBridge::SetEmptyPacketsBeforeReply(unsigned count) {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    m_impl->emptyPackets = count;
    m_impl->emptyLeft = count;
}

void CUsbBridge::StallIn() {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    m_impl->inStalled = true;
}

void CUsbBridge::HoldOut() {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    m_impl->outHeld = true;
}

unsigned CUsbBridge::HaltsCleared() const {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    return m_impl->haltsCleared;
}

void CUsbBridge::SetNodeMode(unsigned mode) {
    std::lock_guard<std::mutex> bus(m_impl->busLock);
    m_impl->nodeMode = mode;
    const std::string node = DevNode();
    if (!node.empty()) ::chmod((m_impl->RootPath() / node.substr(1)).c_str(), mode);
}

void CUsbBridge::ShareWithOtherUsers() {
    std::lock_guard<std::mutex> bus(m_impl->busLock);
    namespace fs = std::filesystem;
    const fs::path root = m_impl->RootPath();
    // A udev monitor of a client binds its socket in the root folder.
    ::chmod(root.c_str(), 01777);
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        const fs::file_status st = it->symlink_status(ec);
        if (fs::is_directory(st)) ::chmod(it->path().c_str(), 0755);
        if (fs::is_socket(st)) ::chmod(it->path().c_str(), 0777);
    }
}

std::string CUsbBridge::RootDir() const { return m_impl->RootPath().string(); }

std::string CUsbBridge::DevNode() const {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    return m_impl->node;
}

unsigned CUsbBridge::Plugs() const { return m_impl->plugs; }

void CUsbBridge::WithPrinter(const std::function<void(const sim::VirtualPrinter&)>& look) const {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    look(m_impl->printer);
}

}  // namespace usbtest
