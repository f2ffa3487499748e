// The TPKT tracer: frames of several clients to the sink, its limits, and
// where a payload sent by the owner or by the sink goes.
#include "control/tpkt_tracer.hpp"

#include "tests/control/fixture.hpp"

namespace
{

using ctltest::bytes;
using ctltest::hex;
using ctltest::read_now;

class TracerTest : public ctltest::LoopTest, public TracerSink
{
protected:
    void SetUp() override
    {
        LoopTest::SetUp();
        ASSERT_TRUE(tracer.Listen(0));
        tracer.SetSink(this);
        for (Fd& c : clients) {
            c = ctltest::connect_to(tracer.Port());
            run_for(10);
        }
    }
    void OnTrace(void const* data, unsigned length) override
    {
        got.push_back(hex(std::string(static_cast<char const*>(data), length)));
        if (on_trace)
            on_trace();
    }
    ctltest::Capture log{std::clog};
    TPKTTracer tracer;
    Fd clients[3];
    std::vector<std::string> got;
    std::function<void()> on_trace;
};

TEST_F(TracerTest, DeliversWholeFramesAndClosesAClientThatBreaksTheRules)
{
    const std::string big(512, '\x11');
    const struct Case {
        const char* what;
        std::vector<std::string> chunks, delivered;
        bool closed;
    } cases[] = {
        {"two frames in one read", {bytes("03 00 00 05 AA 03 00 00 06 BB CC")}, {"AA", "BB CC"}, false},
        {"split over reads", {bytes("03 00"), bytes("00 06 01"), bytes("02")}, {"01 02"}, false},
        {"empty frame skipped", {bytes("03 00 00 04 03 00 00 05 AA")}, {"AA"}, false},
        {"512 bytes", {bytes("03 00 02 04") + big}, {hex(big)}, false},
        {"513 bytes", {bytes("03 00 02 05 00")}, {}, true},
        {"bad version", {bytes("04 00 00 05 AA")}, {}, true},
        {"bad reserved", {bytes("03 01 00 05 AA")}, {}, true},
        {"length below 4", {bytes("03 00 00 03")}, {}, true},
    };
    for (const Case& c : cases) {
        Fd client = ctltest::connect_to(tracer.Port());
        run_for(10);
        got.clear();
        for (const std::string& chunk : c.chunks) {
            ctltest::send_all(client, chunk);
            run_for(10);
        }
        EXPECT_EQ(got, c.delivered) << c.what;
        EXPECT_EQ(ctltest::peer_closed(client), c.closed) << c.what;
        EXPECT_EQ(tracer.ClientCount(), c.closed ? 3u : 4u) << c.what;
        client.close();
        run_for(10);
    }
    EXPECT_EQ(log.text().substr(0, 25), "ACP connection open from ");
}

// A client waits while the process has no descriptor left: the tracer logs
// the shortage once and stops watching for the pause (the loop, run for real,
// waits instead of turning on the readable socket), and takes the client
// after the pause, once descriptors are back.
TEST_F(TracerTest, NoDescriptorForAClientPausesAcceptingWithoutSpinning)
{
    const Fd waiting = ctltest::connect_to(tracer.Port());
    log.clear();
    double busy = 0;
    {
        const testutil::Shortage none(0);
        busy = run_real_for(500);
    }
    EXPECT_LT(busy, 0.25) << "share of the time on a processor";
    EXPECT_EQ(ctltest::strip_mux(log.text()),
              std::string("can't accept ACP connection: ") + std::strerror(EMFILE) + "\n");
    EXPECT_EQ(tracer.ClientCount(), 3u);
    run_for(ListenWatch::pause_ms + 10);
    EXPECT_EQ(tracer.ClientCount(), 4u);
    EXPECT_NE(log.text().find("\nACP connection open from "), std::string::npos) << log.text();
}

// The process has a descriptor for the listening socket but none for the
// watch that polls it: the port is open, with one line, and the watch is
// tried again after the pause; a client that connected meanwhile waits in
// the queue and is taken then.
TEST_F(TracerTest, NoDescriptorForTheListeningWatchIsRetried)
{
    TPKTTracer other;
    log.clear();
    {
        const testutil::Shortage one(1);
        ASSERT_TRUE(other.Listen(0));
    }
    const std::string line = std::string("can't listen ACP socket: ") + std::strerror(EMFILE) + "\n";
    EXPECT_EQ(log.text(), line);
    const Fd waiting = ctltest::connect_to(other.Port());
    ASSERT_TRUE(waiting.is_valid());
    run_for(ListenWatch::pause_ms - 10);
    EXPECT_EQ(other.ClientCount(), 0u);
    run_for(20);
    EXPECT_EQ(other.ClientCount(), 1u);
    EXPECT_EQ(ctltest::strip_mux(log.text()).substr(0, line.size() + 25), line + "ACP connection open from ");
}

TEST_F(TracerTest, SendGoesToTheClientBeingReadElseToAll)
{
    tracer.Send("\x01", 1);
    for (Fd& c : clients)
        EXPECT_EQ(hex(read_now(c)), "03 00 00 05 01");
    on_trace = [&] { tracer.Send("\x02", 1); };
    ctltest::send_all(clients[1], bytes("03 00 00 05 AA"));
    run_for(10);
    EXPECT_EQ(hex(read_now(clients[0]) + "|" + read_now(clients[1]) + "|" + read_now(clients[2])),
              hex("|" + bytes("03 00 00 05 02") + "|"));
    // The sink closes the client it is reading, then answers: the answer
    // goes nowhere rather than to every other client.
    on_trace = [&] {
        tracer.CloseConnection(tracer.Current());
        tracer.Send("\x03", 1);
    };
    ctltest::send_all(clients[1], bytes("03 00 00 05 AA 03 00 00 05 BB"));
    run_for(10);
    EXPECT_EQ(got, (std::vector<std::string>{"AA", "AA"}));
    EXPECT_EQ(read_now(clients[0]) + read_now(clients[2]), "");
    EXPECT_TRUE(ctltest::peer_closed(clients[1]));
    // Too long for the length field: refused with a line, sent to nobody.
    std::vector<char> huge(65532);
    tracer.Send(huge.data(), 65532);
    EXPECT_EQ(read_now(clients[0]), "");
    EXPECT_NE(log.text().find("TPKTTracer payload too big, length = 65532 max = 65531\n"), std::string::npos);
}

} // namespace
