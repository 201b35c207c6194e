// Opening and closing the link: by the configured kind (OpenLink,
// CloseLink) and per kind on the link object.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "link/link_settings.h"
#include "link/printer_io.h"
#include "link/trace.h"

namespace {

constexpr uint32_t kTcpKeepAliveMs = 30000;
uint32_t g_tcpReceiveTimeoutMs = 30000;

// strtol semantics: leading white space, an optional sign and "0x" in base
// 16; parsing stops at the first other character; no digits gives 0.
int32_t ParseNumber(const std::string& text, int base) {
    return static_cast<int32_t>(std::strtol(text.c_str(), nullptr, base));
}

std::wstring Widen(const std::string& utf8) {
    // Paths are shown in the trace; decode UTF-8 to code points.
    std::wstring out;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        uint32_t cp = c;
        size_t len = 1;
        if (c >= 0xF0 && i + 3 < utf8.size()) {
            cp = ((c & 0x07u) << 18) | ((utf8[i + 1] & 0x3Fu) << 12) |
                 ((utf8[i + 2] & 0x3Fu) << 6) | (utf8[i + 3] & 0x3Fu);
            len = 4;
        } else if (c >= 0xE0 && i + 2 < utf8.size()) {
            cp = ((c & 0x0Fu) << 12) | ((utf8[i + 1] & 0x3Fu) << 6) | (utf8[i + 2] & 0x3Fu);
            len = 3;
        } else if (c >= 0xC0 && i + 1 < utf8.size()) {
            cp = ((c & 0x1Fu) << 6) | (utf8[i + 1] & 0x3Fu);
            len = 2;
        }
        if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (cp >> 10));
            out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<wchar_t>(cp);
        }
        i += len;
    }
    return out;
}

const void* SelectedPrinter() { return g_selectedPrinter.bytes + 8; }

}  // namespace

void SetTcpReceiveTimeoutForTest(uint32_t ms) { g_tcpReceiveTimeoutMs = ms; }

int OpenLink() {
    switch (g_linkKind) {
        case kLinkTcp: {
            // No setting supplies the printer's address: four zeros.
            char address[64];
            snprintf(address, sizeof address, "%lu.%lu.%lu.%lu", 0UL, 0UL, 0UL, 0UL);
            return g_printerIO.Open(9100, address);
        }
        case kLinkUsb: {
            const int32_t vendor = ParseNumber(g_vendorIdText, 16);
            const int32_t product = ParseNumber(g_productIdText, 16);
            const int32_t index =
                g_deviceIndexText.empty() ? -1 : ParseNumber(g_deviceIndexText, 10);
            return g_printerIO.Open(vendor, product, index);
        }
        case kLinkLibrary:
            if (g_activeLibrary >= 0 && g_activeLibrary < kMaxLibraries &&
                g_libraries[g_activeLibrary].module != nullptr) {
                return g_printerIO.OpenLibrary(g_libraries[g_activeLibrary].module);
            }
            return 0;
        default:
            return 0;
    }
}

int CloseLink() {
    switch (g_linkKind) {
        case kLinkTcp:
        case kLinkUsb:
            g_printerIO.Close();
            break;
        case kLinkLibrary:
            g_printerIO.CloseLibrary();
            memset(&g_selectedPrinter, 0, sizeof g_selectedPrinter);
            break;
        default:
            break;
    }
    return 1;
}

