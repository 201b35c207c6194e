// update_bench: one complete firmware update against zkq870-sim over the
// pseudo-terminal USB device tree, through a modelled USB 2.0 link, with a
// report of how close the transfer comes to what the link allows and what
// the updater costs in CPU time and memory.
//
// The link model wraps the platform's USB backend in this process and keeps
// the link's own clock. Every transfer occupies the one shared bus for
// bytes / bandwidth; a read that follows a write (the printer's turn to
// answer) first waits the per-transfer turnaround latency, which stands for
// everything between the request's last byte and the reply's first,
// the printer's work included. The updater's own time is measured, not
// modelled: everything it spends outside the backend between two transfers,
// and the system calls that hand bytes to the device, is added to the
// link's clock, since a synchronous exchange cannot overlap it with the
// wire. So the transfer phase on the modelled link takes
//     wire time + turnarounds x latency + the updater's own time,
// and the link-bound minimum for the same bytes and round trips is the
// first two terms. How long the simulator and the pty take is not part of
// either figure (their real time is reported separately). With --sleep the
// wrapper also waits in real time until the link's clock, so that the wall
// clock follows the model (on a busy machine the timer then adds its own
// lateness, which is reported).
#include <sys/prctl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "bench/sim_process.h"
#include "link/link_settings.h"
#include "link/printer_io.h"
#include "platform/clock.h"
#include "platform/trace_sink.h"
#include "platform/usb.h"
#include "update/fw_commands.h"
#include "update/progress.h"
#include "update/update_error.h"
#include "update/update_firmware.h"

