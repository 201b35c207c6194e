// The Windows program's command line. The updater itself takes no
// arguments: a technician starts it by double-click. --help and --version
// answer on the standard output when there is one (a console or a
// redirection), else in a message box.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CommandLine {
    bool help = false;
    bool version = false;
    // The virtual-printer build only:
    std::string scenarioFile;      // --scenario FILE
    uint32_t transferDelayMs = 0;  // --transfer-delay MS
    std::string error;             // not empty: the command line is bad
};

// Parses the arguments after the program name (UTF-8). virtualPrinter
// admits the options of the virtual-printer build.
CommandLine ParseCommandLine(const std::vector<std::string>& args, bool virtualPrinter);
// The arguments after the program name of this process (UTF-8).
std::vector<std::string> ProcessArguments();

// The text of --help.
std::string HelpText(const char* program, bool virtualPrinter);

// Writes text where a technician or a script sees it: the standard output
// (or error) when the process has one, else a message box with caption.
void Tell(const std::string& text, const std::string& caption, bool isError);
