// HDLC channels over the simulated controller and switch: frames between a
// line and the channel's user, the ready cycle, and every way a channel ends.
#include "hardware/hdlc.hpp"

#include <memory>

#include "hardware/hw_mux.hpp"
#include "platform/sim/hal_model.hpp"
#include "platform/sim_board.hpp"
#include "tests/control/fixture.hpp"

namespace
{

using ctltest::Capture;
using platform::sim::HalModel;

// One board for the program: the switch is a single instance that keeps the
// board it first opened.
platform::SimBoard& sim()
{
    static platform::SimBoard* board = [] {
        auto* b = new platform::SimBoard;
        platform::setBoard(b);
        b->set_present("/dev/mcc/ctl", true);
        return b;
    }();
    return *board;
}

struct Sink : HDLC::Notify {
    enum Action { keep, echo, deactivate, release } action = keep;
    HDLC* channel = nullptr;
    std::string log;

    void note(const std::string& what) { log += (log.empty() ? "" : "; ") + what; }
    void on_hdlc_receive(Packet& p) override
    {
        note("rx " + ctltest::hex(ctltest::text(p)));
        if (action == echo)
            channel->hdlc_transmit(p);
        else if (action == deactivate)
            channel->deactivate();
        else if (action == release)
            multiplexer.deferredDelete(channel);
    }
    void on_hdlc_error(Cause::Type cause) override { note("error " + std::to_string(cause)); }
    void on_hdlc_ready() override { note("ready"); }
};

class HdlcTest : public ctltest::LoopTest
{
protected:
    void SetUp() override
    {
        LoopTest::SetUp();
        Capture clog(std::clog);
        sim();
        HwMux::instance();
        // The loop serves the board: it drains what channels write.
        mWatch.Bind("sim", &HdlcTest::serve, this);
        mWatch.Schedule(Fd(::dup(sim().pollable_fd())), POLLIN);
    }
    void serve(int, short revents)
    {
        if (revents & POLLIN)
            sim().service();
    }
    // A channel on trunk 1, timeslot 5, bound to `sink`, activated.
    std::unique_ptr<HDLC> open(Sink& sink, std::uint32_t mode, std::uint32_t line,
                               std::uint32_t out = HDLC::kNone)
    {
        std::unique_ptr<HDLC> h(new HDLC);
        h->params(HDLC::Params{1, 5, line, out, mode});
        h->trunk(1);
        h->bind(&sink);
        sink.channel = h.get();
        EXPECT_TRUE(h->activate());
        run_for(5);
        return h;
    }
    HalModel& hal() { return *sim().model<HalModel>(); }
    Event mWatch;
};

TEST_F(HdlcTest, EachModeJoinsItsLinesAndCarriesFramesBothWays)
{
    struct Case {
        std::uint32_t mode, line, out;
        const char* type;
        int joined; // the output that takes the channel's frames
    };
    const Case cases[] = {
        {0, 40, HDLC::kNone, "ss7", 40}, {1, 41, HDLC::kNone, "data", 41}, {2, 42, 43, "bri", 43}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        sim().clear_journal();
        Sink sink;
        sink.action = Sink::echo;
        auto h = open(sink, c.mode, c.line, c.out);
        const int channel = h->channel();
        EXPECT_TRUE(::fcntl(h->descriptor(), F_GETFD) & FD_CLOEXEC);
        EXPECT_NE(std::string::npos,
                  sim().execute("journal").find(std::string("allocate type=") + c.type +
                                                " rx-size=512 reserved=0 rx-thr=1 tx-thr=4 -> 0"));
        EXPECT_EQ(channel, hal().output(c.joined).value);
        EXPECT_EQ(int(c.line), hal().output(channel).value);
        EXPECT_EQ("reached=1\nok\n", sim().execute("mcc frame " + std::to_string(c.line) + " 01 02 03"));
        run_for(5);
        EXPECT_EQ("ready; rx 01 02 03", sink.log);
        EXPECT_EQ("01 02 03\nok\n", sim().execute("mcc sent " + std::to_string(c.joined)));
        EXPECT_EQ("ok\n", sim().execute("mcc sent " + std::to_string(c.line)));
        EXPECT_EQ(1u, h->statistics().rxSU);
        EXPECT_EQ(1u, h->statistics().txSU);
        // Deactivated, the channel leaves no line fed by a controller channel that another user gets next.
        h->deactivate();
        EXPECT_EQ(HalModel::Output::disabled, hal().output(c.joined).kind);
        EXPECT_EQ(HalModel::Output::disabled, hal().output(channel).kind);
        h.reset();
        run_for(5);
    }
}

TEST_F(HdlcTest, AWriteThatWouldBlockGivesExactlyOneReadyOnceDrained)
{
    Sink sink;
    auto h = open(sink, 1, 44);
    mWatch.Release();
    Packet frame;
    frame.reserve_head(0);
    frame.put8(0x7E);
    unsigned sent = 0;
    while (sent < 1000 && h->hdlc_transmit(frame))
        ++sent;
    EXPECT_FALSE(h->is_ready());
    EXPECT_EQ(sent, h->statistics().txSU);
    EXPECT_EQ(0u, h->statistics().txError);
    run_for(5);
    EXPECT_EQ("ready", sink.log) << "nothing while the controller is full";
    sim().service();
    run_for(5);
    run_for(5);
    EXPECT_EQ("ready; ready", sink.log);
}

// The user ends the channel on the first of two waiting frames: nothing more
// reaches it, and the line is let go.
TEST_F(HdlcTest, AUserThatEndsTheChannelInsideReceiveGetsNothingMore)
{
    for (Sink::Action action : {Sink::deactivate, Sink::release}) {
        SCOPED_TRACE(action);
        Sink sink;
        sink.action = action;
        auto h = open(sink, 1, 45);
        HDLC* channel = action == Sink::release ? h.release() : h.get();
        sim().execute("mcc frame 45 01");
        sim().execute("mcc frame 45 02");
        run_for(5);
        EXPECT_EQ("ready; rx 01", sink.log);
        EXPECT_EQ(HalModel::Output::disabled, hal().output(45).kind);
        EXPECT_TRUE(!h || !channel->is_open());
    }
}

TEST_F(HdlcTest, AFailedDescriptorEndsTheChannelWithOneError)
{
    int ends[2];
    ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends));
    ::close(ends[1]);
    const int dir = ::open("/", O_RDONLY | O_DIRECTORY);
    for (auto [fd, log] : {std::pair<int, const char*>{dir, "hdlc [1/5]: read error: Is a directory\n"},
                           {ends[0], "hdlc [1/5]: channel lost: POLLHUP\n"}}) {
        SCOPED_TRACE(log);
        Sink sink;
        auto h = open(sink, 1, 46);
        Capture cerr(std::cerr);
        ASSERT_LE(0, ::dup2(fd, h->descriptor()));
        run_for(5);
        run_for(5);
        EXPECT_EQ("ready; error 0", sink.log);
        EXPECT_EQ(log, cerr.text());
        EXPECT_FALSE(h->is_open());
    }
    ::close(ends[0]);
    ::close(dir);
}

} // namespace
