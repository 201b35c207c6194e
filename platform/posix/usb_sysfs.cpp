// USB discovery on Linux over sysfs.
//
// Layout below $QUILLON_USB_ROOT (default "/"):
//   sys/bus/usb/devices/<name>/{idVendor,idProduct,serial,busnum,devnum}
//   sys/bus/usb/devices/<name>/<name>:<cfg>.<if>/usbmisc/lpN/
//   dev/usb/lpN                  the printer-class node
//   dev/bus/usb/BBB/DDD          the usbfs node (libusb; root "/" only)
#include <dirent.h>
#include <errno.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "usb_posix_ways.h"

namespace platform::posixusb {
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

bool IsHex4(const std::string& s) {
    return s.size() == 4 && std::all_of(s.begin(), s.end(), [](char c) {
               return isxdigit(static_cast<unsigned char>(c)) != 0;
           });
}

// A decimal attribute from 1 to 255 (bus numbers and device addresses).
bool ReadByteNumber(const std::string& path, unsigned* value) {
    std::string text;
    if (!ReadAttribute(path, &text) || text.empty() || text.size() > 3) return false;
    if (!std::all_of(text.begin(), text.end(),
                     [](char c) { return isdigit(static_cast<unsigned char>(c)) != 0; }))
        return false;
    const unsigned v = static_cast<unsigned>(std::atoi(text.c_str()));
    if (v == 0 || v > 255) return false;
    *value = v;
    return true;
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

}  // namespace

std::string UsbfsPath(unsigned bus, unsigned address) {
    char path[32];
    snprintf(path, sizeof path, "/dev/bus/usb/%03u/%03u", bus, address);
    return path;
}

bool ParseUsbfsPath(const std::string& path, uint8_t* bus, uint8_t* address) {
    unsigned b = 0, a = 0;
    // The path must be exactly what UsbfsPath makes of the numbers read.
    if (sscanf(path.c_str(), "/dev/bus/usb/%3u/%3u", &b, &a) != 2 || path != UsbfsPath(b, a) ||
        b == 0 || b > 255 || a == 0 || a > 255)
        return false;
    *bus = static_cast<uint8_t>(b);
    *address = static_cast<uint8_t>(a);
    return true;
}

bool ListSysfsDevices(std::vector<UsbMember>* members, unsigned long* error) {
    members->clear();
    const std::string root = Root();
    // libusb sees the system's own devices only: a tree elsewhere (a test's,
    // the virtual printer's) has no libusb way in.
    const bool systemTree = root == "/";
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
        m.location = name;
        m.serial = serial;
        m.path = PrinterNode(root, dir, name);
        unsigned bus = 0, address = 0;
        if (!m.path.empty()) {
            m.wayIn = kWayNode;
        } else if (systemTree && ReadByteNumber(dir + "/busnum", &bus) &&
                   ReadByteNumber(dir + "/devnum", &address)) {
            m.path = UsbfsPath(bus, address);
            m.wayIn = kWayLibusb;
        }
        members->push_back(std::move(m));
    }
    return true;
}

}  // namespace platform::posixusb
