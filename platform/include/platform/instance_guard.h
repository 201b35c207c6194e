// The single-instance guard: a named lock that one process of the logon
// owns at a time.
//
// Windows: a named mutex in the logon's local namespace, created owned.
// POSIX: an advisory lock (flock) on a file named after the lock in the
// user's runtime directory ($XDG_RUNTIME_DIR when it is a private
// directory of the user; otherwise /tmp/vadrellix-<uid>, created 0700 and
// accepted only when it is a real directory owned by the user that nobody
// else can write). The lock belongs to the open file, so it ends with the
// process however the process ends.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class InstanceLock {
public:
    enum class State {
        kNone,            // not created, or released
        kOwned,           // this process holds the lock
        kAlreadyRunning,  // another process holds it
        kFailed,          // it could not be created (no guard)
    };

    constexpr InstanceLock() = default;
    // Releases the lock if it is still held.
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Creates the named lock, owned. kAlreadyRunning when another process
    // holds it (a handle is kept all the same, as CreateMutexW returns one);
    // kFailed with *error when it could not be created.
    State Create(const std::string& name, unsigned long* error);
    // Releases and closes: the guard's end. Harmless when not owned (the
    // other process keeps its lock) or when nothing was created.
    void Release();

    bool HasHandle() const { return handle_ != kNoHandle; }
    State state() const { return state_; }

private:
    static constexpr intptr_t kNoHandle = 0;
    intptr_t handle_ = kNoHandle;  // POSIX: descriptor + 1; Windows: the mutex handle
    State state_ = State::kNone;
};

// POSIX: the directory that holds the lock files, made when needed
// (false with *error when no safe directory can be had). Windows: false.
bool InstanceLockDirectory(std::string* dir, unsigned long* error);

// Tests (POSIX): the folder in which the fallback directory
// "vadrellix-<uid>" is made, "/tmp" unless set; an empty text restores it.
void SetInstanceLockFallbackBase(const std::string& base);

}  // namespace platform
