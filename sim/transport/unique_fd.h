// Owner of a POSIX file descriptor: closed on every path.
#pragma once

#include <unistd.h>

#include <utility>

namespace sim {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& o) noexcept : m_fd(std::exchange(o.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept {
        if (this != &o) Reset(std::exchange(o.m_fd, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    void Reset(int fd = -1) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

}  // namespace sim
