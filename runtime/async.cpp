#include "runtime/async.hpp"

#include "runtime/inet4.hpp"

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ASync
{

namespace
{
const unsigned kDefaultBufSize = 1024;
const short kTrouble = POLLERR | POLLHUP | POLLNVAL;
} // namespace

// ---- Copy -------------------------------------------------------------------

Copy::Copy() : mStep(&Copy::NotReady) {}

Copy::~Copy()
{
    delete[] mBuffer;
    delete mHandler;
    mSrcEvent.Release();
    mDstEvent.Release();
}

void Copy::Bind(Handler* handler)
{
    delete mHandler;
    mHandler = handler;
}

void Copy::set_events(const EventsParams& params)
{
    mEvents = params;
    Complete(Status::Reset);
}

void Copy::set_bufsize(unsigned n)
{
    mBufSize = n;
    delete[] mBuffer;
    mBuffer = new char[n];
    Complete(Status::Reset);
}

void Copy::Start(const Fd& src, const Fd& dst)
{
    mStatus = Status::Running;
    mSrc = src;
    mDst = dst;
    mSrcEvent.Release();
    mDstEvent.Release();
    mSrcEvent.Bind<Copy>("Copy::OnSrcEvent", &Copy::OnSrcEvent, this);
    mDstEvent.Bind<Copy>("Copy::OnDstEvent", &Copy::OnDstEvent, this);
    if (!mBuffer) {
        mBufSize = kDefaultBufSize;
        mBuffer = new char[mBufSize];
    }
    mSrcEvent.Schedule(mSrc, 0);
    mDstEvent.Schedule(mDst, 0);
    mError = 0;
    mCopied = 0;
    mFirst = mEnd = 0;
    mStep = &Copy::SrcReady;
    Progress();
}

void Copy::Stop()
{
    if (mStatus == Status::Running)
        FlushPhase();
}

// The step that ends the copy returns false and touches nothing afterwards:
// the handler may have destroyed us.
void Copy::Progress()
{
    while ((this->*mStep)()) {
    }
}

void Copy::WaitSrc()
{
    mSrcEvent.SetEvents(mEvents.src_events);
    mDstEvent.SetEvents(0);
}

void Copy::WaitDst()
{
    mSrcEvent.SetEvents(0);
    mDstEvent.SetEvents(mEvents.dst_events);
}

bool Copy::SrcReady()
{
    errno = 0;
    const ssize_t n = ::read(mSrc.lowlevel_fd(), mBuffer, mBufSize);
    if (n > 0) {
        mFirst = 0;
        mEnd = static_cast<unsigned>(n);
        WaitDst();
        mStep = &Copy::DstReady;
        return true;
    }
    if (n == 0)
        return FlushPhase();
    if (errno == EINTR)
        return true;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        WaitSrc();
        return false;
    }
    // A source that fails is a failure, also after some bytes: the data that
    // did not arrive must not be reported as complete.
    mError = errno;
    Complete(Status::Failed);
    return false;
}

bool Copy::DstReady()
{
    const ssize_t n = ::write(mDst.lowlevel_fd(), mBuffer + mFirst, mEnd - mFirst);
    if (n > 0) {
        mCopied += static_cast<unsigned>(n);
        mFirst += static_cast<unsigned>(n);
        if (mFirst < mEnd)
            return true;
        if (mStatus == Status::Draining)
            return DstFlush();
        WaitSrc();
        mStep = &Copy::SrcReady;
        return true;
    }
    if (n == 0) {
        mError = 0;
        Complete(Status::Failed);
        return false;
    }
    if (errno == EINTR)
        return true;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        WaitDst();
        return false;
    }
    mError = errno;
    Complete(Status::Failed);
    return false;
}

bool Copy::FlushPhase()
{
    mSrcEvent.Release();
    mSrc.close();
    if (mStep == &Copy::DstReady) {
        mStatus = Status::Draining;
        return true;
    }
    return DstFlush();
}

bool Copy::DstFlush()
{
    if (mEvents.flush_events != 0) {
        mDstEvent.SetEvents(mEvents.flush_events);
        mStep = &Copy::NotReady;
        mStatus = Status::FlushWait;
        return true;
    }
    Complete(Status::Done);
    return false;
}

void Copy::OnSrcEvent(int, short revents)
{
    if (revents & mEvents.src_events) {
        Progress();
    } else if (revents & kTrouble) {
        mSrcEvent.Release();
        Progress();
    }
}

void Copy::OnDstEvent(int, short revents)
{
    if (revents & kTrouble) {
        mError = 0;
        Complete(Status::Failed);
        return;
    }
    switch (mStatus) {
    case Status::Running:
    case Status::Draining:
        if (revents & mEvents.dst_events)
            Progress();
        break;
    case Status::FlushWait:
        if (revents & mEvents.flush_events)
            Complete(Status::Done);
        break;
    default:
        break;
    }
}

void Copy::Complete(Status::Type status)
{
    if (mStatus != Status::Running && mStatus != Status::Draining && mStatus != Status::FlushWait)
        return;
    mSrcEvent.UnBind();
    mDstEvent.UnBind();
    mStatus = status;
    mSrcEvent.Release();
    mDstEvent.Release();
    mSrc.close();
    mDst.close();
    mStep = &Copy::NotReady;
    if (mHandler)
        mHandler->Invoke(status);
}

// ---- Connect ----------------------------------------------------------------

Connect::~Connect()
{
    delete mHandler;
    mTimer.reset();
    mEvent.Release();
}

void Connect::Bind(Handler* handler)
{
    delete mHandler;
    mHandler = handler;
}

void Connect::Start(const std::string& address, unsigned timeout_ms)
{
    mStatus = Status::Running;
    // An address that does not parse must not become a connection to 0.0.0.0
    // or to a stale port; neither may a text without a port.
    INet4::Addr peer;
    int port = -1;
    if (!peer.Assign(address, &port) || port < 0) {
        Complete(Status::Failed);
        return;
    }
    mSocket = Fd(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!mSocket.is_valid() || !mSocket.NonBlock()) {
        Complete(Status::Failed);
        return;
    }
    if (::connect(mSocket.lowlevel_fd(), peer, peer.size()) == 0) {
        Complete(Status::Connected);
        return;
    }
    if (errno != EINPROGRESS) {
        Complete(Status::Failed);
        return;
    }
    mEvent.Bind<Connect>("Connect::OnSocketEvent", &Connect::OnSocketEvent, this);
    mEvent.Schedule(mSocket, POLLOUT);
    mTimer.set(timeout_ms, &Connect::OnTimeOut, this);
}

void Connect::OnSocketEvent(int fd, short revents)
{
    if (revents & kTrouble) {
        Complete(Status::Failed);
        return;
    }
    if (!(revents & POLLOUT))
        return;
    int error = 0;
    socklen_t length = sizeof(error);
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
        Complete(Status::Failed);
    else
        Complete(Status::Connected);
}

void Connect::OnTimeOut()
{
    Complete(Status::Failed);
}

void Connect::Complete(Status::Type status)
{
    if (mStatus != Status::Running)
        return;
    mStatus = status;
    Fd result;
    if (status == Status::Connected)
        result = mSocket;
    mSocket.close();
    mEvent.Release();
    mEvent.UnBind();
    mTimer.reset();
    if (mHandler)
        mHandler->Invoke(status, result);
}

} // namespace ASync
