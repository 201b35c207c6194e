// What the program finds in its own resources at run time, through the
// calls it makes: the string table through LoadStringW, the load file
// through FindResourceW (and it verifies); and the sample configuration
// file of the release package as the private-profile functions read it.
#include <gtest/gtest.h>

#include <string>

// Before windows.h, whose LoadImage macro would rename the class.
#include "update/load_image.h"

#include "app/string_table.h"
#include "platform/profile.h"
#include "platform/resource.h"
#include "tests/win32/win32_test_paths.h"
#include "update/checksum.h"

#undef LoadImage

namespace {

TEST(ProgramStrings, LoadStringWGivesThePortableTableForEveryId) {
    // Ids around the table too: those without a string are empty on both
    // sides.
    for (unsigned id = 100; id <= 130; ++id) {
        SCOPED_TRACE("string " + std::to_string(id));
        wchar_t buffer[1024] = {};
        const int n = ::LoadStringW(::GetModuleHandleW(nullptr), id, buffer, 1024);
        const std::wstring loaded(buffer, n > 0 ? static_cast<size_t>(n) : 0);
        EXPECT_EQ(loaded, WideText(LoadStringText(id)));
    }
}

TEST(ProgramLoadFile, FindResourceGivesTheBuildsFileAndEverySectionVerifies) {
    const uint8_t* data = nullptr;
    size_t size = 0;
    ASSERT_TRUE(platform::FindEmbeddedLoadFile(&data, &size));
    std::string file;
    ASSERT_TRUE(win32_test::ReadWholeFile(win32_test::HostPath(QUILLON_LOAD_FILE), &file));
    ASSERT_EQ(size, file.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size), file);

    LoadImage image;
    std::string why;
    ASSERT_EQ(OpenLoadImage(&image, &why), LoadImageStatus::kOk) << why;
    ASSERT_GT(image.SectionCount(), 0u);
    for (uint32_t k = 0; k < image.SectionCount(); ++k) {
        const LoadImage::Entry e = image.EntryAt(k);
        SCOPED_TRACE(std::string(e.tag, 2));
        EXPECT_EQ(ComputeChecksum(image.Data(k), e.dataLength), image.TrailerChecksum(k));
    }
    CloseLoadImage(&image);
}

// The sample of the release package, read beside a copy of it as the
// updater reads its configuration.
class SampleConfiguration : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(
            win32_test::ReadWholeFile(win32_test::HostPath(QUILLON_SAMPLE_CONFIG), &m_bytes));
        m_path = Utf8Text(win32_test::HostPath(QUILLON_SAMPLE_CONFIG));
        for (size_t k = 2; k + 1 < m_bytes.size(); k += 2)
            m_text.push_back(static_cast<char16_t>(static_cast<uint8_t>(m_bytes[k]) |
                                                   static_cast<uint8_t>(m_bytes[k + 1]) << 8));
    }
    std::string m_bytes;
    std::u16string m_text;  // after the byte-order mark
    std::string m_path;
};

TEST_F(SampleConfiguration, IsUtf16WithByteOrderMarkAndWindowsLineEnds) {
    ASSERT_GE(m_bytes.size(), 4u);
    EXPECT_EQ(static_cast<uint8_t>(m_bytes[0]), 0xFF);
    EXPECT_EQ(static_cast<uint8_t>(m_bytes[1]), 0xFE);
    EXPECT_EQ(m_bytes.size() % 2, 0u);
    for (size_t k = 0; k < m_text.size(); ++k) {
        if (m_text[k] == u'\n') {
            ASSERT_TRUE(k > 0 && m_text[k - 1] == u'\r') << "line end at " << k;
        }
    }
    // The Japanese comments survived the conversion.
    EXPECT_NE(m_text.find(u"ファームウェアアップデーター"), std::u16string::npos);
}

TEST_F(SampleConfiguration, EveryKeyIsExplainedAndReadsAsDocumented) {
    EXPECT_EQ(platform::ReadProfileInt(m_path, "MODEL", "Entry", -7), 1u);
    EXPECT_EQ(platform::ReadProfileString(m_path, "MODEL01", "MODEL", "?"), "ZK-Q870");
    EXPECT_EQ(platform::ReadProfileString(m_path, "MODEL01", "VID", "?"), "5B7D");
    EXPECT_EQ(platform::ReadProfileString(m_path, "MODEL01", "PID", "?"), "0023");
    EXPECT_EQ(platform::ReadProfileInt(m_path, "APIF", "Entry", -7), 0u);
    // The library key stands only as a commented example: the sample loads
    // nothing.
    EXPECT_EQ(platform::ReadProfileString(m_path, "APIF", "DLL01", "absent"), "absent");
    EXPECT_NE(m_text.find(u";DLL01="), std::u16string::npos);
    for (const char16_t* key : {u"; Entry:", u"; MODEL:", u"; VID:", u"; PID:", u"; DLL01"})
        EXPECT_NE(m_text.find(key), std::u16string::npos)
            << "no comment on "
            << Utf8Text(std::wstring(key, key + std::char_traits<char16_t>::length(key)));
}

}  // namespace
