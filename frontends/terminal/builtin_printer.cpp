#include "frontends/terminal/builtin_printer.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "frontends/terminal/translation.h"
#include "link/link_settings.h"
#include "link/printer_io.h"
#include "sim/transport/scenario_json.h"

bool BuiltInScenario(const std::string& path, sim::Scenario* scenario, std::string* error) {
    sim::Scenario s;
    nlohmann::json doc = nlohmann::json::object();
    if (!path.empty()) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            *error = Format(_("scenario %s: cannot open the file"), path.c_str());
            return false;
        }
        std::ostringstream text;
        text << in.rdbuf();
        doc = nlohmann::json::parse(text.str(), nullptr, false);
        if (doc.is_discarded() || !doc.is_object()) {
            *error = Format(_("scenario %s: not a JSON object"), path.c_str());
            return false;
        }
        std::string why;
        if (!sim::ScenarioFromJson(doc, &s, &why)) {
            *error = "scenario " + path + ": " + why;
            return false;
        }
    }
    if (!doc.contains("restartDelayMs")) s.restartDelayMs = kBuiltInRestartMs;
    if (!doc.contains("dropReturnMs")) s.dropReturnMs = kBuiltInRestartMs;
    *scenario = std::move(s);
    return true;
}

BuiltInPrinter::BuiltInPrinter(sim::Scenario scenario)
    : m_printer(std::move(scenario)),
      m_usb(m_printer, nullptr),
      m_last(std::chrono::steady_clock::now()) {
    platform::SetUsbBackend(this);
}

BuiltInPrinter::~BuiltInPrinter() {
    if (g_printerIO.m_linkKind == kLinkUsb) g_printerIO.Close();
    platform::SetUsbBackend(nullptr);
}

void BuiltInPrinter::Sync() {
    const auto now = std::chrono::steady_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_last).count();
    if (ms > 0) {
        m_printer.AdvanceTime(static_cast<uint32_t>(ms));
        m_last += std::chrono::milliseconds(ms);
    }
}

bool BuiltInPrinter::ListDevices(std::vector<platform::UsbMember>* members, unsigned long* error) {
    Sync();
    if (!m_usb.ListDevices(members, error)) return false;
    for (platform::UsbMember& m : *members) {
        m.location = "built-in";
        m.serial = "SIM00001";
        m.wayIn = "virtual printer";
    }
    return true;
}

bool BuiltInPrinter::Open(const std::string& path, platform::DeviceHandle* handle,
                          unsigned long* error) {
    Sync();
    return m_usb.Open(path, handle, error);
}

bool BuiltInPrinter::Write(platform::DeviceHandle h, const void* data, uint32_t n, uint32_t* done,
                           unsigned long* error) {
    Sync();
    return m_usb.Write(h, data, n, done, error);
}

bool BuiltInPrinter::Read(platform::DeviceHandle h, void* data, uint32_t n, uint32_t* done,
                          unsigned long* error) {
    Sync();
    return m_usb.Read(h, data, n, done, error);
}

void BuiltInPrinter::Close(platform::DeviceHandle h) { m_usb.Close(h); }
