// The syslog client's memory while records wait: every allocation of this
// program is counted (at its real size, as the allocator gives it), so the
// backlog's own growth and bookkeeping both show.
#include "runtime/syslog.hpp"

#include "runtime/clock.hpp"
#include "tests/runtime/test_util.hpp"

#include <atomic>
#include <cstdlib>
#include <malloc.h>
#include <new>
#include <syslog.h>

namespace
{

std::atomic<long> gLive{0};
std::atomic<long> gPeak{0};

void* Counted(void* p)
{
    if (!p)
        return p;
    const long live = gLive += static_cast<long>(::malloc_usable_size(p));
    for (long peak = gPeak; live > peak && !gPeak.compare_exchange_weak(peak, live);) {
    }
    return p;
}

void Release(void* p) noexcept
{
    if (!p)
        return;
    gLive -= static_cast<long>(::malloc_usable_size(p));
    std::free(p);
}

void* Allocate(std::size_t n)
{
    if (void* p = Counted(std::malloc(n ? n : 1)))
        return p;
    throw std::bad_alloc();
}

} // namespace

void* operator new(std::size_t n)
{
    return Allocate(n);
}
void* operator new[](std::size_t n)
{
    return Allocate(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
    return Counted(std::malloc(n ? n : 1));
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept
{
    return Counted(std::malloc(n ? n : 1));
}
void operator delete(void* p) noexcept
{
    Release(p);
}
void operator delete[](void* p) noexcept
{
    Release(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    Release(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    Release(p);
}

namespace
{

// A stream reader at a private "/dev/log" that takes a little at a time, and
// the client connected to it with a small send buffer: every send of what
// waits is taken in part.
TEST(SysLogMemory, ABacklogTakenInPiecesStaysWithinItsSizeAndOneBatch)
{
    testutil::TempDir root;
    root.mkdirs("dev");
    Mux::TestClock clock;
    clock.set_wall(1780477507, 0);
    Mux::setClock(&clock);
    Fd listener(testutil::bind_unix(root / "dev/log", SOCK_STREAM));
    ASSERT_EQ(0, ::listen(listener.lowlevel_fd(), 1));
    syslogManager.closelog();
    syslogManager.openlog("qvd-T230630-1920", LOG_NDELAY, 0);
    ASSERT_TRUE(syslogManager.connected());
    Fd peer(::accept(listener.lowlevel_fd(), nullptr, nullptr));
    const int small = 4096;
    ASSERT_EQ(0, ::setsockopt(syslogManager.fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small));
    ASSERT_EQ(0, ::setsockopt(peer.lowlevel_fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small));
    ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_ERR);
    std::ostream os(&buf);
    char line[301];
    std::memset(line, 'x', sizeof line - 1);
    line[sizeof line - 1] = '\0';

    const long before = gLive;
    gPeak = before;
    // Fill the backlog, then go on: the reader takes an odd piece, a line
    // follows, and so on, so the waiting bytes start anywhere in the backlog.
    for (int i = 0; i < 2000 && syslogManager.waiting() + 400 < SysLogManager::BacklogSize; ++i)
        os << line << std::endl;
    EXPECT_GT(syslogManager.waiting() + 400, std::size_t(SysLogManager::BacklogSize));
    char sink[1237];
    std::size_t taken = 0;
    for (int i = 0; i < 4000; ++i) {
        const ssize_t n =
            ::recv(peer.lowlevel_fd(), sink, sizeof sink - std::size_t(i % 7) * 100, MSG_DONTWAIT);
        taken += n > 0 ? std::size_t(n) : 0;
        os << line << std::endl;
    }
    const long peak = gPeak;
    EXPECT_GT(taken, std::size_t(SysLogManager::BacklogSize)) << "the backlog went round";
    EXPECT_LE(peak - before, static_cast<long>(SysLogManager::BacklogSize + SysLogManager::DataSize));

    syslogManager.closelog();
    EXPECT_LE(gLive, before) << "nothing kept once the backlog is forgotten";
    Mux::setClock(nullptr);
}

} // namespace
