// The child of the child-process tests.
//   support_child_helper echo ARG...      each argument on its own line of
//       standard output (between '[' and ']'), "err" on standard error, the
//       value of SUPPORT_CHILD_VALUE (or "unset") on the last line; exit 7
//   support_child_helper sleep MS          sleeps, then exits 0
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>

#include "platform/text.h"
#endif

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "echo") == 0) {
#ifdef _WIN32
        // The arguments as the system passed them, in UTF-16.
        int n = 0;
        wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &n);
        for (int i = 2; i < n; ++i) {
            const std::wstring w = wide[i];
            std::printf("[%s]\n",
                        platform::Utf16ToUtf8(std::u16string(w.begin(), w.end())).c_str());
        }
        ::LocalFree(wide);
#else
        for (int i = 2; i < argc; ++i) std::printf("[%s]\n", argv[i]);
#endif
#ifdef _WIN32
        // The process's own block, in UTF-16 (getenv gives the ANSI code page).
        wchar_t value[256];
        const DWORD length = ::GetEnvironmentVariableW(L"SUPPORT_CHILD_VALUE", value, 256);
        const std::string text = length == 0 || length >= 256
                                     ? "unset"
                                     : platform::Utf16ToUtf8(std::u16string(value, value + length));
#else
        const char* value = std::getenv("SUPPORT_CHILD_VALUE");
        const std::string text = value != nullptr ? value : "unset";
#endif
        std::printf("%s\n", text.c_str());
        std::fprintf(stderr, "err\n");
        return 7;
    }
    if (argc == 3 && std::strcmp(argv[1], "sleep") == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
        return 0;
    }
    std::fprintf(stderr, "usage: support_child_helper echo ARG... | sleep MS\n");
    return 64;
}
