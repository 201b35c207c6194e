// The virtual printer as a Linux USB printer: a device tree under DIR that
// the updater's discovery reads exactly as it reads the real one, with a
// pseudo-terminal in raw mode standing in for the printer-class node.
//
//   DIR/sys/bus/usb/devices/1-1/idVendor        "5b7d"
//   DIR/sys/bus/usb/devices/1-1/idProduct       "0023"
//   DIR/sys/bus/usb/devices/1-1/serial          "SIM00001"
//   DIR/sys/bus/usb/devices/1-1/1-1:1.0/usbmisc/lp0/
//   DIR/dev/usb/lp0 -> /dev/pts/N
//
// The loop serves the pty master: bytes the host writes to the node go to
// the printer, the printer's replies are written back.
//
// Connections. Each time the host opens the node (the master stops
// reporting a hang-up) the printer sees a new connection (Connect). No
// slave descriptor is kept open here: with one, the master would never
// report the host closing the node, and the printer could not tell one
// opening from the next. Nothing is lost that way: bytes the host wrote
// before closing stay readable on the master until it reports EIO. When
// the host closes the node, replies not yet read are flushed from the pty
// so that the next opener does not receive them.
//
// Restart and drop. When the printer's link goes down, the reply it sent
// last is let out first (closing the master would discard whatever the host
// has not read yet; the wait is bounded). Then the device leaves the tree as
// an unplugged printer does: the sysfs entry and the node link are
// removed and the master is closed, so that the host's open descriptor
// fails (read gives 0 bytes, write gives EIO). Once the link is up again a
// fresh pty is made and the device reappears (node first, then the sysfs
// entry, each by an atomic rename). A silent printer reads but never
// answers.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/transport/printer_host.h"
#include "sim/transport/unique_fd.h"

namespace sim {

class PtyDeviceTree : public ServiceLoop {
public:
    PtyDeviceTree(PrinterHost& host, std::string dir);
    // Stops the loop and removes what Create made.
    ~PtyDeviceTree() override;

    // Makes the folders and, when the printer's link is up, the first pty
    // and the device entries. False with a message on failure.
    bool Create(std::string* error);

    // DIR/dev/usb/lp0.
    std::string NodePath() const;
    // The pty slave the node points at now (empty while the device is away).
    std::string SlaveName() const;

    void Run(const std::atomic<bool>& stop) override;

    // ptysCreated, hostOpens, hostCloses, removals, bytesIn, bytesOut.
    nlohmann::json Counters() const;
    uint32_t ptysCreated() const { return m_ptysCreated; }
    uint32_t hostOpens() const { return m_hostOpens; }

private:
    bool BringUp(std::string* error);
    void TearDown();
    void FlushSlaveInput();
    void WaitUntilHostHasRead(int timeoutMs);
    void RemoveTree();

    PrinterHost& m_host;
    std::string m_dir;
    bool m_created = false;
    UniqueFd m_master;
    mutable std::mutex m_nameMutex;
    std::string m_slaveName;
    uint32_t m_generation = 0;
    bool m_hostOpen = false;
    std::atomic<uint32_t> m_ptysCreated{0};
    std::atomic<uint32_t> m_hostOpens{0};
    std::atomic<uint32_t> m_hostCloses{0};
    std::atomic<uint32_t> m_removals{0};
    std::atomic<uint64_t> m_bytesIn{0};
    std::atomic<uint64_t> m_bytesOut{0};
};

}  // namespace sim
