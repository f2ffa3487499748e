#pragma once
// The client side of a link: connects to one IPv4 address and port without
// blocking the loop, hands the connected socket to the link and reconnects by
// itself after every failure and every disconnect. Each activation grants
// seven fast retries one second apart; after them the wait depends on how the
// attempt failed, and a lost link is retried after 10 s. The SNMP agent links
// of the monitoring service each own one.
#include <cstdint>
#include <string>
#include <sys/socket.h>

#include "control/service.hpp"
#include "runtime/event.hpp"
#include "runtime/fd.hpp"
#include "runtime/timer.hpp"

namespace Control
{

// The two calls of an attempt whose outcome only the network decides. The
// tests script them; the daemon asks the kernel.
class ConnectOps
{
public:
    virtual ~ConnectOps() = default;
    // 0 when connected at once, else the error number (EINPROGRESS: pending).
    virtual int Connect(int fd, sockaddr const* address, socklen_t length);
    // The pending socket error (SO_ERROR). False, with the call's own error
    // number, when the query failed.
    virtual bool PendingError(int fd, int& error);
};

class ConnectorNet : public ServiceNet
{
public:
    static constexpr unsigned fast_retry_ms = 1000;
    static constexpr int fast_retries = 7;
    static constexpr unsigned refused_retry_ms = 20000;  // connect() itself failed
    static constexpr unsigned pollerr_retry_ms = 15000;  // POLLERR or POLLHUP
    static constexpr unsigned so_error_retry_ms = 12000; // a pending socket error
    static constexpr unsigned disconnect_retry_ms = 10000;

    ConnectorNet();
    // "a.b.c.d" or "a.b.c.d:port". A text that is no address leaves the
    // connector without a peer: every attempt then fails visibly.
    explicit ConnectorNet(std::string const& address);
    ConnectorNet(std::string const& host, unsigned short port);
    ~ConnectorNet() override;

    void TryConnect();
    void OnTimeout(Timer*);
    void OnSocketEvent(int fd, short revents);

    // The ops are not owned; nullptr restores the kernel's.
    void SetOps(ConnectOps* ops) { mOps = ops ? ops : &mKernelOps; }
    int FastRetriesLeft() const { return mFastRetries; }
    bool IsAttemptPending() const { return mConnectEvent.IsActive(); }
    bool IsRetryArmed() const { return mRetry.is_running(); }
    std::string PeerText() const;

protected:
    bool ImplActivate() override;
    void ImplDeactivate() override;
    void ImplOnDisconnect() override;

private:
    void RetryLater(unsigned long_delay_ms);
    void CancelAttempt();
    void TakeOver();

    std::uint16_t mPort = 0;
    std::string mHost;
    bool mHostValid = false;
    Fd mSocket;
    Timer mRetry;
    Event mConnectEvent;
    int mFastRetries = 0;
    ConnectOps mKernelOps;
    ConnectOps* mOps = &mKernelOps;
};

} // namespace Control
