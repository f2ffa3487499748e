// The slot manager, joining and the switch-only kinds as the controller sees
// them. Each step is one command line, "#seq @slot command args" (both
// prefixes optional), with the frames it brings back and the switch requests
// it makes. Frames read "ok #7 @5", "<cause> #7 @5", "@5 transmitter 69",
// "@5 receiver off". A probe kind built from `mcc` parameters
// ("create probe tx rx [linger] [noout] [noin] [prio=N]") logs its hooks.
#include <iomanip>

#include "platform/sim/hal_model.hpp"
#include "slots/join.hpp"
#include "slots/switched/ext.hpp"
#include "slots/switched/map.hpp"
#include "slots/switched/trunk.hpp"
#include "tests/slots/frames.hpp"
#include "tests/slots/media_fixture.hpp"

struct SlotTestAccess {
    static void number(Slot& slot, unsigned n) { slot.mId = n; }
};

namespace
{

using ctltest::Capture;

std::string gHooks; // what the probes were asked

// clang-format off
struct Probe : Slot {
    int tx = -1, rx = -1, priority = 0;
    bool out = true, in = true, linger = false;
    void note(const char* what) { gHooks += (gHooks.empty() ? "" : ", ") + std::to_string(GetId()) + what; }
    ~Probe() override { note(" deleted"); }
    bool IBeforeDestroy() override { return !linger; }
    int GetConnectionPriority() override { return priority; }
    bool IHwConnectTransmitter(Slot& r) override { return note(" tx.join"), Slot::IHwConnectTransmitter(r); }
    bool IHwConnectReceiver(Slot& t) override { return note(" rx.join"), Slot::IHwConnectReceiver(t); }
    bool IHwDisconnectTransmitter(Slot& r) override { return note(" tx.detach"), Slot::IHwDisconnectTransmitter(r); }
    bool IOnOutputStream() override { return out; }
    bool IOnInputStream() override { return in; }
    void IOnOutputRelease() override { note(" out.release"); }
    int IGetTransmitChannel() override { return tx; }
    int IGetReceiveChannel() override { return rx; }
    char const* GetName() const override { return "probe"; }
};

struct ProbeFactory : SlotFactory {
    Probe* next = nullptr;
    int trunk_status = -1;
    char const* GetName() const override { return "Probe"; }
    Slot* INewSlot(LGCP::CreateParams const& p) override { return p.mcc_isSelected() ? next : nullptr; }
    void Query(LGCP::Resources&) override {}
    void SelfSignal(LGCP::Signal const& s) override { trunk_status = s.get_trunkStatus().get_trunk().getValue(); }
};

// clang-format on

using mediatest::board;

struct Step {
    const char *command, *frames;
    const char* requests = ""; // of "/dev/hal", without the journal prefix
};

class SlotsTest : public mediatest::MediaSlots
{
protected:
    void SetUp() override
    {
        MediaSlots::SetUp();
        Slots::pause = [] { ++pauses; };
        pauses = 0;
        MapFactory::instance(), ExtFactory::instance();
        hal();
        gHooks.clear();
    }