int CPrinterIO::Open(uint32_t port, const char* address) {
    Close();
    platform::TcpBackend& tcp = platform::GetTcpBackend();
    unsigned long error = 0;
    m_socket = tcp.Socket(&error);
    if (m_socket == platform::kInvalidSocket) {
        TRACE_ERROR("CPrinterIO::Open", platform::SystemError(error), "socket");
        return 0;
    }
    // A refused setting does not stop the open, but it is traced: without
    // the receive time-out a printer that stops answering holds a read for
    // as long as the connection lives.
    const char* call = "";
    if (!tcp.SetKeepAlive(m_socket, kTcpKeepAliveMs, kTcpKeepAliveMs, &error, &call))
        TRACE_ERROR("CPrinterIO::Open", platform::SystemError(error), "%s", call);
    const uint32_t peer = platform::ParseIPv4NetOrder(address);
    if (!tcp.SetReceiveTimeout(m_socket, g_tcpReceiveTimeoutMs, &error))
        TRACE_ERROR("CPrinterIO::Open", platform::SystemError(error), "setsockopt(SO_RCVTIMEO)");
    if (!tcp.Connect(m_socket, peer, static_cast<uint16_t>(port), &error)) {
        TRACE_ERROR("CPrinterIO::Open", platform::SystemError(error), "connect");
        tcp.Close(m_socket);
        m_socket = platform::kInvalidSocket;
        return 0;
    }
    m_tcpBackend = &tcp;
    m_linkKind = kLinkTcp;
    return 1;
}

int CPrinterIO::Open(int32_t vendorId, int32_t productId, int32_t index) {
    Close();
    char pattern[64];
    if (index == -1) {
        snprintf(pattern, sizeof pattern, "VID_%04X&PID_%04X", static_cast<unsigned>(vendorId),
                 static_cast<unsigned>(productId));
    } else {
        snprintf(pattern, sizeof pattern, "VID_%04X&PID_%04X\\#ID%d_",
                 static_cast<unsigned>(vendorId), static_cast<unsigned>(productId), index);
    }

    platform::UsbBackend& usb = platform::GetUsbBackend();
    std::vector<platform::UsbMember> members;
    unsigned long error = 0;
    if (!usb.ListDevices(&members, &error)) {
        TRACE_ERROR("CPrinterIO::Open", platform::SystemError(error), "SetupDiGetClassDevs");
        return 0;
    }
    const platform::UsbMember* chosen = nullptr;
    for (const platform::UsbMember& member : members) {
        if (!member.idReadable) {
            TRACE_ERROR("CPrinterIO::Open", platform::SystemError(member.idError),
                        "SetupDiGetDeviceInstanceId");
            break;
        }
        std::string id = member.instanceId;
        for (char& c : id) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        if (id.find(pattern) == std::string::npos) continue;
        if (!member.interfaceFound) {
            TRACE_ERROR("CPrinterIO::Open", platform::SystemError(member.interfaceError),
                        "SetupDiEnumDeviceInterfaces");
            break;
        }
        // A member without a usable interface is passed over.
        if (member.path.empty()) continue;
        chosen = &member;
        break;
    }
    if (chosen == nullptr) return 0;
    const std::string& path = chosen->path;

    platform::DeviceHandle handle = platform::kInvalidDevice;
    if (!usb.Open(path, &handle, &error)) {
        m_hDevice = platform::kInvalidDevice;
        TraceErrorW(__LINE__, "CPrinterIO::Open", platform::SystemError(error), L"CreateFile(%ls)",
                    Widen(path).c_str());
        RecordError(kErrUsbOpen, static_cast<uint32_t>(error));
        return 0;
    }
    m_hDevice = handle;
    m_usbBackend = &usb;
    m_usbOpened = *chosen;
    m_linkKind = kLinkUsb;
    return 1;
}

