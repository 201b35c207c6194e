#include "frontends/terminal/outcome_json.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "link/printer_io.h"

const char* OutcomeName(const CQuillonApp& app) {
    if (app.m_anotherInstance) return "already-running";
    switch (app.m_outcome) {
        case DialogOutcome::kUpdated:
            return "updated";
        case DialogOutcome::kUpdateFailed:
            return "update-failed";
        case DialogOutcome::kRestored:
            return "st-restored";
        case DialogOutcome::kRestoreRefused:
            return "st-restore-refused";
        case DialogOutcome::kDeclined:
            return "declined";
        case DialogOutcome::kExited:
            return "exited";
        case DialogOutcome::kIdentificationFailed:
            return "identification-failed";
        case DialogOutcome::kConnectionCancelled:
            return "connection-cancelled";
        case DialogOutcome::kClosed:
            return "closed";
        case DialogOutcome::kNone:
            break;
    }
    return "not-run";
}

RunReport ReportOf(const CQuillonApp& app, int exitStatus) {
    RunReport r;
    r.outcome = OutcomeName(app);
    r.exitStatus = exitStatus;
    r.message = app.m_shownMessage;
    r.hasErrorCode = app.m_shownErrorCode;
    r.errorCategory = app.m_shownErrorCategory;
    r.errorDetail = app.m_shownErrorDetail;
    r.versionBefore = app.m_versionBefore;
    r.printer = g_printerIO.m_usbOpened;
    r.identifier = app.m_updateReport.identifier;
    r.archivedSt = app.m_updateReport.archived;
    return r;
}

std::string ReportJson(const RunReport& r) {
    using nlohmann::json;
    auto text = [](const std::string& s) { return s.empty() ? json(nullptr) : json(s); };
    json j;
    j["outcome"] = r.outcome;
    j["exitStatus"] = r.exitStatus;
    j["message"] = r.message != 0 ? json(r.message) : json(nullptr);
    if (r.hasErrorCode) {
        char code[16];
        std::snprintf(code, sizeof code, "%02x-%08x", static_cast<unsigned>(r.errorCategory),
                      static_cast<unsigned>(r.errorDetail));
        j["internalError"] = code;
    } else {
        j["internalError"] = nullptr;
    }
    j["versionBefore"] = text(r.versionBefore);
    j["versionAfter"] = text(r.versionAfter);
    json printer = nullptr;
    if (!r.printer.instanceId.empty()) {
        printer = json::object();
        printer["instanceId"] = r.printer.instanceId;
        printer["location"] = text(r.printer.location);
        printer["serial"] = text(r.printer.serial);
        printer["path"] = text(r.printer.path);
    }
    j["printer"] = printer;
    j["wayIn"] = text(r.printer.wayIn);
    j["identifier"] = text(r.identifier);
    j["archivedSt"] = r.archivedSt;
    j["bytesWritten"] = r.bytesWritten;
    // Milliseconds are enough, and keep the number short.
    j["durationSeconds"] = static_cast<double>(static_cast<int64_t>(r.seconds * 1000 + 0.5)) / 1000;
    // Texts from the printer or the system need not be valid UTF-8.
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}
