// quillon --json: one JSON object on the last line of standard output that
// says how the run ended, for scripts that update many printers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/quillon_app.h"
#include "platform/usb.h"

struct RunReport {
    std::string outcome;          // "updated", "update-failed", ... (OutcomeName)
    int exitStatus = 0;
    unsigned message = 0;         // the last message's string id, 0 for none
    bool hasErrorCode = false;    // message 118's code, as it showed it
    uint8_t errorCategory = 0;
    uint32_t errorDetail = 0;
    std::string versionBefore;    // "" when identification did not read it
    std::string versionAfter;     // "" when the printer did not come back
    platform::UsbMember printer;  // the device the link opened last
    std::string identifier;       // the printer's identifier, "" when not read
    std::vector<std::string> archivedSt;  // ST archive files the run wrote
    uint64_t bytesWritten = 0;    // firmware bytes sent
    double seconds = 0;
};

// The outcome's name in the report.
const char* OutcomeName(const CQuillonApp& app);

// The report of a finished run.
RunReport ReportOf(const CQuillonApp& app, int exitStatus);

// The report as one line of JSON (no line feed). Absent values are null.
std::string ReportJson(const RunReport& report);
