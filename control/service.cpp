#include "control/service.hpp"

#include <cstring>
#include <iostream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "control/tpkt.hpp"
#include "runtime/log_text.hpp"
#include "runtime/profile.hpp"
#include "runtime/trace.hpp"

namespace Control
{

char const* GetTextNotation(State::Type state)
{
    switch (state) {
    case State::Idle:
        return "Idle";
    case State::Connecting:
        return "Connecting";
    case State::Deactivating:
        return "Deactivating";
    case State::Connected:
        return "Connected";
    }
    return "Unknown";
}

std::ostream& operator<<(std::ostream& os, State::Type state)
{
    return os << GetTextNotation(state);
}

Service::Service()
{
    mStrm = new StrmProtocol;
    add_protocol_tail(mStrm);
    add_protocol_tail(new Tpkt_protocol);
    mDeactivation.Bind(this, &Service::OnDeactivateDPC);
}

Service::~Service()
{
    mDeactivation.Deactivate();
}

bool Service::Activate()
{
    Deactivate();
    mState = State::Connecting;
    const bool ok = ImplActivate();
    if (!ok)
        mState = State::Idle;
    return ok;
}

void Service::Deactivate()
{
    ImplDeactivate();
    // A pending completion would report a disconnect of a link that is no
    // longer running; the owner deals with the end of the link itself.
    mDeactivation.Deactivate();
    mState = State::Idle;
}

void Service::Disconnect()
{
    if (mState == State::Deactivating)
        return;
    deactivate();
}

void Service::Send(char const* data, int length)
{
    if (mState == State::Deactivating)
        return;
    if (mState != State::Connected) {
        if (mVerbose)
            std::cerr << "Control::Service::Send() ignore Send request in " << mState << " state."
                      << std::endl;
        return;
    }
    if (length < 0 || static_cast<unsigned>(length) > Tpkt_protocol::max_payload) {
        std::cerr << "Control::Service::Send() refuse payload of " << length
                  << " bytes, max = " << Tpkt_protocol::max_payload << std::endl;
        return;
    }
    static Profile::Point build("Control::Service::Send [1]");
    static Profile::Point write("Control::Service::Send [2]");
    build.begin();
    // The packet of the last send is used again when nobody kept it, so that
    // a stream of answers keeps to one pool block.
    Packet p = mSendBuffer;
    mSendBuffer.clear();
    if (p.renew(0))
        prepare_head(p);
    if (p.null()) {
        build.end();
        std::cerr << "Control::Service::Send() no packet buffer, payload of " << length << " bytes dropped"
                  << std::endl;
        return;
    }
    if (length)
        std::memcpy(p.put(static_cast<unsigned>(length)), data, static_cast<unsigned>(length));
    build.end();
    write.begin();
    if (Protocol* t = top())
        t->message(p);
    if (mSendBuffer.null())
        mSendBuffer = p;
    write.end();
}

void Service::ReadPending()
{
    if (mState == State::Connected)
        mStrm->read_pending();
}

void Service::on_message(Packet& p)
{
    if (!mConsumer || mState == State::Deactivating)
        return;
    mConsumer->OnMessage(reinterpret_cast<char const*>(p.data()), static_cast<int>(p.length()));
}

void Service::on_activated(Protocol*) {}

void Service::on_deactivated(Protocol*, Protocol_status)
{
    if (mVerbose)
        std::cerr << "control connection " << ext::escaped(mName) << " closed." << std::endl;
    mState = State::Deactivating;
    mDeactivation.Activate();
}

void Service::OnDeactivateDPC()
{
    mDeactivation.Deactivate();
    mState = State::Connecting;
    ImplOnDisconnect();
    if (mConsumer)
        mConsumer->OnDisconnect();
}

void Service::TakeConnection(Fd const& fd, std::string const& name)
{
    mName = name;
    mState = State::Connected;
    mStrm->attach(fd);
    activate();
    // A stack that failed to start has already reported its end; the
    // consumer then hears of this connection only as a disconnect.
    if (mConsumer && mState == State::Connected)
        mConsumer->OnConnect();
}

void ServiceNet::Connected(const Fd& fd, INet4::Addr const& peer)
{
    // A link holds one connection: a second one would silently replace the
    // live socket under the consumer's feet.
    if (mState == State::Deactivating || mState == State::Connected)
        return;
    const int one = 1;
    if (::setsockopt(fd.lowlevel_fd(), SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one) != 0 && mVerbose)
        std::cerr << "fail set keepalive to control socket." << std::endl;
    if (::setsockopt(fd.lowlevel_fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0 && mVerbose)
        std::cerr << "fail to turn off Nagle algorithm." << std::endl;
    mPeer = peer;
    TakeConnection(fd, peer.GetString());
}

bool StartListening(Fd& listen, bool verbose)
{
    if (::listen(listen.lowlevel_fd(), 1) != 0) {
        if (verbose)
            std::cerr << "can't listen socket: " << Errno() << std::endl;
        return false;
    }
    if (!listen.NonBlock()) {
        if (verbose)
            std::cerr << "can't set socket to non block mode: " << Errno() << std::endl;
        return false;
    }
    return true;
}

} // namespace Control
