// The printer-class device node (/dev/usb/lpN, or the virtual printer's
// pseudo-terminal): synchronous reads and writes on its descriptor.
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

}  // namespace

bool OpenNode(const std::string& path, int* fd, unsigned long* error) {
    const int d = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
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
    for (;;) {
        const ssize_t r = write(fd, data, n);
        if (r >= 0) {
            *done = static_cast<uint32_t>(r);
            return true;
        }
        if (errno == EINTR) continue;
        *error = static_cast<unsigned long>(errno);
        return false;
    }
}

// Waits at most UsbReadTimeoutMs() (30 s) for data: a printer that stops
// answering must not hang the updater for ever.
bool NodeRead(int fd, void* data, uint32_t n, uint32_t* done, unsigned long* error) {
    pollfd p{fd, POLLIN, 0};
    const int64_t deadline = NowMs() + UsbReadTimeoutMs();
    for (;;) {
        const int64_t left = deadline - NowMs();
        const int r = left > 0 ? poll(&p, 1, static_cast<int>(left)) : 0;
        if (r > 0) break;
        if (r == 0) {
            *error = ETIMEDOUT;
            return false;
        }
        if (errno != EINTR) {
            *error = static_cast<unsigned long>(errno);
            return false;
        }
    }
    for (;;) {
        const ssize_t r = read(fd, data, n);
        if (r == 0 && (p.revents & (POLLHUP | POLLERR)) != 0) {
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
        *error = static_cast<unsigned long>(errno);
        return false;
    }
}

void CloseNode(int fd) { close(fd); }

}  // namespace platform::posixusb
