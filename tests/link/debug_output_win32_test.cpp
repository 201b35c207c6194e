// The trace line on Windows reaches a debugger: a program that traces is
// started under the Win32 debugging API and every OUTPUT_DEBUG_STRING event
// is collected, each as one UTF-16 line.
//
// wine 8 hands a debugger OutputDebugStringW's text converted to the
// debuggee's ANSI code page (Windows 10 does too, unless the debugger asks
// for Unicode with WaitForDebugEventEx); Japanese text survives that only
// in code page 932, which wine takes from the Unix locale of the run. CTest
// runs this test with LC_ALL=ja_JP.UTF-8.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/link/link_fixture.h"
#include "tests/support/build_path.h"

namespace {

using WaitForDebugEventFn = BOOL(WINAPI*)(DEBUG_EVENT*, DWORD);

struct DebugRun {
    bool started = false;
    bool ended = false;
    DWORD exitCode = 0;
    std::vector<std::u16string> lines;  // one per OUTPUT_DEBUG_STRING event
};

// The text of one OUTPUT_DEBUG_STRING event, read from the debuggee.
std::u16string ReadDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
    const size_t unit = info.fUnicode ? 2 : 1;
    std::vector<char> bytes(static_cast<size_t>(info.nDebugStringLength) * unit);
    SIZE_T got = 0;
    if (bytes.empty() ||
        !::ReadProcessMemory(process, info.lpDebugStringData, bytes.data(), bytes.size(), &got))
        return u"<unreadable>";
    bytes.resize(got);
    if (info.fUnicode) {
        std::u16string text(bytes.size() / 2, u'\0');
        memcpy(text.data(), bytes.data(), text.size() * 2);
        while (!text.empty() && text.back() == u'\0') text.pop_back();
        return text;
    }
    while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
    const int n =
        ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
    return std::u16string(wide.begin(), wide.end());
}

// Runs program as a debuggee until it ends (at most timeoutMs, then it is
// killed), collecting its debug strings.
DebugRun RunUnderDebugger(const std::string& program, int timeoutMs) {
    DebugRun run;
    // The Unicode form where the system has it, so that a debuggee's
    // OutputDebugStringW arrives as it was written.
    auto wait = reinterpret_cast<WaitForDebugEventFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "WaitForDebugEventEx")));
    if (wait == nullptr) wait = ::WaitForDebugEvent;

    const std::u16string u = platform::Utf8ToUtf16("\"" + program + "\"");
    std::wstring line(u.begin(), u.end());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE,
                          DEBUG_ONLY_THIS_PROCESS | CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi))
        return run;
    run.started = true;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool killed = false;
    while (!run.ended) {
        DEBUG_EVENT ev{};
        if (!wait(&ev, 500)) {
            if (!killed && std::chrono::steady_clock::now() > end) {
                ::TerminateProcess(pi.hProcess, 99);
                killed = true;
            }
            continue;
        }
        DWORD status = DBG_CONTINUE;
        switch (ev.dwDebugEventCode) {
            case OUTPUT_DEBUG_STRING_EVENT:
                run.lines.push_back(ReadDebugString(pi.hProcess, ev.u.DebugString));
                break;
            case EXCEPTION_DEBUG_EVENT:
                // The loader's breakpoint goes on; anything else is the
                // debuggee's own.
                if (ev.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                    status = DBG_EXCEPTION_NOT_HANDLED;
                break;
            case CREATE_PROCESS_DEBUG_EVENT:
                if (ev.u.CreateProcessInfo.hFile != nullptr)
                    ::CloseHandle(ev.u.CreateProcessInfo.hFile);
                break;
            case LOAD_DLL_DEBUG_EVENT:
                if (ev.u.LoadDll.hFile != nullptr) ::CloseHandle(ev.u.LoadDll.hFile);
                break;
            case EXIT_PROCESS_DEBUG_EVENT:
                run.exitCode = ev.u.ExitProcess.dwExitCode;
                run.ended = !killed;
                if (killed) run.ended = true, run.exitCode = 99;
                break;
            default:
                break;
        }
        ::ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, status);
    }
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return run;
}

std::u16string Utf16(const std::string& utf8) { return platform::Utf8ToUtf16(utf8); }

std::string Printable(const std::vector<std::u16string>& lines) {
    std::string out;
    for (const auto& l : lines) {
        out += '[';
        out += platform::Utf16ToUtf8(l);
        out += ']';
    }
    return out;
}

TEST(DebugOutputWin32, EachTraceLineIsOneDebugStringJapaneseIncluded) {
    ASSERT_EQ(::GetACP(), 932u) << "the ANSI code page must be 932 for Japanese debug strings "
                                   "under wine: run with LC_ALL=ja_JP.UTF-8 (a locale that "
                                   "scripts/install-deps makes)";
    const DebugRun run = RunUnderDebugger(testsupport::BuildPath(TRACE_WRITER), 20000);
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    // Exactly the two lines, each whole in one event: function, line,
    // message, the system's text, the line end.
    ASSERT_EQ(run.lines.size(), 2u) << Printable(run.lines);
    const std::string send = platform::Utf16ToUtf8(run.lines[0]);
    const std::string recv = platform::Utf16ToUtf8(run.lines[1]);
    EXPECT_EQ(Utf16(linktest::WithoutLineNumber(send)),
              Utf16(linktest::TraceLine("CPrinterIO::Send", "通信経路種別=[0]", kErrorDeviceNotConnected)));
    EXPECT_EQ(Utf16(linktest::WithoutLineNumber(recv)),
              Utf16(linktest::TraceLine("CPrinterIO::Recv", "通信経路種別=[0]", kErrorDeviceNotConnected)));
    EXPECT_NE(send.find("() ["), std::string::npos);
    EXPECT_NE(send, linktest::WithoutLineNumber(send)) << "a line number is in the brackets";
}

}  // namespace
