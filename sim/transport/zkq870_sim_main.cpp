// zkq870-sim: the virtual ZK-Q870 on real transports.
//
//   zkq870-sim --tcp 9100                  TCP on 127.0.0.1:9100 (0: any free port)
//   zkq870-sim --usb /tmp/zk               USB device tree with a pty node under /tmp/zk
//   zkq870-sim --udp [PORT]                answers the printer search (default 9100)
//   zkq870-sim --scenario FILE ...         a printer described in JSON
//
// Once every transport serves, one line per transport goes to standard
// error: "ready tcp 127.0.0.1:PORT", "ready usb DIR", "ready udp ADDR:PORT".
// It ends on SIGINT or SIGTERM, after --max-seconds, or with
// --exit-after-restart once the printer has restarted, answered on its new
// link and the host has gone quiet; it then writes a JSON summary to
// standard output.
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <thread>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "sim/engine/virtual_printer.h"
#include "sim/transport/printer_host.h"
#include "sim/transport/pty_device_tree.h"
#include "sim/transport/scenario_json.h"
#include "sim/transport/tcp_server.h"
#include "sim/transport/udp_responder.h"

namespace {

volatile std::sig_atomic_t g_signal = 0;

void OnSignal(int sig) { g_signal = sig; }

void InstallSignals() {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

// Milliseconds the host must stay quiet after the printer's return before
// --exit-after-restart ends the run.
constexpr uint64_t kQuietAfterReturnMs = 500;

struct PrinterGlance {
    uint32_t restarts;
    bool up;
    uint32_t generation;
    size_t pending;
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "zkq870-sim: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"The virtual ZK-Q870 printer: serves the printer's side of the wire protocol "
                 "over TCP, a pseudo-terminal USB device tree and the UDP printer search."};
    int tcpPort = -1;
    std::string usbDir;
    int udpPort = -1;
    std::string udpBind = "0.0.0.0";
    std::string scenarioFile;
    bool exitAfterRestart = false;
    double maxSeconds = 0;
    auto* tcpOpt = app.add_option("--tcp", tcpPort, "Serve on 127.0.0.1:PORT (0 picks a free port)")
                       ->type_name("PORT")
                       ->check(CLI::Range(0, 65535));
    auto* usbOpt =
        app.add_option("--usb", usbDir, "Build the USB device tree in DIR and serve its pty node")
            ->type_name("DIR");
    auto* udpOpt = app.add_option("--udp", udpPort,
                                  "Answer the printer search on UDP PORT (default 9100)")
                       ->type_name("[PORT]")
                       ->expected(0, 1)
                       ->default_str("9100")
                       ->check(CLI::Range(0, 65535));
    app.add_option("--udp-bind", udpBind, "Address the UDP responder binds (default 0.0.0.0)")
        ->type_name("ADDR");
    app.add_option("--scenario", scenarioFile, "Printer scenario (JSON)")->type_name("FILE");
    app.add_flag("--exit-after-restart", exitAfterRestart,
                 "End once the printer has restarted, answered on its new link, and the host "
                 "has been quiet for half a second");
    app.add_option("--max-seconds", maxSeconds, "End after this many seconds")
        ->type_name("N")
        ->check(CLI::PositiveNumber);
    CLI11_PARSE(app, argc, argv);

    if (!*tcpOpt && !*usbOpt && !*udpOpt)
        return Fail("nothing to serve: give --tcp, --usb and/or --udp (see --help)");

    sim::Scenario scenario;
    if (!scenarioFile.empty()) {
        std::string error;
        if (!sim::LoadScenarioFile(scenarioFile, &scenario, &error)) return Fail(error);
    }

    sim::VirtualPrinter printer(std::move(scenario));
    sim::PrinterHost host(printer);
    std::unique_ptr<sim::TcpServer> tcp;
    std::unique_ptr<sim::PtyDeviceTree> usb;
    std::unique_ptr<sim::UdpResponder> udp;
    std::string error;
    if (*tcpOpt) {
        tcp = std::make_unique<sim::TcpServer>(host, static_cast<uint16_t>(tcpPort));
        if (!tcp->Listen(&error)) return Fail(error);
    }
    if (*usbOpt) {
        std::error_code ec;
        const auto abs = std::filesystem::absolute(usbDir, ec);
        if (!ec) usbDir = abs.lexically_normal().string();
        usb = std::make_unique<sim::PtyDeviceTree>(host, usbDir);
        if (!usb->Create(&error)) return Fail(error);
    }
    if (*udpOpt) {
        udp = std::make_unique<sim::UdpResponder>(host, static_cast<uint16_t>(udpPort), udpBind);
        if (!udp->Open(&error)) return Fail(error);
    }

    InstallSignals();
    if (tcp) tcp->Start();
    if (usb) usb->Start();
    if (udp) udp->Start();
    if (tcp) std::fprintf(stderr, "ready tcp 127.0.0.1:%u\n", static_cast<unsigned>(tcp->port()));
    if (usb) std::fprintf(stderr, "ready usb %s\n", usbDir.c_str());
    if (udp)
        std::fprintf(stderr, "ready udp %s:%u\n", udp->bindAddress().c_str(),
                     static_cast<unsigned>(udp->port()));
    std::fflush(stderr);

    const int64_t start = sim::MonotonicMs();
    std::string endedBy;
    // --exit-after-restart: the link generation seen while the printer had
    // not restarted yet; the printer is back once it is up on a newer one,
    // and the run ends once the host has written on that link and gone quiet.
    uint32_t generationBefore = host.With([](sim::VirtualPrinter& p) { return p.LinkGeneration(); });
    while (endedBy.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (g_signal) {
            endedBy = g_signal == SIGINT ? "SIGINT" : "SIGTERM";
            break;
        }
        if (maxSeconds > 0 && sim::MonotonicMs() - start >= static_cast<int64_t>(maxSeconds * 1000)) {
            endedBy = "max-seconds";
            break;
        }
        if (exitAfterRestart) {
            const PrinterGlance s = host.With([](sim::VirtualPrinter& p) {
                return PrinterGlance{p.stats().restarts, p.LinkUp(), p.LinkGeneration(),
                                     p.Pending()};
            });
            if (s.restarts == 0) generationBefore = s.generation;
            if (s.restarts >= 1 && s.up && s.generation != generationBefore &&
                host.HostWroteOnGeneration(s.generation) && s.pending == 0 &&
                host.MsSinceHostBytes() >= kQuietAfterReturnMs)
                endedBy = "restart";
        }
    }

    if (tcp) tcp->Stop();
    if (usb) usb->Stop();
    if (udp) udp->Stop();

    nlohmann::json summary;
    const std::string printerSummary = printer.SummaryJson();
    summary["printer"] = nlohmann::json::parse(printerSummary, nullptr, false);
    if (summary["printer"].is_discarded()) summary["printer"] = printerSummary;
    nlohmann::json transports = nlohmann::json::object();
    if (tcp) transports["tcp"] = tcp->Counters();
    if (usb) transports["usb"] = usb->Counters();
    if (udp) transports["udp"] = udp->Counters();
    summary["transports"] = transports;
    summary["endedBy"] = endedBy;
    std::cout << summary.dump(2) << std::endl;
    return 0;
}
