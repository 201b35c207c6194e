// A second process for the single-instance tests on Windows.
//
//   app_instance_guard_helper probe NAME   takes the guard as the updater
//       does (InstanceLock::Create, then Release), prints "owned",
//       "already running" or "failed <error>"
//   app_instance_guard_helper hold NAME    takes the guard, prints the same,
//       and keeps it until it is ended (at most 60 s)
//   app_instance_guard_helper owner NAME   says whether another thread
//       owns the named mutex, without taking part in the guard: "owned
//       elsewhere", "free", "abandoned" or "none" (no such mutex)
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/instance_guard.h"
#include "platform/text.h"

namespace {

using State = platform::InstanceLock::State;

int Usage() {
    std::fprintf(stderr, "usage: app_instance_guard_helper probe|hold|owner NAME\n");
    return 64;
}

void Say(State state, unsigned long error) {
    switch (state) {
        case State::kOwned:
            std::printf("owned\n");
            break;
        case State::kAlreadyRunning:
            std::printf("already running\n");
            break;
        case State::kFailed:
            std::printf("failed %lu\n", error);
            break;
        case State::kNone:
            std::printf("none\n");
            break;
    }
    std::fflush(stdout);
}

int Owner(const std::string& name) {
    const std::u16string u = platform::Utf8ToUtf16(name);
    const std::wstring wide(u.begin(), u.end());
    HANDLE h = ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, wide.c_str());
    if (h == nullptr) {
        std::printf("none\n");
        return 0;
    }
    const DWORD r = ::WaitForSingleObject(h, 0);
    if (r == WAIT_TIMEOUT) {
        std::printf("owned elsewhere\n");
    } else {
        std::printf(r == WAIT_ABANDONED ? "abandoned\n" : "free\n");
        ::ReleaseMutex(h);
    }
    ::CloseHandle(h);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return Usage();
    const std::string mode = argv[1];
    const std::string name = argv[2];
    if (mode == "owner") return Owner(name);
    if (mode != "probe" && mode != "hold") return Usage();
    platform::InstanceLock lock;
    unsigned long error = 0;
    const State state = lock.Create(name, &error);
    Say(state, error);
    if (mode == "hold") ::Sleep(60000);
    lock.Release();
    return 0;
}
