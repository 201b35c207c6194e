// The three queries that identification and the update procedure share.
#include <cstring>

#include "link/link_settings.h"
#include "link/printer_io.h"

int ReservePrinter(char request, int32_t* result) {
    switch (g_linkKind) {
        case kLinkTcp:
        case kLinkLibrary: {
            char requestText[2] = {request, '\0'};
            char resultText[256] = {};
            char* args[2] = {requestText, resultText};
            const int done = g_printerIO.CmdPrintReserve(args);
            if (result != nullptr) *result = static_cast<unsigned char>(resultText[0]) - '0';
            return done;
        }
        case kLinkUsb:
            return 1;
        default:
            return 0;
    }
}

int QuerySystemInfo(uint8_t* destination51) {
    if (g_linkKind < kLinkTcp || g_linkKind > kLinkLibrary) return 31;
    // Nowhere to copy to: refused like the status query does, before any
    // traffic.
    if (destination51 == nullptr) return 13;
    char length[] = "51";
    char* args[1] = {length};
    if (!g_printerIO.CmdSystemInfo(args)) return 17;
    memcpy(destination51, g_printerIO.m_systemInfo, sizeof g_printerIO.m_systemInfo);
    return 0;
}

int QueryPrinterStatus(uint8_t* destination60) {
    if (g_linkKind != kLinkUsb) return 31;
    if (destination60 == nullptr) return 13;
    char length[] = "60";
    char* args[1] = {length};
    if (!g_printerIO.CmdStatusInfo(args)) return 17;
    memcpy(destination60, g_printerIO.m_printerStatus, sizeof g_printerIO.m_printerStatus);
    return 0;
}
