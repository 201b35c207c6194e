// quillon-vp.exe: the same dialog program with the built-in virtual printer
// as its USB printer, for the tests of the real window (never shipped). The
// printer runs in this process on the real clock and restarts quickly.
#include <windows.h>

#include <memory>
#include <string>

#include "frontends/terminal/builtin_printer.h"
#include "frontends/terminal/exit_status.h"
#include "frontends/win32/command_line.h"
#include "frontends/win32/updater_program.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    int status = 0;
    std::string scenarioFile;
    if (!PrepareProgram("quillon-vp", true, &status, &scenarioFile)) return status;
    sim::Scenario scenario;
    std::string error;
    if (!BuiltInScenario(scenarioFile, &scenario, &error)) {
        Tell("quillon-vp: " + error + "\n", "quillon-vp", true);
        return kExitBadScenario;
    }
    auto printer = std::make_unique<BuiltInPrinter>(std::move(scenario));
    return RunUpdater(instance);
}
