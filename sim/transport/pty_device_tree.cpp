#include "sim/transport/pty_device_tree.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;

namespace sim {

namespace {

constexpr int kPollMs = 10;
constexpr size_t kChunk = 65536;
constexpr int kFlushMs = 200;
constexpr const char* kDeviceName = "1-1";
constexpr const char* kInterfaceName = "1-1:1.0";
constexpr const char* kNodeName = "lp0";

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

// Writes what is left of a reply to the non-blocking master, waiting at most
// timeoutMs for room: the printer's last words before it leaves the link
// still reach the host. Returns the bytes written.
size_t WriteWithin(int fd, const uint8_t* data, size_t n, int timeoutMs) {
    const int64_t end = MonotonicMs() + timeoutMs;
    size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(fd, data + done, n - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;
        const int64_t left = end - MonotonicMs();
        if (left <= 0) break;
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
    }
    return done;
}

bool WriteTextFile(const fs::path& p, const std::string& text, std::string* error) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f << text;
    f.close();
    if (!f) {
        if (error) *error = "cannot write " + p.string();
        return false;
    }
    return true;
}

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

PtyDeviceTree::PtyDeviceTree(PrinterHost& host, std::string dir)
    : m_host(host), m_dir(std::move(dir)) {}

PtyDeviceTree::~PtyDeviceTree() {
    Stop();
    if (m_master) TearDown();
    RemoveTree();
}

std::string PtyDeviceTree::NodePath() const {
    return (fs::path(m_dir) / "dev" / "usb" / kNodeName).string();
}

std::string PtyDeviceTree::SlaveName() const {
    std::lock_guard<std::mutex> lock(m_nameMutex);
    return m_slaveName;
}

bool PtyDeviceTree::Create(std::string* error) {
    if (m_created) return true;
    const fs::path root(m_dir);
    const fs::path devices = root / "sys" / "bus" / "usb" / "devices";
    const fs::path usb = root / "dev" / "usb";
    const fs::path staging = root / ".zkq870-sim";
    std::error_code ec;
    for (const fs::path& d : {devices, usb, staging}) {
        fs::create_directories(d, ec);
        if (ec || !fs::is_directory(d)) {
            if (error) *error = "cannot create folder " + d.string() + ": " + ec.message();
            return false;
        }
    }
    // What an earlier run left behind is replaced; a node that still leads
    // to a live terminal belongs to another virtual printer.
    const fs::path node = usb / kNodeName;
    const fs::file_status ns = fs::symlink_status(node, ec);
    if (fs::exists(ns)) {
        if (!fs::is_symlink(ns)) {
            if (error) *error = node.string() + " exists and is not a link left by a virtual printer";
            return false;
        }
        if (fs::exists(node, ec)) {
            if (error)
                *error = node.string() + " is in use (it leads to " +
                         fs::read_symlink(node, ec).string() + ")";
            return false;
        }
        fs::remove(node, ec);
    }
    fs::remove_all(devices / kDeviceName, ec);
    m_created = true;
    const bool up = m_host.With([](VirtualPrinter& p) { return p.LinkUp(); });
    return !up || BringUp(error);
}

bool PtyDeviceTree::BringUp(std::string* error) {
    const fs::path root(m_dir);
    const fs::path staging = root / ".zkq870-sim";
    const fs::path node = root / "dev" / "usb" / kNodeName;
    const fs::path device = root / "sys" / "bus" / "usb" / "devices" / kDeviceName;
    std::error_code ec;

    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master) {
        if (error) *error = Errno("posix_openpt");
        return false;
    }
    char name[128];
    if (::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0 ||
        ::ptsname_r(master.get(), name, sizeof name) != 0) {
        if (error) *error = Errno("pseudo-terminal set-up");
        return false;
    }
    const int flags = ::fcntl(master.get(), F_GETFL);
    ::fcntl(master.get(), F_SETFL, flags | O_NONBLOCK);
    {
        // Raw mode before anyone can find the node: no echo, no line
        // editing, no translation of bytes. The settings stay with the
        // terminal after this descriptor is closed.
        UniqueFd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
        termios t{};
        if (!slave || ::tcgetattr(slave.get(), &t) != 0) {
            if (error) *error = Errno(std::string("open ") + name);
            return false;
        }
        ::cfmakeraw(&t);
        if (::tcsetattr(slave.get(), TCSANOW, &t) != 0) {
            if (error) *error = Errno("tcsetattr");
            return false;
        }
    }

