// The per-user state folder and durable new files on POSIX.
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/state_files.h"

namespace platform {

namespace {

// Tries this many names (<stem>, <stem>-2, ...) before giving up.
constexpr int kMaxNameTries = 1000;

void SetError(unsigned long* error, int code) {
    if (error != nullptr) *error = static_cast<unsigned long>(code);
}

// Owns a file descriptor.
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    // Closes now; false when close reports a failure (a late write error).
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, const uint8_t* data, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (w == 0) errno = EIO;
            return false;
        }
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Moves from to to unless to exists. False with errno (EEXIST when taken).
bool MoveIfFree(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the exclusive rename: a hard link is exclusive
    // as well, and the temporary name goes afterwards.
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

}  // namespace

bool PlatformUserStateDirectory(std::string* dir) {
    const char* state = ::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        *dir = state;
        return true;
    }
    const char* home = ::getenv("HOME");
    std::string base;
    if (home != nullptr && home[0] == '/') {
        base = home;
    } else {
        std::vector<char> buffer(16384);
        passwd entry{};
        passwd* found = nullptr;
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
            found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/')
            return false;
        base = found->pw_dir;
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    *dir = base + "/.local/state";
    return true;
}

bool CreateDirectories(const std::string& dir, unsigned long* error) {
    if (dir.empty()) {
        SetError(error, ENOENT);
        return false;
    }
    // Each folder from the top down: made when missing, kept when there.
    size_t at = 0;
    while (at != std::string::npos) {
        at = dir.find('/', at + 1);
        const std::string part = dir.substr(0, at);
        if (part.empty() || part.back() == '/') continue;
        if (::mkdir(part.c_str(), 0700) == 0) continue;
        const int code = errno;
        struct stat st{};
        if (code == EEXIST && ::stat(part.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
        SetError(error, code == EEXIST ? ENOTDIR : code);
        return false;
    }
    return true;
}

bool WriteNewFileDurably(const std::string& dir, const std::string& stem, const std::string& ext,
                         const uint8_t* data, size_t n, std::string* path,
                         unsigned long* error) {
    const std::string folder = dir.empty() || dir.back() == '/' ? dir : dir + "/";
    const std::string temp =
        folder + "." + stem + "." + std::to_string(::getpid()) + ext + ".tmp";
    {
        Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (fd.get() < 0) {
            SetError(error, errno);
            return false;
        }
        if (!WriteAll(fd.get(), data, n) || ::fsync(fd.get()) != 0 || !fd.Close()) {
            SetError(error, errno);
            ::unlink(temp.c_str());
            return false;
        }
    }
    for (int k = 1; k <= kMaxNameTries; ++k) {
        const std::string name = folder + stem + (k == 1 ? "" : "-" + std::to_string(k)) + ext;
        if (MoveIfFree(temp, name)) {
            // The new name itself must survive a power cut as well.
            Fd d(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (d.get() >= 0) ::fsync(d.get());
            *path = name;
            return true;
        }
        if (errno != EEXIST) break;
    }
    SetError(error, errno);
    ::unlink(temp.c_str());
    return false;
}

}  // namespace platform
