// CChildProcess on Windows: CreateProcessW with inherited pipe ends, the
// pipes read as data arrives (PeekNamedPipe, since anonymous pipes cannot
// be waited on), the process handle waited on.
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <utility>

#include "platform/text.h"
#include "tests/support/child_process.h"

namespace testsupport {

struct CChildProcess::Os {
    HANDLE process = nullptr;
    HANDLE pipe[2] = {nullptr, nullptr};  // read ends: standard output, standard error
};

namespace {

std::wstring Wide(const std::string& text) {
    const std::u16string u = platform::Utf8ToUtf16(text);
    return std::wstring(u.begin(), u.end());
}

void CloseHandles(std::initializer_list<HANDLE> handles) {
    for (HANDLE h : handles)
        if (h != nullptr && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
}

// One argument as the C runtime's command-line parser reads it back:
// quoted when it holds blanks or quotes (or is empty), backslashes doubled
// before a quote.
std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') backslashes = backslashes * 2 + 1;
        out.append(backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

std::wstring CommandLine(const std::vector<std::string>& argv) {
    std::wstring line;
    for (const std::string& a : argv) {
        if (!line.empty()) line.push_back(L' ');
        line += Quoted(Wide(a));
    }
    return line;
}

std::wstring Upper(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(std::towupper(c));
    return s;
}

// The inherited environment with the extra variables, as a block sorted by
// name without regard to case (names compare that way on Windows).
std::wstring EnvironmentBlock(const std::map<std::string, std::string>& extra) {
    std::map<std::wstring, std::wstring> all;  // upper-cased name -> "Name=value"
    if (wchar_t* strings = ::GetEnvironmentStringsW()) {
        for (const wchar_t* e = strings; *e != L'\0'; e += wcslen(e) + 1) {
            const std::wstring entry = e;
            // "=C:=C:\dir" entries keep the drives' current folders.
            const size_t eq = entry.find(L'=', 1);
            all[Upper(entry.substr(0, eq))] = entry;
        }
        ::FreeEnvironmentStringsW(strings);
    }
    for (const auto& [name, value] : extra)
        all[Upper(Wide(name))] = Wide(name) + L"=" + Wide(value);
    std::wstring block;
    for (const auto& [key, entry] : all) {
        block += entry;
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

HANDLE Inheritable(HANDLE h) {
    if (h != nullptr && h != INVALID_HANDLE_VALUE)
        ::SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    return h;
}

}  // namespace

CChildProcess::CChildProcess(std::vector<std::string> argv, const ChildOptions& options)
    : m_os(std::make_unique<Os>()) {
    m_start = std::chrono::steady_clock::now();
    if (!argv.empty()) Start(std::move(argv), options);
}

CChildProcess::~CChildProcess() {
    Kill();
    CloseAll();
}

void CChildProcess::Start(std::vector<std::string> argv, const ChildOptions& options) {
    if (options.input == ChildOptions::Input::kTerminal) return;  // no terminals here
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    // The child's ends are inherited, ours are not.
    HANDLE outWrite = nullptr, errWrite = nullptr, in = nullptr;
    bool ok = true;
    if (options.stdoutPath.empty()) {
        ok = ::CreatePipe(&m_os->pipe[0], &outWrite, &inherit, 0) &&
             ::SetHandleInformation(m_os->pipe[0], HANDLE_FLAG_INHERIT, 0);
    } else {
        outWrite = ::CreateFileW(Wide(options.stdoutPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                 &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ok = outWrite != INVALID_HANDLE_VALUE;
    }
    ok = ok && ::CreatePipe(&m_os->pipe[1], &errWrite, &inherit, 0) &&
         ::SetHandleInformation(m_os->pipe[1], HANDLE_FLAG_INHERIT, 0);
    if (ok && options.input == ChildOptions::Input::kNull) {
        in = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ok = in != INVALID_HANDLE_VALUE;
    } else if (ok) {
        in = ::GetStdHandle(STD_INPUT_HANDLE);
    }

    if (ok) {
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = options.input == ChildOptions::Input::kInherit ? Inheritable(in) : in;
        si.hStdOutput = outWrite;
        si.hStdError = errWrite;
        std::wstring line = CommandLine(argv);
        std::wstring env;
        if (!options.env.empty()) env = EnvironmentBlock(options.env);
        PROCESS_INFORMATION pi{};
        if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                             CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW,
                             env.empty() ? nullptr : env.data(), nullptr, &si, &pi)) {
            ::CloseHandle(pi.hThread);
            m_os->process = pi.hProcess;
        }
    }
    CloseHandles({outWrite, errWrite});
    if (options.input == ChildOptions::Input::kNull) CloseHandles({in});
    if (m_os->process == nullptr) CloseAll();
}

bool CChildProcess::started() const { return m_os->process != nullptr || m_reaped; }

bool CChildProcess::running() const { return m_os->process != nullptr; }

bool CChildProcess::atEnd(Stream s) const { return m_os->pipe[Index(s)] == nullptr; }

bool CChildProcess::Type(const std::string&) { return false; }

bool CChildProcess::Pump(long long timeoutMs) {
    const auto end = Deadline(static_cast<int>(std::max<long long>(timeoutMs, 0)));
    for (;;) {
        bool any = false;
        for (int i = 0; i < 2; ++i) {
            HANDLE& h = m_os->pipe[i];
            if (h == nullptr) continue;
            DWORD available = 0;
            if (!::PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr)) {
                // Every writer has closed its end.
                ::CloseHandle(h);
                h = nullptr;
                any = true;
                continue;
            }
            if (available == 0) continue;
            char buf[4096];
            DWORD n = 0;
            if (::ReadFile(h, buf, std::min<DWORD>(available, sizeof buf), &n, nullptr) && n > 0) {
                m_text[i].append(buf, n);
            } else {
                ::CloseHandle(h);
                h = nullptr;
            }
            any = true;
        }
        if (any) return true;
        const long long left = Left(end);
        if (left <= 0) return false;
        // Nothing yet: a short nap, cut short when the child ends.
        const DWORD nap = static_cast<DWORD>(std::min<long long>(left, 5));
        if (m_os->process != nullptr)
            ::WaitForSingleObject(m_os->process, nap);
        else
            ::Sleep(nap);
    }
}

bool CChildProcess::Reap(int* status) {
    if (::WaitForSingleObject(m_os->process, 0) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    ::GetExitCodeProcess(m_os->process, &code);
    ::CloseHandle(m_os->process);
    m_os->process = nullptr;
    *status = static_cast<int>(code);
    return true;
}

bool CChildProcess::SendSignal(int sig) {
    return ::TerminateProcess(m_os->process, static_cast<UINT>(128 + sig)) != 0;
}

void CChildProcess::Kill() {
    if (!running()) return;
    ::TerminateProcess(m_os->process, 137);
    ::WaitForSingleObject(m_os->process, 10000);
    ::CloseHandle(m_os->process);
    m_os->process = nullptr;
}

void CChildProcess::CloseOutput() { CloseAll(); }

void CChildProcess::CloseAll() {
    CloseHandles({m_os->pipe[0], m_os->pipe[1]});
    m_os->pipe[0] = m_os->pipe[1] = nullptr;
}

}  // namespace testsupport