    // The node first, then the sysfs entry, each appearing at once.
    const fs::path nodeTmp = staging / "lp0.link";
    fs::remove(nodeTmp, ec);
    if (::symlink(name, nodeTmp.c_str()) != 0 || ::rename(nodeTmp.c_str(), node.c_str()) != 0) {
        if (error) *error = Errno("cannot link " + node.string());
        fs::remove(nodeTmp, ec);
        return false;
    }
    const fs::path devTmp = staging / kDeviceName;
    fs::remove_all(devTmp, ec);
    fs::create_directories(devTmp / kInterfaceName / "usbmisc" / kNodeName, ec);
    if (ec || !WriteTextFile(devTmp / "idVendor", "5b7d\n", error) ||
        !WriteTextFile(devTmp / "idProduct", "0023\n", error) ||
        !WriteTextFile(devTmp / "serial", "SIM00001\n", error) ||
        ::rename(devTmp.c_str(), device.c_str()) != 0) {
        if (error && error->empty()) *error = "cannot build " + device.string();
        fs::remove_all(devTmp, ec);
        fs::remove(node, ec);
        return false;
    }

    m_master = std::move(master);
    {
        std::lock_guard<std::mutex> lock(m_nameMutex);
        m_slaveName = name;
    }
    m_hostOpen = false;
    m_generation = m_host.With([](VirtualPrinter& p) {
        p.Connect();
        return p.LinkGeneration();
    });
    ++m_ptysCreated;
    return true;
}

void PtyDeviceTree::TearDown() {
    const fs::path root(m_dir);
    const fs::path device = root / "sys" / "bus" / "usb" / "devices" / kDeviceName;
    const fs::path gone = root / ".zkq870-sim" / "1-1.gone";
    std::error_code ec;
    fs::remove_all(gone, ec);
    if (::rename(device.c_str(), gone.c_str()) == 0) fs::remove_all(gone, ec);
    fs::remove(root / "dev" / "usb" / kNodeName, ec);
    m_master.Reset();
    {
        std::lock_guard<std::mutex> lock(m_nameMutex);
        m_slaveName.clear();
    }
    m_hostOpen = false;
    ++m_removals;
}

