#include "frontends/win32/updater_program.h"

#include <memory>
#include <string>

#include "app/quillon_app.h"
#include "frontends/terminal/exit_status.h"
#include "frontends/win32/command_line.h"
#include "frontends/win32/dialog_window.h"
#include "frontends/win32/progress_bar.h"
#include "platform/dialog.h"

bool PrepareProgram(const char* program, bool virtualPrinter, int* status, CommandLine* options) {
    // Nothing is ever loaded from the current folder (see also
    // platform::LoadDynamicLibrary).
    ::SetDllDirectoryW(L"");
    const CommandLine c = ParseCommandLine(ProcessArguments(), virtualPrinter);
    if (!c.error.empty()) {
        Tell(std::string(program) + ": " + c.error + "\n(" + program +
                 " --help lists the options)\n",
             program, true);
        *status = kExitUsage;
        return false;
    }
    if (c.help) {
        Tell(HelpText(program, virtualPrinter), program, false);
        *status = 0;
        return false;
    }
    if (c.version) {
        Tell(std::string(program) + " " QUILLON_VERSION " (installs firmware 1.3)\n", program,
             false);
        *status = 0;
        return false;
    }
    if (options != nullptr) *options = c;
    return true;
}

int RunUpdater(HINSTANCE instance) {
    DialogProgress progress;
    unsigned long windowError = 0;
    platform::SetDialogWindowFactory(
        [instance, &progress, &windowError](
            const platform::DialogTemplate& tmpl) -> std::unique_ptr<platform::DialogWindow> {
            auto window = std::make_unique<Win32DialogWindow>(instance);
            if (!window->CreateFromTemplate(tmpl.id, &windowError)) return nullptr;
            progress.Attach(window->hwnd());
            return window;
        });
    theApp.m_progress = &progress;

    theApp.Run();

    theApp.m_progress = nullptr;
    progress.Attach(nullptr);
    platform::SetDialogWindowFactory(nullptr);
    if (!theApp.m_anotherInstance && theApp.m_modalResult == -1)
        Tell("quillon: the dialog window could not be created (system error " +
                 std::to_string(windowError) + ")\n",
             theApp.AppName(), true);
    return ExitStatusFor(theApp);
}
