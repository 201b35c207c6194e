// The application-wide link settings that OpenLink and CloseLink read, and
// the table of loaded access libraries.
#pragma once

#include <cstdint>
#include <string>

#include "link/printer_record.h"
#include "platform/dynlib.h"

// Link kinds.
enum : int32_t {
    kLinkNone = 0,
    kLinkTcp = 1,
    kLinkUsb = 2,
    kLinkLibrary = 3,
};

constexpr int kMaxLibraries = 10;

struct LibraryEntry {
    uint32_t reserved;
    uint32_t printerCount;
    platform::ModuleHandle module;
};

extern int32_t g_linkKind;
// Built during static initialisation right after the link object (see
// app/globals.cpp); UTF-8.
extern std::string g_vendorIdText;
extern std::string g_productIdText;
extern std::string g_deviceIndexText;
extern int32_t g_activeLibrary;
extern LibraryEntry g_libraries[kMaxLibraries];
extern PrinterRecord g_selectedPrinter;
