#include "frontends/terminal/restore_st.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "update/st_archive.h"

namespace {

// No printer's ST area comes near this; a larger file is no ST copy.
constexpr uintmax_t kMaxStCopy = 1024 * 1024;

}  // namespace

// The texts below are the front end's own (to be wrapped for gettext).

bool LoadStCopy(const std::string& path, bool anyPrinter, StRestoreRequest* request,
                std::string* error) {
    std::error_code ec;
    const std::filesystem::path file(path);
    if (!std::filesystem::exists(file, ec)) {
        *error = path + ": no such file";
        return false;
    }
    if (!std::filesystem::is_regular_file(file, ec)) {
        *error = path + ": not a regular file";
        return false;
    }
    const uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec) {
        *error = path + ": cannot read its size: " + ec.message();
        return false;
    }
    if (size == 0) {
        *error = path + ": the file is empty; it holds no ST data";
        return false;
    }
    if (size > kMaxStCopy) {
        *error = path + ": " + std::to_string(size) + " bytes are far more than an ST area holds";
        return false;
    }
    std::string identifier;
    const bool named = StArchiveIdentifier(path, &identifier);
    if (!named && !anyPrinter) {
        *error = path +
                 ": the name does not say which printer the copy belongs to "
                 "(<identifier>-<UTC time>.qfw); --force writes it all the same";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        *error = path + ": cannot be read";
        return false;
    }
    if (data.size() != size) {
        *error = path + ": changed while it was read";
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
    const std::string printer = r.identifier.empty() ? "(no identifier)" : r.identifier;
    if (app.m_outcome == DialogOutcome::kRestored) {
        std::fprintf(out, "quillon: the ST data of %s (%zu bytes) was written into the printer %s\n",
                     path.c_str(), request.data.size(), printer.c_str());
        for (const std::string& a : r.archived)
            std::fprintf(out, "quillon: what the printer held before is kept in %s\n", a.c_str());
        return;
    }
    if (app.m_outcome != DialogOutcome::kRestoreRefused) return;
    switch (r.refusal) {
    case RestoreRefusal::kOtherPrinter:
        std::fprintf(err,
                     "quillon: %s holds the ST data of the printer %s, but this printer is %s; "
                     "nothing was written (--force writes it all the same)\n",
                     path.c_str(), request.identifier.c_str(), printer.c_str());
        break;
    case RestoreRefusal::kTooLarge:
        std::fprintf(err,
                     "quillon: %s holds %zu bytes, more than the printer's ST area of %lld bytes; "
                     "nothing was written\n",
                     path.c_str(), request.data.size(), static_cast<long long>(r.stAreaSize));
        break;
    case RestoreRefusal::kNoStArea:
        std::fprintf(err, "quillon: the printer %s reports no ST area; nothing was written\n",
                     printer.c_str());
        break;
    case RestoreRefusal::kEmpty:
        std::fprintf(err, "quillon: %s holds no ST data; nothing was written\n", path.c_str());
        break;
    case RestoreRefusal::kNone:
        break;
    }
}
