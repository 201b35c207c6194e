// The single-instance guard on POSIX: flock on a file in the user's private
// runtime directory.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/instance_guard.h"

namespace platform {

namespace {

std::string& FallbackBase() {
    static std::string base = "/tmp";
    return base;
}

void SetError(unsigned long* error, unsigned long code) {
    if (error != nullptr) *error = code;
}

// A directory that only this user can change: a real directory (not a
// link to one), owned by the user, not writable by group or others.
bool IsPrivateDirectory(const std::string& dir, unsigned long* error) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) {
        SetError(error, static_cast<unsigned long>(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH))) {
        SetError(error, EPERM);
        return false;
    }
    return true;
}

int OpenLockFile(const std::string& path, unsigned long* error) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        SetError(error, static_cast<unsigned long>(errno));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        SetError(error, EPERM);
        return -1;
    }
    return fd;
}

}  // namespace

void SetInstanceLockFallbackBase(const std::string& base) {
    FallbackBase() = base.empty() ? std::string("/tmp") : base;
}

bool InstanceLockDirectory(std::string* dir, unsigned long* error) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        unsigned long ignored = 0;
        if (IsPrivateDirectory(runtime, &ignored)) {
            *dir = runtime;
            return true;
        }
    }
    // The per-user fallback. A name that already exists counts only when
    // it is this user's private directory, so that nobody else can plant
    // a directory or a link there.
    const std::string fallback =
        FallbackBase() + "/vadrellix-" + std::to_string(static_cast<unsigned long>(::geteuid()));
    if (::mkdir(fallback.c_str(), 0700) != 0 && errno != EEXIST) {
        SetError(error, static_cast<unsigned long>(errno));
        return false;
    }
    struct stat st {};
    if (::lstat(fallback.c_str(), &st) != 0) {
        SetError(error, static_cast<unsigned long>(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
        SetError(error, EPERM);
        return false;
    }
    *dir = fallback;
    return true;
}

InstanceLock::~InstanceLock() { Release(); }

InstanceLock::State InstanceLock::Create(const std::string& name, unsigned long* error) {
    Release();
    if (name.empty() || name.find('/') != std::string::npos) {
        SetError(error, EINVAL);
        return state_ = State::kFailed;
    }
    std::string dir;
    if (!InstanceLockDirectory(&dir, error)) return state_ = State::kFailed;
    const int fd = OpenLockFile(dir + "/" + name + ".lock", error);
    if (fd < 0) return state_ = State::kFailed;
    int r;
    do {
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    if (r == 0) {
        handle_ = fd + 1;
        return state_ = State::kOwned;
    }
    if (errno == EWOULDBLOCK) {
        handle_ = fd + 1;
        return state_ = State::kAlreadyRunning;
    }
    SetError(error, static_cast<unsigned long>(errno));
    ::close(fd);
    return state_ = State::kFailed;
}

void InstanceLock::Release() {
    if (handle_ != kNoHandle) {
        const int fd = static_cast<int>(handle_ - 1);
        if (state_ == State::kOwned) ::flock(fd, LOCK_UN);
        ::close(fd);
        handle_ = kNoHandle;
    }
    state_ = State::kNone;
}

}  // namespace platform
