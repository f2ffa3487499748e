#include "runtime/watchdog.hpp"

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

#include "platform/board.hpp"
#include "platform/devices.hpp"
#include "runtime/fd.hpp"

namespace
{
using namespace platform::watchdog;

bool write_all(int fd, const char* text, size_t n)
{
    ssize_t r;
    do {
        r = ::write(fd, text, n);
    } while (r < 0 && errno == EINTR);
    if (r >= 0 && size_t(r) != n)
        errno = EIO;
    return r >= 0 && size_t(r) == n;
}
} // namespace

bool Watchdog::open()
{
    if (mFd >= 0)
        return true;
    // Through the board in use, close-on-exec, as Fd::open opens every device.
    mFd = platform::board().open(kPath, O_WRONLY | O_CLOEXEC);
    if (mFd < 0) {
        Errno e;
        std::cerr << "Mux: fail to open watchdog: " << e << std::endl;
        return false;
    }
    if (!write_all(mFd, kStart, sizeof kStart - 1)) {
        Errno e;
        std::cerr << "Mux: fail to activate watchdog: " << e << std::endl;
        close_device();
        return false;
    }
    return true;
}

void Watchdog::ping()
{
    if (mFd < 0)
        return;
    if (!write_all(mFd, kPing, sizeof kPing - 1)) {
        Errno e;
        std::cerr << "Mux: ping watchdog failed: " << e << std::endl;
    }
}

void Watchdog::stop()
{
    if (mFd < 0)
        return;
    if (!write_all(mFd, kStop, sizeof kStop - 1)) {
        Errno e;
        std::cerr << "Mux: stop watchdog failed: " << e << std::endl;
    }
    close_device();
}

void Watchdog::close_device()
{
    ::close(mFd);
    mFd = -1;
}
