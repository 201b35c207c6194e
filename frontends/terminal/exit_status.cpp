#include "frontends/terminal/exit_status.h"

#include "frontends/terminal/translation.h"

int ExitStatusFor(const CQuillonApp& app) {
    if (app.m_anotherInstance) return kExitAlreadyRunning;
    switch (app.m_outcome) {
        case DialogOutcome::kUpdated:
        case DialogOutcome::kRestored:
            return kExitUpdated;
        case DialogOutcome::kRestoreRefused:
            return kExitBadStCopy;
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
             "  0   the firmware was updated (message 117); --restore-st: the ST copy was written\n"
             "  1   the update failed (message 118 or 116)\n"
             "  2   no update: the confirmation was declined or Exit was pressed (message 114)\n"
             "  3   the printer could not be identified (message 118 before the dialog)\n"
             "  4   cancelled: Cancel in the connection box, the dialog was closed, or SIGINT,\n"
             "      SIGTERM or SIGHUP arrived before the update began\n"
             "  5   another updater is already running (nothing shown)\n"
             "  64  bad command line\n"
             "  65  the scenario file cannot be read or is not valid\n"
             "  66  --restore-st: the ST copy is missing, empty, too large for the printer's ST area\n"
             "      or another printer's (nothing was written)\n"
             "  70  the dialog could not run\n");
}
