// The Windows program around the updater: its command line, the dialog on
// a real window with its progress bar, and the application object.
#pragma once

#include <windows.h>

#include <string>

// Runs the updater: installs the window factory and the progress bar, runs
// the application object (single instance, the main dialog) and returns
// the exit status of its outcome (frontends/terminal/exit_status.h).
int RunUpdater(HINSTANCE instance);

// What both programs do first: takes the current folder out of the
// library search order, reads the command line and answers --help and
// --version. Returns true when the updater is to run; otherwise *status is
// the exit status. *scenarioFile receives --scenario when allowScenario.
bool PrepareProgram(const char* program, bool allowScenario, int* status,
                    std::string* scenarioFile);
