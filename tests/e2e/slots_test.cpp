// Slots on the running daemon, byte for byte: create, join, detach and
// destroy of trunk slots with the switch requests the board saw, the
// resource report, a kind nobody builds, and the loss of the controller.
#include <algorithm>
#include <csignal>
#include <poll.h>
#include <string>

#include <gtest/gtest.h>

#include "messages/lgcp/LGCP.hpp"
#include "tests/e2e/harness.hpp"

namespace
{

using e2e::Bytes;
using e2e::hex;

Bytes message(int seq, int slot, LGCP::Command const& command)
{
    LGCP::Message m;
    m.set_seq(seq);
    if (slot >= 0)
        m.set_slot(unsigned(slot));
    m.set_pdu().select_command(command);
    return e2e::encode(m);
}

LGCP::Command create_trunk(unsigned trunk, unsigned timeslot)
{
    LGCP::Command c;
    c.select_create().select_trunk().set_trunk(trunk);
    c.ref_create().ref_trunk().set_timeslot(timeslot);
    return c;
}

LGCP::Command create_echo()
{
    LGCP::Command c;
    c.select_create().select_echo().set_bus(0);
    c.ref_create().ref_echo().set_channel(1);
    return c;
}

LGCP::Command connect(unsigned n)
{
    LGCP::Command c;
    c.select_connect(n);
    return c;
}

LGCP::Command plain(int alternative)
{
    LGCP::Command c;
    if (alternative == LGCP::Command::disconnect::value)
        c.select_disconnect();
    else if (alternative == LGCP::Command::destroy::value)
        c.select_destroy();
    else if (alternative == LGCP::Command::query::value)
        c.select_query();
    else
        c.select_ping();
    return c;
}

const int kDisconnect = LGCP::Command::disconnect::value;
const int kDestroy = LGCP::Command::destroy::value;
const int kQuery = LGCP::Command::query::value;

// The resource report of a board with no media resources: every count 0, the
// switch present, no mixer and no echo bus.
const char kReport[] =
    "20 00 01 00 01 00 01 00 01 00 01 00 01 00 01 00 00 80 01 00 01 00 01 00 00 01 00 01 00 01 "
    "00 01 00";

class Slots : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(daemon.start_serving()) << daemon.err();
        ASSERT_TRUE(seat(controller));
    }
    void TearDown() override
    {
        daemon.signal(SIGTERM);
        EXPECT_TRUE(controller.wait_closed());
        EXPECT_EQ(0, daemon.wait_exit());
    }
    // Connects until a ping is answered: a refused connection means the
    // daemon still held an earlier controller.
    bool seat(e2e::Controller& c)
    {
        for (int attempt = 0; attempt < 50; ++attempt, ::poll(nullptr, 0, 100)) {
            Bytes answer;
            if (!c.connect(daemon.port()))
                return false;
            if (c.send_payload(message(0, -1, plain(-1))) && c.receive_payload(answer))
                return hex(answer) == "80 01 00 40";
        }
        return false;
    }
    // The command's frames as hex, `count` of them, joined by " | ".
    std::string ask(const Bytes& payload, int count)
    {
        if (!controller.send_payload(payload))
            return "(not sent)";
        std::string out;
        for (int i = 0; i < count; ++i) {
            Bytes answer;
            if (!controller.receive_payload(answer))
                return out + " (missing)";
            out += (i ? " | " : "") + hex(answer);
        }
        return out;
    }
    // The switch requests since the last call.
    std::string switch_requests()
    {
        std::string out;
        const std::string journal = daemon.board("journal");
        const std::string prefix = "ioctl /dev/hal ";
        for (std::size_t at = 0, end; (end = journal.find('\n', at)) != std::string::npos; at = end + 1) {
            const std::string line = journal.substr(at, end - at);
            if (line.compare(0, prefix.size(), prefix) == 0)
                out += (out.empty() ? "" : " | ") + line.substr(prefix.size());
        }
        daemon.board("clear");
        return out;
    }
    e2e::Daemon daemon;
    e2e::Controller controller;
};