    LGCP::Message parse(const std::string& line)
    {
        std::istringstream in(line);
        LGCP::Message m;
        std::string w, kind;
        while (in >> w && (w[0] == '#' || w[0] == '@'))
            w[0] == '#' ? m.set_seq(std::stoi(w.substr(1))) : m.set_slot(unsigned(std::stoi(w.substr(1))));
        LGCP::Command& c = m.set_pdu().select_command();
        int a = -1, b = -1;
        if (w == "create")
            in >> kind >> a >> b;
        if (w == "connect")
            in >> a, c.select_connect(unsigned(a));
        else if (w == "disconnect" || w == "destroy" || w == "deactivate" || w == "query")
            w == "disconnect"   ? c.select_disconnect()
            : w == "destroy"    ? c.select_destroy()
            : w == "deactivate" ? c.select_deactivate()
                                : c.select_query();
        else if (w == "activate")
            c.select_activate().select_empty();
        else if (w == "userData")
            c.select_userData(std::vector<char>{'x'});
        else if (w == "ioctl")
            c.select_ioctl().select_deactivateRecord();
        else if (kind == "trunk" || kind == "bri")
            (kind == "trunk" ? c.select_create().select_trunk() : c.select_create().select_trunk_bri())
                .set_trunk(unsigned(a)),
                (kind == "trunk" ? c.ref_create().ref_trunk() : c.ref_create().ref_trunk_bri())
                    .set_timeslot(unsigned(b));
        else if (kind == "ext")
            c.select_create().select_ext().set_transmitter(a), c.ref_create().ref_ext().set_receiver(b);
        else if (kind == "map") {
            LGCP::MapParams& p = c.select_create().select_map(); // channels as 128 * bus + channel
            if (a >= 0)
                p.set_transmitter().set_bus(unsigned(a / 128)),
                    p.ref_transmitter().set_channel(unsigned(a % 128));
            if (b >= 0)
                p.set_receiver().set_bus(unsigned(b / 128)), p.ref_receiver().set_channel(unsigned(b % 128));
        } else if (kind == "probe") {
            c.select_create().select_mcc();
            factory.next = new Probe;
            factory.next->tx = a, factory.next->rx = b;
            for (std::string flag; in >> flag;) {
                factory.next->linger |= flag == "linger";
                factory.next->out &= flag != "noout";
                factory.next->in &= flag != "noin";
                if (flag.compare(0, 5, "prio=") == 0)
                    factory.next->priority = std::stoi(flag.substr(5));
            }
        }
        return m;
    }
    std::string run(const std::string& line)
    {
        if (line[0] == '!') // a command to the simulated board
            return board().execute(line.substr(1)) == "ok\n" ? "" : "board refused";
        server.OnMessage(parse(line));
        if (factory.next && !factory.next->GetSlotFactory())
            delete factory.next; // not taken: no slot was built from it
        factory.next = nullptr;
        return frames();
    }
    std::string frames() { return slotstest::frames(ctltest::read_now(pair.client)); }
    static std::string hal() { return requests("/dev/hal"); }
    void script(std::initializer_list<Step> steps)
    {
        for (const Step& st : steps) {
            SCOPED_TRACE(st.command);
            EXPECT_EQ(st.frames, run(st.command));
            EXPECT_EQ(st.requests, hal());
        }
    }
    Slot* at(unsigned n) { return Slots::instance().GetSlotAt(n); }
    static unsigned disables(int ch) { return board().model<platform::sim::HalModel>()->disables(ch); }

