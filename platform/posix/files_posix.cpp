// Files and the current directory on POSIX; error codes are errno values.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/files.h"

namespace platform {

const char kPathSeparator = '/';

namespace {

// The code a read reports when the file ends before the bytes asked for.
constexpr unsigned long kEndOfFile = 38;

void SetError(unsigned long* error, unsigned long code) {
    if (error != nullptr) *error = code;
}

}  // namespace

bool File::Open(const std::string& path, Mode mode, unsigned long* error) {
    Close();
    const int flags = mode == Mode::kCreateAlways ? (O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC)
                                                  : (O_RDONLY | O_CLOEXEC);
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        SetError(error, static_cast<unsigned long>(errno));
        return false;
    }
    handle_ = fd;
    return true;
}

int64_t File::Size(unsigned long* error) const {
    struct stat st {};
    if (handle_ == kInvalid) {
        SetError(error, EBADF);
        return -1;
    }
    if (::fstat(static_cast<int>(handle_), &st) != 0) {
        SetError(error, static_cast<unsigned long>(errno));
        return -1;
    }
    return static_cast<int64_t>(st.st_size);
}

bool File::Write(const void* data, size_t n, unsigned long* error) {
    if (handle_ == kInvalid) {
        SetError(error, EBADF);
        return false;
    }
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t done = ::write(static_cast<int>(handle_), p, n);
        if (done < 0) {
            if (errno == EINTR) continue;
            SetError(error, static_cast<unsigned long>(errno));
            return false;
        }
        p += done;
        n -= static_cast<size_t>(done);
    }
    return true;
}

bool File::Read(void* data, size_t n, unsigned long* error) {
    if (handle_ == kInvalid) {
        SetError(error, EBADF);
        return false;
    }
    char* p = static_cast<char*>(data);
    while (n > 0) {
        const ssize_t done = ::read(static_cast<int>(handle_), p, n);
        if (done < 0) {
            if (errno == EINTR) continue;
            SetError(error, static_cast<unsigned long>(errno));
            return false;
        }
        if (done == 0) {
            SetError(error, kEndOfFile);
            return false;
        }
        p += done;
        n -= static_cast<size_t>(done);
    }
    return true;
}

void File::Close() {
    if (handle_ != kInvalid) {
        ::close(static_cast<int>(handle_));
        handle_ = kInvalid;
    }
}

bool CurrentDirectory(std::string* dir) {
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
            *dir = buffer.data();
            return true;
        }
        if (errno != ERANGE || buffer.size() > (1u << 20)) return false;
        buffer.resize(buffer.size() * 2);
    }
}

bool RemoveFile(const std::string& path, unsigned long* error) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
    SetError(error, static_cast<unsigned long>(errno));
    return false;
}

bool ExecutablePath(std::string* path) {
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return false;
        if (static_cast<size_t>(n) < buffer.size()) {
            path->assign(buffer.data(), static_cast<size_t>(n));
            return true;
        }
        if (buffer.size() > (1u << 20)) return false;
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace platform
