// quillon-cmd: lists the rows of the command descriptor table and runs one
// of them against a printer, or searches the local network for printers.
//
//   quillon-cmd list
//   quillon-cmd run ROW [--arg N=TEXT]... (--tcp HOST[:PORT] | --usb) [--in FILE] [--out FILE]
//   quillon-cmd search [--keyword1 K] [--keyword2 K] [--address A] [--max N]
#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "commands/command_runner.h"
#include "commands/printer_search.h"
#include "link/printer_io.h"
#include "platform/socket.h"
#include "platform/trace_sink.h"

namespace {

constexpr int kExitCommandFailed = 1;
constexpr int kExitBadArguments = 2;
constexpr int kExitNoLink = 3;

constexpr uint32_t kVendorId = 0x5B7D;
constexpr uint32_t kProductId = 0x0023;
constexpr uint32_t kDefaultPort = 9100;
constexpr size_t kLogBytes = 1048576;          // the most FS V takes in one exchange
constexpr size_t kMaxPrinterData = 64u << 20;  // the most this tool asks of FS G
constexpr size_t kPlaneBytes = 2662400;
constexpr size_t kNetSettingsBytes = 64;
constexpr int kMaxSearchReplies = static_cast<int>(kSearchBufferSize / (6 + kSearchRecordSize));

// Rows whose commands use caller memory or write results.
constexpr int kRowPrinterData = 5;
constexpr int kRowLog = 6;
constexpr int kRowReserve = 7;
constexpr int kRowNetGet = 9;
constexpr int kRowNetSet = 10;
constexpr int kRowSearch = 11;
constexpr int kRowDma = 25;

int Fail(int code, const std::string& message) {
    std::cerr << "quillon-cmd: " << message << "\n";
    return code;
}

// The number of rows before the closing row.
int RowCount() {
    int n = 0;
    while (n < kCmdTableSize && g_printerIO.m_commandTable[n].handler != nullptr) ++n;
    return n;
}

void PrintHex(const uint8_t* data, size_t size, size_t shown) {
    const size_t n = size < shown ? size : shown;
    for (size_t line = 0; line < n; line += 16) {
        std::printf("  %08zx ", line);
        for (size_t i = line; i < line + 16 && i < n; ++i) std::printf(" %02X", data[i]);
        std::printf("\n");
    }
    if (n < size) std::printf("  ... %zu bytes, first %zu shown\n", size, n);
}

// Exactly four dotted decimal numbers 0 to 255 (the short forms that the
// socket library also accepts, such as "1.2.3", are refused).
bool IsDottedQuad(const std::string& text) {
    int parts = 0;
    size_t i = 0;
    while (i <= text.size()) {
        size_t end = text.find('.', i);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(i, end - i);
        if (part.empty() || part.size() > 3 ||
            part.find_first_not_of("0123456789") != std::string::npos ||
            std::atoi(part.c_str()) > 255)
            return false;
        ++parts;
        i = end + 1;
    }
    return parts == 4;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out);
}

// "N=TEXT" into slot N of the arguments.
bool ApplyArgument(const CommandDescriptor& row, const std::string& spec,
                   CommandArguments* arguments, std::string* error) {
    const size_t eq = spec.find('=');
    if (eq == std::string::npos || eq == 0) {
        *error = "--arg expects N=TEXT, got \"" + spec + "\"";
        return false;
    }
    const std::string number = spec.substr(0, eq);
    const std::string text = spec.substr(eq + 1);
    if (number.find_first_not_of("0123456789") != std::string::npos || number.size() > 2) {
        *error = "--arg slot \"" + number + "\" is not a slot number 0 to 19";
        return false;
    }
    const int slot = std::atoi(number.c_str());
    if (slot >= kCmdParamSlots) {
        *error = "--arg slot " + number + " is out of range (0 to 19)";
        return false;
    }
    if (IsAddressSlot(row.params[slot])) {
        *error = "slot " + number + " is an address slot; use --in for data";
        return false;
    }
    if (text.size() >= static_cast<size_t>(kCmdDefaultTextSize)) {
        *error = "--arg text for slot " + number + " is longer than 255 bytes";
        return false;
    }
    char* target = arguments->Text(slot);
    std::memset(target, 0, kCmdDefaultTextSize);
    std::memcpy(target, text.data(), text.size());
    return true;
}

