#include "runtime/syslog.hpp"

#include "platform/paths.hpp"
#include "runtime/clock.hpp"
#include "runtime/fd.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <ostream>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

namespace
{

// The client is never destroyed: a destructor of any file-level object may
// still log at exit. It is made before every other file-level object, so its
// end comes after theirs: what waits then gets its last second once nothing
// else is left to write. The loop it leaves then is never destroyed.
union Client {
    Client() : manager() {}
    ~Client() { manager.shutdown(); }
    SysLogManager manager;
};

Client client __attribute__((init_priority(101)));

} // namespace

SysLogManager& syslogManager = client.manager;

// ---- Stream buffers ---------------------------------------------------------

SysLogStreamBuf::SysLogStreamBuf(int facility, int severity) : mPriority(facility + severity)
{
    InstallBuffer(1024);
}

SysLogStreamBuf::~SysLogStreamBuf()
{
    delete[] mOwned;
}

void SysLogStreamBuf::InstallBuffer(std::size_t n)
{
    char* buffer = new char[n];
    delete[] mOwned;
    mOwned = buffer;
    // One byte stays free for the NUL that ends the text.
    setp(buffer, buffer + n - 1);
}

std::streambuf* SysLogStreamBuf::setbuf(char* buffer, std::streamsize n)
{
    if (n < 2)
        return nullptr;
    sync();
    if (buffer) {
        delete[] mOwned;
        mOwned = nullptr;
        setp(buffer, buffer + n - 1);
    } else {
        InstallBuffer(static_cast<std::size_t>(n));
    }
    return this;
}

