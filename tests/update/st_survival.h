// Whether a printer's own ST data survived a run: it survives when the
// printer's ST area still holds it byte for byte, or when an archive file
// that the run wrote holds it byte for byte. A watch is made before the
// run (it notes the archive files already there, so that an earlier run's
// copy proves nothing) and asked after it; a fault matrix asks it once per
// fault position.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "update/st_archive.h"

namespace testing_update {

class StArchiveWatch {
public:
    // The archive folder the engine uses when it is given none.
    StArchiveWatch() {
        std::string folder;
        if (DefaultStArchiveFolder(&folder)) m_folder = folder;
        m_before = Files();
    }
    explicit StArchiveWatch(std::filesystem::path folder) : m_folder(std::move(folder)) {
        m_before = Files();
    }

    const std::filesystem::path& folder() const { return m_folder; }

    // Archive files that appeared since the watch was made.
    std::vector<std::filesystem::path> NewFiles() const {
        std::vector<std::filesystem::path> out;
        for (const std::filesystem::path& p : Files())
            if (!m_before.count(p)) out.push_back(p);
        std::sort(out.begin(), out.end());
        return out;
    }

    static std::vector<uint8_t> Read(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>());
    }

    // original: the printer's ST data before the run; onPrinter: what its
    // ST area holds after it.
    ::testing::AssertionResult Survived(const std::vector<uint8_t>& original,
                                        const std::vector<uint8_t>& onPrinter) const {
        if (onPrinter == original) return ::testing::AssertionSuccess() << "intact on the printer";
        const std::vector<std::filesystem::path> files = NewFiles();
        for (const std::filesystem::path& p : files)
            if (Read(p) == original)
                return ::testing::AssertionSuccess() << "archived in " << p.filename().string();
        ::testing::AssertionResult lost = ::testing::AssertionFailure();
        lost << "the printer's ST data (" << original.size() << " bytes) is lost: the printer holds "
             << onPrinter.size() << " other bytes, and no new archive file holds it (";
        if (files.empty()) lost << "none was written in " << m_folder.string();
        for (size_t k = 0; k < files.size(); ++k)
            lost << (k ? ", " : "") << files[k].filename().string() << " with "
                 << Read(files[k]).size() << " bytes";
        return lost << ")";
    }

private:
    std::set<std::filesystem::path> Files() const {
        std::set<std::filesystem::path> out;
        std::error_code ec;
        if (m_folder.empty() || !std::filesystem::is_directory(m_folder, ec)) return out;
        for (const auto& e : std::filesystem::directory_iterator(m_folder, ec))
            if (e.is_regular_file(ec) && e.path().extension() == ".qfw") out.insert(e.path());
        return out;
    }

    std::filesystem::path m_folder;
    std::set<std::filesystem::path> m_before;
};

}  // namespace testing_update