struct LinkOptions {
    std::string tcp;
    bool usb = false;
};

// Opens the link; the object closes it again on every way out.
class OpenedLink {
public:
    int Open(const LinkOptions& link, std::string* error) {
        if (link.usb) {
            if (g_printerIO.Open(static_cast<int32_t>(kVendorId), static_cast<int32_t>(kProductId),
                                 -1) != 1) {
                *error = "cannot open the printer's USB device (see the trace lines above)";
                return kExitNoLink;
            }
            m_open = true;
            return 0;
        }
        std::string host = link.tcp;
        uint32_t port = kDefaultPort;
        const size_t colon = host.rfind(':');
        if (colon != std::string::npos) {
            const std::string portText = host.substr(colon + 1);
            host.resize(colon);
            if (portText.empty() || portText.size() > 5 ||
                portText.find_first_not_of("0123456789") != std::string::npos ||
                std::atoi(portText.c_str()) < 1 || std::atoi(portText.c_str()) > 65535) {
                *error = "--tcp port \"" + portText + "\" is not a port number 1 to 65535";
                return kExitBadArguments;
            }
            port = static_cast<uint32_t>(std::atoi(portText.c_str()));
        }
        if (!IsDottedQuad(host)) {
            *error = "--tcp host \"" + host + "\" is not a dotted IPv4 address";
            return kExitBadArguments;
        }
        if (g_printerIO.Open(port, host.c_str()) != 1) {
            *error = "cannot connect to " + host + ":" + std::to_string(port) +
                     " (see the trace lines above)";
            return kExitNoLink;
        }
        m_open = true;
        return 0;
    }
    ~OpenedLink() {
        if (m_open) g_printerIO.Close();
    }

private:
    bool m_open = false;
};

int List() {
    const int rows = RowCount();
    for (int r = 0; r < rows; ++r) {
        const CommandDescriptor& row = g_printerIO.m_commandTable[r];
        std::printf("%2d  %s\n", r, row.title);
        for (int s = 0; s < kCmdParamSlots; ++s) {
            const CommandParam& p = row.params[s];
            if (p.label == nullptr) continue;
            std::printf("      slot %2d  %s = \"%s\"\n", s, p.label, p.defaultText);
        }
    }
    std::printf("%d rows\n", rows);
    return 0;
}

struct RunOptions {
    int row = -1;
    std::vector<std::string> args;
    LinkOptions link;
    std::string in;
    std::string out;
};

