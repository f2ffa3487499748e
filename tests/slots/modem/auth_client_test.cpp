// The local authentication link's connection: records reassembled from any
// split of the byte stream, the length word's bounds, the session of the last
// record long enough to hold one (none before the first), a write that would
// block, a record read before the end it came with, and a close during a
// record's handling reported only when the handling has returned.
#include "slots/modem/auth_client.hpp"
#include "tests/control/fixture.hpp"

namespace
{

struct Owner : AuthOwner {
    std::string log;
    AuthClient* close_in_record = nullptr;
    AuthClient const* from = nullptr;
    void OnAuth(AuthClient* client, auth::attr const* r) override
    {
        from = client;
        log += "record " + std::to_string(r->length);
        log += std::uint32_t(r->length) < auth::kHeader ? ";" : "/" + std::to_string(r->session) + ";";
        if (close_in_record)
            close_in_record->OnDisconnect(), log += "closed;";
    }
    void OnAuthSocketDisconnect(AuthClient*) override { log += "disconnected;"; }
};

std::string record(std::int32_t length, std::int32_t session)
{
    std::string bytes(std::size_t(length < 12 ? 12 : length), '\0');
    const std::int32_t words[3] = {length, auth::kRequest, session};
    std::memcpy(&bytes[0], words, sizeof words);
    return bytes.substr(0, std::size_t(length < 4 ? 4 : length));
}

struct Fixture {
    ctltest::SocketPair pair;
    Owner owner;
    AuthClient client{Fd(pair.a.dup()), INet4::Addr(), owner};
    // Each piece written (an empty one: the peer closes), then one readable event.
    std::string feed(std::vector<std::string> const& pieces)
    {
        for (auto const& p : pieces) {
            p.empty() ? void(pair.b.close()) : ctltest::send_all(pair.b, p);
            client.OnSocketEvent(0, POLLIN);
        }
        return owner.log;
    }
};

TEST(AuthClient, RecordsAreReassembledAndBoundedByTheirLengthWord)
{
    const std::string r140 = record(140, 3), r512 = record(512, 7), r4 = record(4, 0);
    struct Case {
        const char* what;
        std::vector<std::string> pieces;
        const char* log;
    } const cases[] = {
        {"length word in pieces", {r140.substr(0, 1), r140.substr(1, 2), r140.substr(3)}, "record 140/3;"},
        {"body in pieces", {r140.substr(0, 4), r140.substr(4, 100), r140.substr(104)}, "record 140/3;"},
        {"two in one write", {r140 + r512}, "record 140/3;record 512/7;"},
        {"largest and smallest", {r512, r4}, "record 512/7;record 4;"},
        {"too long", {record(513, 1)}, "disconnected;"},
        {"too short", {record(3, 1) + r140}, "disconnected;"},
        {"peer closed", {""}, "disconnected;"},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        EXPECT_EQ(-1, f.client.GetSessionId());
        EXPECT_EQ(c.log, f.feed(c.pieces));
        EXPECT_TRUE(!f.owner.from || f.owner.from == &f.client) << "the record's client";
    }
}

// A record the plugin wrote before its connection ended or failed is read
// before the end is taken, whatever the poll bits say of the end.
TEST(AuthClient, TheLastRecordBeforeTheEndIsRead)
{
    for (int revents : {POLLIN | POLLHUP, POLLHUP, POLLERR, POLLIN | POLLERR | POLLHUP}) {
        SCOPED_TRACE(revents);
        Fixture f;
        ctltest::send_all(f.pair.b, record(64, 2));
        f.pair.b.close();
        f.client.OnSocketEvent(0, static_cast<short>(revents));
        EXPECT_EQ("record 64/2;disconnected;", f.owner.log);
    }
}

// A connection reports -1 before its first record, then the session of its
// last complete record; a record in pieces counts once it is whole.
TEST(AuthClient, SessionFollowsTheLastCompleteRecord)
{
    Fixture f;
    f.feed({record(140, 3).substr(0, 139)});
    EXPECT_EQ(-1, f.client.GetSessionId());
    f.feed({record(140, 3).substr(139), record(140, 5), record(64, 9).substr(0, 20)});
    EXPECT_EQ(5, f.client.GetSessionId());
    f.feed({record(64, 9).substr(20)});
    EXPECT_EQ(9, f.client.GetSessionId());
    f.feed({record(140, -1)});
    EXPECT_EQ(-1, f.client.GetSessionId());
}

// A record of 4 to 11 bytes is handed on but holds no session: the words
// behind it in the buffer (zeros in a new client, else the previous record's)
// are not taken for one.
TEST(AuthClient, AShortRecordSetsNoSession)
{
    struct Case {
        std::vector<std::string> before; // records fed first
        std::int32_t length;
        int session; // after the short record
    } const cases[] = {
        {{}, 4, -1},
        {{}, 11, -1},
        {{record(140, 5)}, 4, 5},
        {{record(140, 5)}, 11, 5},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.length);
        Fixture f;
        f.feed(c.before);
        f.owner.log.clear();
        std::string bytes(std::size_t(c.length), '\0');
        std::memcpy(&bytes[0], &c.length, sizeof c.length);
        EXPECT_EQ("record " + std::to_string(c.length) + ";", f.feed({bytes}));
        EXPECT_EQ(c.session, f.client.GetSessionId()) << "no session word of a zero-filled buffer";
    }
}

// What the connection holds is read when the owner asks, the loop's event
// not waited for; its end found so is reported when the read has returned.
TEST(AuthClient, PendingRecordsAreReadOnRequest)
{
    Fixture f;
    ctltest::send_all(f.pair.b, record(140, 3) + record(64, 4));
    f.client.ReadPending();
    EXPECT_EQ("record 140/3;record 64/4;", f.owner.log);
    f.pair.b.close();
    f.client.ReadPending();
    EXPECT_EQ("record 140/3;record 64/4;disconnected;", f.owner.log);
}

TEST(AuthClient, CloseWhileHandlingIsReportedAfterTheHandling)
{
    Fixture f;
    f.owner.close_in_record = &f.client;
    EXPECT_EQ("record 140/3;closed;disconnected;", f.feed({record(140, 3) + record(140, 4)}));
}

TEST(AuthClient, ErrorEventAndBlockedWriteClose)
{
    Fixture f;
    f.client.OnSocketEvent(0, POLLHUP);
    EXPECT_EQ("disconnected;", f.owner.log);

    Fixture g;
    auth::Accept accept{16, auth::kAccept, 2, 1};
    const auto* r = reinterpret_cast<auth::attr const*>(&accept);
    unsigned sent = 0;
    while (g.client.Send(r))
        ++sent;
    EXPECT_GT(sent, 0u);
    EXPECT_EQ("disconnected;", g.owner.log) << "the write that would block closed the link";
    EXPECT_FALSE(g.client.Send(r));
}

} // namespace
