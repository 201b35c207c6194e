#include "link/link_settings.h"

// Plain data, zero until a step of the workflow sets it. The three texts
// are defined with the link object in app/globals.cpp, which fixes their
// order of construction.
int32_t g_linkKind;
int32_t g_activeLibrary;
LibraryEntry g_libraries[kMaxLibraries];
PrinterRecord g_selectedPrinter;
