// CPrinterIO: the one link object through which all traffic with the
// printer passes. It owns the link state, the reply areas, the command
// descriptor table and the error record of the USB device.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/printer_record.h"
#include "platform/dynlib.h"
#include "platform/socket.h"
#include "platform/tcp_backend.h"
#include "platform/usb.h"

// The in-memory description of a command frame (request or reply): the
// 6 header bytes and the address of the payload. The length is kept in host
// order here; SendRecv converts it for the wire.
struct CommandBlock {
    uint8_t code;      // 0x1C (FS) in a request; received byte 0 in a reply
    uint8_t command;   // command letter
    uint32_t length;   // payload length / reply bytes asked for
    void* data;        // request payload; buffer for the reply payload
};

// The argument of every command method: element i is parameter i of the
// command, a NUL-terminated text or, for an address slot, caller memory.
// A null element is an absent parameter.
using ArgVector = char**;

class CPrinterIO;
using CommandHandler = int (CPrinterIO::*)(ArgVector);

constexpr int kCmdTableSize = 40;
constexpr int kCmdParamSlots = 20;
constexpr int kCmdDefaultTextSize = 256;

struct CommandParam {
    const char* label;                       // UTF-8; null in an empty slot
    char defaultText[kCmdDefaultTextSize];   // "0x..." marks an address slot
};

struct CommandDescriptor {
    CommandHandler handler;  // null in the closing row
    const char* title;       // UTF-8; null in the closing row
    CommandParam params[kCmdParamSlots];
};

// Error record categories.
enum : uint8_t {
    kErrUsbOpen = 1,
    kErrUsbWrite = 2,
    kErrUsbRead = 3,
};

class CPrinterIO {
public:
    CPrinterIO();
    virtual ~CPrinterIO();
    CPrinterIO(const CPrinterIO&) = delete;
    CPrinterIO& operator=(const CPrinterIO&) = delete;

    // Opening and closing.
    int Open(uint32_t port, const char* address);              // TCP
    int Open(int32_t vendorId, int32_t productId, int32_t index);  // USB
    int OpenLibrary(platform::ModuleHandle module);            // access library
    void Close();
    void CloseLibrary();

    // Sending and receiving.
    int32_t Send(const void* data, int32_t length);
    int32_t Recv(void* buffer, int32_t length);
    int32_t SendRecv(CommandBlock* request, int32_t payloadLength, CommandBlock* reply,
                     uint32_t replyLimit);

    // Status commands.
    int CmdRequestSence(ArgVector args);
    int CmdInquiry(ArgVector args);
    int CmdStop(ArgVector args);
    int CmdSystemInfo(ArgVector args);
    int CmdStatusInfo(ArgVector args);
    int CmdGetPrinterData(ArgVector args);
    int CmdGetPrinterLog(ArgVector args);
    int CmdPrintReserve(ArgVector args);
    // Network configuration and printer search.
    int CmdLanConfig(ArgVector args);
    int CmdLanConfigGet(ArgVector args);
    int CmdLanConfigSet(ArgVector args);
    int CmdSearchPrinter(ArgVector args);
    // Print-job commands.
    int CmdReset(ArgVector args);
    int CmdPrint(ArgVector args);
    int CmdCopy(ArgVector args);
    int CmdImage(ArgVector args);
    int CmdChar(ArgVector args);
    int CmdHologram(ArgVector args);
    int CmdEncodeData(ArgVector args);
    int CmdReverse(ArgVector args);
    int CmdDma2(ArgVector args);
    // The handler of the commands that have no frame: returns 0, no traffic.
    int CmdNotSupported(ArgVector args);

    // Writes the error record: each field only while it is still 0.
    void RecordError(uint8_t category, uint32_t detail);

    // State, in the order the object holds it. The object has static
    // storage, so every member is zero before the constructor runs; the
    // initialisers say the same for any other instance.
    int32_t m_linkKind = 0;
    platform::DeviceHandle m_hDevice = 0;
    platform::SocketHandle m_socket = 0;
    int32_t m_hPrinter = 0;
    platform::ModuleHandle m_hLibrary = nullptr;
    qv71XXOpenPrinter_t m_qv71XXOpenPrinter = nullptr;
    qv71XXWriteData_t m_qv71XXWriteData = nullptr;
    qv71XXReadData_t m_qv71XXReadData = nullptr;
    qv71XXWrite_t m_qv71XXWrite = nullptr;
    qv71XXRead_t m_qv71XXRead = nullptr;
    qv71XXWriteReadComplete_t m_qv71XXWriteReadComplete = nullptr;
    qv71XXClosePrinter_t m_qv71XXClosePrinter = nullptr;
    qv71XXTerminate_t m_qv71XXTerminate = nullptr;
    qv71XXNetPrinterReservCommand_t m_qv71XXNetPrinterReservCommand = nullptr;
    CommandDescriptor m_commandTable[kCmdTableSize] = {};
    uint8_t m_errorInfo[22] = {};
    uint8_t m_productInfo[36] = {};
    uint8_t m_systemInfo[51] = {};
    uint8_t m_printerStatus[60] = {};
    uint8_t m_netSettings[64] = {};
    uint32_t m_errorDetail = 0;
    uint8_t m_errorCategory = 0;

    // Tests: closes any link, forgets the library binding and the error
    // record.
    void ResetForTest();

private:
    void BuildCommandTable();  // fills rows 0 to 26 (commands/)
    void ClearReplyAreas();    // the 51-, 60- and 64-byte areas

public:
    struct Direction;

private:
    int32_t Transfer(const Direction& direction, void* data, int32_t length);

    // The USB backend that opened m_hDevice. A handle is closed through it
    // only while it is still the backend in force.
    platform::UsbBackend* m_usbBackend = nullptr;
    // The same for the TCP backend that opened m_socket.
    platform::TcpBackend* m_tcpBackend = nullptr;

public:
    // The device the USB link opened last (kept after it closes, for the
    // front end's report); empty until a USB open succeeds.
    platform::UsbMember m_usbOpened;
};

// Milliseconds a TCP receive waits (30 s); tests may shorten it.
void SetTcpReceiveTimeoutForTest(uint32_t ms);

// Tests: closes any link, clears the error record and puts the link
// settings (kind, the three texts, the library table, the selected printer)
// and the receive time-outs back to their values at process start.
void ResetLinkForTest();

// The global link object (app/globals.cpp).
extern CPrinterIO g_printerIO;

// Opening and closing by the configured link kind (g_linkKind).
int OpenLink();
int CloseLink();
struct LibraryEntry;
void CountLibraryPrinters(LibraryEntry* entry);

// Query operations shared by identification and the update procedure.
int ReservePrinter(char request, int32_t* result);
int QuerySystemInfo(uint8_t* destination51);
int QueryPrinterStatus(uint8_t* destination60);
