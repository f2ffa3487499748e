// The slot model and joining: identification texts, stream flags and their
// signals, the join and detach rules with their hooks, switch requests and
// refusal lines.
#include <iomanip>
#include <iostream>
#include <sstream>

#include "slots/join.hpp"
#include "tests/slots/rig.hpp"

namespace slottest
{
namespace
{

using ctltest::Capture;

class SlotModel : public Rig
{
};

TEST_F(SlotModel, IdentificationTextPadsToTwoDigitsAndResetsTheFill)
{
    struct Case {
        unsigned number;
        const char* text;
    };
    const Case cases[] = {
        {0, "00:probe"},
        {7, "07:probe"},
        {99, "99:probe"},
        {100, "100:probe"},
        {1023, "1023:probe"},
        {1024, "i1024:probe"},
        {Slot::kUnassigned, "na:probe"},
    };
    std::string log;
    Probe slot(ProbeSpec(), &log);
    for (const Case& c : cases) {
        SlotTestAccess::number(slot, c.number);
        std::ostringstream os;
        os << slot << '|' << std::setw(3) << 5;
        EXPECT_EQ(std::string(c.text) + "|  5", os.str());
    }
}

// Each flag change sends one signal with the channel; a repeated value none.
TEST_F(SlotModel, StreamFlagsSendOneSignalPerChange)
{
    Probe* s = make_probe(4, ProbeSpec(40, 41));
    struct Step {
        bool input;
        bool active;
        const char* frames;
    };
    const Step steps[] = {
        {true, true, "@4 receiver 41"},       {true, true, ""},
        {false, true, "@4 transmitter 40"},   {false, true, ""},
        {true, false, "@4 receiver off"},     {true, false, ""},
        {false, false, "@4 transmitter off"}, {false, false, ""},
    };
    for (const Step& st : steps) {
        st.input ? s->OnChangeInputStream(st.active) : s->OnChangeOutputStream(st.active);
        EXPECT_EQ(st.frames, frames()) << st.input << st.active;
    }
    s->OnDeactivated();
    EXPECT_EQ("@4 deactivated 0", frames()) << "always networkError";
}

TEST_F(SlotModel, EndingAStreamDetachesItsJoins)
{
    Probe* a = make_probe(1, ProbeSpec(10, 11));
    Probe* b = make_probe(2, ProbeSpec(20, 21));
    Probe* c = make_probe(3, ProbeSpec(30, 31));
    Probe* d = make_probe(5, ProbeSpec(50, 51));
    for (Probe* t : {b, c, d})
        ASSERT_TRUE(Connect(*a, *t));
    frames();
    hal();
    a->OnChangeOutputStream(false);
    EXPECT_EQ("@1 transmitter off", frames());
    EXPECT_TRUE(a->GetOutputs().empty());
    for (Probe* t : {b, c, d})
        EXPECT_EQ(nullptr, t->GetSource());
    const std::string detaches = hal();
    for (const char* ch : {"ch=21 ", "ch=31 ", "ch=51 "})
        EXPECT_NE(std::string::npos, detaches.find(std::string("write ") + ch)) << detaches;
    ASSERT_TRUE(Connect(*a, *b));
    frames();
    b->OnChangeInputStream(false);
    EXPECT_EQ("@2 receiver off", frames());
    EXPECT_EQ(nullptr, b->GetSource());
}

TEST_F(SlotModel, ReleaseOnlyActsOnAReleasingSlot)
{
    Probe* s = make_probe(6);
    s->on_release();
    EXPECT_EQ(s, at(6));
    EXPECT_EQ("", frames());
}

// One join after another on fresh probes: the hooks they call, the signals
// and the switch requests.
TEST_F(SlotModel, JoinRules)
{
    struct Case {
        const char* what;
        ProbeSpec source, target;
        const char* fail; // a switch request made to fail, or null
        bool joined;
        const char* hooks; // what the slots were asked, in order
        const char* signals;
        const char* requests;
        const char* error; // the line on the error stream
        const char* progress;
    };
    const ProbeSpec plain(3, 4);
    const Case cases[] = {
        {"equal priorities: the target joins", plain, ProbeSpec(5, 6), nullptr, true,
         "01:probe out.start, 02:probe in.start, 02:probe rx.connect", "@1 transmitter 3 | @2 receiver 6",
         "connect dst=6 src=3 -> 0", "", "mux: slot 01:probe [3] -> 02:probe [6]\n"},
        {"source without a transmitter", ProbeSpec(3, -1).no_out(), ProbeSpec(-1, 6), nullptr, false,
         "01:probe out.start", "", "", "slot 01:probe don't have output stream to 02:probe\n", ""},
        {"target without a receiver", plain, ProbeSpec(-1, 6).no_in(), nullptr, false,
         "01:probe out.start, 02:probe in.start", "@1 transmitter 3", "",
         "slot 02:probe don't have input stream from 01:probe\n", ""},
        {"no channel", ProbeSpec(-1, -1), ProbeSpec(-1, 6), nullptr, false,
         "01:probe out.start, 02:probe in.start, 02:probe rx.connect, 02:probe in.release, 01:probe "
         "out.release",
         "@1 transmitter -1 | @2 receiver 6", "", "", "hwMux: ERROR not opened\n"},
        {"switch refuses", plain, ProbeSpec(-1, 6), "connect", false,
         "01:probe out.start, 02:probe in.start, 02:probe rx.connect, 02:probe in.release, 01:probe "
         "out.release",
         "@1 transmitter 3 | @2 receiver 6", "connect dst=6 src=3 -> -1 EIO", "",
         "hwMux: connect 3 -> 6 failed: Input/output error\n"},
        {"higher source priority joins", ProbeSpec(3, -1).prio(2), ProbeSpec(-1, 6).prio(1), nullptr, true,
         "01:probe out.start, 02:probe in.start, 01:probe tx.connect", "@1 transmitter 3 | @2 receiver 6",
         "connect dst=6 src=3 -> 0", "", "mux: slot 01:probe [3] -> 02:probe [6]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Probe* s = make_probe(1, c.source);
        Probe* t = make_probe(2, c.target);
        frames();
        hal();
        ProbeFactory::instance().log.clear();
        if (c.fail)
            board().execute(std::string("fail /dev/hal ") + c.fail + " EIO 1");
        Capture cerr(std::cerr), clog(std::clog);
        EXPECT_EQ(c.joined, Connect(*s, *t));
        EXPECT_EQ(c.hooks, ProbeFactory::instance().log);
        EXPECT_EQ(c.signals, frames());
        EXPECT_EQ(c.requests, hal());
        EXPECT_EQ(c.error, cerr.text());
        EXPECT_EQ(c.joined ? s : nullptr, t->GetSource());
        EXPECT_EQ(c.progress, clog.text());
        Slots::instance().OnDisconnect();
    }
}

// Detaching, by priority: the hooks and requests of Disconnect.
TEST_F(SlotModel, DetachRules)
{
    struct Case {
        int source_priority, target_priority;
        const char* fail;
        bool done;
        const char* hooks;
        const char* requests;
    };
    const Case cases[] = {
        {5, 5, nullptr, true, "01:probe tx.disconnect, 02:probe in.release, 01:probe out.release",
         "write ch=6 byte=0xD5 -> 0"},
        {1, 2, nullptr, true, "02:probe rx.disconnect, 02:probe in.release, 01:probe out.release",
         "write ch=6 byte=0xD5 -> 0"},
        {0, 0, "write", false, "01:probe tx.disconnect, 02:probe in.release, 01:probe out.release",
         "write ch=6 byte=0xD5 -> -1 EIO"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.source_priority << "/" << c.target_priority);
        Probe* s = make_probe(1, ProbeSpec(3, -1).prio(c.source_priority));
        Probe* t = make_probe(2, ProbeSpec(-1, 6).prio(c.target_priority));
        ASSERT_TRUE(Connect(*s, *t));
        frames();
        hal();
        ProbeFactory::instance().log.clear();
        if (c.fail)
            board().execute(std::string("fail /dev/hal ") + c.fail + " EIO 1");
        Capture cerr(std::cerr), clog(std::clog);
        EXPECT_EQ(c.done, Disconnect(*t));
        EXPECT_EQ(c.hooks, ProbeFactory::instance().log);
        EXPECT_EQ(c.requests, hal());
        EXPECT_EQ(nullptr, t->GetSource()) << "detached even when the switch refused";
        EXPECT_EQ("", frames());
        EXPECT_TRUE(Disconnect(*t)) << "nothing left to detach";
        Slots::instance().OnDisconnect();
    }
}

TEST_F(SlotModel, JoiningTwiceOrToASecondTargetStartsTheTransmitterOnce)
{
    Probe* a = make_probe(1, ProbeSpec(3, -1));
    Probe* b = make_probe(2, ProbeSpec(-1, 6));
    Probe* c = make_probe(5, ProbeSpec(-1, 7));
    frames();
    hal();
    Capture clog(std::clog);
    ASSERT_TRUE(Connect(*a, *b));
    ASSERT_TRUE(Connect(*a, *b));
    ASSERT_TRUE(Connect(*a, *c));
    EXPECT_EQ("@1 transmitter 3 | @2 receiver 6 | @5 receiver 7", frames());
    EXPECT_EQ("connect dst=6 src=3 -> 0 | connect dst=7 src=3 -> 0", hal());
    EXPECT_EQ(2u, a->GetOutputs().size());
}

// A target joined to a new source loses the old hardware link first; the
// old source, left without outputs, releases its transmitter.
TEST_F(SlotModel, RetargetingMovesTheTargetToItsNewSource)
{
    Probe* s1 = make_probe(1, ProbeSpec(3, -1));
    Probe* s2 = make_probe(2, ProbeSpec(-1, 6));
    Probe* s3 = make_probe(3, ProbeSpec(9, -1));
    ASSERT_TRUE(Connect(*s1, *s2));
    frames();
    hal();
    ProbeFactory::instance().log.clear();
    Capture clog(std::clog);
    ASSERT_TRUE(Connect(*s3, *s2));
    EXPECT_EQ("03:probe out.start, 01:probe tx.disconnect, 02:probe rx.connect, 01:probe out.release",
              ProbeFactory::instance().log);
    EXPECT_EQ("@3 transmitter 9", frames()) << "no new receiver signal";
    EXPECT_EQ("write ch=6 byte=0xD5 -> 0 | connect dst=6 src=9 -> 0", hal());
    EXPECT_TRUE(s1->GetOutputs().empty());
    EXPECT_EQ(s3, s2->GetSource());

    // A refused new join leaves the target on its old source, without a link.
    board().execute("fail /dev/hal connect EIO 1");
    Probe* s4 = make_probe(4, ProbeSpec(12, -1));
    frames();
    EXPECT_FALSE(Connect(*s4, *s2));
    EXPECT_EQ(s3, s2->GetSource());
}

} // namespace
} // namespace slottest
