#include "frontends/terminal/restore_st.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "frontends/terminal/translation.h"
#include "update/st_archive.h"

namespace {

// No printer's ST area comes near this; a larger file is no ST copy.
constexpr uintmax_t kMaxStCopy = 1024 * 1024;

}  // namespace

bool LoadStCopy(const std::string& path, bool anyPrinter, StRestoreRequest* request,
                std::string* error) {
    std::error_code ec;
    const std::filesystem::path file(path);
    if (!std::filesystem::exists(file, ec)) {
        *error = Format(_("%s: no such file"), path.c_str());
        return false;
    }
    if (!std::filesystem::is_regular_file(file, ec)) {
        *error = Format(_("%s: not a regular file"), path.c_str());
        return false;
    }
    const uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec) {
        *error = Format(_("%s: cannot read its size: %s"), path.c_str(), ec.message().c_str());
        return false;
    }
    if (size == 0) {
        *error = Format(_("%s: the file is empty; it holds no ST data"), path.c_str());
        return false;
    }
    if (size > kMaxStCopy) {
        *error = Format(_("%s: %s bytes are far more than an ST area holds"), path.c_str(),
                        std::to_string(size).c_str());
        return false;
    }
    std::string identifier;
    const bool named = StArchiveIdentifier(path, &identifier);
    if (!named && !anyPrinter) {
        *error = Format(_("%s: the name does not say which printer the copy belongs to "
                          "(<identifier>-<UTC time>.qfw); --force writes it all the same"),
                        path.c_str());
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        *error = Format(_("%s: cannot be read"), path.c_str());
        return false;
    }
    if (data.size() != size) {
        *error = Format(_("%s: changed while it was read"), path.c_str());
        return false;
    }
    request->data = std::move(data);
    request->identifier = identifier;
    request->anyPrinter = anyPrinter;
    return true;
}

void ReportStRestore(const CQuillonApp& app, const std::string& path,
                     const StRestoreRequest& request, std::FILE* out, std::FILE* err) {
    const UpdateReport& r = app.m_updateReport;
    const std::string printer = r.identifier.empty() ? _("(no identifier)") : r.identifier;
    if (app.m_outcome == DialogOutcome::kRestored) {
        std::fprintf(out, _("quillon: the ST data of %s (%zu bytes) was written into the printer %s\n"),
                     path.c_str(), request.data.size(), printer.c_str());
        for (const std::string& a : r.archived)
            std::fprintf(out, _("quillon: what the printer held before is kept in %s\n"), a.c_str());
        return;
    }
    if (app.m_outcome != DialogOutcome::kRestoreRefused) return;
    switch (r.refusal) {
    case RestoreRefusal::kOtherPrinter:
        std::fprintf(err,
                     _("quillon: %s holds the ST data of the printer %s, but this printer is %s; "
                       "nothing was written (--force writes it all the same)\n"),
                     path.c_str(), request.identifier.c_str(), printer.c_str());
        break;
    case RestoreRefusal::kTooLarge:
        std::fprintf(err,
                     _("quillon: %s holds %zu bytes, more than the printer's ST area of %lld "
                       "bytes; nothing was written\n"),
                     path.c_str(), request.data.size(), static_cast<long long>(r.stAreaSize));
        break;
    case RestoreRefusal::kNoStArea:
        std::fprintf(err, _("quillon: the printer %s reports no ST area; nothing was written\n"),
                     printer.c_str());
        break;
    case RestoreRefusal::kEmpty:
        std::fprintf(err, _("quillon: %s holds no ST data; nothing was written\n"), path.c_str());
        break;
    case RestoreRefusal::kNone:
        break;
    }
}
