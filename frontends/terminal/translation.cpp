#include "frontends/terminal/translation.h"

#include <libintl.h>
#include <sys/stat.h>

#include <clocale>
#include <string>

#include "platform/files.h"

namespace {

constexpr const char* kDomain = "quillon";

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The catalogue folder: "locale" beside the program in the build tree,
// else the installed one, found from the program's own folder so that an
// installation moved elsewhere (a package unpacked into another root)
// finds its catalogue as well.
std::string LocaleDirectory() {
    std::string exe;
    if (!platform::ExecutablePath(&exe)) return QUILLON_INSTALLED_LOCALEDIR;
    const std::string dir = exe.substr(0, exe.rfind('/') + 1);
    if (IsDirectory(dir + "locale")) return dir + "locale";
    return dir + QUILLON_LOCALEDIR_FROM_PROGRAM;
}

}  // namespace

void InitTranslation() {
    // Only the language of messages and the character set follow the
    // environment: numbers keep the C locale's form (progress, JSON).
    std::setlocale(LC_CTYPE, "");
    std::setlocale(LC_MESSAGES, "");
    bindtextdomain(kDomain, LocaleDirectory().c_str());
    bind_textdomain_codeset(kDomain, "UTF-8");
}

const char* Tr(const char* text) { return dgettext(kDomain, text); }
