// qzrtool: shows, checks and extracts load files.
//
//   qzrtool info FILE | --embedded
//   qzrtool verify FILE | --embedded
//   qzrtool extract --embedded OUT
#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/resource.h"
#include "tools/qzrtool/qzr_report.h"

namespace {

struct Source {
    std::string path;
    bool embedded = false;
};

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
    platform::File file;
    unsigned long error = 0;
    if (!file.Open(path, platform::File::Mode::kOpenExisting, &error)) {
        std::cerr << "qzrtool: cannot open " << path << " (error " << error << ")\n";
        return false;
    }
    const int64_t size = file.Size(&error);
    if (size < 0) {
        std::cerr << "qzrtool: cannot read the size of " << path << " (error " << error << ")\n";
        return false;
    }
    if (static_cast<uint64_t>(size) > (uint64_t{1} << 32)) {
        std::cerr << "qzrtool: " << path << " is too large for a load file\n";
        return false;
    }
    bytes->resize(static_cast<size_t>(size));
    if (size > 0 && !file.Read(bytes->data(), bytes->size(), &error)) {
        std::cerr << "qzrtool: cannot read " << path << " (error " << error << ")\n";
        return false;
    }
    return true;
}

// The bytes of the chosen file: a copy of a file on disk, or the embedded
// ones in place.
bool Load(const Source& source, std::vector<uint8_t>* storage, const uint8_t** data,
          size_t* size) {
    if (source.embedded) {
        if (!platform::FindEmbeddedLoadFile(data, size)) {
            std::cerr << "qzrtool: this build carries no embedded load file\n";
            return false;
        }
        return true;
    }
    if (!ReadWholeFile(source.path, storage)) return false;
    *data = storage->data();
    *size = storage->size();
    return true;
}

void AddSource(CLI::App* command, Source* source) {
    auto* file = command->add_option("FILE", source->path, "Load file to read");
    auto* embedded = command->add_flag("--embedded", source->embedded,
                                       "Read the load file built into the updater");
    file->excludes(embedded);
    embedded->excludes(file);
}

bool HasSource(const Source& source, const char* command) {
    if (source.embedded || !source.path.empty()) return true;
    std::cerr << "qzrtool " << command << ": give FILE or --embedded (see --help)\n";
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"qzrtool: shows, checks and extracts firmware load files"};
    app.require_subcommand(1);

    Source infoSource;
    CLI::App* info = app.add_subcommand("info", "Show the header, info block and every section");
    AddSource(info, &infoSource);

    Source verifySource;
    CLI::App* verify = app.add_subcommand(
        "verify", "Check the layout and every trailer checksum (exit 0 when all hold)");
    AddSource(verify, &verifySource);

    bool extractEmbedded = false;
    std::string extractOut;
    CLI::App* extract = app.add_subcommand("extract", "Write the embedded load file to OUT");
    extract->add_flag("--embedded", extractEmbedded, "Extract the load file built into the updater")
        ->required();
    extract->add_option("OUT", extractOut, "File to write")->required();

    CLI11_PARSE(app, argc, argv);

    std::vector<uint8_t> storage;
    const uint8_t* data = nullptr;
    size_t size = 0;

    if (info->parsed()) {
        if (!HasSource(infoSource, "info")) return 2;
        if (!Load(infoSource, &storage, &data, &size)) return 1;
        std::string error;
        if (DescribeLoadFile(data, size, std::cout, &error)) return 0;
        std::cout.flush();
        std::cerr << "qzrtool: " << error << "\n";
        return 1;
    }

    if (verify->parsed()) {
        if (!HasSource(verifySource, "verify")) return 2;
        if (!Load(verifySource, &storage, &data, &size)) return 1;
        const std::vector<std::string> faults = FindLoadFileFaults(data, size);
        for (const std::string& fault : faults) std::cout << "fault: " << fault << "\n";
        if (!faults.empty()) {
            std::cout << "verify: " << faults.size() << " fault(s)\n";
            return 1;
        }
        std::cout << "verify: ok\n";
        return 0;
    }

    // extract
    if (!platform::FindEmbeddedLoadFile(&data, &size)) {
        std::cerr << "qzrtool: this build carries no embedded load file\n";
        return 1;
    }
    platform::File out;
    unsigned long error = 0;
    if (!out.Open(extractOut, platform::File::Mode::kCreateAlways, &error)) {
        std::cerr << "qzrtool: cannot create " << extractOut << " (error " << error << ")\n";
        return 1;
    }
    if (!out.Write(data, size, &error)) {
        std::cerr << "qzrtool: cannot write " << extractOut << " (error " << error << ")\n";
        out.Close();
        unsigned long ignored = 0;
        platform::RemoveFile(extractOut, &ignored);
        return 1;
    }
    out.Close();
    std::cout << "wrote " << size << " bytes to " << extractOut << "\n";
    return 0;
}
