// Slots on the running daemon, byte for byte: two trunk slots created,
// joined, detached and destroyed with the switch requests the board saw, the
// resource report, kinds nobody builds, the loss of the controller, a
// detach the board refused once, and alternatives of a later version, at
// the top of the parameters or nested.
#include <algorithm>
#include <cstdio>
#include <poll.h>

#include "tests/e2e/fixture.hpp"

namespace
{

using e2e::Bytes;
using e2e::hex;

// The report of a board without media resources: every count 0, the switch
// present, no mixer, no echo bus.
const std::string kReport =
    "20 00 01 00 01 00 01 00 01 00 01 00 01 00 01 00 00 80 01 00 01 00 01 00 00 01 00 "
    "01 00 01 00 01 00";

struct Step {
    const char *what, *request;
    std::string answers; // every frame it brings back; empty: none
    const char* requests = "";
};

class Slots : public e2etest::DaemonTest
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(daemon.start_serving()) << daemon.err();
        ASSERT_TRUE(seat());
    }
    void TearDown() override
    {
        EXPECT_EQ("", stop_daemon()) << "left running by the daemon's stop";
        EXPECT_TRUE(controller.wait_closed());
        EXPECT_EQ(0, daemon.wait_exit());
    }
    // Until a ping is answered, or the deadline: a refused connection means
    // the daemon still held the earlier controller. The line status reports,
    // which begin a second after the controller was taken, are passed over.
    bool seat()
    {
        for (int waited = 0; waited < e2e::deadline_ms(); waited += 100, ::poll(nullptr, 0, 100)) {
            Bytes answer;
            if (controller.connect(daemon.port()) && controller.send_payload(e2e::bytes("80 01 00 18")) &&
                next(answer))
                return hex(answer) == "80 01 00 40";
        }
        return false;
    }
    void run(std::initializer_list<Step> steps)
    {
        for (const Step& st : steps) {
            SCOPED_TRACE(st.what);
            ASSERT_TRUE(controller.send_payload(e2e::bytes(st.request)));
            std::string got;
            // No answer expected: the next step's answer shows that none came.
            std::size_t frames =
                st.answers.empty() ? 0 : std::count(st.answers.begin(), st.answers.end(), '|') + 1;
            while (frames--) {
                Bytes answer;
                ASSERT_TRUE(next(answer)) << got;
                got += (got.empty() ? "" : " | ") + hex(answer);
            }
            EXPECT_EQ(st.answers, got);
            EXPECT_EQ(st.requests, switch_requests());
        }
    }
    // The journal's switch requests since the last call. The clock's and the
    // line interfaces' share "/dev/hal" with the switch: the line interfaces
    // read their status once a second from a second after the controller was
    // taken, between any two steps on a loaded machine.
    std::string switch_requests()
    {
        const std::string prefix = "ioctl /dev/hal ";
        std::string out;
        for (const std::string& line : journal(prefix))
            if (line.compare(prefix.size(), 6, "clock ") != 0 && line.compare(prefix.size(), 4, "spi-") != 0)
                out += (out.empty() ? "" : " | ") + line.substr(prefix.size());
        return out;
    }
};

