#pragma once
// The link family over local stream sockets named by a path: the same TPKT
// frames, states, consumer calls and one-peer rule as the TCP acceptor and
// connector, without socket options. The link's name is the socket path.
#include <cstdint>
#include <string>
#include <sys/un.h>

#include "control/service.hpp"
#include "runtime/fd.hpp"
#include "runtime/listen_watch.hpp"
#include "runtime/timer.hpp"

namespace Control
{

// The address of `path`, cut to 107 characters and always terminated.
sockaddr_un UnixAddress(std::string const& path);
// Removes a file left at `path` by an earlier run, but only a socket: a
// mistyped path must never cost the operator a regular file. False when
// something other than a socket stands there.
bool RemoveStaleSocket(std::string const& path);

class ServiceUnix : public Service
{
public:
    // Takes over a connected local socket; `name` becomes the link's name.
    void Connected(const Fd& fd, std::string const& name);
};

class AcceptorUnix : public ServiceUnix
{
public:
    static constexpr unsigned bind_retry_ms = 5000;

    AcceptorUnix() : AcceptorUnix(std::string()) {}
    explicit AcceptorUnix(std::string const& path);
    ~AcceptorUnix() override;

    void BindSocket();
    void OnTimeout(Timer*);
    void OnSocketEvent(int fd, short revents);

    bool IsListening() const { return mAcceptWatch.IsActive(); }

protected:
    bool ImplActivate() override;
    void ImplDeactivate() override;
    void ImplOnDisconnect() override {}
    virtual void ImplRefuseConnection() {}
    virtual void ImplConnected(const Fd&) {}

private:
    std::string mPath;
    Fd mListen;
    Timer mBindRetry;
    ListenWatch mAcceptWatch;
};

class ConnectorUnix : public ServiceUnix
{
public:
    static constexpr unsigned fast_retry_ms = 1000;
    static constexpr int fast_retries = 7;
    static constexpr unsigned retry_ms = 20000;
    static constexpr unsigned disconnect_retry_ms = 10000;

    ConnectorUnix() = default;
    explicit ConnectorUnix(std::string const& path);
    ConnectorUnix(std::string const& path, std::string const& localPath);
    ~ConnectorUnix() override;

    void TryConnect();
    void OnTimeout(Timer*);

    int FastRetriesLeft() const { return mFastRetries; }
    bool IsRetryArmed() const { return mRetry.is_running(); }

protected:
    bool ImplActivate() override;
    void ImplDeactivate() override;
    void ImplOnDisconnect() override;

private:
    void RetryLater();

    std::string mPath;
    std::string mLocalPath;
    Fd mSocket;
    Timer mRetry;
    std::int32_t mFastRetries = 0;
};

} // namespace Control
