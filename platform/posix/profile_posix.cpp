// Configuration files on POSIX: the portable reader (platform/profile.cpp)
// stands in for the private-profile functions.
#include "platform/profile.h"
#include "platform/text.h"

namespace platform {

uint32_t ReadProfileInt(const std::string& path, std::string_view section, std::string_view key,
                        int32_t defaultValue) {
    ProfileText profile;
    std::u16string value;
    ProfileText::FromFile(path, &profile);
    if (!profile.Find(Utf8ToUtf16(section), Utf8ToUtf16(key), &value) || value.empty())
        return static_cast<uint32_t>(defaultValue);
    return ProfileIntFromValue(value);
}

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view defaultValue,
                              uint32_t bufferUnits) {
    ProfileText profile;
    std::u16string value;
    ProfileText::FromFile(path, &profile);
    if (!profile.Find(Utf8ToUtf16(section), Utf8ToUtf16(key), &value))
        value = Utf8ToUtf16(defaultValue);
    return Utf16ToUtf8(CutProfileValue(value, bufferUnits));
}

}  // namespace platform
