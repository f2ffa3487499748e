#pragma once
// A message link to one peer over a stream socket: privately a protocol
// family of the stream layer (bottom) and the TPKT layer (top), so that its
// one consumer exchanges whole TPKT payloads. How a connection is obtained is
// left to the variants (acceptor, connector) through three hooks. A lost
// connection reaches the consumer only through a deferred call in a later
// loop pass, never from inside the call that met the failure.
#include <ostream>
#include <string>

#include "control/protocol.hpp"
#include "control/strm_protocol.hpp"
#include "runtime/dpc.hpp"
#include "runtime/fd.hpp"
#include "runtime/inet4.hpp"

namespace Control
{

class Notify
{
public:
    virtual ~Notify() = default;
    virtual void OnConnect() = 0;
    virtual void OnDisconnect() = 0;
    // One complete TPKT payload.
    virtual void OnMessage(char const* data, int length) = 0;
};

struct State {
    enum Type { Idle = 0, Connecting = 1, Deactivating = 2, Connected = 3 };
};

char const* GetTextNotation(State::Type state);
std::ostream& operator<<(std::ostream& os, State::Type state);

class Service : private ProtocolsFamily
{
public:
    Service();
    ~Service() override;

    bool Activate();
    void Deactivate();
    void Disconnect();
    void Send(char const* data, int length);

    void Bind(Notify* consumer) { mConsumer = consumer; }
    void UnBind() { mConsumer = nullptr; }

    State::Type GetState() const { return mState; }
    bool IsConnected() const { return mState == State::Connected; }
    std::string const& GetAddr() const { return mName; }

    std::string const& service_name() const { return mStrm->service_name(); }
    void service_name(std::string const& name) { mStrm->service_name(name); }
    Measure const& get_read_measure() const { return mStrm->get_read_measure(); }
    Measure const& get_write_measure() const { return mStrm->get_write_measure(); }
    std::uint32_t GetOverflowCounter() const { return mStrm->GetOverflowCounter(); }

    // Closes the socket at once, without any report.
    void Release() { mStrm->release(); }
    // Reads and handles, now, everything the connection has received so far:
    // commands are answered, and a connection that has ended is seen ending.
    void ReadPending();
    // True while what the connection received waits in the socket for a
    // packet buffer to be read into.
    bool ReadingWaits() const { return mStrm->reading_waits(); }
    void OnDeactivateDPC();

    bool verbose() const { return mVerbose; }

protected:
    virtual bool ImplActivate() = 0;
    virtual void ImplDeactivate() = 0;
    virtual void ImplOnDisconnect() = 0;

    void on_message(Packet& p) override;
    void on_activated(Protocol* member) override;
    void on_deactivated(Protocol* member, Protocol_status status) override;

    // Takes a connected socket into the stack and reports the connection.
    void TakeConnection(Fd const& fd, std::string const& name);

    std::string mName;
    bool mVerbose = true;
    State::Type mState = State::Idle;
    Notify* mConsumer = nullptr;
    StrmProtocol* mStrm;
    Dpc mDeactivation;
    Packet mSendBuffer;
};

class ServiceNet : public Service
{
public:
    // Takes over a freshly connected, non-blocking TCP socket.
    void Connected(const Fd& fd, INet4::Addr const& peer);
    INet4::Addr const& GetPeer() const { return mPeer; }

protected:
    INet4::Addr mPeer;
};

// Puts a bound socket into listening (a backlog of one) and non-blocking
// mode, as both acceptors need; says which step failed when `verbose`.
bool StartListening(Fd& listen, bool verbose);

} // namespace Control
