// The printer-class device node (/dev/usb/lpN, or the virtual printer's
// pseudo-terminal): reads and writes on its descriptor.
//
// The descriptor is non-blocking and every transfer waits in poll() with a
// limit: a blocking write to the printer driver waits for ever for a
// printer that stops taking data, and an updater stuck there in the middle
// of a firmware write could never reach its failure path. A read waits at
// most UsbReadTimeoutMs() for data, a write at most UsbWriteTimeoutMs() for
// the device to take its first byte; both fail with ETIMEDOUT after that.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "usb_posix_ways.h"

namespace platform::posixusb {
namespace {

int64_t NowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Waits until fd is ready for events (what it is ready for in *revents).
// False with *error when deadline passes first (ETIMEDOUT) or poll fails.
bool WaitReady(int fd, short events, int64_t deadline, short* revents, unsigned long* error) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int64_t left = deadline - NowMs();
        const int r = left > 0 ? poll(&p, 1, static_cast<int>(left)) : 0;
        if (r > 0) {
            *revents = p.revents;
            return true;
        }
        if (r == 0) {
            *error = ETIMEDOUT;
            return false;
        }
        if (errno != EINTR) {
            *error = static_cast<unsigned long>(errno);
            return false;
        }
    }
}

}  // namespace

bool OpenNode(const std::string& path, int* fd, unsigned long* error) {
    const int d = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (d < 0) {
        *error = static_cast<unsigned long>(errno);
        return false;
    }
    // A terminal (the virtual printer's pseudo-terminal) must pass bytes
    // unchanged.
    termios t{};
    if (tcgetattr(d, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(d, TCSANOW, &t);
    }
    *fd = d;
    return true;
}

bool NodeWrite(int fd, const void* data, uint32_t n, uint32_t* done, unsigned long* error) {
    const int64_t deadline = NowMs() + UsbWriteTimeoutMs();
    for (;;) {
        const ssize_t r = write(fd, data, n);
        if (r >= 0) {
            *done = static_cast<uint32_t>(r);
            return true;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            *error = static_cast<unsigned long>(errno);
            return false;
        }
        // The device still holds earlier bytes: wait until it takes more.
        short revents = 0;
        if (!WaitReady(fd, POLLOUT, deadline, &revents, error)) return false;
        if ((revents & POLLOUT) == 0 && (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            *error = ENODEV;  // the device went away while it held our bytes
            return false;
        }
    }
}

bool NodeRead(int fd, void* data, uint32_t n, uint32_t* done, unsigned long* error) {
    const int64_t deadline = NowMs() + UsbReadTimeoutMs();
    for (;;) {
        short revents = 0;
        if (!WaitReady(fd, POLLIN, deadline, &revents, error)) return false;
        const ssize_t r = read(fd, data, n);
        if (r == 0 && (revents & (POLLHUP | POLLERR)) != 0) {
            // The other side hung up (a pseudo-terminal whose printer went
            // away): that is a printer gone, not an empty packet.
            *error = ENODEV;
            return false;
        }
        if (r >= 0) {
            *done = static_cast<uint32_t>(r);
            return true;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if ((revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                *error = ENODEV;
                return false;
            }
            continue;  // readiness without data yet: wait again
        }
        *error = static_cast<unsigned long>(errno);
        return false;
    }
}

void CloseNode(int fd) { close(fd); }

}  // namespace platform::posixusb
