// The stream layer on a socket pair: what it reads goes up as it came, what
// it is given is written whole, and every failure closes the socket and is
// reported upward exactly once.
#include "control/strm_protocol.hpp"

#include <cstring>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "tests/control/fixture.hpp"

namespace
{

using ctltest::bytes;
using ctltest::Capture;
using ctltest::EmptyPool;
using ctltest::SocketPair;

struct Harness : ctltest::Harness<StrmProtocol> {
    explicit Harness(const Fd& fd) : ctltest::Harness<StrmProtocol>(new StrmProtocol(fd))
    {
        layer->service_name("server");
    }
};

class StrmTest : public ctltest::LoopTest
{
protected:
    // Turns of the loop for `ms` of virtual time, at most 100 when a
    // descriptor keeps the loop awake; the virtual time that passed.
    unsigned run_bounded(unsigned ms)
    {
        struct Bound {
            Dpc dpc;
            int passes = 100;
            void on()
            {
                if (--passes == 0)
                    multiplexer.terminate();
            }
        } bound;
        bound.dpc.Bind(&bound, &Bound::on);
        bound.dpc.Activate();
        const std::uint32_t start = Mux::milliseconds();
        run_for(ms);
        return Mux::milliseconds() - start;
    }
};

// The peer's end takes 70,000 bytes at once, more than one packet.
void WidenSendBuffer(const Fd& peer)
{
    int size = 256 * 1024;
    ASSERT_EQ(::setsockopt(peer.lowlevel_fd(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size), 0);
}

// Bytes passed up: each packet reads "71 71 ...".
std::size_t BytesUp(const Harness& h)
{
    std::size_t total = 0;
    for (const std::string& r : h.up)
        total += (r.size() + 1) / 3;
    return total;
}

TEST_F(StrmTest, LargeInputArrivesInPacketsOfAtMost64K)
{
    SocketPair sp;
    WidenSendBuffer(sp.b);
    Harness h(sp.a);
    h.layer->activate();
    const std::string data(70000, 'q');
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t w = ::write(sp.b.lowlevel_fd(), data.data() + sent, data.size() - sent);
        ASSERT_GT(w, 0);
        sent += static_cast<std::size_t>(w);
        run_for(1);
    }
    run_for(10);
    ASSERT_GE(h.up.size(), 2u);
    for (const std::string& r : h.up)
        EXPECT_LE((r.size() + 1) / 3, packet_max_size);
    EXPECT_EQ(BytesUp(h), data.size());
}

// A peer that wrote more than one receive takes and hung up: every byte goes
// up, over several events that each see the hang-up, and then the hang-up is
// reported once.
TEST_F(StrmTest, WhatAPeerWroteBeforeItHungUpGoesUpFirst)
{
    SocketPair sp;
    WidenSendBuffer(sp.b);
    Harness h(sp.a);
    h.layer->activate();
    const std::string data(70000, 'q');
    ctltest::send_all(sp.b, data);
    sp.b.close();
    run_for(10);
    EXPECT_EQ(BytesUp(h), data.size());
    EXPECT_GE(h.up.size(), 2u);
    EXPECT_EQ(h.statuses, (std::vector<std::string>{"error pollhup: end of stream"}));
    EXPECT_FALSE(h.layer->opened());
}

TEST_F(StrmTest, FailuresCloseTheSocketAndReportOnce)
{
    const struct Case {
        const char* what;
        std::function<void(SocketPair&, Harness&)> act;
        std::string status;
    } cases[] = {
        {"peer shuts its sending side: end of stream",
         [](SocketPair& sp, Harness&) { ::shutdown(sp.b.lowlevel_fd(), SHUT_WR); },
         "error read error: end of stream"},
        {"peer closes both sides: hang-up", [](SocketPair& sp, Harness&) { sp.b.close(); },
         "error pollhup: end of stream"},
        {"error and input in one event: only the error is handled",
         [](SocketPair& sp, Harness& h) {
             ctltest::send_all(sp.b, "x"), h.layer->on_event(-1, POLLERR | POLLIN);
         },
         "error pollerr: "},
        {"orderly deactivation", [](SocketPair&, Harness& h) { h.layer->deactivate(); }, "ok success"},
    };
    for (const Case& c : cases) {
        SocketPair sp;
        Harness h(sp.a);
        h.layer->activate();
        c.act(sp, h);
        run_for(10);
        ASSERT_EQ(h.statuses.size(), 1u) << c.what;
        EXPECT_EQ(h.statuses[0].substr(0, c.status.size()), c.status) << c.what;
        EXPECT_FALSE(h.layer->opened()) << c.what;
        EXPECT_TRUE(h.up.empty()) << c.what;
        // Nothing is watched any more: the loop never calls back again.
        run_for(10);
        EXPECT_EQ(h.statuses.size(), 1u) << c.what;
    }
}

// What a turn's callbacks hand down is on the wire only once the dispatch
// ends, all of it, in order; a deactivation still writes what was gathered.
TEST_F(StrmTest, PacketsOfOneTurnLeaveTogetherWhenItsDispatchEnds)
{
    for (bool deactivate : {false, true}) {
        SocketPair sp;
        Harness h(sp.a);
        h.layer->activate();
        std::string inside = "unset";
        h.on_input = [&] {
            h.send("one");
            h.send("two");
            inside = ctltest::read_now(sp.b);
            if (deactivate)
                h.layer->deactivate();
        };
        ctltest::send_all(sp.b, "x");
        run_for(10);
        EXPECT_EQ(inside, "") << deactivate;
        EXPECT_EQ(ctltest::read_now(sp.b), "onetwo") << deactivate;
    }
}

// An empty pool: each stream logs its shortage once, and the loop stops
// watching it (the virtual clock runs out instead of the loop spinning on the
// readable socket). The next buffer back wakes both; the first takes it, the
// other waits on without a second line; no byte is lost.
TEST_F(StrmTest, EmptyPoolStopsReadingUntilABufferIsBack)
{
    SocketPair one, two;
    Harness h1(one.a), h2(two.a);
    h2.layer->service_name("agent");
    h1.layer->activate();
    h2.layer->activate();
    EmptyPool pool;
    Capture cerr(std::cerr);
    ctltest::send_all(one.b, "abc");
    ctltest::send_all(two.b, "xy");
    EXPECT_EQ(run_bounded(10), 10u);
    ctltest::send_all(one.b, "def");
    EXPECT_EQ(run_bounded(10), 10u);
    const std::string shortages = "SockStream[server]: no packet buffer for reading\n"
                                  "SockStream[agent]: no packet buffer for reading\n";
    EXPECT_EQ(cerr.text(), shortages);
    EXPECT_TRUE(h1.up.empty() && h2.up.empty());

    pool.give_one();
    EXPECT_EQ(run_bounded(10), 10u);
    EXPECT_EQ(h1.up, std::vector<std::string>{"61 62 63 64 65 66"});
    EXPECT_TRUE(h2.up.empty());
    pool.give_one();
    EXPECT_EQ(run_bounded(10), 10u);
    EXPECT_EQ(h2.up, std::vector<std::string>{"78 79"});
    EXPECT_EQ(cerr.text(), shortages);
    EXPECT_TRUE(h1.statuses.empty() && h2.statuses.empty());
}

// A peer that writes and hangs up while the pool is empty: its bytes stay in
// the socket and the hang-up waits with them, without the loop turning on the
// hung-up socket; once a buffer is back every byte goes up, then the end is
// reported once.
TEST_F(StrmTest, AStarvedPeersLastBytesGoUpBeforeItsEnd)
{
    for (const std::size_t size : {std::size_t(3), std::size_t(70000)}) {
        SCOPED_TRACE(size);
        SocketPair sp;
        WidenSendBuffer(sp.b);
        Harness h(sp.a);
        h.layer->activate();
        EmptyPool pool;
        Capture cerr(std::cerr);
        ctltest::send_all(sp.b, std::string(size, 'q'));
        sp.b.close();
        EXPECT_EQ(run_bounded(10), 10u);
        EXPECT_EQ(cerr.text(), "SockStream[server]: no packet buffer for reading\n");
        EXPECT_TRUE(h.up.empty());
        EXPECT_TRUE(h.statuses.empty());
        EXPECT_TRUE(h.layer->opened());
        pool.give_one();
        EXPECT_EQ(run_bounded(10), 10u);
        EXPECT_EQ(BytesUp(h), size);
        EXPECT_EQ(h.statuses, (std::vector<std::string>{"error pollhup: end of stream"}));
        EXPECT_FALSE(h.layer->opened());
    }
}

// Activation that cannot start reading ends the connection at once: without
// a socket, or without a descriptor left for the watch that polls it (a
// socket nobody polls would never be read nor seen closing).
TEST_F(StrmTest, ActivationThatCannotReadFails)
{
    const struct Case {
        const char* what;
        bool attached;
        std::string status;
    } cases[] = {
        {"no socket", false, "error fd not attached"},
        {"no descriptor for the watch", true, std::string("error read error: ") + std::strerror(EMFILE)},
    };
    // The first case runs with descriptors to spare: the sanitizer build
    // checks a type through a pipe the first time it meets it.
    for (const Case& c : cases) {
        SocketPair sp;
        Harness h(c.attached ? sp.a : Fd());
        {
            std::optional<testutil::Shortage> none;
            if (c.attached)
                none.emplace(0);
            h.layer->activate();
        }
        EXPECT_EQ(h.activated, 0) << c.what;
        EXPECT_EQ(h.statuses, std::vector<std::string>{c.status}) << c.what;
        EXPECT_FALSE(h.layer->opened()) << c.what;
        sp.a.close();
        EXPECT_TRUE(ctltest::peer_closed(sp.b)) << c.what;
        run_for(10);
        EXPECT_EQ(h.statuses.size(), 1u) << c.what;
    }
}

// A peer that stops reading: a full buffer waits within the budget, then
// gives up. Both failures are logged with the socket's figures.
TEST_F(StrmTest, FailedWritesCloseAndAreLoggedOnce)
{
    const struct Case {
        bool close_peer;
        std::string status;
        const char* log;
    } cases[] = {
        {false, "error write timeout",
         "SockStream\\[server\\]: write timeout, sendbuf=\\d+, recvbuf=\\d+, free=-?\\d+, inq=\\d+, "
         "outq=\\d+\n"},
        {true, std::string("error write error: ") + std::strerror(EPIPE),
         "SockStream\\[server\\]: write error, sendbuf=-?\\d+, recvbuf=-?\\d+, free=-?\\d+, inq=-?\\d+, "
         "outq=-?\\d+, error=Broken pipe\n"},
    };
    for (const Case& c : cases) {
        Capture cerr(std::cerr);
        SocketPair sp;
        Harness h(sp.a);
        h.layer->activate();
        if (c.close_peer)
            sp.b.close();
        const std::string block(60000, 'w');
        for (int i = 0; i < 100 && h.statuses.empty(); ++i)
            h.send(block);
        EXPECT_EQ(h.statuses, std::vector<std::string>{c.status});
        EXPECT_EQ(h.layer->GetOverflowCounter(), 1u);
        EXPECT_FALSE(h.layer->opened());
        EXPECT_TRUE(std::regex_match(cerr.text(), std::regex(c.log))) << cerr.text();
        // A later packet is not written anywhere.
        h.send("late");
        EXPECT_EQ(h.statuses.size(), 1u);
    }
}

} // namespace
