// The switch-only slot kinds through the slot manager: trunk and BRI
// timeslots, map channels with their ownership table, extension channels
// and echo channels.
#include <iostream>

#include "slots/echo.hpp"
#include "slots/ext.hpp"
#include "slots/map.hpp"
#include "slots/trunk.hpp"
#include "tests/slots/rig.hpp"

namespace slottest
{
namespace
{

using ctltest::Capture;

class Kinds : public Rig
{
};

TEST_F(Kinds, TrunkAndBriSlotsAndTheirChannels)
{
    struct Case {
        LGCP::CreateParams params;
        const char* answer;
        int trunk, timeslot;
    };
    const Case cases[] = {
        {trunk(2, 5), "ok @1 | @1 transmitter 69 | @1 receiver 69", 2, 5},
        {trunk(3, 31), "ok @1 | @1 transmitter 127 | @1 receiver 127", 3, 31},
        {bri(3, 2), "ok @1 | @1 transmitter 14 | @1 receiver 14", 3, 2},
        {bri(7, 3), "ok @1 | @1 transmitter 31 | @1 receiver 31", 7, 3},
        {trunk(4, 0), "insufficientResources @1", 0, 0},
        {bri(8, 0), "insufficientResources @1", 0, 0},
        {bri(0, 4), "insufficientResources @1", 0, 0},
        {echo(0, 1), "insufficientResources @1", 0, 0},
        {echo(15, 1), "insufficientResources @1", 0, 0},
        {echo(16, 1), "insufficientResources @1", 0, 0},
        {echo(-1, 1), "insufficientResources @1", 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.answer, send(-1, 1, create(c.params)));
        if (Slot* s = at(1)) {
            EXPECT_EQ(c.trunk, s->GetTrunk());
            EXPECT_EQ(c.timeslot, s->GetTrunkTimeSlot());
        }
        Slots::instance().OnDisconnect();
    }
}

// A create for a held timeslot destroys the old slot without telling the
// controller; the old number is free afterwards.
TEST_F(Kinds, TrunkTimeslotTakeover)
{
    struct Case {
        LGCP::CreateParams params;
        const char* name;
        TrunkFactory* factory;
        unsigned timeslot;
    };
    const Case cases[] = {
        {trunk(1, 0), "trunk", &trunk1, 0},
        {bri(5, 1), "trunkBRI", &trunk_bri5, 1},
    };
    for (const Case& c : cases) {
        Capture clog(std::clog);
        send(1, 3, create(c.params));
        send(2, 5, create(trunk(0, 0)));
        ASSERT_EQ("ok #3 @3", send(3, 3, connect(5)));
        hal();
        Capture cerr(std::cerr);
        const std::string n(c.name), channel = std::to_string(at(3)->GetTransmitChannel());
        const std::string answer = send(4, 4, create(c.params));
        EXPECT_EQ(std::string("ok #4 @4 | @4 transmitter ")
                      .append(channel)
                      .append(" | @4 receiver ")
                      .append(channel),
                  answer);
        EXPECT_EQ("trunk-slot: two slots require the same timeslot, remove old.\n old slot 03:" + n + "\n",
                  cerr.text());
        EXPECT_EQ(nullptr, at(3));
        EXPECT_EQ(at(4), c.factory->GetTimeSlotOwner(c.timeslot));
        EXPECT_EQ("write ch=0 byte=0xD5 -> 0", hal()) << "the old join released";
        EXPECT_EQ("slotNotExists #5 @3", send(5, 3, command(LGCP::Command::destroy::value)));
        Slots::instance().OnDisconnect();
    }
}

TEST_F(Kinds, MapSlotsReportTheirChannels)
{
    struct Case {
        LGCP::CreateParams params;
        const char* answer;
        const char* as_source; // connect to a trunk slot
        const char* as_target; // connect from a trunk slot
    };
    Capture clog(std::clog), cerr(std::cerr);
    const Case cases[] = {
        {map(-1, 3 * 128 + 5), "ok @1 | @1 receiver 8581", "connectFail #2 @1", "ok #3 @2"},
        {map(2 * 128 + 127, -1), "ok @1 | @1 transmitter 8575", "ok #2 @1", "connectFail #3 @2"},
        {map(0, 15 * 128 + 127), "ok @1 | @1 receiver 10239 | @1 transmitter 8192", "ok #2 @1", "ok #3 @2"},
        {map(-1, -1), "ok @1", "connectFail #2 @1", "connectFail #3 @2"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.answer, send(-1, 1, create(c.params)));
        send(-1, 2, create(trunk(0, 2)));
        EXPECT_EQ(c.as_source, send(2, 1, connect(2)));
        EXPECT_EQ(c.as_target, send(3, 2, connect(1)));
        EXPECT_EQ("unsupported #4 @1", send(4, 1, command(LGCP::Command::activate::value)));
        Slots::instance().OnDisconnect();
    }
}

// A newer map slot that claims a channel held by an older one (in either
// direction) destroys the older one, which frees all its channels.
TEST_F(Kinds, MapChannelTakeover)
{
    struct Case {
        LGCP::CreateParams old_params, new_params;
        unsigned disabled; // of the old slot's receive output 8197
    };
    const Case cases[] = {
        {map(-1, 5), map(5, -1), 1},
        {map(5, -1), map(-1, 5), 0},
        {map(7, 5), map(-1, 7), 1},
        {map(7, 5), map(5, 9), 1},
    };
    for (const Case& c : cases) {
        Capture clog(std::clog);
        send(-1, 3, create(c.old_params));
        frames();
        const unsigned before = disables(8197);
        Capture cerr(std::cerr);
        EXPECT_EQ("ok @4", send(-1, 4, create(c.new_params)).substr(0, 5));
        EXPECT_EQ("map-slot: two slots require the same ipc-slot, remove old.\nnew slot na:map <-> old slot "
                  "03:map\n",
                  cerr.text());
        EXPECT_EQ(nullptr, at(3));
        EXPECT_EQ(c.disabled, disables(8197) - before);
        for (unsigned ch : {5u, 7u, 9u}) {
            MapSlot* owner = MapFactory::instance().GetOwner(ch);
            EXPECT_TRUE(owner == nullptr || owner == at(4)) << ch;
        }
        Slots::instance().OnDisconnect();
        for (unsigned ch : {5u, 7u, 9u})
            EXPECT_EQ(nullptr, MapFactory::instance().GetOwner(ch)) << ch;
    }
}

// One channel in both directions: the slot must not meet itself as an
// older owner, and its destroy reports no inconsistency.
TEST_F(Kinds, MapSlotOnOneChannelInBothDirections)
{
    Capture clog(std::clog), cerr(std::cerr);
    EXPECT_EQ("ok @6 | @6 receiver 8324 | @6 transmitter 8324", send(-1, 6, create(map(132, 132))));
    EXPECT_EQ(at(6), MapFactory::instance().GetOwner(132));
    const unsigned before = disables(8324);
    EXPECT_EQ("ok #2 @6", send(2, 6, command(LGCP::Command::destroy::value)));
    EXPECT_EQ(1u, disables(8324) - before);
    EXPECT_EQ("", cerr.text());
    EXPECT_EQ("map: disable map channel 132\n", clog.text());
    EXPECT_EQ(nullptr, MapFactory::instance().GetOwner(132));
}

TEST_F(Kinds, DestroyingAMapSlotDisablesOnlyItsReceiveChannel)
{
    Capture clog(std::clog), cerr(std::cerr);
    send(-1, 6, create(map(10, 11)));
    const unsigned rx = disables(8203), tx = disables(8202);
    clog.clear();
    EXPECT_EQ("ok #2 @6", send(2, 6, command(LGCP::Command::destroy::value)));
    EXPECT_EQ(1u, disables(8203) - rx);
    EXPECT_EQ(0u, disables(8202) - tx);
    EXPECT_EQ("map: disable map channel 11\n", clog.text());
    EXPECT_EQ("", cerr.text());
}

// The receive side of an extension slot is switched by activate and
// deactivate; while it is off, nothing can join it.
TEST_F(Kinds, ExtensionSlotActivation)
{
    Capture clog(std::clog), cerr(std::cerr);
    send(-1, 2, create(trunk(0, 2)));
    struct Step {
        int slot;
        LGCP::Command command;
        const char* answer;
        const char* requests;
        unsigned disabled; // disable requests of the receive output 8198
    };
    const int kActivate = LGCP::Command::activate::value, kDeactivate = LGCP::Command::deactivate::value;
    const Step steps[] = {
        {5, create(ext(5, 6)), "ok #1 @5 | @5 transmitter 8197", "", 0},
        {2, connect(5), "connectFail #1 @2", "", 0},
        {5, command(kDeactivate), "ok #1 @5", "", 1},
        {5, command(kActivate), "@5 receiver 8198 | ok #1 @5", "write ch=8198 byte=0xD5 -> 0", 0},
        {2, connect(5), "ok #1 @2", "connect dst=8198 src=2 -> 0", 0},
        {5, command(kActivate), "ok #1 @5", "write ch=8198 byte=0xD5 -> 0", 0},
        {5, command(LGCP::Command::userData::value), "unsupported #1 @5", "", 0},
        {5, command(kDeactivate), "@5 receiver off | ok #1 @5",
         "write ch=8198 byte=0xD5 -> 0 | disable ch=8198 -> 0", 1},
        {2, connect(5), "connectFail #1 @2", "", 0},
        {5, connect(2), "ok #1 @5", "connect dst=2 src=8197 -> 0", 0},
        {5, command(LGCP::Command::destroy::value), "ok #1 @5", "write ch=2 byte=0xD5 -> 0", 1},
    };
    hal();
    frames();
    for (const Step& st : steps) {
        const unsigned before = disables(8198);
        EXPECT_EQ(st.answer, send(1, st.slot, st.command));
        EXPECT_EQ(st.requests, hal());
        EXPECT_EQ(st.disabled, disables(8198) - before);
    }
    EXPECT_EQ(nullptr, at(2)->GetSource());
}

TEST_F(Kinds, ExtensionChannelsAreNotChecked)
{
    Capture clog(std::clog);
    EXPECT_EQ("ok @5 | @5 transmitter 10240", send(-1, 5, create(ext(2048, -8192))));
    EXPECT_EQ("@5 receiver 0 | ok #1 @5", send(1, 5, command(LGCP::Command::activate::value)));
}

// No bus is ever available: no echo slot is built and the report lists no
// echo bus. A slot built directly still behaves as its kind says.
TEST_F(Kinds, EchoSlots)
{
    EXPECT_EQ("ok #1 | query", send(1, -1, command(LGCP::Command::query::value)));
    LGCP::Resources report;
    EchoFactory::instance().Query(report);
    EXPECT_EQ(0u, report.get_echoBus().size());
    for (unsigned bus = 0; bus <= EchoFactory::kBuses; ++bus)
        EXPECT_FALSE(EchoFactory::instance().IsAvailable(bus));

    EchoSlot* slot = new EchoSlot(32 * 2 + 40);
    Slot& s = *slot;
    SlotTestAccess::number(s, 12);
    s.IAfterCreate();
    EXPECT_EQ("@12 transmitter 104 | @12 receiver 104", frames());
    EXPECT_FALSE(s.IActivate(TERM::TermActivateParams()));
    EXPECT_TRUE(s.IBeforeDestroy());
    delete slot;
}

} // namespace
} // namespace slottest