namespace {

int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

void SleepUntilNs(int64_t deadline) {
    timespec ts{static_cast<time_t>(deadline / 1000000000), static_cast<long>(deadline % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

// The modelled link between the updater and the printer's device node.
class LinkModel : public platform::UsbBackend {
public:
    LinkModel(platform::UsbBackend& inner, double bytesPerSecond, int64_t latencyNs, bool sleep)
        : inner_(inner), nsPerByte_(1e9 / bytesPerSecond), latencyNs_(latencyNs), sleep_(sleep) {}

    bool ListDevices(std::vector<platform::UsbMember>* members, unsigned long* error) override {
        return inner_.ListDevices(members, error);
    }
    bool Open(const std::string& path, platform::DeviceHandle* handle,
              unsigned long* error) override {
        lastWasWrite_ = false;
        return inner_.Open(path, handle, error);
    }
    void Close(platform::DeviceHandle h) override { inner_.Close(h); }

    bool Write(platform::DeviceHandle h, const void* data, uint32_t n, uint32_t* done,
               unsigned long* error) override {
        const int64_t enter = Enter();
        const bool ok = inner_.Write(h, data, n, done, error);
        // Handing the bytes to the device is the host's work.
        const int64_t call = NowNs() - enter;
        if (accounting) hostNs += call;
        linkClock_ += call;
        if (ok) Cross(*done, false);
        lastWasWrite_ = true;
        Leave();
        return ok;
    }
    bool Read(platform::DeviceHandle h, void* data, uint32_t n, uint32_t* done,
              unsigned long* error) override {
        const int64_t enter = Enter();
        const bool ok = inner_.Read(h, data, n, done, error);
        if (accounting) peerNs += NowNs() - enter;  // waiting for the simulator
        if (ok) Cross(*done, lastWasWrite_);
        lastWasWrite_ = false;
        Leave();
        return ok;
    }

    // Switches the accounting on (the transfer phase) and off.
    void Account(bool on) {
        accounting = on;
        if (on) {
            clockAtStart_ = linkClock_;
            lastReturn_ = NowNs();
            wallAtStart_ = lastReturn_;
        } else {
            modelNs = linkClock_ - clockAtStart_;
        }
    }
    double MinimumSeconds() const {
        return (static_cast<double>(bytes) * nsPerByte_ +
                static_cast<double>(turnarounds) * static_cast<double>(latencyNs_)) /
               1e9;
    }

    bool accounting = false;
    uint64_t bytes = 0;
    uint64_t turnarounds = 0;
    uint64_t transfers = 0;
    int64_t hostNs = 0;      // the updater's own time, between and in its transfers
    int64_t peerNs = 0;      // real time spent waiting for the simulator's replies
    int64_t modelNs = 0;     // the transfer phase on the modelled link
    int64_t overrunNs = 0;   // --sleep: time the real waits ended late

private:
    // The updater's time since the previous transfer returned.
    int64_t Enter() {
        const int64_t now = NowNs();
        if (accounting) {
            hostNs += now - lastReturn_;
            linkClock_ += now - lastReturn_;
        }
        return now;
    }
    void Leave() {
        if (sleep_ && accounting) {
            const int64_t deadline = wallAtStart_ + (linkClock_ - clockAtStart_);
            if (deadline > NowNs()) {
                SleepUntilNs(deadline);
                const int64_t late = NowNs() - deadline;
                if (late > 0) overrunNs += late;
            }
        }
        lastReturn_ = NowNs();
    }
    // n bytes cross the bus; the printer's turn first costs the latency.
    void Cross(uint32_t n, bool turnaround) {
        if (!accounting) return;
        if (turnaround) {
            linkClock_ += latencyNs_;
            ++turnarounds;
        }
        linkClock_ += static_cast<int64_t>(n * nsPerByte_);
        bytes += n;
        ++transfers;
    }

    platform::UsbBackend& inner_;
    double nsPerByte_;
    int64_t latencyNs_;
    bool sleep_;
    bool lastWasWrite_ = false;
    int64_t linkClock_ = 0;
    int64_t clockAtStart_ = 0;
    int64_t wallAtStart_ = 0;
    int64_t lastReturn_ = 0;
};

class PhaseClock : public IUpdateProgress {
public:
    explicit PhaseClock(LinkModel& link) : link_(link) {}
    void OnPhase(UpdatePhase phase) override {
        if (phase == UpdatePhase::kTransferring) {
            getrusage(RUSAGE_SELF, &cpuStart);
            transferStart = NowNs();
            link_.Account(true);
        } else if (transferStart != 0 && transferEnd == 0) {
            transferEnd = NowNs();
            getrusage(RUSAGE_SELF, &cpuEnd);
            link_.Account(false);
        }
    }
    void OnTransferPlan(uint32_t, uint32_t b, uint64_t n) override {
        blocks = b;
        dataBytes = n;
    }
    void OnSection(const char*, uint32_t, uint32_t) override {}
    void OnBlock(uint32_t, uint32_t, uint64_t) override {}

    int64_t transferStart = 0;
    int64_t transferEnd = 0;
    rusage cpuStart{};
    rusage cpuEnd{};
    uint32_t blocks = 0;
    uint64_t dataBytes = 0;

private:
    LinkModel& link_;
};

double CpuSeconds(const rusage& r) {
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "update_bench: %s\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Runs one complete firmware update against zkq870-sim over the pty USB device "
                 "tree through a modelled USB 2.0 link and reports transfer time against the "
                 "link-bound minimum, CPU time against wall time, and peak memory."};
    std::string simPath = QUILLON_SIM_PATH;
    double mbit = 320;       // effective bulk bandwidth of a USB 2.0 high-speed link
    double latencyUs = 250;  // per-transfer turnaround (two microframes)
    uint32_t restartMs = 500;
    std::string jsonPath;
    bool check = false;
    bool sleep = false;
    app.add_option("--sim", simPath, "zkq870-sim executable")->type_name("PATH");
    app.add_option("--bandwidth-mbit", mbit, "Link bandwidth in Mbit/s (default 320)")
        ->check(CLI::PositiveNumber);
    app.add_option("--latency-us", latencyUs, "Per-transfer turnaround latency in µs (default 250)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--restart-ms", restartMs, "The printer's restart time in ms (default 500)");
    app.add_option("--json", jsonPath, "Also write the figures as JSON to FILE")->type_name("FILE");
    app.add_flag("--sleep", sleep,
                 "Also wait in real time so that the wall clock follows the modelled link");
    app.add_flag("--check", check,
                 "Exit with 1 when a target is missed (transfer within 10% of the link-bound "
                 "minimum, CPU below 5% of wall time, peak memory below 16 MiB)");
    CLI11_PARSE(app, argc, argv);

    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);  // the model's sleeps end on time
    platform::SetTraceObserver([](std::string_view line) { std::fputs(std::string(line).c_str(), stderr); }, true);

    std::error_code ec;
    char pattern[] = "/tmp/update_bench.XXXXXX";
    if (mkdtemp(pattern) == nullptr) return Fail("cannot make a temporary folder");
    const std::filesystem::path dir = pattern;
    const std::filesystem::path usbDir = dir / "usb";
    const std::filesystem::path work = dir / "work";
    std::filesystem::create_directories(work, ec);
    {
        std::ofstream scenario(dir / "scenario.json");
        scenario << "{\"restartDelayMs\": " << restartMs << ", \"dropReturnMs\": " << restartMs
                 << "}\n";
    }
    bench::SimProcess sim;
    std::string error;
    if (!sim.Start(simPath,
                   {"--usb", usbDir.string(), "--scenario", (dir / "scenario.json").string(),
                    "--max-seconds", "600"},
                   (dir / "sim.json").string(), 10000, &error)) {
        std::filesystem::remove_all(dir, ec);
        return Fail(error);
    }
    ::setenv("QUILLON_USB_ROOT", usbDir.c_str(), 1);
    std::filesystem::current_path(work, ec);

    LinkModel link(platform::GetUsbBackend(), mbit * 1e6 / 8, static_cast<int64_t>(latencyUs * 1000),
                   sleep);
    platform::SetUsbBackend(&link);

    // As identification leaves the printer: link open, maintenance started.
    g_linkKind = kLinkUsb;
    g_vendorIdText = "5B7D";
    g_productIdText = "0023";
    g_fwPacketSize = 4096;
    g_fwFramesEnabled = 1;
    int result = -1;
    PhaseClock phases(link);
    rusage before{}, after{};
    int64_t wallStart = 0, wallEnd = 0;
    if (OpenLink() == 0) {
        error = "the printer's device did not open";
    } else {
        FwStart();
        uint8_t status[2] = {0, 2};
        for (int k = 0; k < 200 && status[1] == 2; ++k) {
            FwReadStatus(status, 2);
            platform::WaitMs(100);
        }
        UpdateErrorFields errors;
        getrusage(RUSAGE_SELF, &before);
        wallStart = NowNs();
        // The printer's ST data is archived inside the work folder.
        UpdateOptions options;
        options.archiveFolder = (work / "st-archive").string();
        result = RunFirmwareUpdate(errors.record, &phases, options, nullptr);
        wallEnd = NowNs();
        getrusage(RUSAGE_SELF, &after);
    }
    platform::SetUsbBackend(nullptr);
    const std::string summary = sim.Stop();
    std::filesystem::current_path("/", ec);
    std::filesystem::remove_all(dir, ec);
    if (result < 0) return Fail(error);

    const double transfer = static_cast<double>(link.modelNs) / 1e9;
    const double transferWall = static_cast<double>(phases.transferEnd - phases.transferStart) / 1e9;
    const double minimum = link.MinimumSeconds();
    const double host = static_cast<double>(link.hostNs) / 1e9;
    const double wall = static_cast<double>(wallEnd - wallStart) / 1e9;
    const double cpu = CpuSeconds(after) - CpuSeconds(before);
    const double peakMiB = static_cast<double>(after.ru_maxrss) / 1024.0;
    const double overTransfer = minimum > 0 ? transfer / minimum - 1 : 0;
    const bool okTransfer = overTransfer <= 0.10;
    const bool okCpu = cpu / wall < 0.05;
    const bool okMemory = peakMiB < 16;

    std::printf("update result             %d\n", result);
    std::printf("link model                %.0f Mbit/s, %.0f us per turnaround\n", mbit, latencyUs);
    std::printf("transfer phase on link    %.3f s (%u blocks, %llu data bytes)\n", transfer,
                phases.blocks, static_cast<unsigned long long>(phases.dataBytes));
    std::printf("link-bound minimum        %.3f s (%llu bytes, %llu round trips, %llu transfers)\n",
                minimum, static_cast<unsigned long long>(link.bytes),
                static_cast<unsigned long long>(link.turnarounds),
                static_cast<unsigned long long>(link.transfers));
    std::printf("  updater's own time      %.3f s\n", host);
    std::printf("transfer over minimum     %+.1f %%  (target <= 10 %%) %s\n", overTransfer * 100,
                okTransfer ? "ok" : "MISSED");
    std::printf("transfer phase, wall      %.3f s (simulator replies %.3f s%s)\n", transferWall,
                static_cast<double>(link.peerNs) / 1e9,
                sleep ? (", timer overrun " +
                         std::to_string(static_cast<double>(link.overrunNs) / 1e9) + " s")
                            .c_str()
                      : "");
    const double transferCpu = CpuSeconds(phases.cpuEnd) - CpuSeconds(phases.cpuStart);
    std::printf("  updater CPU in transfer %.3f s = %.1f %% of the transfer's wall time\n",
                transferCpu, transferWall > 0 ? 100 * transferCpu / transferWall : 0.0);
    std::printf("updater wall time         %.3f s\n", wall);
    std::printf("updater CPU time          %.3f s = %.2f %% of wall (target < 5 %%) %s\n", cpu,
                100 * cpu / wall, okCpu ? "ok" : "MISSED");
    std::printf("peak memory (maxrss)      %.1f MiB (target < 16 MiB) %s\n", peakMiB,
                okMemory ? "ok" : "MISSED");

    if (!jsonPath.empty()) {
        nlohmann::json j;
        j["result"] = result;
        j["bandwidthMbit"] = mbit;
        j["latencyUs"] = latencyUs;
        j["transferSeconds"] = transfer;
        j["transferWallSeconds"] = transferWall;
        j["updaterOwnSeconds"] = host;
        j["minimumSeconds"] = minimum;
        j["linkBytes"] = link.bytes;
        j["roundTrips"] = link.turnarounds;
        j["wallSeconds"] = wall;
        j["cpuSeconds"] = cpu;
        j["transferCpuSeconds"] = transferCpu;
        j["peakMiB"] = peakMiB;
        j["simulator"] = nlohmann::json::parse(summary, nullptr, false);
        std::ofstream(jsonPath) << j.dump(2) << "\n";
    }
    if (result != 0) return 1;
    if (check && !(okTransfer && okCpu && okMemory)) return 1;
    return 0;
}
