#include "control/tpkt_tracer.hpp"

#include <cerrno>
#include <iostream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include "runtime/inet4.hpp"

TPKTTracer::TPKTTracer() : mCurrent(mConnections.end())
{
    mListenWatch.Bind<TPKTTracer>("TPKTTracer::OnEvent", &TPKTTracer::OnEvent, this);
}

TPKTTracer::~TPKTTracer()
{
    for (Connection* c : mConnections)
        delete c;
    mListenWatch.Release();
}

bool TPKTTracer::Listen(unsigned short port)
{
    mListenWatch.Release();
    mListen = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    INet4::Addr any;
    any.port(port);
    if (!mListen.is_valid() || ::bind(mListen.lowlevel_fd(), any, any.size()) != 0 ||
        ::listen(mListen.lowlevel_fd(), 1) != 0 || !mListen.NonBlock()) {
        mListen.close();
        return false;
    }
    // The port is open even when no descriptor is left for the watch that
    // polls it: the watch tries again by itself.
    if (!mListenWatch.Watch(mListen))
        std::clog << "can't listen ACP socket: " << Errno() << std::endl;
    return true;
}

unsigned short TPKTTracer::Port() const
{
    INet4::Addr a;
    socklen_t len = a.size();
    if (!mListen.is_valid() || ::getsockname(mListen.lowlevel_fd(), a, &len) != 0)
        return 0;
    return a.port();
}

bool TPKTTracer::Write(iterator i, void const* data, unsigned length)
{
    const unsigned total = length + 4;
    unsigned char header[4] = {3, 0, static_cast<unsigned char>(total >> 8),
                               static_cast<unsigned char>(total)};
    iovec parts[2] = {{header, 4}, {const_cast<void*>(data), length}};
    msghdr msg{};
    msg.msg_iov = parts;
    msg.msg_iovlen = 2;
    const ssize_t w = ::sendmsg((*i)->event.lowlevel_fd(), &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (w < 0 && errno == EINTR)
        return true;
    if (w != static_cast<ssize_t>(total)) {
        CloseConnection(i);
        return false;
    }
    return true;
}

void TPKTTracer::Send(void const* data, unsigned length)
{
    // The length field cannot express more; a wrapped length would leave
    // the client out of step for good.
    if (length > max_frame_payload) {
        std::clog << "TPKTTracer payload too big, length = " << length << " max = " << max_frame_payload
                  << std::endl;
        return;
    }
    if (mReading) {
        if (mCurrent != mConnections.end())
            Write(mCurrent, data, length);
        return;
    }
    for (iterator i = mConnections.begin(); i != mConnections.end();) {
        // Step on first: the write may close the client it goes to.
        iterator target = i++;
        Write(target, data, length);
    }
}

void TPKTTracer::OnEvent(int, short revents)
{
    if (!(revents & POLLIN))
        return;
    for (;;) {
        INet4::Addr peer;
        socklen_t len = peer.size();
        Fd client(::accept4(mListen.lowlevel_fd(), peer, &len, SOCK_CLOEXEC));
        if (!client.is_valid()) {
            const int error = errno;
            if (mListenWatch.PauseOnShortage(error))
                std::clog << "can't accept ACP connection: " << Errno(error) << std::endl;
            break;
        }
        std::clog << "ACP connection open from " << peer << std::endl;
        if (!client.NonBlock())
            continue;
        Connection* c = new Connection;
        c->event.Bind<TPKTTracer>("TPKTTracer::OnDataEvent", &TPKTTracer::OnDataEvent, this);
        c->event.Schedule(client, POLLIN);
        mConnections.push_back(c);
    }
}

void TPKTTracer::FindConnection(int fd)
{
    for (mCurrent = mConnections.begin(); mCurrent != mConnections.end(); ++mCurrent)
        if ((*mCurrent)->event.lowlevel_fd() == fd)
            return;
}

void TPKTTracer::CloseConnection(iterator i)
{
    if (i == mCurrent)
        mCurrent = mConnections.end();
    delete *i;
    mConnections.erase(i);
}

void TPKTTracer::OnDataEvent(int fd, short revents)
{
    FindConnection(fd);
    if (mCurrent == mConnections.end())
        return;
    if (revents & (POLLERR | POLLHUP)) {
        CloseConnection(mCurrent);
        return;
    }
    if (!(revents & POLLIN)) {
        mCurrent = mConnections.end();
        return;
    }
    mReading = true;
    ReadFrom(**mCurrent);
    mReading = false;
    mCurrent = mConnections.end();
}

void TPKTTracer::ReadFrom(Connection& c)
{
    for (;;) {
        const ssize_t r = ::recv(c.event.lowlevel_fd(), c.buffer + c.received, c.expected - c.received,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (r == 0) {
            CloseConnection(mCurrent);
            return;
        }
        if (r < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                CloseConnection(mCurrent);
            return;
        }
        c.received += static_cast<unsigned>(r);
        if (c.received < c.expected)
            return;
        if (c.state == 1) {
            const unsigned length = (unsigned(c.buffer[2]) << 8) | c.buffer[3];
            if (c.buffer[0] != 3 || c.buffer[1] != 0 || length < 4 || length - 4 > max_payload) {
                CloseConnection(mCurrent);
                return;
            }
            c.received = 0;
            if (length > 4) {
                c.state = 0;
                c.expected = length - 4;
            }
            continue;
        }
        if (mSink)
            mSink->OnTrace(c.buffer, c.expected);
        // The sink may have closed this client (directly or by a failed
        // answer); then `c` is gone.
        if (mCurrent == mConnections.end())
            return;
        c.state = 1;
        c.expected = 4;
        c.received = 0;
    }
}
