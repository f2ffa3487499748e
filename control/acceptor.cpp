#include "control/acceptor.hpp"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "runtime/inet4.hpp"
#include "runtime/multiplexer.hpp"
#include "runtime/trace.hpp"

namespace Control
{

AcceptorNet::AcceptorNet() : AcceptorNet(0, true) {}

AcceptorNet::AcceptorNet(int port) : AcceptorNet(port, true) {}

AcceptorNet::AcceptorNet(int port, bool verbose) : mPort(static_cast<std::uint16_t>(port))
{
    mVerbose = verbose;
    mListenWatch.Bind<AcceptorNet>("AcceptorNet::OnSocketEvent", &AcceptorNet::OnSocketEvent, this);
}

AcceptorNet::~AcceptorNet()
{
    mBindRetry.reset();
    mListenWatch.Release();
}

bool AcceptorNet::ImplActivate()
{
    BindSocket();
    return true;
}

void AcceptorNet::RetryLater()
{
    // Every step of opening the port is tried again from a fresh socket: a
    // daemon that gave up listening could never be reached again.
    mListenWatch.Release();
    mListen.close();
    mBindRetry.set(bind_retry_ms, &AcceptorNet::OnTimeout, this);
}

void AcceptorNet::BindSocket()
{
    if (!mListen.is_valid()) {
        mListen = Fd(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        if (!mListen.is_valid()) {
            if (mVerbose)
                std::cerr << "can't create socket:" << Errno() << std::endl;
            RetryLater();
            return;
        }
        const int one = 1;
        ::setsockopt(mListen.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    }
    INet4::Addr any;
    any.port(mPort);
    if (::bind(mListen.lowlevel_fd(), any, any.size()) != 0) {
        if (mVerbose)
            std::cerr << "can't bind to socket: " << ext::quoted(Errno()) << "  waiting..." << std::endl;
        mBindRetry.set(bind_retry_ms, &AcceptorNet::OnTimeout, this);
        return;
    }
    if (!StartListening(mListen, mVerbose)) {
        RetryLater();
        return;
    }
    // The watch polls a duplicate of the socket, which a full descriptor
    // table refuses; it tries again by itself, the port staying open.
    if (!mListenWatch.Watch(mListen) && mVerbose)
        std::cerr << "can't listen socket: " << Errno() << std::endl;
}

void AcceptorNet::OnTimeout(Timer*)
{
    BindSocket();
}

void AcceptorNet::ImplDeactivate()
{
    mBindRetry.reset();
    mListenWatch.Release();
    mListen.close();
}

void AcceptorNet::ImplOnDisconnect() {}

void AcceptorNet::ImplRefuseConnection() {}

void AcceptorNet::ImplConnected(const Fd&) {}

void AcceptorNet::OnSocketEvent(int, short revents)
{
    if (!(revents & POLLIN)) {
        // A listening socket in error would be reported on every pass for
        // ever: open the port afresh instead.
        const short failed = static_cast<short>(revents & (POLLERR | POLLHUP | POLLNVAL));
        if (failed) {
            if (mVerbose)
                std::cerr << "can't listen socket: " << PollEventAsText(failed) << std::endl;
            RetryLater();
        }
        return;
    }
    for (;;) {
        INet4::Addr peer;
        socklen_t len = peer.size();
        Fd conn(::accept(mListen.lowlevel_fd(), peer, &len));
        if (!conn.is_valid()) {
            const int error = errno;
            if (mListenWatch.PauseOnShortage(error) && mVerbose)
                std::cerr << "can't accept connection: " << Errno(error) << std::endl;
            break;
        }
        // One controller at a time: a newcomer is turned away while one is
        // seated, even one that may have gone without our having read its
        // end yet, and its end is never completed from here: the consumer
        // hears of a disconnect only from the link's deferred call. While the
        // link is winding down, Connected() does not take the newcomer, so it
        // is closed too (the checking acceptor closes it when the disconnect
        // completes); it has to connect again.
        if (mState != State::Connected) {
            if (!conn.NonBlock()) {
                if (mVerbose)
                    std::cerr << "can't set socket to non block mode: " << Errno() << std::endl;
                continue;
            }
            if (mVerbose)
                std::cout << "new connection from " << peer << std::endl;
            Connected(conn, peer);
            ImplConnected(conn);
        } else {
            if (mVerbose)
                std::cerr << "refuse connection from " << peer << std::endl;
            ImplRefuseConnection();
        }
        // The handling above may have stopped the link.
        if (!mListen.is_valid())
            break;
    }
}

bool SocketProbe::TcpInfo(int fd, unsigned char& state, unsigned char& ca_state, int& error)
{
    // Only the first two bytes are read; the record is asked for at the size
    // the board's kernel knows.
    unsigned char record[92] = {};
    socklen_t len = sizeof record;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, record, &len) != 0) {
        error = errno;
        return false;
    }
    // A record too short to be a kernel's TCP_INFO (a user-mode emulator
    // answers with a few bytes) says nothing about the connection.
    if (len < 8) {
        error = ENOPROTOOPT;
        return false;
    }
    state = record[0];
    ca_state = record[1];
    return true;
}

bool SocketProbe::SocketError(int fd, int& error)
{
    int value = 0;
    socklen_t len = sizeof value;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &value, &len) != 0) {
        error = errno;
        return false;
    }
    error = value;
    return true;
}

