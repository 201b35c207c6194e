// The exit statuses of the terminal front end, one per outcome.
#pragma once

#include "app/quillon_app.h"

enum : int {
    kExitUpdated = 0,               // message 117: the firmware was updated (or the ST copy restored)
    kExitUpdateFailed = 1,          // message 118 or 116 after the update ran
    kExitNotUpdated = 2,            // message 114: confirmation declined, or Exit
    kExitIdentificationFailed = 3,  // message 118 before the dialog was shown
    kExitCancelled = 4,             // Cancel in the connection box, or the window closed
    kExitAlreadyRunning = 5,        // another updater runs: ended at once, nothing shown
    kExitUsage = 64,                // bad command line
    kExitBadScenario = 65,          // the scenario file cannot be read or is not valid
    kExitBadStCopy = 66,            // --restore-st: the copy cannot be written into this printer
    kExitInternal = 70,             // the dialog could not run
};

// The status for what the application reported.
int ExitStatusFor(const CQuillonApp& app);

// The table printed by --help, in the user's language.
const char* ExitStatusHelp();
