// Access libraries on Windows are never taken from the current folder: a
// library of the configured name planted there is not picked up in place
// of the configured one, nor when the configured one is missing.
#include <gtest/gtest.h>

#include <string>

#include "platform/dynlib.h"
#include "tests/win32/win32_test_paths.h"

namespace {

using win32_test::ProgramFolder;
using win32_test::TempFolder;

// The two builds of the probe library beside this program: 1 stands for
// the configured library, 2 for the planted one.
const std::wstring kConfigured = L"probe-configured.dll";
const std::wstring kPlanted = L"probe-planted.dll";

int ValueOf(platform::ModuleHandle module) {
    using Probe = int (*)();
    auto probe = reinterpret_cast<Probe>(platform::FindSymbol(module, "probe_value"));
    return probe != nullptr ? probe() : -1;
}

class LibraryLoading : public ::testing::Test {
protected:
    void SetUp() override {
        m_name = L"probe-" + std::to_wstring(::GetCurrentProcessId()) + L".dll";
        wchar_t cwd[MAX_PATH];
        ::GetCurrentDirectoryW(MAX_PATH, cwd);
        m_oldCwd = cwd;
        ASSERT_TRUE(::SetCurrentDirectoryW(m_cwd.path().c_str()));
        // The planted copies in the current folder, under the name the
        // configuration gives, bare and in a sub-folder.
        ::CreateDirectoryW((m_cwd / L"lib").c_str(), nullptr);
        ASSERT_TRUE(
            ::CopyFileW((ProgramFolder() + kPlanted).c_str(), (m_cwd / m_name).c_str(), FALSE));
        ASSERT_TRUE(::CopyFileW((ProgramFolder() + kPlanted).c_str(),
                                (m_cwd / (L"lib\\" + m_name)).c_str(), FALSE));
    }
    void TearDown() override {
        ::SetCurrentDirectoryW(m_oldCwd.c_str());
        for (const std::wstring& f : m_placed) ::DeleteFileW(f.c_str());
        ::RemoveDirectoryW(m_beside.c_str());
    }
    // Puts the configured library beside the program, under relative.
    void PlaceConfigured(const std::wstring& relative) {
        const size_t slash = relative.find(L'\\');
        if (slash != std::wstring::npos) {
            m_beside = ProgramFolder() + relative.substr(0, slash);
            ::CreateDirectoryW(m_beside.c_str(), nullptr);
        }
        const std::wstring to = ProgramFolder() + relative;
        ASSERT_TRUE(::CopyFileW((ProgramFolder() + kConfigured).c_str(), to.c_str(), FALSE));
        m_placed.push_back(to);
    }

    TempFolder m_cwd;
    std::wstring m_oldCwd;
    std::wstring m_name;
    std::wstring m_beside;
    std::vector<std::wstring> m_placed;
};

TEST_F(LibraryLoading, ABareNameLoadsTheLibraryBesideTheProgramNotThePlantedOne) {
    PlaceConfigured(m_name);
    platform::ModuleHandle module = platform::LoadDynamicLibrary(Utf8Text(m_name));
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(ValueOf(module), 1);
    platform::FreeDynamicLibrary(module);
}

TEST_F(LibraryLoading, ABareNameFoundOnlyInTheCurrentFolderDoesNotLoad) {
    platform::ModuleHandle module = platform::LoadDynamicLibrary(Utf8Text(m_name));
    EXPECT_EQ(module, nullptr);
    if (module != nullptr) platform::FreeDynamicLibrary(module);
}

TEST_F(LibraryLoading, ARelativePathCountsFromTheProgramsFolder) {
    const std::wstring relative =
        L"lib-" + std::to_wstring(::GetCurrentProcessId()) + L"\\" + m_name;
    // Planted under the same relative path in the current folder too.
    ::CreateDirectoryW((m_cwd / relative.substr(0, relative.find(L'\\'))).c_str(), nullptr);
    ASSERT_TRUE(
        ::CopyFileW((ProgramFolder() + kPlanted).c_str(), (m_cwd / relative).c_str(), FALSE));
    EXPECT_EQ(platform::LoadDynamicLibrary(Utf8Text(relative)), nullptr);
    PlaceConfigured(relative);
    platform::ModuleHandle module = platform::LoadDynamicLibrary(Utf8Text(relative));
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(ValueOf(module), 1);
    platform::FreeDynamicLibrary(module);
}

TEST_F(LibraryLoading, AnAbsolutePathLoadsThatFile) {
    platform::ModuleHandle module = platform::LoadDynamicLibrary(Utf8Text(m_cwd / m_name));
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(ValueOf(module), 2);
    platform::FreeDynamicLibrary(module);
    EXPECT_EQ(platform::LoadDynamicLibrary(""), nullptr);
}

}  // namespace