int CPrinterIO::OpenLibrary(platform::ModuleHandle module) {
    if (module != nullptr) {
        m_hLibrary = module;
        auto bind = [module](auto* slot, const char* name) {
            *slot = reinterpret_cast<std::remove_pointer_t<decltype(slot)>>(
                platform::FindSymbol(module, name));
        };
        bind(&m_qv71XXOpenPrinter, "qv71XXOpenPrinter");
        bind(&m_qv71XXWriteData, "qv71XXWriteData");
        bind(&m_qv71XXReadData, "qv71XXReadData");
        bind(&m_qv71XXWrite, "qv71XXWrite");
        bind(&m_qv71XXRead, "qv71XXRead");
        bind(&m_qv71XXWriteReadComplete, "qv71XXWriteReadComplete");
        bind(&m_qv71XXClosePrinter, "qv71XXClosePrinter");
        bind(&m_qv71XXTerminate, "qv71XXTerminate");
        bind(&m_qv71XXNetPrinterReservCommand, "qv71XXNetPrinterReservCommand");
    }
    m_hPrinter = -1;
    Close();
    if (m_hLibrary == nullptr || m_qv71XXOpenPrinter == nullptr) return 0;

    m_hPrinter = m_qv71XXOpenPrinter(0, 0, SelectedPrinter(), 0, 0);
    if (m_hPrinter == -1) return 0;

    int32_t value = 0;
    const int32_t status = m_qv71XXNetPrinterReservCommand != nullptr
                               ? m_qv71XXNetPrinterReservCommand(0, 0, SelectedPrinter(), 1, &value)
                               : -1;
    if (status != 0 && status != 31) {
        // The reservation was refused: give the printer handle back rather
        // than leaving it open with no link to close it.
        if (m_qv71XXClosePrinter != nullptr) m_qv71XXClosePrinter(m_hPrinter);
        m_hPrinter = -1;
        return 0;
    }
    m_linkKind = kLinkLibrary;
    return 1;
}

void CPrinterIO::Close() {
    if (m_linkKind == kLinkTcp && m_socket != platform::kInvalidSocket) {
        // Only the backend that opened the socket can close it.
        if (m_tcpBackend != nullptr && m_tcpBackend == &platform::GetTcpBackend()) {
            m_tcpBackend->ShutdownSend(m_socket);
            m_tcpBackend->Close(m_socket);
        }
        m_socket = platform::kInvalidSocket;
        m_tcpBackend = nullptr;
    } else if (m_linkKind == kLinkUsb && m_hDevice != platform::kInvalidDevice) {
        // Only the backend that opened the handle can close it.
        if (m_usbBackend != nullptr && m_usbBackend == &platform::GetUsbBackend())
            m_usbBackend->Close(m_hDevice);
        m_hDevice = platform::kInvalidDevice;
        m_usbBackend = nullptr;
    }
    m_linkKind = kLinkNone;
    ClearReplyAreas();
}

void CPrinterIO::CloseLibrary() {
    if (m_linkKind == kLinkLibrary && m_hPrinter != -1) {
        int32_t value = 0;
        if (m_qv71XXWriteReadComplete != nullptr) m_qv71XXWriteReadComplete(m_hPrinter);
        if (m_qv71XXNetPrinterReservCommand != nullptr)
            m_qv71XXNetPrinterReservCommand(0, 0, SelectedPrinter(), 2, &value);
        if (m_qv71XXClosePrinter != nullptr) m_qv71XXClosePrinter(m_hPrinter);
        m_hPrinter = -1;
        if (m_qv71XXTerminate != nullptr) m_qv71XXTerminate();
    }
    m_linkKind = kLinkNone;
    ClearReplyAreas();
}

void CountLibraryPrinters(LibraryEntry* entry) {
    if (entry == nullptr) return;
    auto enumerate = reinterpret_cast<qv71XXEnumPrinters_t>(
        platform::FindSymbol(entry->module, "qv71XXEnumPrinters"));
    if (enumerate == nullptr) return;
    int32_t needed = 0;
    int32_t count = 0;
    if (enumerate(nullptr, 0, &needed, &count) != 0 || needed <= 0) return;
    const uint32_t n = static_cast<uint32_t>(needed) / QV_PRINTER_RECORD_SIZE;
    const size_t size = static_cast<size_t>(n) * QV_PRINTER_RECORD_SIZE;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size > 0 ? size : 1]);
    if (!buffer) return;
    if (enumerate(buffer.get(), static_cast<int32_t>(size), &needed, &count) == 0)
        entry->printerCount = n;
}
