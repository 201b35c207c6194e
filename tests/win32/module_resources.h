// Reads the resources of an executable through the system's own resource
// functions: the running test program's, or another file's loaded as data
// (which also works for a 32-bit executable from this 64-bit process).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace win32_test {

class ModuleResources {
public:
    // The running program.
    ModuleResources() : m_module(::GetModuleHandleW(nullptr)), m_owned(false) {}
    // The file at path, as data.
    explicit ModuleResources(const std::wstring& path)
        : m_module(::LoadLibraryExW(path.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)),
          m_owned(true) {}
    ~ModuleResources() {
        if (m_owned && m_module != nullptr) ::FreeLibrary(m_module);
    }
    ModuleResources(const ModuleResources&) = delete;
    ModuleResources& operator=(const ModuleResources&) = delete;

    HMODULE module() const { return m_module; }
    bool IsOpen() const { return m_module != nullptr; }

    // The bytes of resource (type, id) in language lang; false when there
    // is none.
    bool Bytes(LPCWSTR type, int id, WORD lang, std::vector<uint8_t>* bytes) const {
        HRSRC found = ::FindResourceExW(m_module, type, MAKEINTRESOURCEW(id), lang);
        if (found == nullptr) return false;
        HGLOBAL loaded = ::LoadResource(m_module, found);
        const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
        if (data == nullptr) return false;
        const auto* p = static_cast<const uint8_t*>(data);
        bytes->assign(p, p + ::SizeofResource(m_module, found));
        return true;
    }

    // The languages resource (type, id) exists in.
    std::vector<WORD> Languages(LPCWSTR type, int id) const {
        std::vector<WORD> langs;
        ::EnumResourceLanguagesW(
            m_module, type, MAKEINTRESOURCEW(id),
            [](HMODULE, LPCWSTR, LPCWSTR, WORD lang, LONG_PTR out) -> BOOL {
                reinterpret_cast<std::vector<WORD>*>(out)->push_back(lang);
                return TRUE;
            },
            reinterpret_cast<LONG_PTR>(&langs));
        return langs;
    }

private:
    HMODULE m_module;
    bool m_owned;
};

// Little-endian reads from a resource's bytes; reads past the end give 0
// and set overrun.
class ResourceCursor {
public:
    explicit ResourceCursor(const std::vector<uint8_t>& bytes) : m_bytes(bytes) {}

    uint16_t Word() {
        if (m_at + 2 > m_bytes.size()) return Overrun<uint16_t>(2);
        const uint16_t v = static_cast<uint16_t>(m_bytes[m_at] | m_bytes[m_at + 1] << 8);
        m_at += 2;
        return v;
    }
    uint32_t Dword() {
        const uint32_t lo = Word();
        return lo | static_cast<uint32_t>(Word()) << 16;
    }
    int16_t Short() { return static_cast<int16_t>(Word()); }
    uint8_t Byte() {
        if (m_at + 1 > m_bytes.size()) return Overrun<uint8_t>(1);
        return m_bytes[m_at++];
    }
    // A NUL-terminated UTF-16 text.
    std::u16string Text() {
        std::u16string s;
        for (uint16_t c = Word(); c != 0 && !overrun; c = Word()) s.push_back(c);
        return s;
    }
    // A counted UTF-16 text (string tables).
    std::u16string Counted() {
        std::u16string s;
        for (uint16_t n = Word(); n > 0 && !overrun; --n) s.push_back(Word());
        return s;
    }
    // sz_Or_Ord of a dialog template: an ordinal (0xFFFF, n), a text, or
    // nothing.
    struct NameOrOrdinal {
        bool isOrdinal = false;
        uint16_t ordinal = 0;
        std::u16string text;
    };
    NameOrOrdinal Name() {
        NameOrOrdinal n;
        const uint16_t first = Word();
        if (first == 0xFFFF) {
            n.isOrdinal = true;
            n.ordinal = Word();
        } else if (first != 0) {
            n.text.push_back(first);
            n.text += Text();
        }
        return n;
    }
    void AlignDword() { m_at = (m_at + 3) & ~size_t{3}; }
    void Skip(size_t n) { m_at += n; }

    bool overrun = false;

private:
    template <typename T>
    T Overrun(size_t) {
        overrun = true;
        m_at = m_bytes.size();
        return T{};
    }
    const std::vector<uint8_t>& m_bytes;
    size_t m_at = 0;
};

}  // namespace win32_test