int Run(const RunOptions& options) {
    const int rows = RowCount();
    if (options.row < 0 || options.row >= rows)
        return Fail(kExitBadArguments,
                    "ROW " + std::to_string(options.row) + " is not a row (0 to " +
                        std::to_string(rows - 1) + "; see quillon-cmd list)");
    const int r = options.row;
    const CommandDescriptor& row = g_printerIO.m_commandTable[r];
    CommandArguments arguments(row);
    std::string error;
    for (const std::string& spec : options.args)
        if (!ApplyArgument(row, spec, &arguments, &error)) return Fail(kExitBadArguments, error);

    if (!options.in.empty() && r != kRowNetSet && r != kRowDma)
        return Fail(kExitBadArguments, "--in gives data only to rows 10 and 25");
    if (!options.out.empty() && r != kRowPrinterData && r != kRowLog)
        return Fail(kExitBadArguments, "--out saves data only of rows 5 and 6");

    // Caller memory for the rows that need it.
    std::vector<uint8_t> memory;
    size_t dataSize = 0;  // bytes of `memory` that hold reply data after the run
    switch (r) {
    case kRowPrinterData: {
        // The command writes as many bytes as slot 0 asks, uncapped.
        const uint32_t asked = static_cast<uint32_t>(std::atoi(arguments.Text(0)));
        if (asked > kMaxPrinterData)
            return Fail(kExitBadArguments, "slot 0 asks for " + std::to_string(asked) +
                                               " bytes; this tool takes at most " +
                                               std::to_string(kMaxPrinterData));
        memory.assign(asked, 0);
        arguments.SetAddress(1, memory.data());
        dataSize = asked;
        break;
    }
    case kRowLog: {
        // The asked length, capped as the command caps it.
        uint32_t asked = static_cast<uint32_t>(std::atoi(arguments.Text(0)));
        if (asked > kLogBytes) asked = kLogBytes;
        memory.assign(asked, 0);
        arguments.SetAddress(1, memory.data());
        break;
    }
    case kRowSearch:
        memory.assign(kSearchRecordSize * kMaxSearchReplies, 0);
        arguments.SetAddress(4, memory.data());
        break;
    case kRowNetSet:
    case kRowDma: {
        const size_t needed = r == kRowNetSet ? kNetSettingsBytes
                              : arguments.Text(0)[0] == '0' ? 3 * kPlaneBytes
                                                           : kPlaneBytes;
        if (options.in.empty()) {
            // A setting area of zero bytes unless one is given.
            if (r != kRowNetSet)
                return Fail(kExitBadArguments, "row " + std::to_string(r) + " needs --in FILE (" +
                                                   std::to_string(needed) + " bytes)");
            memory.assign(needed, 0);
            arguments.SetAddress(1, memory.data());
            break;
        }
        if (!ReadFile(options.in, &memory))
            return Fail(kExitBadArguments, "cannot read " + options.in);
        if (memory.size() != needed)
            return Fail(kExitBadArguments, options.in + " holds " + std::to_string(memory.size()) +
                                               " bytes; row " + std::to_string(r) + " needs " +
                                               std::to_string(needed));
        arguments.SetAddress(1, memory.data());
        break;
    }
    default:
        break;
    }

    OpenedLink link;
    if (const int code = link.Open(options.link, &error); code != 0) return Fail(code, error);

    const int result = RunCommandRow(&g_printerIO, r, &arguments);
    std::printf("row %d %s: result %d\n", r, row.title, result);

    // Output slots.
    const int outputSlot = r == kRowLog ? 2 : r == kRowReserve ? 1 : r == kRowSearch ? 5 : -1;
    if (outputSlot >= 0)
        std::printf("slot %d %s = \"%s\"\n", outputSlot, row.params[outputSlot].label,
                    arguments.Text(outputSlot));

    // The reply area.
    const uint8_t* area = nullptr;
    size_t areaSize = 0;
    switch (r) {
    case 0: area = g_printerIO.m_errorInfo; areaSize = sizeof g_printerIO.m_errorInfo; break;
    case 1: area = g_printerIO.m_productInfo; areaSize = sizeof g_printerIO.m_productInfo; break;
    case 3: area = g_printerIO.m_systemInfo; areaSize = sizeof g_printerIO.m_systemInfo; break;
    case 4:
        area = g_printerIO.m_printerStatus;
        areaSize = sizeof g_printerIO.m_printerStatus;
        break;
    case kRowNetGet:
        area = g_printerIO.m_netSettings;
        areaSize = sizeof g_printerIO.m_netSettings;
        break;
    case kRowPrinterData: area = memory.data(); areaSize = dataSize; break;
    case kRowLog:
        if (result == 1) {
            dataSize = static_cast<size_t>(std::atoi(arguments.Text(2)));
            if (dataSize > memory.size()) dataSize = memory.size();
        }
        area = memory.data();
        areaSize = dataSize;
        break;
    case kRowSearch: {
        const int taken = std::atoi(arguments.Text(5));
        areaSize = kSearchRecordSize * static_cast<size_t>(taken < 0 ? 0
                                                            : taken > kMaxSearchReplies ? kMaxSearchReplies
                                                                                        : taken);
        area = memory.data();
        break;
    }
    default: break;
    }
    if (area != nullptr) {
        std::printf("reply area: %zu bytes\n", areaSize);
        PrintHex(area, areaSize, 512);
    }
    if (!options.out.empty() && result == 1) {
        if (!WriteFile(options.out, area, areaSize))
            return Fail(kExitCommandFailed, "cannot write " + options.out);
        std::printf("saved %zu bytes to %s\n", areaSize, options.out.c_str());
    }
    return result == 1 ? 0 : kExitCommandFailed;
}

struct SearchOptions {
    std::string keyword1;
    std::string keyword2;
    std::string address;
    int max = 16;
};

