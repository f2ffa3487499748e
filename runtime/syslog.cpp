#include "runtime/syslog.hpp"

#include "platform/paths.hpp"
#include "runtime/clock.hpp"
#include "runtime/fd.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

SysLogManager syslogManager;

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
    CloseSocket();
}

void SysLogManager::CloseSocket()
{
    if (mFd >= 0)
        ::close(mFd);
    mFd = -1;
    mConnected = false;
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
        if (::connect(mFd, reinterpret_cast<sockaddr*>(&mAddr), sizeof(mAddr)) == 0) {
            // Blocking again for whoever writes to it as standard output or
            // error; our own sends ask not to wait each time.
            BlockMode(mFd);
            mConnected = true;
            return;
        }
        const int error = errno;
        CloseSocket();
        if (error != EPROTOTYPE)
            return;
        mType = mType == SOCK_DGRAM ? SOCK_STREAM : SOCK_DGRAM;
    }
}

void SysLogManager::closelog()
{
    if (mConnected)
        CloseSocket();
    mIdent = "syslog-pd";
    mType = SOCK_DGRAM;
    ClearBatch();
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
    const bool wasConnected = mConnected;
    if (mConnected && Queue(mRecord, n + 1))
        return;
    if (wasConnected) {
        CloseSocket();
        openlog(nullptr, mOptions | LOG_NDELAY, 0);
        if (mConnected && Queue(mRecord, n + 1))
            return;
        CloseSocket();
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

bool SysLogManager::Queue(const char* record, std::size_t n)
{
    std::memcpy(mData + mDataLen, record, n);
    mIov[mCount].iov_base = mData + mDataLen;
    mIov[mCount].iov_len = n;
    mDataLen += n;
    ++mCount;
    if (mCount < MaxRecords && mDataLen <= FlushAbove)
        return true;
    // A reader that is full drops the batch as the send's loss, without a
    // reconnect: the socket is sound, and the next batch goes out as soon as
    // the reader takes records again.
    const Sent sent = SendBatch();
    ClearBatch();
    return sent != Sent::Failed;
}

SysLogManager::Sent SysLogManager::SendBatch()
{
    if (mCount == 0 || mFd < 0)
        return Sent::Done;
    std::memset(&mHeader, 0, sizeof(mHeader));
    // A stream socket refuses a destination address; it is connected anyway.
    if (mType == SOCK_DGRAM) {
        mHeader.msg_name = &mAddr;
        mHeader.msg_namelen = sizeof(mAddr);
    }
    mHeader.msg_iov = mIov;
    mHeader.msg_iovlen = static_cast<std::size_t>(mCount);
    // Never waits: a reader that takes nothing must not hold the loop. The
    // flag is per call, so standard output and error, which share this
    // socket's open file, keep blocking writes for the children.
    ssize_t sent;
    do
        sent = ::sendmsg(mFd, &mHeader, MSG_NOSIGNAL | MSG_DONTWAIT);
    while (sent < 0 && errno == EINTR);
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return Sent::Full;
    // A stream peer that took part of the batch has a record cut in two: only
    // a new connection starts clean.
    if (sent < 0 || (mType == SOCK_STREAM && std::size_t(sent) < mDataLen))
        return Sent::Failed;
    return Sent::Done;
}

void SysLogManager::sendmsg()
{
    // A syslog daemon that was restarted leaves our socket talking to nobody:
    // reconnect once and send the same batch again, or every later line is lost.
    // A reader that is only full gets no reconnect: the batch is dropped.
    if (SendBatch() == Sent::Failed && mConnected) {
        CloseSocket();
        openlog(nullptr, mOptions | LOG_NDELAY, 0);
        if (!mConnected || SendBatch() == Sent::Failed)
            CloseSocket();
    }
    ClearBatch();
}
