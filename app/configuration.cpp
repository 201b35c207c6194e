// The configuration file Vadrellix.ini beside the executable: the model
// table and the printer access libraries it names.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/quillon_app.h"
#include "app/quillon_dlg.h"
#include "app/string_table.h"
#include "link/link_settings.h"
#include "link/printer_io.h"
#include "platform/dialog.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/text.h"

const char kConfigFileName[] = "Vadrellix.ini";

namespace {

// The system builds the path in a buffer of 260 UTF-16 units.
constexpr size_t kMaxPathUnits = 260;

ExecutablePathSource g_executablePathSource = nullptr;

// A USB id as the system reads it: strtol in base 16 on a 32-bit long (a
// value beyond its range reads as its limit), cut to the low 16 bits.
uint16_t ParseHexId(const std::string& text) {
    long long value = std::strtoll(text.c_str(), nullptr, 16);
    if (value > INT32_MAX) value = INT32_MAX;
    if (value < INT32_MIN) value = INT32_MIN;
    return static_cast<uint16_t>(static_cast<uint32_t>(static_cast<int32_t>(value)) & 0xFFFF);
}

std::string Numbered(const char* format, uint32_t n) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, format, static_cast<unsigned>(n));
    return buffer;
}

void ShowTooManyEntries(CQuillonDlg& dlg) {
    dlg.ShowMessageBox(LoadStringText(kIdsFirmwareUpdate), theApp.AppName(),
                       platform::kMbIconExclamation);
}

}  // namespace

void SetExecutablePathSource(ExecutablePathSource source) { g_executablePathSource = source; }

bool ConfigurationPath(std::string* path) {
    std::string exe;
    const bool known = g_executablePathSource != nullptr ? g_executablePathSource(&exe)
                                                         : platform::ExecutablePath(&exe);
    // A path that does not fit the buffer would come back cut; such a path,
    // and one too long to take the file name, counts as no file at all
    // rather than overrunning the buffer or naming another file.
    if (!known || exe.empty() || platform::Utf16Length(exe) >= kMaxPathUnits) return false;
    const size_t sep = exe.rfind(platform::kPathSeparator);
    if (sep == std::string::npos) return false;
    std::string result = exe.substr(0, sep + 1) + kConfigFileName;
    if (platform::Utf16Length(result) >= kMaxPathUnits) return false;
    *path = std::move(result);
    return true;
}

void CQuillonDlg::ReadModels() {
    std::string path;
    if (!ConfigurationPath(&path)) return;
    m_modelCount = platform::ReadProfileInt(path, "MODEL", "Entry", 0);
    // Unsigned: a negative count is too large as well.
    if (m_modelCount > static_cast<uint32_t>(kMaxModels)) {
        m_modelCount = kMaxModels;
        ShowTooManyEntries(*this);
    }
    for (uint32_t i = 1; i <= m_modelCount; ++i) {
        const std::string section = Numbered("MODEL%02u", i);
        ModelEntry& entry = m_models[i - 1];
        entry.name = platform::ReadProfileString(path, section, "MODEL", "");
        entry.vendorId = ParseHexId(platform::ReadProfileString(path, section, "VID", ""));
        entry.productId = ParseHexId(platform::ReadProfileString(path, section, "PID", ""));
    }
}

void CQuillonDlg::LoadAccessLibraries() {
    std::string path;
    if (!ConfigurationPath(&path)) return;
    m_libraryCount = platform::ReadProfileInt(path, "APIF", "Entry", 0);
    if (m_libraryCount > static_cast<uint32_t>(kMaxLibraries)) {
        m_libraryCount = kMaxLibraries;
        ShowTooManyEntries(*this);
    }
    for (uint32_t i = 1; i <= m_libraryCount; ++i) {
        const std::string key = Numbered("DLL%02u", i);
        const std::string name = platform::ReadProfileString(path, "APIF", key, "");
        LibraryEntry& entry = g_libraries[i - 1];
        // An empty name does not load; its entry keeps a null module.
        entry.module = platform::LoadDynamicLibrary(name);
        CountLibraryPrinters(&entry);
    }
}