TEST_F(Slots, TwoTrunkSlotsJoinedDetachedAndDestroyed)
{
    switch_requests();
    struct Step {
        const char* what;
        Bytes request;
        int frames;
        const char* answers;
        const char* requests;
    };
    const Step steps[] = {
        {"create 1: trunk 0 timeslot 1", message(1, 1, create_trunk(0, 1)), 3,
         "C0 01 01 00 01 40 | 40 00 01 8A 80 01 01 | 40 00 01 89 80 01 01", ""},
        {"create 2: trunk 1 timeslot 5", message(2, 2, create_trunk(1, 5)), 3,
         "C0 01 02 00 02 40 | 40 00 02 8A 80 01 25 | 40 00 02 89 80 01 25", ""},
        {"connect 1 to 2", message(3, 1, connect(2)), 1, "C0 01 03 00 01 40", "connect dst=37 src=1 -> 0"},
        {"connect 1 to 2 again", message(4, 1, connect(2)), 1, "C0 01 04 00 01 40", ""},
        {"disconnect 2", message(5, 2, plain(kDisconnect)), 1, "C0 01 05 00 02 40",
         "write ch=37 byte=0xD5 -> 0"},
        {"connect 2 to 1", message(6, 2, connect(1)), 1, "C0 01 06 00 02 40", "connect dst=1 src=37 -> 0"},
        {"destroy 2", message(7, 2, plain(kDestroy)), 1, "C0 01 07 00 02 40", "write ch=1 byte=0xD5 -> 0"},
        {"destroy 2 again", message(8, 2, plain(kDestroy)), 1, "C0 01 08 00 02 63", ""},
        {"connect 1 to 2 gone", message(9, 1, connect(2)), 1, "C0 01 09 00 01 63", ""},
        {"destroy 1", message(10, 1, plain(kDestroy)), 1, "C0 01 0A 00 01 40", ""},
    };
    for (const Step& st : steps) {
        SCOPED_TRACE(st.what);
        EXPECT_EQ(st.answers, ask(st.request, st.frames));
        EXPECT_EQ(st.requests, switch_requests());
    }
}

TEST_F(Slots, QueryAndKindsNobodyBuilds)
{
    struct Step {
        const char* what;
        Bytes request;
        int frames;
        std::string answers;
    };
    const Step steps[] = {
        {"query: success, then the report", message(1, -1, plain(kQuery)), 2,
         std::string("80 01 01 40 | ") + kReport},
        {"an echo channel", message(2, 4, create_echo()), 1, "C0 01 02 00 04 61"},
        {"a fifth E1 trunk", message(3, 4, create_trunk(4, 0)), 1, "C0 01 03 00 04 61"},
    };
    for (const Step& st : steps) {
        SCOPED_TRACE(st.what);
        EXPECT_EQ(st.answers, ask(st.request, st.frames));
    }
    // A report on SIGHUP too, outside any command.
    daemon.signal(SIGHUP);
    Bytes report;
    ASSERT_TRUE(controller.receive_payload(report));
    EXPECT_EQ(kReport, hex(report));
    EXPECT_TRUE(daemon.wait_err("update hardware resources"));
}

// Every slot goes with the controller, its joins released in the switch; the
// next controller starts from an empty table.
TEST_F(Slots, ControllerLossDestroysEverySlot)
{
    ASSERT_EQ("C0 01 01 00 01 40 | 40 00 01 8A 80 01 43 | 40 00 01 89 80 01 43",
              ask(message(1, 1, create_trunk(2, 3)), 3));
    ASSERT_EQ("C0 01 02 00 02 40 | 40 00 02 8A 80 01 09 | 40 00 02 89 80 01 09",
              ask(message(2, 2, create_trunk(0, 9)), 3));
    ASSERT_EQ("C0 01 03 00 01 40", ask(message(3, 1, connect(2)), 1));
    ASSERT_EQ("C0 01 04 00 02 40", ask(message(4, 2, connect(1)), 1));
    switch_requests();

    controller.close();
    ASSERT_TRUE(seat(controller));
    EXPECT_EQ("write ch=67 byte=0xD5 -> 0 | write ch=9 byte=0xD5 -> 0", switch_requests());
    EXPECT_EQ("C0 01 05 00 01 63", ask(message(5, 1, plain(kDestroy)), 1));
    EXPECT_EQ("C0 01 06 00 02 40 | 40 00 02 8A 80 01 43 | 40 00 02 89 80 01 43",
              ask(message(6, 2, create_trunk(2, 3)), 3));
    EXPECT_EQ(std::string::npos, daemon.err().find("trunk-slot")) << "the old slot of the timeslot is gone";
}

} // namespace
