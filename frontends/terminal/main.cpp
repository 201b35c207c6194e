// quillon: the ZK-Q870 firmware updater on a terminal. The same workflow
// and messages as the dialog: identify the printer, show the pending
// update, and update on request.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "app/quillon_app.h"
#include "app/quillon_dlg.h"
#include "frontends/terminal/builtin_printer.h"
#include "frontends/terminal/exit_status.h"
#include "frontends/terminal/printer_list.h"
#include "frontends/terminal/progress_view.h"
#include "frontends/terminal/restore_st.h"
#include "frontends/terminal/signal_guard.h"
#include "frontends/terminal/terminal_window.h"
#include "platform/dialog.h"
#include "platform/trace_sink.h"

namespace {

const char kDescription[] =
    "quillon: the ZK-Q870 firmware updater (terminal).\n"
    "Identifies the printer on USB, shows the firmware version it runs and the one this\n"
    "updater installs, and offers \"ファームウェアアップデート\" (update) and \"終了\" (exit).\n"
    "Every message box shows its caption, text and buttons and reads the answer.\n"
    "Without a terminal on standard input nothing is read: the dialog takes \"終了\" unless\n"
    "--update is given, and a question without a preset answer takes the safe one\n"
    "(Cancel / No / OK).";

const char kFooter[] =
    "Signals: SIGINT, SIGTERM and SIGHUP never end a running update; the update goes on\n"
    "to its end and its message. Before the update they end the program (status 4).\n"
    "Archive: every ST area read from a printer is kept in\n"
    "  $XDG_STATE_HOME/quillon/st/<identifier>-<UTC time>.qfw (~/.local/state by default)\n"
    "Environment:\n"
    "  QUILLON_USB_ROOT  root of the USB device tree (default /)\n"
    "Configuration: Vadrellix.ini beside the executable.\n";

}  // namespace

int main(int argc, char** argv) {
    // From here on no signal cuts a maintenance run short.
    CSignalGuard signals(kSignalNotice);
    CLI::App cli{kDescription, "quillon"};
    bool virtualPrinter = false;
    bool pressUpdate = false;
    bool answerYes = false;
    bool list = false;
    bool trace = false;
    std::string scenarioFile;
    auto* vpOpt = cli.add_flag("--virtual-printer", virtualPrinter,
                               "Use the built-in virtual printer as the USB printer");
    cli.add_option("--scenario", scenarioFile,
                   "Describe the built-in virtual printer with a scenario file (JSON)")
        ->type_name("FILE")
        ->needs(vpOpt);
    cli.add_flag("--update", pressUpdate, "Press \"ファームウェアアップデート\" without waiting");
    cli.add_flag("--yes", answerYes, "Answer Yes to the confirmation");
    cli.add_flag("--list", list,
                 "List the printers that match the updater's USB ids (5B7D/0023) and end");
    cli.add_flag("--trace", trace, "Mirror trace lines to standard error");
    std::string restoreFile;
    bool force = false;
    auto* restoreOpt =
        cli.add_option("--restore-st", restoreFile,
                       "Service: write an archived copy of the printer's ST data back into it")
            ->type_name("FILE")
            ->excludes("--list");
    cli.add_flag("--force", force,
                 "With --restore-st: write a copy whose name names another printer, or none")
        ->needs(restoreOpt);
    cli.set_version_flag("--version", "quillon 1.3.0 (installs firmware 1.3)");
    cli.footer(std::string(kExitStatusHelp) + kFooter);
    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = cli.exit(e);
        return code == 0 ? 0 : kExitUsage;
    }

    if (trace)
        platform::SetTraceObserver([](std::string_view line) {
            std::fwrite(line.data(), 1, line.size(), stderr);
            std::fflush(stderr);
        });

    std::unique_ptr<BuiltInPrinter> builtIn;
    if (virtualPrinter) {
        sim::Scenario scenario;
        std::string error;
        if (!BuiltInScenario(scenarioFile, &scenario, &error)) {
            std::fprintf(stderr, "quillon: %s\n", error.c_str());
            return kExitBadScenario;
        }
        builtIn = std::make_unique<BuiltInPrinter>(std::move(scenario));
    }

    if (list) return ListPrinters(std::cout, std::cerr);

    StRestoreRequest restore;
    if (!restoreFile.empty()) {
        std::string error;
        if (!LoadStCopy(restoreFile, force, &restore, &error)) {
            std::fprintf(stderr, "quillon: %s\n", error.c_str());
            return kExitBadStCopy;
        }
        theApp.m_restore = &restore;
    }

    TerminalOptions options;
    options.interactive = ::isatty(STDIN_FILENO) == 1;
    options.pressFirst = pressUpdate || !restoreFile.empty() ? kIdcUpdate : 0;
    options.answerYes = answerYes;
    options.stopWaiting = &CSignalGuard::StopWaiting;
    platform::SetDialogWindowFactory([&options](const platform::DialogTemplate&) {
        return std::make_unique<TerminalWindow>(std::cin, std::cout, options);
    });
    TerminalProgress progress(stderr, ::isatty(STDERR_FILENO) == 1);
    theApp.m_progress = &progress;
    theApp.m_runObserver = &signals;

    theApp.Run();

    theApp.m_progress = nullptr;
    theApp.m_runObserver = nullptr;
    theApp.m_restore = nullptr;
    platform::SetDialogWindowFactory(nullptr);
    std::cout << std::flush;
    if (!restoreFile.empty()) ReportStRestore(theApp, restoreFile, restore, stdout, stderr);
    // A signal before the update began ends the program as a cancel.
    if (CSignalGuard::CancelRequested()) return kExitCancelled;
    return ExitStatusFor(theApp);
}
