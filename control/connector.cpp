#include "control/connector.hpp"

#include <cerrno>
#include <iostream>
#include <netinet/in.h>
#include <sstream>

#include "runtime/inet4.hpp"

namespace Control
{

int ConnectOps::Connect(int fd, sockaddr const* address, socklen_t length)
{
    return ::connect(fd, address, length) == 0 ? 0 : errno;
}

bool ConnectOps::PendingError(int fd, int& error)
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

ConnectorNet::ConnectorNet()
{
    mConnectEvent.Bind<ConnectorNet>("ConnectorNet::OnSocketEvent", &ConnectorNet::OnSocketEvent, this);
}

ConnectorNet::ConnectorNet(std::string const& address) : ConnectorNet()
{
    INet4::Addr a;
    int port = -1;
    mHost = address.substr(0, address.find(':'));
    if (a.Assign(address, &port)) {
        mHostValid = true;
        mPort = static_cast<std::uint16_t>(port < 0 ? 0 : port);
    }
}

ConnectorNet::ConnectorNet(std::string const& host, unsigned short port) : ConnectorNet()
{
    INet4::Addr a;
    mHost = host;
    mPort = port;
    // A port inside the host text is not a dotted quad either.
    mHostValid = host.find(':') == std::string::npos && a.Assign(host, nullptr);
}

ConnectorNet::~ConnectorNet()
{
    mRetry.reset();
    mConnectEvent.Release();
}

std::string ConnectorNet::PeerText() const
{
    std::ostringstream os;
    os << mHost << ":" << mPort;
    return os.str();
}

bool ConnectorNet::ImplActivate()
{
    mFastRetries = fast_retries;
    TryConnect();
    return true;
}

void ConnectorNet::CancelAttempt()
{
    mConnectEvent.Release();
    mSocket.close();
    mRetry.reset();
}

void ConnectorNet::ImplDeactivate()
{
    Release();
    CancelAttempt();
}

void ConnectorNet::ImplOnDisconnect()
{
    // Whatever was started while the link went down is given up: a link
    // holds one connection, and a late attempt would bring a second one.
    CancelAttempt();
    mRetry.set(disconnect_retry_ms, &ConnectorNet::OnTimeout, this);
}

void ConnectorNet::OnTimeout(Timer*)
{
    if (mState == State::Deactivating)
        return;
    TryConnect();
}

void ConnectorNet::RetryLater(unsigned long_delay_ms)
{
    if (mFastRetries > 0) {
        --mFastRetries;
        mRetry.set(fast_retry_ms, &ConnectorNet::OnTimeout, this);
    } else {
        mRetry.set(long_delay_ms, &ConnectorNet::OnTimeout, this);
    }
}

void ConnectorNet::TakeOver()
{
    INet4::Addr peer;
    peer.Assign(mHost, nullptr);
    peer.port(mPort);
    Fd fd = mSocket;
    mSocket.close();
    Connected(fd, peer);
}

void ConnectorNet::TryConnect()
{
    mConnectEvent.Release();
    mRetry.reset();
    mSocket = Fd(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!mSocket.is_valid()) {
        std::cerr << "can't create socket:" << Errno() << std::endl;
        Deactivate();
        return;
    }
    if (!mSocket.NonBlock()) {
        std::cerr << "can't set socket to non block mode: " << Errno() << std::endl;
        Deactivate();
        return;
    }
    // A host that is not a dotted quad is never taken for 0.0.0.0 (the local
    // host): the attempt fails as a refused one would.
    int error = EINVAL;
    if (mHostValid) {
        INet4::Addr peer;
        peer.Assign(mHost, nullptr);
        peer.port(mPort);
        error = mOps->Connect(mSocket.lowlevel_fd(), peer, peer.size());
    }
    if (error == 0) {
        std::clog << "already connected to " << PeerText() << std::endl;
        TakeOver();
    } else if (error == EINPROGRESS) {
        mConnectEvent.Schedule(mSocket, POLLOUT);
        if (!mConnectEvent.IsActive()) {
            // The watch polls a duplicate of the socket, which a full table
            // refuses: unwatched, the attempt would never be heard of again,
            // so it fails as a refused one does.
            const Errno e;
            std::cerr << "can't connect to " << PeerText() << " : " << e << std::endl;
            mSocket.close();
            RetryLater(refused_retry_ms);
        }
    } else {
        std::cerr << "can't connect to " << PeerText() << " : " << Errno(error) << std::endl;
        RetryLater(refused_retry_ms);
    }
}

void ConnectorNet::OnSocketEvent(int, short revents)
{
    // A disconnect asked for while connecting gives the attempt up: the
    // link reconnects on its own schedule once the disconnect is complete.
    if (mState == State::Deactivating) {
        mConnectEvent.Release();
        mSocket.close();
        return;
    }
    if (revents & (POLLERR | POLLHUP)) {
        std::cerr << "fail to connect to " << PeerText() << std::endl;
        mConnectEvent.Release();
        RetryLater(pollerr_retry_ms);
        return;
    }
    if (!(revents & POLLOUT))
        return;
    mConnectEvent.Release();
    int error = 0;
    if (!mOps->PendingError(mSocket.lowlevel_fd(), error)) {
        std::cerr << "getsockopt(SOL_SOCKET,SO_ERROR) fail: " << Errno(error) << std::endl;
        Deactivate();
        return;
    }
    if (error != 0) {
        std::cerr << "fail to connect to " << PeerText() << std::endl;
        RetryLater(so_error_retry_ms);
        return;
    }
    std::cout << "connected to " << PeerText() << "." << std::endl;
    TakeOver();
}

} // namespace Control
