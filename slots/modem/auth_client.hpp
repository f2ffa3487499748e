#pragma once
// The local authentication link: the PPP daemon's authentication plugin
// connects over TCP to 127.0.0.1:52000 and exchanges fixed-layout records with
// the gateway. Every record is 32-bit words in the host's own byte order
// (the plugin runs on the same host): length (of the whole record, 4..512),
// type, session (the modem number the record is about), payload. Addresses in
// the ip record are in network order.
//
// AuthClient is one accepted connection: it reassembles records from the
// byte stream and hands each complete one to the modem factory, and writes
// the records the modem slots send; which slot a connection speaks for is the
// factory's to decide. A connection closed in the middle of a call chain is
// reported to the factory (which deletes the client) only when the outermost
// guarded call has returned.
#include <cstdint>

#include "runtime/event.hpp"
#include "runtime/fd.hpp"
#include "runtime/inet4.hpp"

namespace auth
{

constexpr std::uint16_t kPort = 52000;
constexpr char kAddress[] = "127.0.0.1";
constexpr std::uint32_t kMinRecord = 4;
// The length, type and session words: a shorter record has no session.
constexpr std::uint32_t kHeader = 12;
constexpr std::uint32_t kMaxRecord = 512;

enum Type : std::int32_t { kRequest = 1, kAccept = 2, kIp = 3, kAccounting = 4 };

// The generic record: the header words and the payload.
struct attr {
    std::int32_t length;
    std::int32_t type;
    std::int32_t session;
    std::uint8_t payload[kMaxRecord - 12];
};
// The plugin's request, 140 bytes.
struct voauth {
    std::int32_t length;
    std::int32_t type;
    std::int32_t session;
    char username[64];
    char password[64];
};
// The plugin's accounting report, 64 bytes; each counter high word first.
struct voacct {
    std::int32_t length;
    std::int32_t type;
    std::int32_t session;
    std::uint32_t notRead[3];
    std::uint32_t octetsSent[2];
    std::uint32_t octetsReceived[2];
    std::uint32_t packetsSent[2];
    std::uint32_t packetsReceived[2];
    std::uint32_t sessionTime;
    std::uint32_t notRead2;
};
struct Accept {
    std::int32_t length; // 16
    std::int32_t type;   // kAccept
    std::int32_t session;
    std::int32_t result; // 1
};
struct Ip {
    std::int32_t length; // 36
    std::int32_t type;   // kIp
    std::int32_t session;
    std::int32_t reserved;
    std::uint32_t remote; // network order, as the four addresses
    std::uint32_t netmask;
    std::uint32_t gateway;
    std::uint32_t dns;
    std::int32_t mtu;
};
static_assert(sizeof(voauth) == 140 && sizeof(voacct) == 64 && sizeof(Accept) == 16 && sizeof(Ip) == 36 &&
                  sizeof(attr) == kMaxRecord,
              "authentication records have the plugin's layout");

} // namespace auth

class AuthClient;

// What a client needs of its owner; the modem factory in the daemon.
class AuthOwner
{
public:
    virtual ~AuthOwner() = default;
    // A complete record of `client`, of any length from 4 to 512: one shorter
    // than the header holds no session (nor a type).
    virtual void OnAuth(AuthClient* client, auth::attr const* record) = 0;
    virtual void OnAuthSocketDisconnect(AuthClient* client) = 0;
};

class AuthClient
{
public:
    AuthClient(Fd const& connection, INet4::Addr const& peer, AuthOwner& owner);
    AuthClient(const AuthClient&) = delete;
    AuthClient& operator=(const AuthClient&) = delete;

    // Puts the connection on the event loop. False when it cannot be polled
    // because a duplicate of its descriptor could not be made (here or when
    // the client was built): errno says why, and the client holds no
    // descriptor any more.
    bool Activate();
    void OnSocketEvent(int fd, short revents);
    // Reads and hands on, as an input event does, every record the connection
    // already holds, whether or not the loop has seen it readable yet; the
    // client is deleted on the way when the connection turns out closed.
    void ReadPending();
    // True when the whole record was written; a write that fails or would
    // block closes the connection.
    bool Send(auth::attr const* record);
    void OnDisconnect();
    void CheckDisconnect();

    INet4::Addr const& GetAddr() const { return mPeer; }
    bool IsOpen() const { return mConnection.is_valid(); }
    int lowlevel_fd() const { return mConnection.lowlevel_fd(); }
    // The process the owner found holding the plugin's end of the connection
    // when it accepted it; -1 when none was found.
    int Holder() const { return mHolder; }
    void SetHolder(int pid) { mHolder = pid; }
    // The session of the last complete record long enough to hold one; -1
    // until one arrives.
    int GetSessionId() const { return mSession; }

    int mRecursionLevel = 0;

private:
    // Reads until the connection would block or closes.
    void read_records();

    Event mEvent;
    Fd mConnection;
    INet4::Addr mPeer;
    union {
        auth::attr record;
        std::uint8_t bytes[auth::kMaxRecord];
    } mBuffer;
    std::uint32_t mReadPos = 0;
    std::uint32_t mReadEnd = 4;
    AuthOwner& mOwner;
    int mSession = -1; // of the last complete record with a session word
    int mDupError = 0; // why the connection could not be duplicated, 0 if it was
    int mHolder = -1;
};
