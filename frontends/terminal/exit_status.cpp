#include "frontends/terminal/exit_status.h"

#include "frontends/terminal/translation.h"

int ExitStatusFor(const CQuillonApp& app) {
    if (app.m_anotherInstance) return kExitAlreadyRunning;
    switch (app.m_outcome) {
        case DialogOutcome::kUpdated:
            return kExitUpdated;
        case DialogOutcome::kUpdateFailed:
            return kExitUpdateFailed;
        case DialogOutcome::kDeclined:
        case DialogOutcome::kExited:
            return kExitNotUpdated;
        case DialogOutcome::kIdentificationFailed:
            return kExitIdentificationFailed;
        case DialogOutcome::kConnectionCancelled:
        case DialogOutcome::kClosed:
            return kExitCancelled;
        case DialogOutcome::kNone:
            break;
    }
    return kExitInternal;
}

const char* ExitStatusHelp() {
    return _("Exit status:\n"
             "  0   the firmware was updated (message 117)\n"
             "  1   the update failed (message 118 or 116)\n"
             "  2   no update: the confirmation was declined or Exit was pressed (message 114)\n"
             "  3   the printer could not be identified (message 118 before the dialog)\n"
             "  4   cancelled: Cancel in the connection box, or the dialog was closed\n"
             "  5   another updater is already running (nothing shown)\n"
             "  64  bad command line\n"
             "  65  the scenario file cannot be read or is not valid\n"
             "  70  the dialog could not run\n");
}
