#include "update/st_archive.h"

#include <cctype>
#include <chrono>
#include <cstdio>

#include "platform/files.h"
#include "platform/state_files.h"

namespace {

constexpr char kExtension[] = ".qfw";
constexpr size_t kExtensionLength = sizeof kExtension - 1;
constexpr size_t kTimeLength = 16;  // 20261210T121500Z

bool AllDigits(const std::string& s, size_t from, size_t n) {
    if (from + n > s.size()) return false;
    for (size_t k = from; k < from + n; ++k)
        if (!std::isdigit(static_cast<unsigned char>(s[k]))) return false;
    return true;
}

bool IsTimeText(const std::string& s, size_t at) {
    return AllDigits(s, at, 8) && s[at + 8] == 'T' && AllDigits(s, at + 9, 6) &&
           s[at + 15] == 'Z';
}

}  // namespace

bool DefaultStArchiveFolder(std::string* folder) {
    std::string state;
    if (!platform::UserStateDirectory(&state)) return false;
    const char sep = platform::kPathSeparator;
    if (!state.empty() && state.back() != sep) state += sep;
    *folder = state + "quillon" + sep + "st";
    return true;
}

std::string ArchiveTimeText(std::time_t t) {
    using namespace std::chrono;
    const sys_seconds s = floor<seconds>(system_clock::from_time_t(t));
    const sys_days day = floor<days>(s);
    const year_month_day ymd{day};
    const hh_mm_ss<seconds> hms{s - day};
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02u%02uT%02ld%02ld%02ldZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<long>(hms.hours().count()), static_cast<long>(hms.minutes().count()),
                  static_cast<long>(hms.seconds().count()));
    return text;
}

std::string StArchiveStem(const std::string& identifier, const std::string& timeText) {
    return identifier + "-" + timeText;
}

bool WriteStArchive(const std::string& folder, const std::string& identifier, std::time_t t,
                    const uint8_t* data, size_t n, std::string* path, unsigned long* error) {
    return platform::WriteNewFileDurably(folder, StArchiveStem(identifier, ArchiveTimeText(t)),
                                         kExtension, data, n, path, error);
}

bool StArchiveIdentifier(const std::string& path, std::string* identifier) {
    const size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.size() < kExtensionLength ||
        name.compare(name.size() - kExtensionLength, kExtensionLength, kExtension) != 0)
        return false;
    name.resize(name.size() - kExtensionLength);
    // An optional "-<number>" after the time.
    const size_t dash = name.rfind('-');
    if (dash != std::string::npos && dash + 1 < name.size() &&
        AllDigits(name, dash + 1, name.size() - dash - 1) && dash >= kTimeLength + 1 &&
        IsTimeText(name, dash - kTimeLength))
        name.resize(dash);
    if (name.size() < kTimeLength + 1) return false;
    const size_t at = name.size() - kTimeLength;
    if (name[at - 1] != '-' || !IsTimeText(name, at)) return false;
    *identifier = name.substr(0, at - 1);
    return true;
}
