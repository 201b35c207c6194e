#include "frontends/win32/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>

#include "frontends/terminal/exit_status.h"
#include "frontends/win32/wide_text.h"

CommandLine ParseCommandLine(const std::vector<std::string>& args, bool virtualPrinter) {
    CommandLine c;
    for (size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        if (a == "--help" || a == "-h" || a == "/?") {
            c.help = true;
        } else if (a == "--version") {
            c.version = true;
        } else if (virtualPrinter && a == "--scenario") {
            if (k + 1 >= args.size()) {
                c.error = "--scenario needs a file name";
                return c;
            }
            c.scenarioFile = args[++k];
        } else if (virtualPrinter && a == "--transfer-delay") {
            char* end = nullptr;
            const unsigned long ms =
                k + 1 < args.size() ? std::strtoul(args[k + 1].c_str(), &end, 10) : 0;
            if (k + 1 >= args.size() || args[k + 1].empty() || *end != '\0' || ms > 1000) {
                c.error = "--transfer-delay needs milliseconds from 0 to 1000";
                return c;
            }
            c.transferDelayMs = static_cast<uint32_t>(ms);
            ++k;
        } else {
            c.error = "unknown argument: " + a;
            return c;
        }
    }
    return c;
}

std::vector<std::string> ProcessArguments() {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (argv == nullptr) return args;
    for (int k = 1; k < count; ++k) args.push_back(Utf8Text(argv[k]));
    ::LocalFree(argv);
    return args;
}

std::string HelpText(const char* program, bool virtualPrinter) {
    std::string text =
        std::string(program) +
        ": the ZK-Q870 firmware updater.\n"
        "Start it with the printer connected by USB; it identifies the printer,\n"
        "shows the firmware version it runs and the one this updater installs\n"
        "(1.3), and offers \"ファームウェアアップデート\" (update) and \"終了\" (exit).\n"
        "Configuration: Vadrellix.ini beside the executable.\n\n"
        "Options:\n"
        "  --help      this text\n"
        "  --version   the updater's version\n";
    if (virtualPrinter)
        text +=
            "  --scenario FILE        describe the built-in virtual printer with a scenario file\n"
            "                         (JSON)\n"
            "  --transfer-delay MS    each USB transfer call takes MS milliseconds longer\n";
    return text + "\n" + ExitStatusHelp();
}

namespace {

bool Write(DWORD which, const std::string& text) {
    HANDLE out = ::GetStdHandle(which);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return false;
    DWORD mode = 0;
    if (::GetConsoleMode(out, &mode)) {
        const std::wstring wide = WideText(text);
        DWORD written = 0;
        return ::WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written,
                               nullptr) != FALSE;
    }
    DWORD written = 0;
    return ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

}  // namespace

void Tell(const std::string& text, const std::string& caption, bool isError) {
    if (Write(isError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE, text)) return;
    ::MessageBoxW(nullptr, WideText(text).c_str(), WideText(caption).c_str(),
                  isError ? MB_ICONHAND : MB_OK);
}
