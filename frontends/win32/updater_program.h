// The Windows program around the updater: its command line, the dialog on
// a real window with its progress bar, and the application object.
#pragma once

#include <windows.h>

#include <string>

#include "frontends/win32/command_line.h"

// Runs the updater: installs the window factory and the progress bar, runs
// the application object (single instance, the main dialog) and returns
// the exit status of its outcome (frontends/terminal/exit_status.h).
int RunUpdater(HINSTANCE instance);

// What both programs do first: takes the current folder out of the
// library search order, reads the command line and answers --help and
// --version. Returns true when the updater is to run; otherwise *status is
// the exit status. *options receives the command line.
bool PrepareProgram(const char* program, bool virtualPrinter, int* status, CommandLine* options);
