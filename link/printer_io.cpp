// Construction, destruction and the error record of the link object.
#include "link/printer_io.h"

#include <algorithm>
#include <cstring>

#include "link/link_settings.h"
#include "link/trace.h"

CPrinterIO::CPrinterIO() {
    unsigned long error = 0;
    if (!platform::SocketLibraryStart(&error)) {
        TRACE_ERROR("CPrinterIO::CPrinterIO", platform::SystemError(error), "WSAStartup");
        return;
    }
    m_linkKind = kLinkNone;
    m_hDevice = platform::kInvalidDevice;
    m_socket = platform::kInvalidSocket;
    m_errorCategory = 0;
    ClearReplyAreas();
    std::fill(std::begin(m_commandTable), std::end(m_commandTable), CommandDescriptor{});
    BuildCommandTable();
}

CPrinterIO::~CPrinterIO() {
    // A library link is the application's to close.
    if (m_linkKind == kLinkTcp || m_linkKind == kLinkUsb) Close();
    platform::SocketLibraryStop();
}

void CPrinterIO::RecordError(uint8_t category, uint32_t detail) {
    if (m_errorDetail == 0) m_errorDetail = detail;
    if (m_errorCategory == 0) m_errorCategory = category;
}

void CPrinterIO::ClearReplyAreas() {
    memset(m_systemInfo, 0, sizeof m_systemInfo);
    memset(m_printerStatus, 0, sizeof m_printerStatus);
    memset(m_netSettings, 0, sizeof m_netSettings);
}

void CPrinterIO::ResetForTest() {
    if (m_linkKind == kLinkLibrary) CloseLibrary();
    Close();
    m_hDevice = platform::kInvalidDevice;
    m_socket = platform::kInvalidSocket;
    m_usbBackend = nullptr;
    m_usbOpened = platform::UsbMember();
    m_tcpBackend = nullptr;
    m_hPrinter = -1;
    m_hLibrary = nullptr;
    m_qv71XXOpenPrinter = nullptr;
    m_qv71XXWriteData = nullptr;
    m_qv71XXReadData = nullptr;
    m_qv71XXWrite = nullptr;
    m_qv71XXRead = nullptr;
    m_qv71XXWriteReadComplete = nullptr;
    m_qv71XXClosePrinter = nullptr;
    m_qv71XXTerminate = nullptr;
    m_qv71XXNetPrinterReservCommand = nullptr;
    m_errorCategory = 0;
    m_errorDetail = 0;
    memset(m_errorInfo, 0, sizeof m_errorInfo);
    memset(m_productInfo, 0, sizeof m_productInfo);
}

void ResetLinkForTest() {
    g_printerIO.ResetForTest();
    g_linkKind = kLinkNone;
    g_vendorIdText.clear();
    g_productIdText.clear();
    g_deviceIndexText.clear();
    g_activeLibrary = 0;
    memset(g_libraries, 0, sizeof g_libraries);
    memset(&g_selectedPrinter, 0, sizeof g_selectedPrinter);
    SetTcpReceiveTimeoutForTest(30000);
    platform::SetUsbReadTimeoutForTest(0);
    platform::SetUsbWriteTimeoutForTest(0);
}
