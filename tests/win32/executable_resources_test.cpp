// The resources that quillon.exe carries, read from the executable file
// itself: dialog 134 exactly as the updater's dialog is, the Japanese
// string table equal to the portable one, icon group 128, the manifest and
// the load file (QZR 135).
//
// The file is this build's quillon.exe, or the one that
// QUILLON_EXE_UNDER_TEST names (the release package's x86 executable; then
// QUILLON_EXPECTED_ARCH says which architecture its manifest names).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/string_table.h"
#include "resources/texts.h"
#include "tests/win32/module_resources.h"
#include "tests/win32/win32_test_paths.h"

namespace {

using win32_test::ModuleResources;
using win32_test::ResourceCursor;

constexpr WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);  // 1041
constexpr WORD kNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::string(v) : fallback;
}

std::wstring ExecutableUnderTest() {
    const char* given = std::getenv("QUILLON_EXE_UNDER_TEST");
    if (given != nullptr && *given != '\0') return WideText(given);
    return win32_test::HostPath(QUILLON_EXE_PATH);
}

std::u16string U16(const char* utf8) { return platform::Utf8ToUtf16(utf8); }

class QuillonExecutable : public ::testing::Test {
protected:
    QuillonExecutable() : m_exe(ExecutableUnderTest()) {}
    void SetUp() override {
        ASSERT_TRUE(m_exe.IsOpen()) << "cannot load " << Utf8Text(ExecutableUnderTest())
                                    << " as data: error " << ::GetLastError();
    }
    ModuleResources m_exe;
};

struct ExpectedControl {
    uint32_t id;
    uint16_t classAtom;  // 0x0080 button, 0x0082 static
    const char* text;
    int16_t x, y, cx, cy;
    uint32_t style;
};

TEST_F(QuillonExecutable, DialogTemplate134IsTheUpdatersDialog) {
    EXPECT_EQ(m_exe.Languages(MAKEINTRESOURCEW(5) /* RT_DIALOG */, 134),
              std::vector<WORD>{kJapanese});
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(m_exe.Bytes(MAKEINTRESOURCEW(5), 134, kJapanese, &bytes));
    ResourceCursor c(bytes);
    // DLGTEMPLATEEX
    EXPECT_EQ(c.Word(), 1);       // version
    EXPECT_EQ(c.Word(), 0xFFFF);  // extended template
    c.Dword();                    // help id
    EXPECT_EQ(c.Dword(), 0u);     // extended style
    EXPECT_EQ(c.Dword(), 0x80C000C8u);
    const uint16_t count = c.Word();
    EXPECT_EQ(c.Short(), 0);
    EXPECT_EQ(c.Short(), 0);
    EXPECT_EQ(c.Short(), 201);
    EXPECT_EQ(c.Short(), 119);
    EXPECT_EQ(c.Word(), 0);  // no menu
    EXPECT_EQ(c.Word(), 0);  // the dialog class
    EXPECT_EQ(c.Text(), U16(QUILLON_TEXT_APP_TITLE));
    EXPECT_EQ(c.Word(), 8);  // point size
    c.Word();                // weight
    c.Byte();                // italic
    c.Byte();                // character set
    EXPECT_EQ(c.Text(), u"MS Shell Dlg");

    const ExpectedControl expected[] = {
        {1013, 0x0080, QUILLON_TEXT_UPDATE_BUTTON, 7, 62, 186, 30, 0x50010000},
        {100, 0x0082, "", 7, 7, 184, 51, 0x50020000},
        {1, 0x0080, QUILLON_TEXT_EXIT_BUTTON, 133, 99, 60, 14, 0x50010001},
    };
    ASSERT_EQ(count, std::size(expected));
    for (const ExpectedControl& e : expected) {
        SCOPED_TRACE("control " + std::to_string(e.id));
        c.AlignDword();
        c.Dword();                 // help id
        EXPECT_EQ(c.Dword(), 0u);  // extended style
        EXPECT_EQ(c.Dword(), e.style);
        EXPECT_EQ(c.Short(), e.x);
        EXPECT_EQ(c.Short(), e.y);
        EXPECT_EQ(c.Short(), e.cx);
        EXPECT_EQ(c.Short(), e.cy);
        EXPECT_EQ(c.Dword(), e.id);
        const ResourceCursor::NameOrOrdinal cls = c.Name();
        EXPECT_TRUE(cls.isOrdinal);
        EXPECT_EQ(cls.ordinal, e.classAtom);
        EXPECT_EQ(c.Name().text, U16(e.text));
        c.Skip(c.Word());  // creation data
    }
    EXPECT_FALSE(c.overrun);
}

