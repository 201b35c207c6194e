// The backup file on Windows: the updater writes it with FILE_SHARE_READ,
// so that it can be read (copied away, inspected) while it is written.
#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "tests/win32/win32_test_paths.h"

namespace {

TEST(BackupFile, CanBeReadWhileItIsWritten) {
    win32_test::TempFolder folder;
    const std::wstring path = folder / L"ZKQ00001QX.qfw";
    platform::File writer;
    unsigned long error = 0;
    ASSERT_TRUE(writer.Open(Utf8Text(path), platform::File::Mode::kCreateAlways, &error)) << error;
    ASSERT_TRUE(writer.Write("STDATA", 6, &error)) << error;

    // A reader that leaves writing to the writer gets in.
    HANDLE reader = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE) << "error " << ::GetLastError();
    char got[6] = {};
    DWORD n = 0;
    EXPECT_TRUE(::ReadFile(reader, got, 6, &n, nullptr));
    EXPECT_EQ(std::string(got, n), "STDATA");
    ::CloseHandle(reader);

    // Nobody else may write meanwhile.
    HANDLE second = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    if (second != INVALID_HANDLE_VALUE) ::CloseHandle(second);
    writer.Close();
}

TEST(BackupFile, MissingFilesGiveTheSystemsCodes) {
    win32_test::TempFolder folder;
    platform::File file;
    unsigned long error = 0;
    EXPECT_FALSE(
        file.Open(Utf8Text(folder / L"none.qfw"), platform::File::Mode::kOpenExisting, &error));
    EXPECT_EQ(error, static_cast<unsigned long>(ERROR_FILE_NOT_FOUND));
    error = 0;
    EXPECT_TRUE(platform::RemoveFile(Utf8Text(folder / L"none.qfw"), &error));
    EXPECT_EQ(error, 0u);
}

}  // namespace
