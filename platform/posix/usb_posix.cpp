// USB printers on Linux: sysfs discovery and the printer-class device node.
//
// Layout below $QUILLON_USB_ROOT (default "/"):
//   sys/bus/usb/devices/<name>/{idVendor,idProduct,serial}
//   sys/bus/usb/devices/<name>/<name>:<cfg>.<if>/usbmisc/lpN/
//   dev/usb/lpN
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/usb.h"

namespace platform {
namespace {

std::string Root() {
    const char* root = getenv("QUILLON_USB_ROOT");
    std::string r = (root != nullptr && *root != '\0') ? root : "/";
    if (r.back() != '/') r += '/';
    return r;
}

// Reads the first line of a sysfs attribute; false when it cannot be read.
bool ReadAttribute(const std::string& path, std::string* value) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    if (!std::getline(in, line) && !in.eof()) return false;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    *value = line;
    return true;
}

int64_t NowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

bool IsHex4(const std::string& s) {
    return s.size() == 4 && std::all_of(s.begin(), s.end(), [](char c) {
               return isxdigit(static_cast<unsigned char>(c)) != 0;
           });
}

std::vector<std::string> ListDirectory(const std::string& dir, int* error) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        *error = errno;
        return names;
    }
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        names.emplace_back(e->d_name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    *error = 0;
    return names;
}

// The device node of the first printer interface of a device, or "".
std::string PrinterNode(const std::string& root, const std::string& deviceDir,
                        const std::string& name) {
    int error = 0;
    for (const std::string& entry : ListDirectory(deviceDir, &error)) {
        if (entry.rfind(name + ":", 0) != 0) continue;
        for (const std::string& lp : ListDirectory(deviceDir + "/" + entry + "/usbmisc", &error)) {
            if (lp.rfind("lp", 0) == 0) return root + "dev/usb/" + lp;
        }
    }
    return "";
}

class PosixUsb : public UsbBackend {
public:
    bool ListDevices(std::vector<UsbMember>* members, unsigned long* error) override {
        members->clear();
        const std::string root = Root();
        const std::string devices = root + "sys/bus/usb/devices";
        int dirError = 0;
        const std::vector<std::string> names = ListDirectory(devices, &dirError);
        if (dirError == ENOENT) return true;  // no USB devices at all
        if (dirError != 0) {
            *error = static_cast<unsigned long>(dirError);
            return false;
        }
        for (const std::string& name : names) {
            if (name.find(':') != std::string::npos) continue;  // an interface
            const std::string dir = devices + "/" + name;
            std::string vid, pid, serial;
            // A device whose identifiers cannot be read is passed over.
            if (!ReadAttribute(dir + "/idVendor", &vid) || !ReadAttribute(dir + "/idProduct", &pid))
                continue;
            if (!IsHex4(vid) || !IsHex4(pid)) continue;
            // sysfs spells the ids in lower case; the instance id does not.
            for (std::string* hex : {&vid, &pid})
                for (char& c : *hex) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
            // A serial that cannot be read counts as none.
            if (!ReadAttribute(dir + "/serial", &serial)) serial.clear();
            UsbMember m;
            char id[64];
            snprintf(id, sizeof id, "USB\\VID_%s&PID_%s\\", vid.c_str(), pid.c_str());
            m.instanceId = std::string(id) + (serial.empty() ? name : serial);
            m.path = PrinterNode(root, dir, name);
            m.location = name;
            m.serial = serial;
            if (!m.path.empty()) m.wayIn = "device node";
            members->push_back(std::move(m));
        }
        return true;
    }

    bool Open(const std::string& path, DeviceHandle* handle, unsigned long* error) override {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            *error = static_cast<unsigned long>(errno);
            *handle = kInvalidDevice;
            return false;
        }
        // A terminal (the virtual printer's pseudo-terminal) must pass bytes
        // unchanged.
        termios t{};
        if (tcgetattr(fd, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(fd, TCSANOW, &t);
        }
        *handle = fd;
        return true;
    }

    bool Write(DeviceHandle h, const void* data, uint32_t n, uint32_t* done,
               unsigned long* error) override {
        for (;;) {
            const ssize_t r = write(static_cast<int>(h), data, n);
            if (r >= 0) {
                *done = static_cast<uint32_t>(r);
                return true;
            }
            if (errno == EINTR) continue;
            *error = static_cast<unsigned long>(errno);
            return false;
        }
    }

    // Waits at most UsbReadTimeoutMs() (30 s) for data: a printer that
    // stops answering must not hang the updater for ever.
    bool Read(DeviceHandle h, void* data, uint32_t n, uint32_t* done,
              unsigned long* error) override {
        pollfd p{static_cast<int>(h), POLLIN, 0};
        const int64_t deadline = NowMs() + UsbReadTimeoutMs();
        for (;;) {
            const int64_t left = deadline - NowMs();
            const int r = left > 0 ? poll(&p, 1, static_cast<int>(left)) : 0;
            if (r > 0) break;
            if (r == 0) {
                *error = ETIMEDOUT;
                return false;
            }
            if (errno != EINTR) {
                *error = static_cast<unsigned long>(errno);
                return false;
            }
        }
        for (;;) {
            const ssize_t r = read(static_cast<int>(h), data, n);
            if (r >= 0) {
                *done = static_cast<uint32_t>(r);
                return true;
            }
            if (errno == EINTR) continue;
            *error = static_cast<unsigned long>(errno);
            return false;
        }
    }

    void Close(DeviceHandle h) override {
        if (h != kInvalidDevice) close(static_cast<int>(h));
    }
};

}  // namespace

// Never destroyed: the link object closes its device through it during
// static destruction.
UsbBackend& PlatformUsbBackend() {
    static PosixUsb* backend = new PosixUsb;
    return *backend;
}

}  // namespace platform
