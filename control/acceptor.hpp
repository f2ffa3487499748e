#pragma once
// The server side of a link: listens on one TCP port on every local IPv4
// address, takes the first peer, and refuses every further peer while one is
// connected. The checking variant, built for the controller, also checks the
// live connection every 1000 ms and takes a refused second peer as a hint
// that the connected one may be gone: it switches the connection to fast
// keep-alive probing and drops it if its congestion-avoidance state stays
// abnormal on two checks. A connection found dead is read to its end before
// it is closed, so no command it delivered is lost; while reading waits for a
// packet buffer, the close waits with it.
#include <cstdint>

#include "control/service.hpp"
#include "runtime/dpc.hpp"
#include "runtime/fd.hpp"
#include "runtime/listen_watch.hpp"
#include "runtime/packet.hpp"
#include "runtime/timer.hpp"

namespace Control
{

class AcceptorNet : public ServiceNet
{
public:
    static constexpr unsigned bind_retry_ms = 5000;

    AcceptorNet();
    explicit AcceptorNet(int port);
    AcceptorNet(int port, bool verbose);
    ~AcceptorNet() override;

    void BindSocket();
    void OnTimeout(Timer*);
    void OnSocketEvent(int fd, short revents);

    bool IsListening() const { return mListenWatch.IsActive(); }
    std::uint16_t port() const { return mPort; }

protected:
    bool ImplActivate() override;
    void ImplDeactivate() override;
    void ImplOnDisconnect() override;
    virtual void ImplRefuseConnection();
    virtual void ImplConnected(const Fd& fd);

private:
    void RetryLater();

    std::uint16_t mPort = 0;
    Fd mListen;
    Timer mBindRetry;
    ListenWatch mListenWatch;
};

// Where the connection check reads the kernel's view of a connection. The
// tests put their own answers here; the daemon reads the socket.
class ConnectionProbe
{
public:
    virtual ~ConnectionProbe() = default;
    // The first two bytes of the TCP information record: the TCP state and
    // the congestion-avoidance state. False, with the error number, when the
    // call failed.
    virtual bool TcpInfo(int fd, unsigned char& state, unsigned char& ca_state, int& error) = 0;
    // The pending socket error (SO_ERROR). False, with the call's own error
    // number, when the call failed.
    virtual bool SocketError(int fd, int& error) = 0;
};

class SocketProbe : public ConnectionProbe
{
public:
    bool TcpInfo(int fd, unsigned char& state, unsigned char& ca_state, int& error) override;
    bool SocketError(int fd, int& error) override;
};

class AcceptorNetCheckConnection : public AcceptorNet, private PacketWaiter
{
public:
    static constexpr unsigned check_period_ms = 1000;
    enum class CheckState { Idle = 0, CheckConnection = 1 };

    AcceptorNetCheckConnection();
    explicit AcceptorNetCheckConnection(int port);
    AcceptorNetCheckConnection(int port, bool verbose);
    ~AcceptorNetCheckConnection() override;

    void CheckConnection();
    void OnCheckConnectionTimeout(Timer*);
    void SetupKeepAlive(bool checking);

    // The probe is not owned; nullptr restores the socket reader.
    void SetProbe(ConnectionProbe* probe) { mProbe = probe ? probe : &mSocketProbe; }
    CheckState GetCheckState() const { return mCheckState; }
    int GetCountdown() const { return mCountdown; }
    int WatchedFd() const { return mWatched.lowlevel_fd(); }
    // True while a connection found dead waits for a packet buffer to give
    // up what it received before it is closed.
    bool IsClosingWhenRead() const { return mClosingWhenRead; }

protected:
    bool ImplActivate() override;
    void ImplDeactivate() override;
    void ImplOnDisconnect() override;
    void ImplRefuseConnection() override;
    void ImplConnected(const Fd& fd) override;

private:
    // Reads what the dead connection received, then closes it; while
    // reading waits for a buffer, waits with it and comes back here.
    void CloseWhenRead();
    void buffer_free() override;
    void OnBufferBack();
    void StopClosingWhenRead();

    Timer mCheckTimer;
    Fd mWatched;
    CheckState mCheckState = CheckState::Idle;
    int mCountdown = 0;
    bool mClosingWhenRead = false;
    Dpc mBufferBack;
    SocketProbe mSocketProbe;
    ConnectionProbe* mProbe = &mSocketProbe;
};

} // namespace Control