int Search(const SearchOptions& options) {
    if (!options.address.empty() && !IsDottedQuad(options.address))
        return Fail(kExitBadArguments,
                    "--address \"" + options.address + "\" is not a dotted IPv4 address");
    for (const std::string* k : {&options.keyword1, &options.keyword2})
        if (k->size() >= static_cast<size_t>(kCmdDefaultTextSize))
            return Fail(kExitBadArguments, "a keyword is longer than 255 bytes");

    const CommandDescriptor& row = g_printerIO.m_commandTable[kRowSearch];
    CommandArguments arguments(row);
    auto set = [&](int slot, const std::string& text) {
        std::memset(arguments.Text(slot), 0, kCmdDefaultTextSize);
        std::memcpy(arguments.Text(slot), text.data(), text.size());
    };
    // An empty keyword 1 falls back to the default pair.
    set(0, options.keyword1);
    set(1, options.keyword2);
    set(2, options.address);
    set(3, std::to_string(options.max));
    set(5, "0");
    std::vector<uint8_t> replies(kSearchRecordSize * kMaxSearchReplies, 0);
    arguments.SetAddress(4, replies.data());

    const int result = RunCommandRow(&g_printerIO, kRowSearch, &arguments);
    const int taken = std::atoi(arguments.Text(5));
    std::printf("search: result %d, %d replies\n", result, taken);
    for (int k = 0; k < taken && k < kMaxSearchReplies; ++k) {
        std::printf("reply %d:\n", k + 1);
        PrintHex(replies.data() + kSearchRecordSize * static_cast<size_t>(k), kSearchRecordSize,
                 kSearchRecordSize);
    }
    return result == 1 ? 0 : kExitCommandFailed;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Console over the printer's command table: list the commands, run one "
                 "against a printer over TCP or USB, or search the local network for printers."};
    app.require_subcommand(1);

    app.add_subcommand("list", "List every command row with its slot labels and defaults");

    RunOptions run;
    CLI::App* runCmd = app.add_subcommand("run", "Run one row of the command table");
    runCmd->add_option("ROW", run.row, "Row number (see list)")->required();
    runCmd->add_option("--arg", run.args, "Slot text N=TEXT (repeatable)")->type_name("N=TEXT");
    CLI::Option* tcp =
        runCmd->add_option("--tcp", run.link.tcp, "Printer at HOST[:PORT] (port 9100 by default)")
            ->type_name("HOST[:PORT]");
    CLI::Option* usb = runCmd->add_flag("--usb", run.link.usb, "The printer's USB device (QUILLON_USB_ROOT is honoured)");
    tcp->excludes(usb);
    runCmd->add_option("--in", run.in,
                       "Data for row 10 (64-byte setting area; zero bytes without --in) or row 25 (image: 7987200 bytes "
                       "for data type 0, 2662400 otherwise)")
        ->type_name("FILE");
    runCmd->add_option("--out", run.out, "Save the data of row 5 (FS G) or row 6 (FS V) to FILE")
        ->type_name("FILE");

    SearchOptions search;
    CLI::App* searchCmd = app.add_subcommand("search", "Search the local network for printers (UDP broadcast)");
    searchCmd->add_option("--keyword1", search.keyword1, "Keyword 1 (default ZK-Q920)");
    searchCmd->add_option("--keyword2", search.keyword2, "Keyword 2 (default ZK-Q920)");
    searchCmd->add_option("--address", search.address, "Own address to send from (dotted IPv4)");
    searchCmd->add_option("--max", search.max, "Most replies to take (0 to 16)")
        ->check(CLI::Range(0, kMaxSearchReplies));

    // Every way of getting the command line wrong ends with the same status
    // as the tool's own argument checks; --help ends with 0.
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : kExitBadArguments;
    }

    // Trace lines go to standard error as well as the debug channel.
    platform::SetTraceObserver([](std::string_view line) {
        std::fwrite(line.data(), 1, line.size(), stderr);
    });

    if (app.got_subcommand("list")) return List();
    if (app.got_subcommand("search")) return Search(search);
    if (run.link.tcp.empty() && !run.link.usb)
        return Fail(kExitBadArguments, "run needs --tcp HOST[:PORT] or --usb");
    return Run(run);
}
