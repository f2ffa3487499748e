#include "control/unix_link.hpp"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/log_text.hpp"
#include "runtime/trace.hpp"

namespace Control
{

sockaddr_un UnixAddress(std::string const& path)
{
    sockaddr_un a;
    std::memset(&a, 0, sizeof a);
    a.sun_family = AF_UNIX;
    path.copy(a.sun_path, sizeof a.sun_path - 1);
    return a;
}

bool RemoveStaleSocket(std::string const& path)
{
    const std::string cut = UnixAddress(path).sun_path;
    struct stat st;
    if (::lstat(cut.c_str(), &st) != 0)
        return true;
    if (!S_ISSOCK(st.st_mode))
        return false;
    ::unlink(cut.c_str());
    return true;
}

void ServiceUnix::Connected(const Fd& fd, std::string const& name)
{
    // One connection per link, as with TCP.
    if (mState == State::Deactivating || mState == State::Connected)
        return;
    TakeConnection(fd, name);
}

AcceptorUnix::AcceptorUnix(std::string const& path) : mPath(path)
{
    mAcceptWatch.Bind<AcceptorUnix>("AcceptorUnix::OnSocketEvent", &AcceptorUnix::OnSocketEvent, this);
}

AcceptorUnix::~AcceptorUnix()
{
    mBindRetry.reset();
    mAcceptWatch.Release();
}

bool AcceptorUnix::ImplActivate()
{
    mListen = Fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!mListen.is_valid()) {
        if (mVerbose)
            std::cerr << "can't create socket:" << Errno() << std::endl;
        return false;
    }
    BindSocket();
    return true;
}

void AcceptorUnix::BindSocket()
{
    const sockaddr_un a = UnixAddress(mPath);
    RemoveStaleSocket(mPath);
    if (::bind(mListen.lowlevel_fd(), reinterpret_cast<sockaddr const*>(&a), sizeof a) != 0) {
        if (mVerbose)
            std::cerr << "can't bind to socket: " << ext::quoted(Errno()) << "  waiting..." << std::endl;
        mBindRetry.set(bind_retry_ms, &AcceptorUnix::OnTimeout, this);
        return;
    }
    if (!StartListening(mListen, mVerbose)) {
        Deactivate();
        return;
    }
    // The watch polls a duplicate of the socket, which a full descriptor
    // table refuses; it tries again by itself, the socket staying bound.
    if (!mAcceptWatch.Watch(mListen) && mVerbose)
        std::cerr << "can't listen socket: " << Errno() << std::endl;
}

void AcceptorUnix::OnTimeout(Timer*)
{
    BindSocket();
}

void AcceptorUnix::ImplDeactivate()
{
    mBindRetry.reset();
    mAcceptWatch.Release();
    mListen.close();
}

void AcceptorUnix::OnSocketEvent(int, short revents)
{
    if (!(revents & POLLIN))
        return;
    for (;;) {
        sockaddr_un peer;
        std::memset(&peer, 0, sizeof peer);
        socklen_t len = sizeof peer;
        Fd conn(::accept4(mListen.lowlevel_fd(), reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC));
        if (!conn.is_valid()) {
            const int error = errno;
            if (mAcceptWatch.PauseOnShortage(error) && mVerbose)
                std::cerr << "can't accept connection: " << Errno(error) << std::endl;
            break;
        }
        // An unnamed client reports no path; the bytes after `len` are zero.
        const std::string name(peer.sun_path, strnlen(peer.sun_path, sizeof peer.sun_path));
        if (mState != State::Connected) {
            if (!conn.NonBlock()) {
                if (mVerbose)
                    std::cerr << "can't set socket to non block mode: " << Errno() << std::endl;
                continue;
            }
            if (mVerbose)
                std::cout << "new connection from " << ext::escaped(name) << std::endl;
            Connected(conn, name);
            ImplConnected(conn);
        } else {
            if (mVerbose)
                std::cerr << "refuse connection from " << ext::escaped(name) << std::endl;
            ImplRefuseConnection();
        }
        if (!mListen.is_valid())
            break;
    }
}

ConnectorUnix::ConnectorUnix(std::string const& path) : mPath(path) {}

ConnectorUnix::ConnectorUnix(std::string const& path, std::string const& localPath)
    : mPath(path), mLocalPath(localPath)
{
}

ConnectorUnix::~ConnectorUnix()
{
    mRetry.reset();
}

bool ConnectorUnix::ImplActivate()
{
    mFastRetries = fast_retries;
    TryConnect();
    return true;
}

void ConnectorUnix::ImplDeactivate()
{
    Release();
    mSocket.close();
    mRetry.reset();
}

void ConnectorUnix::ImplOnDisconnect()
{
    mSocket.close();
    mRetry.set(disconnect_retry_ms, &ConnectorUnix::OnTimeout, this);
}

void ConnectorUnix::OnTimeout(Timer*)
{
    TryConnect();
}

void ConnectorUnix::RetryLater()
{
    if (mFastRetries > 0) {
        --mFastRetries;
        mRetry.set(fast_retry_ms, &ConnectorUnix::OnTimeout, this);
    } else {
        mRetry.set(retry_ms, &ConnectorUnix::OnTimeout, this);
    }
}

void ConnectorUnix::TryConnect()
{
    mRetry.reset();
    mSocket = Fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!mSocket.is_valid()) {
        std::cerr << "can't create domain socket:" << Errno() << std::endl;
        Deactivate();
        return;
    }
    if (!mSocket.NonBlock()) {
        std::cerr << "can't set domain socket to non block mode: " << Errno() << std::endl;
        Deactivate();
        return;
    }
    if (!mLocalPath.empty()) {
        const sockaddr_un local = UnixAddress(mLocalPath);
        RemoveStaleSocket(mLocalPath);
        if (::bind(mSocket.lowlevel_fd(), reinterpret_cast<sockaddr const*>(&local), sizeof local) != 0)
            std::cerr << "can't bind to domain socket '" << mLocalPath << "': \"" << Errno() << std::endl;
    }
    const sockaddr_un remote = UnixAddress(mPath);
    if (::connect(mSocket.lowlevel_fd(), reinterpret_cast<sockaddr const*>(&remote), sizeof remote) != 0) {
        std::cerr << "can't connect to " << mPath << " : " << Errno() << std::endl;
        RetryLater();
        return;
    }
    // A local connect is complete when it returns: there is nothing left to
    // watch, and a watch kept on the connected socket could only start a
    // second attempt beside the live link.
    std::clog << "connected to " << mPath << std::endl;
    Fd fd = mSocket;
    mSocket.close();
    Connected(fd, mPath);
}

} // namespace Control
