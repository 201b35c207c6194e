#include "tests/support/loaded_library.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/text.h"
#else
#include <dlfcn.h>
#endif

namespace testsupport {

bool IsLibraryLoaded(const std::string& path) {
#ifdef _WIN32
    const std::u16string u = platform::Utf8ToUtf16(path);
    const std::wstring wide(u.begin(), u.end());
    return ::GetModuleHandleW(wide.c_str()) != nullptr;
#else
    void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h == nullptr) return false;
    ::dlclose(h);
    return true;
#endif
}

}  // namespace testsupport
