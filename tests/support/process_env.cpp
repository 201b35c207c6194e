#include "tests/support/process_env.h"

#ifdef _WIN32
#include <windows.h>

#include <cstdlib>

#include "platform/text.h"
#else
#include <unistd.h>

#include <cstdlib>
#endif

namespace testsupport {

#ifdef _WIN32

namespace {

std::wstring Wide(const std::string& text) {
    const std::u16string u = platform::Utf8ToUtf16(text);
    return std::wstring(u.begin(), u.end());
}

}  // namespace

int CurrentProcessId() { return static_cast<int>(::GetCurrentProcessId()); }

std::optional<std::string> GetEnv(const std::string& name) {
    const std::wstring wide = Wide(name);
    const DWORD n = ::GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
    if (n == 0) return std::nullopt;
    std::wstring value(n, L'\0');
    const DWORD got = ::GetEnvironmentVariableW(wide.c_str(), value.data(), n);
    value.resize(got);
    return platform::Utf16ToUtf8(std::u16string(value.begin(), value.end()));
}

void SetEnv(const std::string& name, const std::string& value) {
    // Both the process's block (children, GetEnvironmentVariableW) and the
    // C library's copy (getenv).
    ::_wputenv_s(Wide(name).c_str(), Wide(value).c_str());
    ::SetEnvironmentVariableW(Wide(name).c_str(), Wide(value).c_str());
}

void UnsetEnv(const std::string& name) {
    ::_wputenv_s(Wide(name).c_str(), L"");
    ::SetEnvironmentVariableW(Wide(name).c_str(), nullptr);
}

#else

int CurrentProcessId() { return static_cast<int>(::getpid()); }

std::optional<std::string> GetEnv(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

void SetEnv(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
}

void UnsetEnv(const std::string& name) { ::unsetenv(name.c_str()); }

#endif

CScopedEnv::CScopedEnv(std::string name, const std::optional<std::string>& value)
    : m_name(std::move(name)), m_old(GetEnv(m_name)) {
    if (value)
        SetEnv(m_name, *value);
    else
        UnsetEnv(m_name);
}

CScopedEnv::~CScopedEnv() {
    if (m_old)
        SetEnv(m_name, *m_old);
    else
        UnsetEnv(m_name);
}

}  // namespace testsupport