void PtyDeviceTree::FlushSlaveInput() {
    const std::string name = SlaveName();
    if (name.empty()) return;
    UniqueFd slave(::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (slave) ::tcflush(slave.get(), TCIFLUSH);
}

void PtyDeviceTree::WaitUntilHostHasRead(int timeoutMs) {
    const std::string name = SlaveName();
    if (name.empty()) return;
    UniqueFd slave(::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!slave) return;
    const int64_t end = MonotonicMs() + timeoutMs;
    for (;;) {
        int waiting = 0;
        if (::ioctl(slave.get(), FIONREAD, &waiting) != 0 || waiting <= 0) return;
        if (MonotonicMs() >= end) return;
        Sleep(2);
    }
}

void PtyDeviceTree::RemoveTree() {
    if (!m_created) return;
    const fs::path root(m_dir);
    std::error_code ec;
    const fs::path node = root / "dev" / "usb" / kNodeName;
    if (fs::is_symlink(fs::symlink_status(node, ec))) fs::remove(node, ec);
    fs::remove_all(root / "sys" / "bus" / "usb" / "devices" / kDeviceName, ec);
    fs::remove_all(root / ".zkq870-sim", ec);
    // The folders go only when nothing else is in them.
    for (const fs::path& d : {root / "sys" / "bus" / "usb" / "devices", root / "sys" / "bus" / "usb",
                              root / "sys" / "bus", root / "sys", root / "dev" / "usb", root / "dev"})
        fs::remove(d, ec);
    m_created = false;
}

void PtyDeviceTree::Run(const std::atomic<bool>& stop) {
    std::vector<uint8_t> out;
    size_t outPos = 0;
    std::vector<uint8_t> in(kChunk);
    int64_t nextTry = 0;
    std::string lastError;

    auto hostOpened = [&] {
        if (m_hostOpen) return;
        m_hostOpen = true;
        ++m_hostOpens;
        m_host.With([](VirtualPrinter& p) { p.Connect(); });
    };

    while (!stop) {
        const auto st = m_host.With([](VirtualPrinter& p) {
            return std::tuple<bool, bool, uint32_t>(p.LinkUp(), p.Silent(), p.LinkGeneration());
        });
        const bool up = std::get<0>(st), silent = std::get<1>(st);
        if (m_master && (!up || std::get<2>(st) != m_generation)) {
            // What the printer said before it left still goes out.
            if (m_hostOpen && outPos < out.size())
                m_bytesOut += WriteWithin(m_master.get(), out.data() + outPos, out.size() - outPos,
                                          kFlushMs);
            // Closing the master discards what the host has not read yet.
            if (m_hostOpen) WaitUntilHostHasRead(kFlushMs);
            TearDown();
            out.clear();
            outPos = 0;
        }
        if (!m_master) {
            if (up && m_created && MonotonicMs() >= nextTry) {
                std::string error;
                if (!BringUp(&error)) {
                    if (error != lastError) std::fprintf(stderr, "zkq870-sim: %s\n", error.c_str());
                    lastError = error;
                    nextTry = MonotonicMs() + 200;
                }
            }
            if (!m_master) {
                Sleep(kPollMs);
                continue;
            }
        }

        if (m_hostOpen && !silent && outPos == out.size()) {
            out.resize(kChunk);
            const size_t n = m_host.With([&](VirtualPrinter& p) {
                return p.Pending() ? p.HostRead(out.data(), out.size()) : size_t{0};
            });
            out.resize(n);
            outPos = 0;
        }

        pollfd pfd{m_master.get(), static_cast<short>(POLLIN | (outPos < out.size() ? POLLOUT : 0)),
                   0};
        const int r = ::poll(&pfd, 1, kPollMs);
        if (r < 0) continue;
        if (r == 0) {
            // No hang-up reported: someone has the node open.
            hostOpened();
            continue;
        }
        if (pfd.revents & POLLIN) {
            hostOpened();
            for (;;) {
                const ssize_t n = ::read(m_master.get(), in.data(), in.size());
                if (n <= 0) break;  // EAGAIN, or EIO once the host closed and all was read
                m_bytesIn += static_cast<uint64_t>(n);
                m_host.HostWrite(in.data(), static_cast<size_t>(n));
            }
        }
        if (pfd.revents & POLLHUP) {
            // Nobody has the node open (any more).
            if (m_hostOpen) {
                m_hostOpen = false;
                ++m_hostCloses;
                out.clear();
                outPos = 0;
                FlushSlaveInput();
            }
            Sleep(kPollMs);
            continue;
        }
        hostOpened();
        if ((pfd.revents & POLLOUT) && outPos < out.size()) {
            const ssize_t n = ::write(m_master.get(), out.data() + outPos, out.size() - outPos);
            if (n > 0) {
                outPos += static_cast<size_t>(n);
                m_bytesOut += static_cast<uint64_t>(n);
            }
        }
    }
}

nlohmann::json PtyDeviceTree::Counters() const {
    return {{"dir", m_dir},
            {"ptysCreated", m_ptysCreated.load()},
            {"hostOpens", m_hostOpens.load()},
            {"hostCloses", m_hostCloses.load()},
            {"removals", m_removals.load()},
            {"bytesIn", m_bytesIn.load()},
            {"bytesOut", m_bytesOut.load()}};
}

}  // namespace sim