TEST_F(Slots, TrunkSlotsReportsAndControllerLoss)
{
    switch_requests();
    run({
        {"#1 @1 create trunk 0 1", "C0 01 01 00 01 08 38 00 08",
         "C0 01 01 00 01 40 | 40 00 01 8A 80 01 01 | 40 00 01 89 80 01 01"},
        {"#2 @2 create trunk 1 5", "C0 01 02 00 02 08 38 01 28",
         "C0 01 02 00 02 40 | 40 00 02 8A 80 01 25 | 40 00 02 89 80 01 25"},
        {"#3 @1 connect 2", "C0 01 03 00 01 04 00 02", "C0 01 03 00 01 40", "connect dst=37 src=1 -> 0"},
        {"#4 @2 disconnect", "C0 01 04 00 02 06", "C0 01 04 00 02 40", "write ch=37 byte=0xD5 -> 0"},
        {"#6 @2 destroy", "C0 01 06 00 02 0A", "C0 01 06 00 02 40"},
        {"#7 @2 destroy", "C0 01 07 00 02 0A", "C0 01 07 00 02 63"},
        {"#8 query", "80 01 08 00", "80 01 08 40 | " + kReport},
        {"#9 @4 create echo 0 1", "C0 01 09 00 04 08 60 01 00 01 01", "C0 01 09 00 04 61"},
        {"#2 @2 create trunk 1 5", "C0 01 02 00 02 08 38 01 28",
         "C0 01 02 00 02 40 | 40 00 02 8A 80 01 25 | 40 00 02 89 80 01 25"},
        {"#5 @2 connect 1", "C0 01 05 00 02 04 00 01", "C0 01 05 00 02 40", "connect dst=1 src=37 -> 0"},
    });
    daemon.signal(SIGHUP);
    Bytes report;
    ASSERT_TRUE(next(report));
    EXPECT_EQ(kReport, hex(report));

    // Every slot goes with the controller; the next one starts afresh.
    controller.close();
    ASSERT_TRUE(seat());
    EXPECT_EQ("write ch=1 byte=0xD5 -> 0", switch_requests());
    run({{"#11 @1 destroy", "C0 01 0B 00 01 0A", "C0 01 0B 00 01 63"},
         {"#12 @1 create trunk 0 1", "C0 01 0C 00 01 08 38 00 08",
          "C0 01 0C 00 01 40 | 40 00 01 8A 80 01 01 | 40 00 01 89 80 01 01"}});
    daemon.collect_output();
    EXPECT_EQ(std::string::npos, daemon.err().find("trunk-slot")) << "no old slot held the timeslot";
}

// The board refuses a detach once: the command fails and the slots let go of
// each other all the same, so the switch asks the board again in its next
// pass, and the output carries the idle byte, not a line no slot holds.
TEST_F(Slots, ADetachTheBoardRefusedIsDoneOnceItTakesRequestsAgain)
{
    switch_requests();
    run({
        {"#1 @5 create trunk 0 1", "C0 01 01 00 05 08 38 00 08",
         "C0 01 01 00 05 40 | 40 00 05 8A 80 01 01 | 40 00 05 89 80 01 01"},
        {"#2 @9 create trunk 1 2", "C0 01 02 00 09 08 38 01 10",
         "C0 01 02 00 09 40 | 40 00 09 8A 80 01 22 | 40 00 09 89 80 01 22"},
        {"#3 @5 connect 9", "C0 01 03 00 05 04 00 09", "C0 01 03 00 05 40", "connect dst=34 src=1 -> 0"},
    });
    ASSERT_EQ("ok\n", daemon.board("fail /dev/hal write EIO 1"));
    run({
        {"#4 @9 disconnect", "C0 01 04 00 09 06", "C0 01 04 00 09 68",
         "write ch=34 byte=0xD5 -> -1 EIO | write ch=34 byte=0xD5 -> 0"},
        {"#5 @9 disconnect", "C0 01 05 00 09 06", "C0 01 05 00 09 40"},
        {"#6 @5 destroy", "C0 01 06 00 05 0A", "C0 01 06 00 05 40"},
        {"#7 @9 destroy", "C0 01 07 00 09 0A", "C0 01 07 00 09 40"},
    });
    EXPECT_EQ("ok\n", daemon.board("hal drive 1 0x55"));
    EXPECT_EQ("34 constant 0xD5 reads 0xD5\nok\n", daemon.board("hal get 34"));
    EXPECT_TRUE(daemon.wait_err("hwMux: disconnect failed 34 : Input/output error\n")) << daemon.err();
}