TEST_F(QuillonExecutable, StringTableIsJapaneseAndHoldsThePortableTexts) {
    // Strings 111 to 127 live in blocks 7 and 8 (16 strings per block).
    for (int block : {7, 8}) {
        SCOPED_TRACE("block " + std::to_string(block));
        EXPECT_EQ(m_exe.Languages(MAKEINTRESOURCEW(6) /* RT_STRING */, block),
                  std::vector<WORD>{kJapanese});
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(m_exe.Bytes(MAKEINTRESOURCEW(6), block, kJapanese, &bytes));
        ResourceCursor c(bytes);
        for (unsigned id = (block - 1) * 16; id < static_cast<unsigned>(block) * 16; ++id) {
            SCOPED_TRACE("string " + std::to_string(id));
            EXPECT_EQ(c.Counted(), U16(LoadStringText(id).c_str()));
        }
        EXPECT_FALSE(c.overrun);
    }
    // No other block: the table is 111 to 127.
    for (int block = 1; block <= 16; ++block) {
        if (block != 7 && block != 8) {
            EXPECT_TRUE(m_exe.Languages(MAKEINTRESOURCEW(6), block).empty()) << block;
        }
    }
}

TEST_F(QuillonExecutable, IconGroup128HoldsItsImages) {
    std::vector<uint8_t> group;
    ASSERT_TRUE(m_exe.Bytes(MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */, 128, kNeutral, &group));
    ResourceCursor c(group);
    EXPECT_EQ(c.Word(), 0);
    EXPECT_EQ(c.Word(), 1);  // icons
    const uint16_t count = c.Word();
    EXPECT_GE(count, 2);
    bool has16 = false, has32 = false;
    for (uint16_t k = 0; k < count; ++k) {
        const uint8_t width = c.Byte();
        const uint8_t height = c.Byte();
        c.Skip(2);
        c.Word();                 // planes
        EXPECT_EQ(c.Word(), 32);  // bits per pixel
        const uint32_t size = c.Dword();
        const uint16_t id = c.Word();
        std::vector<uint8_t> image;
        ASSERT_TRUE(m_exe.Bytes(MAKEINTRESOURCEW(3) /* RT_ICON */, id, kNeutral, &image)) << id;
        EXPECT_EQ(image.size(), size);
        // The image is usable as an icon of its size.
        HICON icon = ::CreateIconFromResourceEx(image.data(), static_cast<DWORD>(image.size()),
                                                TRUE, 0x00030000, width, height, LR_DEFAULTCOLOR);
        EXPECT_NE(icon, nullptr) << "image " << id;
        if (icon != nullptr) ::DestroyIcon(icon);
        has16 = has16 || width == 16;
        has32 = has32 || width == 32;
    }
    EXPECT_TRUE(has16 && has32);
    EXPECT_FALSE(c.overrun);
}

TEST_F(QuillonExecutable, ManifestAsksForCommonControls6AsInvokerDpiAware) {
    EXPECT_EQ(m_exe.Languages(MAKEINTRESOURCEW(24) /* RT_MANIFEST */, 1),
              std::vector<WORD>{kNeutral});
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(m_exe.Bytes(MAKEINTRESOURCEW(24), 1, kNeutral, &bytes));
    const std::string manifest(bytes.begin(), bytes.end());
    const std::string arch = EnvOr("QUILLON_EXPECTED_ARCH", "amd64");
    const size_t controls = manifest.find("name=\"Microsoft.Windows.Common-Controls\"");
    ASSERT_NE(controls, std::string::npos);
    const std::string identity =
        manifest.substr(manifest.rfind('<', controls),
                        manifest.find("/>", controls) - manifest.rfind('<', controls));
    EXPECT_NE(identity.find("version=\"6.0.0.0\""), std::string::npos) << identity;
    EXPECT_NE(identity.find("processorArchitecture=\"" + arch + "\""), std::string::npos)
        << identity;
    EXPECT_NE(identity.find("publicKeyToken=\"6595b64144ccf1df\""), std::string::npos);
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
              std::string::npos);
    EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);
    // The program's own identity names the same architecture.
    EXPECT_NE(manifest.find("processorArchitecture=\"" + arch + "\"/>"), std::string::npos);
    // Only one manifest: the loader reads id 1, and no other may compete.
    EXPECT_TRUE(m_exe.Languages(MAKEINTRESOURCEW(24), 2).empty());
}

TEST_F(QuillonExecutable, LoadFile135IsTheBuildsLoadFile) {
    std::vector<uint8_t> embedded;
    HRSRC found = ::FindResourceW(m_exe.module(), MAKEINTRESOURCEW(135), L"QZR");
    ASSERT_NE(found, nullptr);
    HGLOBAL loaded = ::LoadResource(m_exe.module(), found);
    ASSERT_NE(loaded, nullptr);
    const auto* data = static_cast<const uint8_t*>(::LockResource(loaded));
    ASSERT_NE(data, nullptr);
    embedded.assign(data, data + ::SizeofResource(m_exe.module(), found));

    std::string file;
    ASSERT_TRUE(win32_test::ReadWholeFile(win32_test::HostPath(QUILLON_LOAD_FILE), &file));
    ASSERT_EQ(embedded.size(), file.size());
    EXPECT_TRUE(std::equal(embedded.begin(), embedded.end(),
                           reinterpret_cast<const uint8_t*>(file.data())));
}

}  // namespace
