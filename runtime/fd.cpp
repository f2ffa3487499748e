#include "runtime/fd.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "platform/board.hpp"

bool NonBlockMode(int fd)
{
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return false;
    return ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool BlockMode(int fd)
{
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return false;
    return ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

bool ShortOfResources(int error)
{
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

bool SetCloexec(int fd, bool on)
{
    int flags = ::fcntl(fd, F_GETFD);
    if (flags < 0)
        return false;
    return ::fcntl(fd, F_SETFD, on ? (flags | FD_CLOEXEC) : (flags & ~FD_CLOEXEC)) == 0;
}

namespace
{
int cloexec_dup(int fd)
{
    if (fd < 0)
        return -1;
    // F_DUPFD_CLOEXEC sets the flag atomically: no window in which a fork
    // elsewhere could inherit the duplicate.
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}
} // namespace

Fd::Fd(int fd) : mFd(fd)
{
    if (mFd >= 0)
        SetCloexec(mFd, true);
}

Fd::Fd(const Fd& other) : mFd(cloexec_dup(other.mFd)) {}

Fd& Fd::operator=(const Fd& other)
{
    if (this == &other)
        return *this;
    if (mFd >= 0)
        ::close(mFd);
    mFd = cloexec_dup(other.mFd);
    return *this;
}

Fd& Fd::operator=(Fd&& other) noexcept
{
    if (this == &other)
        return *this;
    if (mFd >= 0)
        ::close(mFd);
    mFd = other.mFd;
    other.mFd = -1;
    return *this;
}

Fd::~Fd()
{
    if (mFd >= 0)
        ::close(mFd);
}

Fd::operator Fd::BoolResult*() const
{
    static BoolResult valid;
    return is_valid() ? &valid : nullptr;
}

int Fd::dup() const
{
    return cloexec_dup(mFd);
}

bool Fd::open(const char* path, int flags)
{
    if (mFd >= 0) {
        ::close(mFd);
        mFd = -1;
    }
    mFd = platform::board().open(path, flags | O_CLOEXEC);
    return mFd >= 0;
}

int Fd::close()
{
    if (mFd < 0) {
        errno = EBADF;
        return -1;
    }
    int fd = mFd;
    mFd = -1;
    return ::close(fd);
}

bool Fd::NonBlock()
{
    if (mFd < 0)
        return false;
    return NonBlockMode(mFd);
}

Errno::Errno() : mValue(errno) {}

void Errno::Put(std::ostream& os) const
{
    os << std::strerror(mValue);
}

std::ostream& operator<<(std::ostream& os, const Errno& e)
{
    e.Put(os);
    return os;
}