    static ProbeFactory factory;
    static int pauses;
};

ProbeFactory SlotsTest::factory;
int SlotsTest::pauses = 0;

TEST_F(SlotsTest, IdentificationText)
{
    // clang-format off
    const std::pair<unsigned, const char*> cases[] = {{0, "00"}, {7, "07"}, {99, "99"}, {100, "100"},
                                                      {1023, "1023"}, {1024, "i1024"}, {Slot::kUnassigned, "na"}};
    // clang-format on
    for (const auto& c : cases) {
        Probe p;
        SlotTestAccess::number(p, c.first);
        std::ostringstream os;
        os << p << '|' << std::setw(3) << 5;
        EXPECT_EQ(std::string(c.second) + ":probe|  5", os.str()) << "the fill is a blank again";
        p.linger = true; // no hook lines from the destructor check
    }
}

// Every slot command on slot 9 in each state: missing, a live trunk slot, a
// live slot whose release would wait, one whose destroy answer is pending,
// one whose release a create started. Slot 8 is a live trunk slot. A
// releasing slot refuses only joins and a second create or destroy.
TEST_F(SlotsTest, ErrorCauses)
{
    const char* const prepare[] = {"", "@9 create trunk 0 9", "@9 create probe 90 91 linger",
                                   "@9 create probe 90 91 linger;#50 @9 destroy",
                                   "@9 create probe 90 91 linger;#51 @9 create probe 1 1"};
    const char* const dip9 = "destroyInProgress #60 @9";
    const char* const unsup9 = "unsupported #60 @9";
    const std::vector<std::vector<std::string>> cases = {
        {"#60 @9 connect 8", "slotNotExists #60 @9", "ok #60 @9", "@9 transmitter 90 | ok #60 @9", dip9,
         dip9},
        {"#60 @8 connect 9", "slotNotExists #60 @8", "ok #60 @8", "@9 receiver 91 | ok #60 @8",
         "destroyInProgress #60 @8", "destroyInProgress #60 @8"},
        {"#60 @9 disconnect", "slotNotExists #60 @9", "ok #60 @9", "ok #60 @9", "ok #60 @9", "ok #60 @9"},
        {"#60 @9 create bri 1 3", "ok #60 @9 | @9 transmitter 7 | @9 receiver 7",
         "ok #60 @9 | @9 transmitter 7 | @9 receiver 7", "slotIdBusy #60 @9", dip9, dip9},
        {"#60 @9 destroy", "slotNotExists #60 @9", "ok #60 @9", "", dip9, dip9},
        {"#60 @9 activate", "slotNotExists #60 @9", unsup9, unsup9, unsup9, unsup9},
        {"#60 @9 deactivate", "slotNotExists #60 @9", unsup9, unsup9, unsup9, unsup9},
        {"#60 @9 userData", "slotNotExists #60 @9", unsup9, unsup9, unsup9, unsup9},
        {"#60 @9 ioctl", "slotNotExists #60 @9", unsup9, unsup9, unsup9, unsup9},
    };
    for (const auto& c : cases) {
        for (int state = 0; state < 5; ++state) {
            SCOPED_TRACE(c[0] + " in state " + std::to_string(state));
            run("@8 create trunk 0 8");
            std::istringstream steps(prepare[state]);
            for (std::string step; std::getline(steps, step, ';');)
                run(step);
            EXPECT_EQ(c[1 + std::size_t(state)], run(c[0]));
            Slots::instance().OnDisconnect();
            EXPECT_EQ("", frames());
        }
    }
}

// The streams a join starts are reported before its answer; a target moved
// to a new source loses its old link first; on equal priorities the target
// joins and the source detaches, else the higher side does both.
TEST_F(SlotsTest, Joins)
{
    Capture cerr(std::cerr);
    script({
        {"@1 create probe 3 -1", "ok @1"},
        {"@2 create probe -1 6", "ok @2"},
        {"@3 create probe 9 -1 prio=2", "ok @3"},
        {"#4 @1 connect 2", "@1 transmitter 3 | @2 receiver 6 | ok #4 @1", "connect dst=6 src=3 -> 0"},
        {"#5 @1 connect 2", "ok #5 @1"},
        {"#6 @3 connect 2", "@3 transmitter 9 | ok #6 @3",
         "write ch=6 byte=0xD5 -> 0 | connect dst=6 src=9 -> 0"},
        {"#7 @2 disconnect", "ok #7 @2", "write ch=6 byte=0xD5 -> 0"},
        {"!fail /dev/hal connect EIO 1", ""},
        {"#8 @1 connect 2", "connectFail #8 @1", "connect dst=6 src=3 -> -1 EIO"},
        {"!fail /dev/hal write EIO 1", ""},
        {"#9 @3 connect 2", "ok #9 @3", "connect dst=6 src=9 -> 0"},
        {"#10 @2 disconnect", "disconnectFail #10 @2", "write ch=6 byte=0xD5 -> -1 EIO"},
        {"#11 @2 disconnect", "ok #11 @2"},
        {"@1 create probe -1 -1 noout", "ok @1"},
        {"#12 @1 connect 2", "connectFail #12 @1"},
    });
    EXPECT_EQ("2 rx.join, 1 tx.detach, 3 tx.join, 1 out.release, 3 tx.detach, 3 out.release, 2 rx.join, "
              "1 out.release, 3 tx.join, 3 tx.detach, 3 out.release, 1 deleted",
              gHooks);
    EXPECT_EQ("slot 01:probe don't have output stream to 02:probe\n", cerr.text());
}

// A destroy the slot cannot finish at once is answered when it has: with the
// destroy's own seq, or with none when it had none.
TEST_F(SlotsTest, DeferredDestroy)
{
    for (const char* seq : {"#21 ", ""}) {
        script({{"#20 @9 create probe 90 -1 linger", "ok #20 @9"},
                {std::string(seq).append("@9 destroy").c_str(), ""},
                {"#30 @9 destroy", "destroyInProgress #30 @9"},
                {"@8 create trunk 0 8", "ok @8 | @8 transmitter 8 | @8 receiver 8"}});
        // Joined behind the manager's back: the slot must still not be deleted joined.
        ASSERT_TRUE(Connect(*at(9), *at(8)));
        hal(), frames();
        gHooks.clear();
        at(9)->on_release();
        EXPECT_EQ(std::string("ok ").append(seq).append("@9"), frames());
        EXPECT_EQ("write ch=8 byte=0xD5 -> 0", hal());
        EXPECT_EQ(nullptr, at(8)->GetSource());
        EXPECT_EQ("9 tx.detach, 9 out.release, 9 deleted", gHooks);
        EXPECT_EQ(nullptr, at(9));
        EXPECT_TRUE(factory.GetSlots().empty());
    }
}

// Live, pending and releasing slots joined among themselves all go, the
// joins released in the switch, with one pause and no answer.
TEST_F(SlotsTest, ControllerLoss)
{
    script({{"@1 create trunk 0 1", "ok @1 | @1 transmitter 1 | @1 receiver 1"},
            {"@2 create trunk 2 2", "ok @2 | @2 transmitter 66 | @2 receiver 66"},
            {"@3 create probe 30 31 linger", "ok @3"},
            {"@4 create probe -1 -1 linger", "ok @4"},
            {"@4 create trunk 0 4", "slotIdBusy @4"},
            {"@3 connect 1", "@3 transmitter 30 | ok @3", "connect dst=1 src=30 -> 0"},
            {"@3 destroy", "", "write ch=1 byte=0xD5 -> 0"},
            {"@1 connect 2", "ok @1", "connect dst=66 src=1 -> 0"}});
    gHooks.clear();
    Slots::instance().OnDisconnect();
    EXPECT_EQ("", frames());
    EXPECT_EQ("write ch=66 byte=0xD5 -> 0", hal());
    EXPECT_EQ("3 deleted, 4 deleted", gHooks);
    EXPECT_TRUE(Slots::instance().GetLive().empty());
    for (unsigned n = 0; n < Slots::kTableSize; ++n)
        ASSERT_EQ(nullptr, at(n)) << n;
    EXPECT_TRUE(factory.GetSlots().empty() && trunk0.GetSlots().empty());
    EXPECT_EQ(nullptr, trunk2.GetTimeSlotOwner(2));
    Slots::instance().OnDisconnect();
    EXPECT_EQ(2, pauses) << "the pause comes also without slots";
    script({{"@1 create trunk 0 1", "ok @1 | @1 transmitter 1 | @1 receiver 1"}});
}

// A create for a held timeslot or shared channel destroys the old slot
// without a word to the controller; a map slot on one channel both ways
// does not meet itself.
TEST_F(SlotsTest, TrunkBriAndMapSlots)
{
    Capture cerr(std::cerr), clog(std::clog);
    script({{"@1 create trunk 2 5", "ok @1 | @1 transmitter 69 | @1 receiver 69"},
            {"@2 create bri 7 3", "ok @2 | @2 transmitter 31 | @2 receiver 31"},
            {"@3 create trunk 4 0", "insufficientResources @3"},
            {"@3 create bri 0 4", "insufficientResources @3"},
            {"@3 create trunk 2 5", "ok @3 | @3 transmitter 69 | @3 receiver 69"},
            {"@4 create bri 7 3", "ok @4 | @4 transmitter 31 | @4 receiver 31"},
            {"@1 destroy", "slotNotExists @1"},
            {"@5 create map -1 389", "ok @5 | @5 receiver 8581"},
            {"@5 connect 3", "connectFail @5"},
            {"@3 connect 5", "ok @3", "connect dst=8581 src=69 -> 0"},
            {"@6 create map 389 7", "ok @6 | @6 receiver 8199 | @6 transmitter 8581",
             "write ch=8581 byte=0xD5 -> 0 | disable ch=8581 -> 0"},
            {"@7 create map 132 132", "ok @7 | @7 receiver 8324 | @7 transmitter 8324"}});
    EXPECT_EQ(2, trunk2.GetTimeSlotOwner(5)->GetTrunk());
    EXPECT_EQ(3, trunk_bri7.GetTimeSlotOwner(3)->GetTrunkTimeSlot());
    EXPECT_EQ(
        "trunk-slot: two slots require the same timeslot, remove old.\n old slot 01:trunk\n"
        "trunk-slot: two slots require the same timeslot, remove old.\n old slot 02:trunkBRI\n"
        "slot 05:map don't have output stream to 03:trunk\n"
        "map-slot: two slots require the same ipc-slot, remove old.\nnew slot na:map <-> old slot 05:map\n",
        cerr.text());
    EXPECT_EQ(nullptr, at(5));
    EXPECT_TRUE(at(3)->GetOutputs().empty()) << "the old join went with the slot";
    cerr.clear();
    const unsigned rx = disables(8324);
    script({{"@7 destroy", "ok @7"}, {"@6 destroy", "ok @6"}});
    EXPECT_EQ(1u, disables(8324) - rx) << "receive side only, once";
    EXPECT_EQ("", cerr.text()) << "no table inconsistency";
    for (unsigned ch : {7u, 132u, 389u})
        EXPECT_EQ(nullptr, MapFactory::instance().GetOwner(ch));
}

// The receive side of an extension slot is switched by activate and
// deactivate; while it is off nothing can join it.
TEST_F(SlotsTest, ExtensionSlot)
{
    Capture cerr(std::cerr);
    const unsigned disabled = disables(8198);
    script(
        {{"@2 create trunk 0 2", "ok @2 | @2 transmitter 2 | @2 receiver 2"},
         {"@5 create ext 5 6", "ok @5 | @5 transmitter 8197"},
         {"@2 connect 5", "connectFail @2"},
         {"@5 activate", "@5 receiver 8198 | ok @5", "write ch=8198 byte=0xD5 -> 0"},
         {"@2 connect 5", "ok @2", "connect dst=8198 src=2 -> 0"},
         {"@5 activate", "ok @5", "write ch=8198 byte=0xD5 -> 0"},
         {"@5 deactivate", "@5 receiver off | ok @5", "write ch=8198 byte=0xD5 -> 0 | disable ch=8198 -> 0"},
         {"@5 deactivate", "ok @5"},
         {"@2 connect 5", "connectFail @2"},
         {"@5 userData", "unsupported @5"},
         {"@5 destroy", "ok @5"}});
    EXPECT_EQ(3u, disables(8198) - disabled) << "deactivate twice and destroy";
    EXPECT_EQ("slot 05:bri don't have input stream from 02:trunk\nslot 05:bri don't have input stream from "
              "02:trunk\n",
              cerr.text());
}

TEST_F(SlotsTest, TrunkStatusReachesEveryFactory)
{
    LGCP::Signal s;
    s.select_trunkStatus().set_trunk(3);
    Slots::instance().OnSignal(s);
    EXPECT_EQ(3, factory.trunk_status);
}

} // namespace
