// The updater's string table (Japanese, UTF-8) and printf-style formatting
// of its texts.
#pragma once

#include <string>

enum : unsigned {
    kIdsConnectRetry = 111,    // the printer is not connected: retry
    kIdsUpdateTarget = 113,    // target and current version (%s, %s)
    kIdsUpdateAborted = 114,   // the update was not done: restart the printer
    kIdsConfirmOlder = 115,    // the update is not newer: go on? (%s, %s)
    kIdsUpdateFailed = 116,    // the update failed
    kIdsUpdateDone = 117,      // the update is complete
    kIdsInternalError = 118,   // unexpected error with the code %02x-%08x
    kIdsUpdating = 119,        // the update is running: do not unplug
    kIdsCaptionConfirm = 121,  // caption of questions and warnings
    kIdsCaptionError = 122,    // caption of the failure box
    kIdsFirmwareUpdate = 125,  // "firmware update"
    kIdsAppTitle = 126,        // the updater's title
    kIdsStArchived = 127,      // the printer's ST data is kept in these files (%s)
};

// The text of string resource id; empty when there is none.
std::string LoadStringText(unsigned id);

// The text of string resource id formatted printf-style with the arguments
// (texts as UTF-8 const char*, numbers as unsigned int).
std::string FormatStringText(unsigned id, ...);
