// quillon-vp.exe: the same dialog program with the built-in virtual printer
// as its USB printer, for the tests of the real window (never shipped). The
// printer runs in this process on the real clock and restarts quickly;
// --transfer-delay makes each transfer call take longer, as a real USB
// link does, so that a watcher sees the progress bar move.
#include <windows.h>

#include <memory>
#include <string>

#include "frontends/terminal/builtin_printer.h"
#include "frontends/terminal/exit_status.h"
#include "frontends/win32/command_line.h"
#include "frontends/win32/updater_program.h"
#include "link/link_settings.h"
#include "link/printer_io.h"

namespace {

// The built-in printer behind a link whose transfer calls take their time.
class SlowLink : public platform::UsbBackend {
public:
    SlowLink(platform::UsbBackend& printer, uint32_t delayMs)
        : m_printer(printer), m_delayMs(delayMs) {
        platform::SetUsbBackend(this);
    }
    // The link must not outlive the backend it moves through.
    ~SlowLink() override {
        if (g_printerIO.m_linkKind == kLinkUsb) g_printerIO.Close();
        platform::SetUsbBackend(&m_printer);
    }
    SlowLink(const SlowLink&) = delete;
    SlowLink& operator=(const SlowLink&) = delete;

    bool ListDevices(std::vector<platform::UsbMember>* m, unsigned long* e) override {
        return m_printer.ListDevices(m, e);
    }
    bool Open(const std::string& path, platform::DeviceHandle* h, unsigned long* e) override {
        return m_printer.Open(path, h, e);
    }
    bool Write(platform::DeviceHandle h, const void* d, uint32_t n, uint32_t* done,
               unsigned long* e) override {
        ::Sleep(m_delayMs);
        return m_printer.Write(h, d, n, done, e);
    }
    bool Read(platform::DeviceHandle h, void* d, uint32_t n, uint32_t* done,
              unsigned long* e) override {
        return m_printer.Read(h, d, n, done, e);
    }
    void Close(platform::DeviceHandle h) override { m_printer.Close(h); }

private:
    platform::UsbBackend& m_printer;
    uint32_t m_delayMs;
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    int status = 0;
    CommandLine options;
    if (!PrepareProgram("quillon-vp", true, &status, &options)) return status;
    sim::Scenario scenario;
    std::string error;
    if (!BuiltInScenario(options.scenarioFile, &scenario, &error)) {
        Tell("quillon-vp: " + error + "\n", "quillon-vp", true);
        return kExitBadScenario;
    }
    BuiltInPrinter printer(std::move(scenario));
    std::unique_ptr<SlowLink> slow;
    if (options.transferDelayMs > 0)
        slow = std::make_unique<SlowLink>(printer, options.transferDelayMs);
    return RunUpdater(instance);
}