AcceptorNetCheckConnection::AcceptorNetCheckConnection() : AcceptorNetCheckConnection(0, true) {}

AcceptorNetCheckConnection::AcceptorNetCheckConnection(int port) : AcceptorNetCheckConnection(port, true) {}

AcceptorNetCheckConnection::AcceptorNetCheckConnection(int port, bool verbose) : AcceptorNet(port, verbose)
{
    mBufferBack.Bind(this, &AcceptorNetCheckConnection::OnBufferBack);
}

AcceptorNetCheckConnection::~AcceptorNetCheckConnection()
{
    StopClosingWhenRead();
    mCheckTimer.reset();
}

bool AcceptorNetCheckConnection::ImplActivate()
{
    AcceptorNet::ImplActivate();
    CheckConnection();
    return true;
}

void AcceptorNetCheckConnection::ImplDeactivate()
{
    StopClosingWhenRead();
    mCheckTimer.reset();
    AcceptorNet::ImplDeactivate();
}

void AcceptorNetCheckConnection::ImplOnDisconnect()
{
    // A connection found dead that ended another way while it waited for a
    // buffer (its own end, a failed write, its owner): nothing is left to
    // close, and the check is done with it.
    if (mClosingWhenRead) {
        StopClosingWhenRead();
        if (mVerbose)
            std::cerr << "CheckConnectionState Idle" << std::endl;
    }
    mWatched.close();
}

void AcceptorNetCheckConnection::ImplConnected(const Fd& fd)
{
    mWatched = fd;
}

void AcceptorNetCheckConnection::ImplRefuseConnection()
{
    if (mCheckState != CheckState::Idle)
        return;
    mCheckState = CheckState::CheckConnection;
    mCountdown = 2;
    SetupKeepAlive(true);
    if (mVerbose)
        std::cerr << "CheckConnectionState CheckConnection" << std::endl;
}

void AcceptorNetCheckConnection::SetupKeepAlive(bool checking)
{
    const int fd = mWatched.lowlevel_fd();
    const int on = 1;
    const int idle = checking ? 1 : 7200;
    const int interval = checking ? 1 : 75;
    const int count = checking ? 3 : 9;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

void AcceptorNetCheckConnection::OnCheckConnectionTimeout(Timer*)
{
    CheckConnection();
}

void AcceptorNetCheckConnection::CheckConnection()
{
    // A connection already found dead is not looked at again while it waits
    // to be read.
    if (IsConnected() && !mClosingWhenRead) {
        const int fd = mWatched.lowlevel_fd();
        bool dead = false;
        unsigned char state = 0, ca_state = 0;
        int error = 0;
        if (mProbe->TcpInfo(fd, state, ca_state, error)) {
            if (state != TCP_ESTABLISHED) {
                if (mVerbose)
                    std::cerr << "connection from " << mName << " closed: tcp socket change state."
                              << std::endl;
                dead = true;
            }
            if (mCheckState == CheckState::CheckConnection && ca_state != 0) {
                if (mCountdown > 0)
                    --mCountdown;
                if (mCountdown <= 0) {
                    if (mVerbose)
                        std::cerr << "connection from " << mName << " closed: tcp socket change ca_state."
                                  << std::endl;
                    dead = true;
                }
            }
            if (mCheckState == CheckState::CheckConnection && ca_state == 0) {
                mCheckState = CheckState::Idle;
                SetupKeepAlive(false);
                if (mVerbose)
                    std::cerr << "CheckConnectionState Idle" << std::endl;
            }
        }
        error = 0;
        if (!mProbe->SocketError(fd, error) || error != 0) {
            if (mVerbose)
                std::cerr << "connection from " << mName << " closed: " << Errno(error) << std::endl;
            dead = true;
        }
        if (dead) {
            mCheckState = CheckState::Idle;
            SetupKeepAlive(false);
            CloseWhenRead();
        }
    }
    mCheckTimer.set(check_period_ms, &AcceptorNetCheckConnection::OnCheckConnectionTimeout, this);
}

void AcceptorNetCheckConnection::CloseWhenRead()
{
    // Commands already received are read and answered before the link
    // closes; reading may itself meet the end of the connection. Bytes that
    // wait in the socket for a buffer hold the close back until one is free:
    // closing now would throw them away.
    ReadPending();
    if (IsConnected() && ReadingWaits()) {
        mClosingWhenRead = true;
        wait_for_buffer();
        return;
    }
    mClosingWhenRead = false;
    Disconnect();
    if (mVerbose)
        std::cerr << "CheckConnectionState Idle" << std::endl;
}

void AcceptorNetCheckConnection::buffer_free()
{
    // Told from inside the pool: the reading is left to the loop.
    mBufferBack.Activate();
}

void AcceptorNetCheckConnection::OnBufferBack()
{
    mBufferBack.Deactivate();
    if (mClosingWhenRead)
        CloseWhenRead();
}

void AcceptorNetCheckConnection::StopClosingWhenRead()
{
    mClosingWhenRead = false;
    stop_waiting();
    mBufferBack.Deactivate();
}

} // namespace Control
