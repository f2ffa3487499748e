#include "runtime/watchdog.hpp"

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

#include "platform/devices.hpp"

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
    if (mFd.is_valid())
        return true;
    if (!mFd.open(kPath, O_WRONLY)) {
        Errno e;
        std::cerr << "Mux: fail to open watchdog: " << e << std::endl;
        return false;
    }
    if (!write_all(mFd.lowlevel_fd(), kStart, sizeof kStart - 1)) {
        Errno e;
        std::cerr << "Mux: fail to activate watchdog: " << e << std::endl;
        mFd.close();
        return false;
    }
    return true;
}

void Watchdog::ping()
{
    if (!mFd.is_valid())
        return;
    if (!write_all(mFd.lowlevel_fd(), kPing, sizeof kPing - 1)) {
        Errno e;
        std::cerr << "Mux: ping watchdog failed: " << e << std::endl;
    }
}

void Watchdog::stop()
{
    if (!mFd.is_valid())
        return;
    if (!write_all(mFd.lowlevel_fd(), kStop, sizeof kStop - 1)) {
        Errno e;
        std::cerr << "Mux: stop watchdog failed: " << e << std::endl;
    }
    mFd.close();
}
