// The virtual printer behind any of the three link kinds, on a virtual
// clock, for whole updates: the link opened as identification leaves it
// (on TCP with the reservation that follows the open, on the access
// library with the library entered in the table and its printer
// selected), the maintenance run started, and what the link asked of the
// socket or the library recorded.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/link_settings.h"
#include "link/printer_io.h"
#include "platform/clock.h"
#include "sim/engine/virtual_printer.h"
#include "sim/transport/inprocess_library.h"
#include "sim/transport/inprocess_tcp.h"
#include "sim/transport/inprocess_usb.h"
#include "update/fw_commands.h"

namespace testing_update {

enum class LinkUnderTest { kUsb, kTcp, kLibrary };

class LinkRig {
public:
    LinkRig(LinkUnderTest kind, const sim::Scenario& scenario) : m_kind(kind) {
        switch (kind) {
            case LinkUnderTest::kUsb:
                m_usb = std::make_unique<sim::InProcessRig>(scenario);
                break;
            case LinkUnderTest::kTcp:
                m_tcp = std::make_unique<sim::InProcessTcpRig>(scenario);
                break;
            case LinkUnderTest::kLibrary:
                m_library = std::make_unique<sim::InProcessLibraryRig>(scenario, QV71XX_RELAY_PATH);
                break;
        }
    }
    ~LinkRig() {
        // Whatever the run left open goes while the rig still exists.
        if (g_printerIO.m_linkKind != kLinkNone) CloseLink();
        g_linkKind = kLinkNone;
        g_activeLibrary = -1;
        g_libraries[0] = LibraryEntry{};
        std::memset(&g_selectedPrinter, 0, sizeof g_selectedPrinter);
    }
    LinkRig(const LinkRig&) = delete;
    LinkRig& operator=(const LinkRig&) = delete;

    // Opens the link as identification does and starts the maintenance run
    // (GS A, GS E until not busy). False when either fails.
    bool OpenAndStart() {
        switch (m_kind) {
            case LinkUnderTest::kUsb:
                g_linkKind = kLinkUsb;
                g_vendorIdText = "5B7D";
                g_productIdText = "0023";
                g_deviceIndexText.clear();
                if (OpenLink() == 0) return false;
                break;
            case LinkUnderTest::kTcp: {
                g_linkKind = kLinkTcp;
                int32_t digit = 0;
                if (OpenLink() != 1 || ReservePrinter('1', &digit) == 0) return false;
                break;
            }
            case LinkUnderTest::kLibrary:
                g_linkKind = kLinkLibrary;
                g_libraries[0].module = m_library->library.module();
                g_activeLibrary = 0;
                std::memcpy(g_selectedPrinter.bytes + 8, sim::InProcessLibrary::kPrinterId,
                            std::strlen(sim::InProcessLibrary::kPrinterId));
                if (OpenLink() != 1) return false;
                break;
        }
        g_fwPacketSize = 4096;
        g_fwFramesEnabled = 1;
        if (FwStart() != 0) return false;
        uint8_t status[2] = {0, 2};
        for (int k = 0; k < 100 && status[1] == 2; ++k)
            if (FwReadStatus(status, 2) != 0) return false;
        return status[1] != 2;
    }

    sim::VirtualPrinter& printer() {
        return m_usb ? m_usb->printer : m_tcp ? m_tcp->printer : m_library->printer;
    }
    // What the link asked of the socket or the library, in order (none on
    // USB): see sim::InProcessTcp::calls and sim::InProcessLibrary::calls.
    const std::vector<std::string>& calls() const {
        static const std::vector<std::string> kNone;
        return m_tcp ? m_tcp->tcp.calls() : m_library ? m_library->library.calls() : kNone;
    }
    // Device handles, sockets or library printers still open.
    int openResources() const {
        return m_usb   ? m_usb->usb.openHandles()
               : m_tcp ? m_tcp->tcp.openSockets()
                       : m_library->library.openPrinters();
    }

private:
    LinkUnderTest m_kind;
    std::unique_ptr<sim::InProcessRig> m_usb;
    std::unique_ptr<sim::InProcessTcpRig> m_tcp;
    std::unique_ptr<sim::InProcessLibraryRig> m_library;
};

}  // namespace testing_update