// The signalling kinds stand on the factory chain but build no slot: each
// `create` is answered insufficientResources, as for a kind nobody builds.
TEST_F(Slots, SignallingKindsAreNotBuilt)
{
    using Fill = void (*)(LGCP::CreateParams&);
    const std::pair<const char*, Fill> kinds[] = {
        {"pstn ss7",
         [](LGCP::CreateParams& c) {
             LGCP::SS7Params& p = c.select_pstn().select_ss7();
             p.set_trunk(0), p.set_slc(0), p.set_dpc(1), p.set_opc(2), p.set_emergency(false);
         }},
        {"isdn",
         [](LGCP::CreateParams& c) {
             LGCP::IsdnParams& p = c.select_isdn();
             p.set_type(LGCP::IsdnType::pri), p.set_trunk(0), p.set_log(0), p.set_side().select_user();
         }},
        {"hdlc packet",
         [](LGCP::CreateParams& c) {
             LGCP::HdlcParams& p = c.select_hdlcParams();
             p.set_trunk(0), p.set_log(0), p.set_address(1);
         }},
    };
    switch_requests();
    int seq = 20;
    for (const auto& [what, fill] : kinds) {
        SCOPED_TRACE(what);
        LGCP::Message m;
        m.set_seq(seq);
        m.set_slot(4);
        fill(m.set_pdu().select_command().select_create());
        const Bytes request = e2e::encode(m);
        ASSERT_FALSE(request.empty());
        ASSERT_TRUE(controller.send_payload(request));
        Bytes answer;
        ASSERT_TRUE(next(answer));
        char expected[32];
        std::snprintf(expected, sizeof expected, "C0 01 %02X 00 04 61", seq++);
        EXPECT_EQ(expected, hex(answer));
    }
    EXPECT_EQ("", switch_requests());
}

// Alternatives added to the parameter choices by a later version: each is read
// as unrecognised, its octets skipped, and the command is answered as when
// nothing takes it. A slot kind takes no such control (unsupported), no
// factory builds such a slot (insufficientResources), the monitoring service
// holds no such display data (unexpectedMsgType); the E1 service answers
// every control without a slot. The first open type after the index is one
// zero octet, the second carries three octets of contents.
TEST_F(Slots, AlternativesOfALaterVersionAreAnsweredAsNobodysCommand)
{
    switch_requests();
    run({
        {"#1 @1 create trunk 0 1", "C0 01 01 00 01 08 38 00 08",
         "C0 01 01 00 01 40 | 40 00 01 8A 80 01 01 | 40 00 01 89 80 01 01"},
        {"#2 @1 ioctl, first addition", "C0 01 02 00 01 13 00 01 00", "C0 01 02 00 01 66"},
        {"#3 @1 ioctl, sixth addition", "C0 01 03 00 01 13 0A 03 AA BB CC", "C0 01 03 00 01 66"},
        {"#4 @5 ioctl on a free number", "C0 01 04 00 05 13 00 01 00", "C0 01 04 00 05 63"},
        {"#5 ioctl without a slot", "80 01 05 13 00 01 00", "80 01 05 40"},
        {"#6 @4 create", "C0 01 06 00 04 09 00 01 00", "C0 01 06 00 04 61"},
        {"#7 @4 create, sixth addition", "C0 01 07 00 04 09 0A 03 AA BB CC", "C0 01 07 00 04 61"},
        {"#8 display", "80 01 08 1B 00 01 00", "80 01 08 64"},
        {"#9 @1 ping", "C0 01 09 00 01 18", "C0 01 09 00 01 40"},
    });
}

// An alternative of a later version nested inside the display data is not
// read as unrecognised: the whole frame is not decoded, so it is logged and
// gets no answer, like a command of a later version. The ping after it is
// the first to be answered.
TEST_F(Slots, NestedAlternativesOfALaterVersionAreNotDecoded)
{
    switch_requests();
    run({
        {"#1 display board, BoardInfo alternative 2", "80 01 01 1A 10 00 01 00", ""},
        {"#2 ping", "80 01 02 18", "80 01 02 40"},
    });
    EXPECT_TRUE(daemon.wait_err("receive fail: decode error!\n msg: 80 01 01 1A 10 00 01 00 \n"))
        << daemon.err();
}

} // namespace
