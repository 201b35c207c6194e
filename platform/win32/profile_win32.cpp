// Configuration files on Windows: the private-profile functions themselves.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/profile.h"
#include "platform/text.h"

namespace platform {

namespace {

std::wstring Wide(std::string_view utf8) {
    const std::u16string u = Utf8ToUtf16(utf8);
    return std::wstring(u.begin(), u.end());
}

}  // namespace

uint32_t ReadProfileInt(const std::string& path, std::string_view section, std::string_view key,
                        int32_t defaultValue) {
    return ::GetPrivateProfileIntW(Wide(section).c_str(), Wide(key).c_str(), defaultValue,
                                   Wide(path).c_str());
}

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view defaultValue,
                              uint32_t bufferUnits) {
    if (bufferUnits == 0) return std::string();
    std::vector<wchar_t> buffer(bufferUnits, L'\0');
    const DWORD n = ::GetPrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(),
                                               Wide(defaultValue).c_str(), buffer.data(),
                                               bufferUnits, Wide(path).c_str());
    std::u16string value(buffer.data(), buffer.data() + n);
    // The function may cut a surrogate pair in two; drop the lone half.
    if (!value.empty() && value.back() >= 0xD800 && value.back() <= 0xDBFF) value.pop_back();
    return Utf16ToUtf8(value);
}

}  // namespace platform
