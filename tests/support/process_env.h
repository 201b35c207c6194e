// The test process's own id and environment variables (getpid / setenv on
// POSIX, GetCurrentProcessId / _wputenv_s on Windows, where the C library's
// copy and the process's own block must both change).
#pragma once

#include <optional>
#include <string>

namespace testsupport {

int CurrentProcessId();

std::optional<std::string> GetEnv(const std::string& name);
void SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);

// Sets (or, with nullopt, removes) a variable for the lifetime of the
// object; the old value, or its absence, comes back afterwards.
class CScopedEnv {
public:
    CScopedEnv(std::string name, const std::optional<std::string>& value);
    ~CScopedEnv();
    CScopedEnv(const CScopedEnv&) = delete;
    CScopedEnv& operator=(const CScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

}  // namespace testsupport
