// quillon: the ZK-Q870 firmware updater on a terminal. The same workflow
// and messages as the dialog: identify the printer, show the pending
// update, and update on request.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "app/quillon_app.h"
#include "app/quillon_dlg.h"
#include "app/string_table.h"
#include "frontends/terminal/access_guidance.h"
#include "frontends/terminal/builtin_printer.h"
#include "frontends/terminal/exit_status.h"
#include "frontends/terminal/outcome_json.h"
#include "frontends/terminal/printer_list.h"
#include "frontends/terminal/progress_view.h"
#include "frontends/terminal/restore_st.h"
#include "frontends/terminal/signal_guard.h"
#include "frontends/terminal/terminal_window.h"
#include "frontends/terminal/translation.h"
#include "link/printer_io.h"
#include "platform/dialog.h"
#include "platform/trace_sink.h"

namespace {

const char* Description() {
    return _("quillon: the ZK-Q870 firmware updater (terminal).\n"
             "Identifies the printer on USB, shows the firmware version it runs and the one this\n"
             "updater installs, and offers \"ファームウェアアップデート\" (update) and \"終了\" (exit).\n"
             "Every message box shows its caption, text and buttons and reads the answer.\n"
             "Without a terminal on standard input nothing is read: the dialog takes \"終了\" "
             "unless\n"
             "--update is given, and a question without a preset answer takes the safe one\n"
             "(Cancel / No / OK).");
}

std::string Footer() {
    return std::string(ExitStatusHelp()) +
           _("Signals: SIGINT, SIGTERM and SIGHUP never end a running update; the update goes on\n"
             "to its end and its message. Before the update they end the program (status 4).\n"
             "Archive: every ST area read from a printer is kept in\n"
             "  $XDG_STATE_HOME/quillon/st/<identifier>-<UTC time>.qfw (~/.local/state by "
             "default)\n") +
           Format(_("Environment:\n"
                    "  QUILLON_USB_ROOT  root of the USB device tree (default /)\n"
                    "Files:\n"
                    "  Vadrellix.ini  the configuration, read from the program's own folder; "
                    "installed,\n"
                    "                 that folder's copy is a link to /etc/quillon/Vadrellix.ini\n"
                    "  %s  the udev rule that lets the desktop session's user and the group "
                    "\"%s\"\n"
                    "                   open the printer: /usr/lib/udev/rules.d/ (package) or\n"
                    "                   /etc/udev/rules.d/ (by hand)\n"),
                  kUdevRuleName, kPrinterGroup);
}

// CLI11's own words in its help output.
void TranslateHelpLabels(CLI::App& cli) {
    auto formatter = cli.get_formatter();
    formatter->label("Usage", _("Usage"));
    formatter->label("OPTIONS", _("OPTIONS"));
    formatter->label("REQUIRED", _("REQUIRED"));
    formatter->label("Needs", _("Needs"));
    formatter->label("Excludes", _("Excludes"));
    formatter->label("FILE", _("FILE"));
}

// Beside the system's connection and internal-error messages: why a
// printer that is there cannot be opened, when that is the reason.
void GuideBeforeBox(std::ostream& out, const std::string& text) {
    if (text == LoadStringText(kIdsConnectRetry) || g_printerIO.m_errorCategory == kErrUsbOpen)
        PrintAccessGuidance(out);
}

}  // namespace

int main(int argc, char** argv) {
    InitTranslation();
    // From here on no signal cuts a maintenance run short.
    CSignalGuard signals(_(kSignalNotice));
    const auto started = std::chrono::steady_clock::now();

    CLI::App cli{Description(), "quillon"};
    TranslateHelpLabels(cli);
    cli.option_defaults()->group(_("Options"));
    cli.set_help_flag("-h,--help", _("Print this help message and exit"))->group(_("Options"));
    bool virtualPrinter = false;
    bool pressUpdate = false;
    bool answerYes = false;
    bool list = false;
    bool trace = false;
    bool json = false;
    std::string scenarioFile;
    auto* vpOpt = cli.add_flag("--virtual-printer", virtualPrinter,
                               _("Use the built-in virtual printer as the USB printer"));
    cli.add_option("--scenario", scenarioFile,
                   _("Describe the built-in virtual printer with a scenario file (JSON)"))
        ->type_name("FILE")
        ->needs(vpOpt);
    cli.add_flag("--update", pressUpdate, _("Press \"ファームウェアアップデート\" without waiting"));
    cli.add_flag("--yes", answerYes, _("Answer Yes to the confirmation"));
    auto* listOpt = cli.add_flag(
        "--list", list,
        _("List the printers that match the updater's USB ids (5B7D/0023), with bus path, "
          "serial, way in and whether this user can open them, and end"));
    cli.add_flag("--trace", trace, _("Mirror trace lines to standard error"));
    cli.add_flag("--json", json,
                 _("End with one line of JSON on standard output: outcome, exit status, message, "
                   "internal-error code, versions before and after, printer, way in, bytes "
                   "written, duration"))
        ->excludes(listOpt);
    std::string restoreFile;
    bool force = false;
    auto* restoreOpt =
        cli.add_option("--restore-st", restoreFile,
                       _("Service: write an archived copy of the printer's ST data back into it"))
            ->type_name("FILE")
            ->excludes(listOpt);
    cli.add_flag("--force", force,
                 _("With --restore-st: write a copy whose name names another printer, or none"))
        ->needs(restoreOpt);
    cli.set_version_flag("--version", "quillon 1.3.0 (installs firmware 1.3)",
                         _("Display program version information and exit"));
    cli.footer(Footer());
    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = cli.exit(e);
        return code == 0 ? 0 : kExitUsage;
    }

    // The report of --json, at the very end of standard output.
    auto report = [&](RunReport r) {
        if (!json) return;
        r.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::cout << ReportJson(r) << "\n" << std::flush;
    };

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
            RunReport bad;
            bad.outcome = "bad-scenario";
            bad.exitStatus = kExitBadScenario;
            report(bad);
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
            RunReport bad;
            bad.outcome = "bad-st-copy";
            bad.exitStatus = kExitBadStCopy;
            report(bad);
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
        auto window = std::make_unique<TerminalWindow>(std::cin, std::cout, options);
        window->SetBeforeBox(&GuideBeforeBox);
        return window;
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
    const int status = CSignalGuard::CancelRequested() ? kExitCancelled : ExitStatusFor(theApp);
    RunReport r = ReportOf(theApp, status);
    r.bytesWritten = progress.bytesSent();
    r.versionAfter = progress.versionBack();
    report(r);
    return status;
}
