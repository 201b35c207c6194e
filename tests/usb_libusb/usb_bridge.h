// The virtual printer as a real USB device under umockdev: a testbed with
// a root hub and the printer at bus 1, port 1 (a vendor-specific interface
// with bulk OUT 0x01 and bulk IN 0x82, no printer-class node), and an
// ioctl handler that answers the usbfs requests of libusb by feeding the
// bulk OUT transfers to a VirtualPrinter and filling the bulk IN transfers
// from its replies.
//
// The handler runs on umockdev's own thread; the printer is shared with
// the test's thread under a lock. The printer's time moves only through
// CatchUp (called by a test clock, or by a thread on the real clock), and
// CatchUp also carries out what the printer's link does: when it goes down
// (a restart, a dropped link) the device is gone, and when it comes back
// the device is added again at a new address, as a real printer
// re-enumerates.
//
// Everything here needs the process to run under umockdev's preload
// (see preload_launcher.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sim/engine/scenario.h"
#include "sim/engine/virtual_printer.h"

namespace usbtest {

class CUsbBridge {
public:
    explicit CUsbBridge(sim::Scenario scenario = sim::Scenario());
    // Joins the real-time thread and frees the testbed; every client must
    // have closed the device by then.
    ~CUsbBridge();
    CUsbBridge(const CUsbBridge&) = delete;
    CUsbBridge& operator=(const CUsbBridge&) = delete;

    // The printer's time moves to nowMs (milliseconds on any clock that
    // starts wherever it likes; the first call only sets the origin), and
    // the device follows the printer's link.
    void CatchUp(uint32_t nowMs);
    // Calls CatchUp with the real clock every few milliseconds until the
    // bridge ends (for an updater in another process).
    void RunOnRealTime();

    // The cable: out ends every transfer at once (pending ones with
    // ENODEV) and removes the device; in adds it at a new address.
    void Unplug();
    void Plug();

    // Each reply goes out behind this many zero-length packets.
    void SetEmptyPacketsBeforeReply(unsigned count);
    // The IN endpoint stalls (every IN transfer ends with EPIPE) until the
    // host clears the halt; how many times it did.
    void StallIn();
    unsigned HaltsCleared() const;
    // The printer takes no more data: every OUT transfer from now on waits
    // until the host gives it up (or the cable goes).
    void HoldOut();
    // Whether others than the testbed's owner may open the device node.
    void SetNodeMode(unsigned mode);
    // Lets other users into the testbed (its folders and its sockets, and
    // the root folder where a udev monitor binds its socket, as a real
    // system's /sys and udev are open to every user); the device node keeps
    // its mode.
    void ShareWithOtherUsers();

    // The testbed's root folder (what /sys and /dev stand for).
    std::string RootDir() const;
    // The node of the device as it is plugged now ("" while unplugged).
    std::string DevNode() const;
    // How many times the device has been added.
    unsigned Plugs() const;
    // Inspects the printer under the lock.
    void WithPrinter(const std::function<void(const sim::VirtualPrinter&)>& look) const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace usbtest
