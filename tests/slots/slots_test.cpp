// The slot manager as the controller sees it: every answer of every slot
// command in every state of the slot it names, the order of answers and
// signals, the deferred destroy answer, the resource report, trunk status and
// the loss of the controller.
#include <iostream>

#include "slots/join.hpp"
#include "slots/trunk.hpp"
#include "tests/slots/rig.hpp"

namespace slottest
{
namespace
{

using ctltest::Capture;

class Manager : public Rig
{
protected:
    // Puts slot 9 into a state; slot 8 is a live trunk slot (channel 8).
    void prepare(int state)
    {
        EXPECT_EQ("ok @8 | @8 transmitter 8 | @8 receiver 8", send(-1, 8, create(trunk(0, 8))));
        const ProbeSpec lingering = ProbeSpec(90, 91).linger();
        switch (state) {
        case kMissing:
            break;
        case kLive:
            EXPECT_EQ("ok @9 | @9 transmitter 9 | @9 receiver 9", send(-1, 9, create(trunk(0, 9))));
            break;
        case kBusy:
            make_probe(9, lingering);
            break;
        case kPending:
            make_probe(9, lingering);
            EXPECT_EQ("", send(50, 9, command(LGCP::Command::destroy::value)));
            break;
        case kReleasing:
            make_probe(9, lingering);
            EXPECT_EQ("slotIdBusy #51 @9", send(51, 9, create(probe())));
            break;
        }
    }
    enum { kMissing, kLive, kBusy, kPending, kReleasing, kStates };
};

// Slot 9 in each state: missing, a live trunk slot, a live slot whose release
// would be deferred, a slot whose destroy answer is pending, and one whose
// release was started by a create on its number.
TEST_F(Manager, EveryCommandInEveryState)
{
    struct Case {
        const char* what;
        int slot;
        LGCP::Command command;
        const char* answers[kStates];
    };
    const int kDestroy = LGCP::Command::destroy::value;
    const Case cases[] = {
        {"connect 9 to 8",
         9,
         connect(8),
         {"slotNotExists #60 @9", "ok #60 @9", "@9 transmitter 90 | ok #60 @9", "destroyInProgress #60 @9",
          "destroyInProgress #60 @9"}},
        {"connect 8 to 9",
         8,
         connect(9),
         {"slotNotExists #60 @8", "ok #60 @8", "@9 receiver 91 | ok #60 @8", "destroyInProgress #60 @8",
          "destroyInProgress #60 @8"}},
        {"disconnect",
         9,
         command(LGCP::Command::disconnect::value),
         {"slotNotExists #60 @9", "ok #60 @9", "ok #60 @9", "destroyInProgress #60 @9",
          "destroyInProgress #60 @9"}},
        {"create",
         9,
         create(trunk(1, 3)),
         {"ok #60 @9 | @9 transmitter 35 | @9 receiver 35", "ok #60 @9 | @9 transmitter 35 | @9 receiver 35",
          "slotIdBusy #60 @9", "destroyInProgress #60 @9", "destroyInProgress #60 @9"}},
        {"destroy",
         9,
         command(kDestroy),
         {"slotNotExists #60 @9", "ok #60 @9", "", "destroyInProgress #60 @9", "destroyInProgress #60 @9"}},
        {"activate",
         9,
         command(LGCP::Command::activate::value),
         {"slotNotExists #60 @9", "unsupported #60 @9", "unsupported #60 @9", "destroyInProgress #60 @9",
          "destroyInProgress #60 @9"}},
        {"deactivate",
         9,
         command(LGCP::Command::deactivate::value),
         {"slotNotExists #60 @9", "unsupported #60 @9", "unsupported #60 @9", "destroyInProgress #60 @9",
          "destroyInProgress #60 @9"}},
        {"userData",
         9,
         command(LGCP::Command::userData::value),
         {"slotNotExists #60 @9", "unsupported #60 @9", "unsupported #60 @9", "destroyInProgress #60 @9",
          "destroyInProgress #60 @9"}},
        {"ioctl",
         9,
         command(LGCP::Command::ioctl::value),
         {"slotNotExists #60 @9", "unsupported #60 @9", "unsupported #60 @9", "destroyInProgress #60 @9",
          "destroyInProgress #60 @9"}},
    };
    const char* const states[] = {"missing", "live", "busy", "pending", "releasing"};
    for (const Case& c : cases) {
        for (int state = 0; state < kStates; ++state) {
            SCOPED_TRACE(std::string(c.what) + " on a " + states[state] + " slot");
            prepare(state);
            Capture cerr(std::cerr), clog(std::clog);
            EXPECT_EQ(c.answers[state], send(60, c.slot, c.command));
            Slots::instance().OnDisconnect();
            EXPECT_EQ("", frames());
        }
    }
}

TEST_F(Manager, CommandsOutsideTheSlotModelAreLeftToOtherServices)
{
    struct Case {
        int slot;
        LGCP::Command command;
    };
    const Case cases[] = {
        {-1, create(trunk(0, 1))},
        {-1, connect(3)},
        {-1, command(LGCP::Command::destroy::value)},
        {-1, command(LGCP::Command::ioctl::value)},
        {4, command(LGCP::Command::query::value)},
        {4, command(LGCP::Command::ping::value)},
    };
    for (const Case& c : cases)
        EXPECT_EQ("unexpectedMsgType #3" + std::string(c.slot < 0 ? "" : " @4"), send(3, c.slot, c.command));
}

TEST_F(Manager, RefusedJoinsAndDetachesHaveTheirOwnCauses)
{
    Capture clog(std::clog), cerr(std::cerr);
    make_probe(1, ProbeSpec(-1, 11));
    send(-1, 2, create(trunk(0, 2)));
    EXPECT_EQ("@1 transmitter -1 | connectFail #5 @1", send(5, 1, connect(2)))
        << "a source without a channel";
    ASSERT_EQ("@1 receiver 11 | ok #6 @2", send(6, 2, connect(1)));
    board().execute("fail /dev/hal write EIO 1");
    EXPECT_EQ("disconnectFail #7 @1", send(7, 1, command(LGCP::Command::disconnect::value)));
    EXPECT_EQ(nullptr, at(1)->GetSource()) << "detached all the same";
}

// The controller hears of a slot's streams after the answer to its create,
// and of the streams a join starts before the answer to the connect.
TEST_F(Manager, SignalOrder)
{
    Capture clog(std::clog);
    EXPECT_EQ("ok #1 @3 | @3 transmitter 3 | @3 receiver 3", send(1, 3, create(trunk(0, 3))));
    ProbeFactory::instance().next = ProbeSpec(70, 71);
    EXPECT_EQ("ok #2 @7", send(2, 7, create(probe())));
    EXPECT_EQ("@7 transmitter 70 | ok #3 @7", send(3, 7, connect(3)));
    EXPECT_EQ("@7 receiver 71 | ok #4 @3", send(4, 3, connect(7)));
}

TEST_F(Manager, CreateOnATakenNumberReplacesItsSlotWithOneAnswer)
{
    Capture clog(std::clog);
    send(1, 3, create(trunk(0, 3)));
    send(2, 4, create(trunk(0, 4)));
    ASSERT_EQ("ok #3 @3", send(3, 3, connect(4)));
    hal();
    EXPECT_EQ("ok #4 @3 | @3 transmitter 45 | @3 receiver 45", send(4, 3, create(trunk(1, 13))));
    EXPECT_EQ("write ch=4 byte=0xD5 -> 0", hal()) << "the old slot's join released";
    EXPECT_EQ(nullptr, trunk0.GetTimeSlotOwner(3));
    EXPECT_EQ(nullptr, at(4)->GetSource());
}

// A destroy that the slot cannot finish at once is answered when it has
// finished, with the destroy's own seq, or with none when it had none.
TEST_F(Manager, DeferredDestroyAnswersWithItsOwnSeq)
{
    struct Case {
        int seq;
        const char* answer;
    };
    const Case cases[] = {{21, "ok #21 @9"}, {-1, "ok @9"}};
    for (const Case& c : cases) {
        Probe* s = make_probe(9, ProbeSpec().linger());
        EXPECT_EQ("", send(c.seq, 9, command(LGCP::Command::destroy::value)));
        EXPECT_EQ("destroyInProgress #30 @9", send(30, 9, command(LGCP::Command::destroy::value)));
        EXPECT_EQ(s, at(9));
        EXPECT_TRUE(s->is_releasing());
        ProbeFactory::instance().log.clear();
        s->on_release();
        EXPECT_EQ(c.answer, frames());
        EXPECT_EQ("09:probe deleted", ProbeFactory::instance().log);
        EXPECT_EQ(nullptr, at(9));
        EXPECT_TRUE(ProbeFactory::instance().GetSlots().empty());
    }
}

TEST_F(Manager, QueryAnswersThenReports)
{
    EXPECT_EQ("ok #8 | query", send(8, -1, command(LGCP::Command::query::value)));
    Capture clog(std::clog);
    Slots::instance().UpdateHardwareResources();
    EXPECT_EQ("query", frames());
}

TEST_F(Manager, TrunkStatusReachesEveryFactory)
{
    LGCP::Signal s;
    s.select_trunkStatus().set_trunk(3);
    Slots::instance().OnSignal(s);
    EXPECT_EQ(3, ProbeFactory::instance().trunk_status);
    LGCP::Signal other;
    other.select_abort(1);
    ProbeFactory::instance().trunk_status = 0;
    Slots::instance().OnSignal(other);
    EXPECT_EQ(0, ProbeFactory::instance().trunk_status);
}

// Live, pending and releasing slots, joined among themselves: all go, the
// pause comes once, no answer is sent, and nothing is left anywhere.
TEST_F(Manager, ControllerLossLeavesNothing)
{
    Capture clog(std::clog), cerr(std::cerr);
    send(1, 1, create(trunk(0, 1)));
    send(2, 2, create(trunk(2, 2)));
    Probe* pending = make_probe(3, ProbeSpec(30, 31).linger());
    make_probe(4, ProbeSpec(40, 41).linger());
    ASSERT_EQ("slotIdBusy #5 @4", send(5, 4, create(probe())));
    ASSERT_EQ("@3 transmitter 30 | ok #6 @3", send(6, 3, connect(1)));
    ASSERT_EQ("@3 receiver 31 | ok #7 @1", send(7, 1, connect(3)));
    ASSERT_EQ("ok #8 @2", send(8, 2, connect(3)));
    ASSERT_EQ("", send(9, 3, command(LGCP::Command::destroy::value)));
    EXPECT_EQ(nullptr, pending->GetSource()) << "a destroy detaches at once";
    ASSERT_EQ("ok #10 @1", send(10, 1, connect(2)));
    hal();
    ProbeFactory::instance().log.clear();

    Slots::instance().OnDisconnect();
    EXPECT_EQ(1, pauses);
    EXPECT_EQ("", frames());
    EXPECT_TRUE(Slots::instance().GetLive().empty());
    for (unsigned n = 0; n < Slots::kTableSize; ++n)
        ASSERT_EQ(nullptr, at(n)) << n;
    EXPECT_EQ("03:probe deleted, 04:probe deleted", ProbeFactory::instance().log);
    EXPECT_TRUE(ProbeFactory::instance().GetSlots().empty());
    EXPECT_TRUE(trunk0.GetSlots().empty());
    EXPECT_EQ(nullptr, trunk2.GetTimeSlotOwner(2));
    EXPECT_EQ("write ch=66 byte=0xD5 -> 0", hal()) << "the join of 1 to 2 released";

    // A new controller starts from an empty table: the numbers are free.
    EXPECT_EQ("ok #11 @3 | @3 transmitter 1 | @3 receiver 1", send(11, 3, create(trunk(0, 1))));
    Slots::instance().OnDisconnect();
    Slots::instance().OnDisconnect();
    EXPECT_EQ(3, pauses) << "the pause comes also without slots";
}

} // namespace
} // namespace slottest
