// The single-instance guard on Windows: a named mutex in the logon's local
// namespace, created owned.
#include <windows.h>

#include <string>

#include "platform/instance_guard.h"
#include "platform/text.h"

namespace platform {

void SetInstanceLockFallbackBase(const std::string&) {}

bool InstanceLockDirectory(std::string*, unsigned long* error) {
    if (error != nullptr) *error = ERROR_NOT_SUPPORTED;
    return false;
}

InstanceLock::~InstanceLock() { Release(); }

InstanceLock::State InstanceLock::Create(const std::string& name, unsigned long* error) {
    Release();
    const std::u16string u = Utf8ToUtf16(name);
    const std::wstring wide(u.begin(), u.end());
    HANDLE h = ::CreateMutexW(nullptr, TRUE, wide.c_str());
    const DWORD last = ::GetLastError();
    handle_ = reinterpret_cast<intptr_t>(h);
    if (h == nullptr) {
        if (error != nullptr) *error = last;
        return state_ = State::kFailed;
    }
    return state_ = (last == ERROR_ALREADY_EXISTS ? State::kAlreadyRunning : State::kOwned);
}

void InstanceLock::Release() {
    if (handle_ != kNoHandle) {
        HANDLE h = reinterpret_cast<HANDLE>(handle_);
        // Fails harmlessly when this process does not own the mutex.
        ::ReleaseMutex(h);
        ::CloseHandle(h);
        handle_ = kNoHandle;
    }
    state_ = State::kNone;
}

}  // namespace platform
