#include "runtime/watchdog.hpp"

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

#include "platform/board.hpp"
#include "runtime/fd.hpp"

namespace
{
const char kDevice[] = "/dev/misc/gw-wd";

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
    int fd = platform::board().open(kDevice, O_WRONLY);
    if (fd < 0) {
        Errno e;
        std::cerr << "Mux: fail to open watchdog: " << e << std::endl;
        return false;
    }
    if (!write_all(fd, "START", 5)) {
        Errno e;
        std::cerr << "Mux: fail to activate watchdog: " << e << std::endl;
        ::close(fd);
        return false;
    }
    mFd = fd;
    return true;
}

void Watchdog::ping()
{
    if (mFd < 0)
        return;
    if (!write_all(mFd, "PING", 4)) {
        Errno e;
        std::cerr << "Mux: ping watchdog failed: " << e << std::endl;
    }
}

void Watchdog::stop()
{
    if (mFd < 0)
        return;
    if (!write_all(mFd, "STOP", 4)) {
        Errno e;
        std::cerr << "Mux: stop watchdog failed: " << e << std::endl;
    }
    ::close(mFd);
    mFd = -1;
}