SysLogStreamBuf::int_type SysLogStreamBuf::overflow(int_type c)
{
    sync();
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    if (pptr() == epptr())
        return traits_type::eof();
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

int SysLogStreamBuf::SplitLines(void (*send)(int, const char*), void (*flush)())
{
    char* begin = pbase();
    char* end = pptr();
    *end = '\0';
    char* lf = static_cast<char*>(std::memchr(begin, '\n', static_cast<std::size_t>(end - begin)));
    if (!lf) {
        if (end != epptr())
            return 0;
        send(mPriority, begin);
    } else {
        char* line = begin;
        while (lf) {
            *lf = '\0';
            send(mPriority, line);
            line = lf + 1;
            lf = static_cast<char*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
        }
        if (line != end)
            send(mPriority, line);
    }
    flush();
    setp(pbase(), epptr());
    return 0;
}

namespace
{

void platform_send(int priority, const char* line)
{
    ::syslog(priority, "%s", line);
}
void platform_flush() {}
void managed_send(int priority, const char* line)
{
    syslogManager.syslog(priority, line);
}
void managed_flush()
{
    syslogManager.sendmsg();
}

} // namespace

int SysLogStreamBuf::sync()
{
    return SplitLines(platform_send, platform_flush);
}

ManagedSysLogStreamBuf::ManagedSysLogStreamBuf(int facility, int severity)
    : SysLogStreamBuf(facility, severity)
{
    InstallBuffer(16384);
}

int ManagedSysLogStreamBuf::sync()
{
    return SplitLines(managed_send, managed_flush);
}

// ---- SysLogManager ----------------------------------------------------------

SysLogManager::SysLogManager() : mType(SOCK_DGRAM), mIdent("syslog-pd"), mFacility(LOG_USER)
{
    std::memset(&mAddr, 0, sizeof(mAddr));
    std::memset(&mHeader, 0, sizeof(mHeader));
}

SysLogManager::~SysLogManager()
{
    shutdown();
}

void SysLogManager::shutdown()
{
    if (mCount > 0)
        Flush();
    // A child leaves what it could not send: the parent's stop is not its own.
    if (!mChild)
        linger(LingerMs);
    CloseSocket();
}

void SysLogManager::CloseSocket()
{
    mWatch.mux_detach();
    mRetry.reset();
    if (mFd >= 0)
        ::close(mFd);
    mFd = -1;
    mConnected = false;
    // A new connection gets a record cut by the old one whole.
    mHeadSent = 0;
}

void SysLogManager::openlog(const char* ident, int options, int facility)
{
    if (ident)
        mIdent = ident;
    mOptions = options;
    if (facility != 0 && (facility & ~0x3f8) == 0)
        mFacility = facility;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (mFd < 0) {
            const std::string path = Paths::resolve("/dev/log");
            // A root too long for a local address means no syslog, not a cut path.
            if (path.size() >= sizeof(mAddr.sun_path))
                return;
            std::memset(&mAddr, 0, sizeof(mAddr));
            mAddr.sun_family = AF_UNIX;
            std::memcpy(mAddr.sun_path, path.c_str(), path.size() + 1);
            if (!(mOptions & LOG_NDELAY))
                return;
            // Non-blocking while it connects: a stream reader whose backlog is
            // full refuses (EAGAIN) instead of holding the loop.
            mFd = ::socket(AF_UNIX, mType | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (mFd < 0)
                return;
        }
        // The reader's file is noted before the connect: one put at the path
        // in between is then found replaced at the next flush that finds
        // records waiting (one reconnect more), never taken for the one this
        // socket talks to.
        struct stat bound = {};
        const bool named = mType == SOCK_DGRAM && ::stat(mAddr.sun_path, &bound) == 0;
        if (::connect(mFd, reinterpret_cast<sockaddr*>(&mAddr), sizeof(mAddr)) == 0) {
            mPeerDev = named ? bound.st_dev : 0;
            mPeerIno = named ? bound.st_ino : 0;
            Connected();
            return;
        }
        const int error = errno;
        CloseSocket();
        if (error != EPROTOTYPE)
            return;
        mType = mType == SOCK_DGRAM ? SOCK_STREAM : SOCK_DGRAM;
    }
}

void SysLogManager::Connected()
{
    mConnected = true;
    // A child's socket becomes its program's standard output and error,
    // whose writes are expected to wait. The daemon's own stays non-blocking:
    // our sends never wait, nor does a raw write to standard output or error.
    if (mChild)
        BlockMode(mFd);
    // Raw writes go where the records go: every new connection becomes
    // descriptors 1 and 2 again.
    if (mStdio) {
        ::dup2(mFd, 1);
        ::dup2(mFd, 2);
    }
}

bool SysLogManager::PathReplaced() const
{
    struct stat now = {};
    return ::stat(mAddr.sun_path, &now) == 0 && (now.st_dev != mPeerDev || now.st_ino != mPeerIno);
}

void SysLogManager::dump(std::ostream& os) const
{
    if (mAddr.sun_family != AF_UNIX)
        return;
    struct stat now = {};
    const bool named = ::stat(mAddr.sun_path, &now) == 0;
    os << "syslog : " << (mType == SOCK_DGRAM ? "datagram" : "stream") << " socket " << mFd
       << (mConnected ? " connected" : " not connected") << ", " << mWaiting << " bytes wait";
    if (mHeadSent > 0)
        os << " (" << mHeadSent << " of them sent)";
    os << ", " << mCount << " records in the batch, " << (mWatch.is_attached() ? "watched" : "not watched")
       << ", reader noted " << mPeerDev << ":" << mPeerIno << ", at the path now ";
    if (named)
        os << now.st_dev << ":" << now.st_ino << "\n";
    else
        os << "none\n";
}

void SysLogManager::closelog()
{
    if (mConnected)
        CloseSocket();
    mIdent = "syslog-pd";
    mType = SOCK_DGRAM;
    ClearBatch();
    DropBacklog();
}

void SysLogManager::ClearBatch()
{
    mDataLen = 0;
    mCount = 0;
}

void SysLogManager::syslog(int priority, const char* text)
{
    if (!(LOG_MASK(priority & 7) & mMask))
        return;
    if ((priority & 0x3f8) == 0)
        priority |= mFacility;

    const std::size_t limit = RecordSize - 1;
    std::size_t n = 0;
    auto append = [&](const char* s, std::size_t len) {
        if (len > limit - n)
            len = limit - n;
        std::memcpy(mRecord + n, s, len);
        n += len;
    };
    char head[64];
    append(head, static_cast<std::size_t>(std::snprintf(head, sizeof(head), "<%d>", priority)));
    const std::time_t now = static_cast<std::time_t>(Mux::seconds());
    std::tm local;
    localtime_r(&now, &local);
    append(head, std::strftime(head, sizeof(head), "%h %e %T ", &local));
    const std::size_t message = n;
    append(mIdent.data(), mIdent.size());
    if (mOptions & LOG_PID)
        append(head, static_cast<std::size_t>(std::snprintf(head, sizeof(head), "[%d]", int(::getpid()))));
    if (!mIdent.empty())
        append(": ", 2);
    append(text, std::strlen(text));
    mRecord[n] = '\0';

    if (mOptions & LOG_PERROR) {
        std::string copy(mRecord + message, n - message);
        if (copy.empty() || copy.back() != '\n')
            copy += '\n';
        ssize_t ignored = ::write(2, copy.data(), copy.size());
        (void)ignored;
    }

    if (!mConnected)
        openlog(nullptr, mOptions | LOG_NDELAY, 0);
    if (mConnected) {
        Append(mRecord, n + 1);
        // A full batch is sent at once; one that fails even after the
        // reconnect is lost with its socket.
        if (!BatchFull() || Flush())
            return;
    }
    if (mOptions & LOG_CONS)
        Console(mRecord + message);
}

void SysLogManager::Console(const char* text)
{
    const int fd = ::open(Paths::resolve("/dev/console").c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    std::string line(text);
    line += "\r\n";
    ssize_t ignored = ::write(fd, line.data(), line.size());
    (void)ignored;
    ::close(fd);
}

void SysLogManager::Append(const char* record, std::size_t n)
{
    std::memcpy(mData + mDataLen, record, n);
    mIov[mCount].iov_base = mData + mDataLen;
    mIov[mCount].iov_len = n;
    mDataLen += n;
    ++mCount;
}

namespace
{

bool WouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

// Never waits: a reader that takes nothing must not hold the loop, and a
// child's socket blocks for the program's writes, not for our own.
ssize_t SendNow(int fd, msghdr& header)
{
    ssize_t sent;
    do
        sent = ::sendmsg(fd, &header, MSG_NOSIGNAL | MSG_DONTWAIT);
    while (sent < 0 && errno == EINTR);
    return sent;
}

} // namespace

bool SysLogManager::Flush()
{
    bool sent = Deliver();
    // A datagram socket sends to the reader it connected to, as a raw write
    // to standard output or error does. One that went away refuses the send
    // (a syslog daemon restarted), and the reconnect below finds the reader
    // now at the path. One that is still there but no longer at the path
    // would keep what waits for good once it stops reading: while records
    // wait, the reader now at the path is connected to instead.
    const bool stale = sent && mType == SOCK_DGRAM && mWaiting > 0 && PathReplaced();
    // A send that did not fail has sent the batch or put it behind what waits.
    if (sent)
        ClearBatch();
    // A broken socket leaves every later line lost: reconnect once and send
    // again.
    if ((!sent || stale) && mConnected) {
        CloseSocket();
        openlog(nullptr, mOptions | LOG_NDELAY, 0);
        sent = mConnected && Deliver();
    }
    if (!sent) {
        CloseSocket();
        DropBacklog();
    }
    ClearBatch();
    UpdateWatch();
    return sent;
}

bool SysLogManager::Deliver()
{
    if (mFd < 0)
        return true;
    if (!Drain())
        return false;
    if (mCount == 0)
        return true;
    if (mWaiting > 0) {
        // Nothing overtakes what waits.
        Keep(0);
        return true;
    }
    std::memset(&mHeader, 0, sizeof(mHeader));
    mHeader.msg_iov = mIov;
    mHeader.msg_iovlen = static_cast<std::size_t>(mCount);
    const ssize_t sent = SendNow(mFd, mHeader);
    if (sent < 0 && !WouldBlock(errno))
        return false;
    // A datagram goes whole or not at all; a stream may take a part.
    const std::size_t taken = sent < 0 ? 0 : mType == SOCK_DGRAM ? mDataLen : std::size_t(sent);
    if (taken < mDataLen)
        Keep(taken);
    return true;
}

void SysLogManager::Keep(std::size_t taken)
{
    std::size_t start = 0;
    for (int i = 0; i < mCount; start += mIov[i].iov_len, ++i) {
        const std::size_t n = mIov[i].iov_len;
        if (start + n <= taken)
            continue;
        const char* record = static_cast<const char*>(mIov[i].iov_base);
        if (start < taken) {
            // A stream took this record in part: the rest goes on from there
            // (nothing waited before it, so it has room). Without memory for
            // it the stream cannot go on whole: a new connection starts
            // afresh.
            if (!Push(record, n)) {
                CloseSocket();
                return;
            }
            mHeadSent = taken - start;
        } else if (mWaiting + n <= BacklogSize) {
            Push(record, n);
        }
    }
}

bool SysLogManager::Push(const char* record, std::size_t n)
{
    if (!mRing) {
        mRing.reset(new (std::nothrow) char[BacklogSize]);
        if (!mRing)
            return false;
        mHead = 0;
    }
    const std::size_t tail = (mHead + mWaiting) % BacklogSize;
    const std::size_t first = std::min(n, std::size_t(BacklogSize) - tail);
    std::memcpy(&mRing[tail], record, first);
    std::memcpy(&mRing[0], record + first, n - first);
    mWaiting += n;
    return true;
}

std::size_t SysLogManager::Pieces(std::size_t at, std::size_t n, iovec* iov) const
{
    const std::size_t start = (mHead + at) % BacklogSize;
    const std::size_t first = std::min(n, std::size_t(BacklogSize) - start);
    iov[0].iov_base = &mRing[start];
    iov[0].iov_len = first;
    if (first == n)
        return 1;
    iov[1].iov_base = &mRing[0];
    iov[1].iov_len = n - first;
    return 2;
}

std::size_t SysLogManager::RecordEnd(std::size_t at) const
{
    iovec iov[2];
    const std::size_t pieces = Pieces(at, mWaiting - at, iov);
    for (std::size_t i = 0; i < pieces; ++i) {
        const void* nul = std::memchr(iov[i].iov_base, '\0', iov[i].iov_len);
        if (nul)
            return at +
                   std::size_t(static_cast<const char*>(nul) - static_cast<const char*>(iov[i].iov_base)) + 1;
        at += iov[i].iov_len;
    }
    return mWaiting;
}

bool SysLogManager::Drain()
{
    while (mWaiting > 0) {
        iovec iov[2];
        msghdr header{};
        header.msg_iov = iov;
        std::size_t bytes = 0;
        ssize_t sent;
        if (mType == SOCK_DGRAM) {
            // What waits leaves in datagrams of up to a batch's size.
            for (int records = 0; bytes < mWaiting && records < MaxRecords; ++records) {
                const std::size_t end = RecordEnd(bytes);
                if (records > 0 && end > DataSize)
                    break;
                bytes = end;
            }
            header.msg_iovlen = Pieces(0, bytes, iov);
            sent = SendNow(mFd, header);
        } else {
            header.msg_iovlen = Pieces(mHeadSent, mWaiting - mHeadSent, iov);
            sent = SendNow(mFd, header);
            if (sent >= 0)
                bytes = mHeadSent + std::size_t(sent);
        }
        if (sent < 0)
            return WouldBlock(errno);
        Consume(bytes);
    }
    return true;
}

void SysLogManager::Consume(std::size_t bytes)
{
    std::size_t done = 0;
    for (std::size_t end; done < bytes && (end = RecordEnd(done)) <= bytes;)
        done = end;
    mHead = (mHead + done) % BacklogSize;
    mWaiting -= done;
    mHeadSent = bytes - done;
    if (mWaiting == 0)
        DropBacklog();
}

void SysLogManager::DropBacklog()
{
    // The memory goes back too: a backlog is the exception.
    mRing.reset();
    mHead = 0;
    mWaiting = 0;
    mHeadSent = 0;
    mWatch.mux_detach();
    mRetry.reset();
}

void SysLogManager::UpdateWatch()
{
    if (mWaiting == 0 || mFd < 0) {
        mWatch.mux_detach();
        mRetry.reset();
        return;
    }
    mWatch.mux_attach();
    // A steady pace while records wait: later flushes do not put it off.
    if (!mRetry.is_running())
        mRetry.set(RetryMs, &SysLogManager::Retry, this);
}

void SysLogManager::Retry()
{
    // The reader may take records again where the socket cannot tell: a
    // datagram reader now at the path, while the one the socket talks to
    // takes nothing (Flush connects to it).
    Flush();
}

void SysLogManager::sendmsg()
{
    Flush();
}

void SysLogManager::linger(int ms)
{
    // The system's clock, not the loop's: this runs when the loop is gone.
    const auto now_ms = [] {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        return std::int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    };
    const std::int64_t deadline = now_ms() + ms;
    while (mWaiting > 0 && mFd >= 0) {
        const std::int64_t left = deadline - now_ms();
        if (left <= 0)
            return;
        pollfd entry{mFd, POLLOUT, 0};
        const int ready = ::poll(&entry, 1, int(left));
        if (ready < 0 && errno != EINTR)
            return;
        if (ready > 0)
            Flush();
    }
}

void SysLogManager::own_standard_streams()
{
    mStdio = true;
    if (mConnected) {
        ::dup2(mFd, 1);
        ::dup2(mFd, 2);
    }
}

void SysLogManager::forked()
{
    mChild = true;
    ClearBatch();
    DropBacklog();
    if (mStdio) {
        // The parent's socket may be connected to a reader that has gone,
        // and a stream of it may hold a record the parent sent in part: the
        // child and its program take a connection of their own.
        connect_standard_streams();
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        ::sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGPIPE, &ignore, nullptr);
        return;
    }
    // A stream shared with the parent may hold a record the parent sent in
    // part: the child's lines would land inside it.
    if (mType == SOCK_STREAM)
        CloseSocket();
}

void SysLogManager::connect_standard_streams()
{
    if (!mChild || !mStdio)
        return;
    // The connect does not wait (a stream reader whose queue is full
    // refuses); the socket blocks again for the program, and becomes
    // descriptors 1 and 2.
    CloseSocket();
    openlog(nullptr, mOptions | LOG_NDELAY, 0);
    if (mConnected)
        return;
    const int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::close(fd);
    }
}

void SysLogManager::Watch::shedule_event(pollfd& entry)
{
    entry.fd = mOwner.mFd;
    entry.events = POLLOUT;
    entry.revents = 0;
}

void SysLogManager::Watch::svc_event(short revents)
{
    // Room, or an error the next send reports and a reconnect may mend.
    if (revents & (POLLOUT | POLLERR | POLLHUP | POLLNVAL))
        mOwner.Flush();
}
