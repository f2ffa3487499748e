// The controller link of the running daemon, byte for byte: answers, framing
// faults, undecodable payloads, the one-controller rule and reconnection.
#include <poll.h>
#include <sys/wait.h>

#include <utility>

#include "tests/e2e/fixture.hpp"

namespace
{

using e2e::Bytes;
using e2e::hex;

// Through our own encoder: a ping and its success answer with a seq.
Bytes ping(int seq)
{
    LGCP::Message m;
    m.set_seq(seq);
    m.set_pdu().select_command().select_ping();
    return e2e::encode(m);
}

Bytes success(int seq)
{
    LGCP::Message m;
    m.set_seq(seq);
    m.set_pdu().select_response().select_success();
    return e2e::encode(m);
}

// A daemon with a controller seated; stopping the daemon must close it.
class Link : public e2etest::DaemonTest
{
protected:
    void SetUp() override
    {
        start();
        ASSERT_EQ(hex(success(1)), ask(controller, ping(1)));
    }
    void TearDown() override
    {
        EXPECT_EQ("", stop_daemon()) << "left running by the daemon's stop";
        EXPECT_TRUE(controller.wait_closed());
        EXPECT_EQ(0, daemon.wait_exit());
    }
    // The answer to one payload, as hex: the line status reports, which
    // begin a second after the controller was taken and may come first on a
    // loaded machine, are passed over.
    static std::string ask(e2e::Controller& c, const Bytes& payload)
    {
        Bytes answer;
        return c.send_payload(payload) && e2etest::next_answer(c, answer) ? hex(answer) : "(none)";
    }
    // Connects `c` until the daemon takes it, and gives the answer to the
    // ping that shows it seated (line status reports passed over). A
    // controller that arrives while the old connection is still seated or
    // winding down is closed without a byte and has to connect again.
    std::string seat(int seq, e2e::Controller& c)
    {
        // A controller turned away while the old link winds down (its end
        // not yet read, or the pause after it) connects again, until the
        // deadline however long that takes on a loaded machine.
        for (int waited = 0; waited < e2e::deadline_ms(); waited += 100) {
            if (waited > 0)
                ::poll(nullptr, 0, 100);
            if (!c.connect(daemon.port()))
                return "(no connection)";
            std::string answer = ask(c, ping(seq));
            if (answer != "(none)")
                return answer;
        }
        return "(never seated)";
    }
    std::string seat(int seq) { return seat(seq, controller); }
    // Stops the daemon and waits until it is stopped, so that whatever the
    // controllers do meanwhile is all pending when it resumes.
    void hold()
    {
        daemon.signal(SIGSTOP);
        int status = 0;
        ASSERT_EQ(daemon.pid(), ::waitpid(daemon.pid(), &status, WUNTRACED));
        ASSERT_TRUE(WIFSTOPPED(status));
    }
};

TEST_F(Link, EveryCommandGetsItsAnswer)
{
    struct Case {
        const char *what, *request, *answer;
    };
    const Case cases[] = {
        {"ping seq 5", "80 01 05 18", "80 01 05 40"},
        {"ping seq 5 slot 3", "C0 01 05 00 03 18", "C0 01 05 00 03 40"},
        {"ping", "06 00", "10"},
        {"ping slot 1023", "40 03 FF 18", "40 03 FF 40"},
        {"ping seq 5 slot 1024: invalidSlot", "C0 01 05 04 00 18", "80 01 05 62"},
        {"ping slot 1024: invalidSlot", "40 04 00 18", "18 80"},
        {"success sent by the controller", "C0 01 05 00 03 40", "80 01 05 64"},
        {"invalidSlot sent by the controller", "18 80", "19 00"},
        {"activated signal sent by the controller", "C0 01 09 00 04 85", "80 01 09 64"},
        {"connect 300 that no service takes", "80 01 05 04 01 2C", "80 01 05 64"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.answer, ask(controller, e2e::bytes(c.request))) << c.what;
}

// Nothing answers these; the next ping is answered, so the link lives on.
TEST_F(Link, BadInputGetsNoAnswerAndNeverClosesTheLink)
{
    struct Case {
        const char *what, *bytes;
        const char* logged; // on the error stream
    };
    const Case cases[] = {
        {"one bad octet", "03 00 00 05 FF", "receive fail: decode error!\n msg: FF \n"},
        {"empty payload", "03 00 00 04", "receive fail: decode error!\n"},
        {"a command alternative of a later version", "03 00 00 0B 80 01 05 20 00 01 00",
         "receive fail: decode error!\n msg: 80 01 05 20 00 01 00 \n"},
        {"bytes that start no frame", "FF FE 00 55 AA 80", ""},
        {"a bad reserved octet", "03 07", ""},
        {"a length below the header", "03 00 00 02", ""},
    };
    int seq = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(controller.send_raw(e2e::bytes(c.bytes)));
        ++seq;
        EXPECT_EQ(hex(success(seq)), ask(controller, ping(seq)));
        EXPECT_TRUE(daemon.wait_err(c.logged)) << daemon.err();
    }
}

// A header-only frame that ends what the controller sent is held for the next
// bytes; when none come, the reassembly time-out drops it, so it never
// reaches the decoder, and the link lives on.
TEST_F(Link, HeaderOnlyFrameWithNothingAfterIsDroppedByTheTimeout)
{
    ASSERT_TRUE(controller.send_raw(e2e::bytes("03 00 00 04")));
    EXPECT_TRUE(daemon.wait_err(" TPKT packet timeout.\n")) << daemon.err();
    // The line status reports have begun meanwhile.
    Bytes answer;
    ASSERT_TRUE(controller.send_payload(ping(2)) && next(answer));
    EXPECT_EQ(hex(success(2)), hex(answer));
    daemon.collect_output();
    EXPECT_EQ(std::string::npos, daemon.err().find("decode error")) << daemon.err();
}

TEST_F(Link, FramesSplitAtEveryPointAreReassembled)
{
    const Bytes frame = e2e::bytes("03 00 00 0A C0 01 05 00 03 18");
    for (long split = 1; split < long(frame.size()); ++split) {
        SCOPED_TRACE(split);
        ASSERT_TRUE(controller.send_raw(Bytes(frame.begin(), frame.begin() + split)));
        // Gives the first part its own segment; the answer does not depend on it.
        ::poll(nullptr, 0, 2);
        ASSERT_TRUE(controller.send_raw(Bytes(frame.begin() + split, frame.end())));
        Bytes answer;
        ASSERT_TRUE(next(answer));
        EXPECT_EQ("C0 01 05 00 03 40", hex(answer));
    }
}

TEST_F(Link, SecondControllerIsClosedAtOnceWhileTheFirstWorksOn)
{
    e2e::Controller second;
    ASSERT_TRUE(second.connect(daemon.port()));
    Bytes sent;
    EXPECT_TRUE(second.wait_closed(&sent));
    EXPECT_EQ("", hex(sent)) << "not a byte for the refused one";
    EXPECT_TRUE(daemon.wait_err("refuse connection from 127.0.0.1:"));
    EXPECT_EQ(hex(success(2)), ask(controller, ping(2)));
}

// A controller that leaves and connects again at once may find its old
// connection still seated (its end not read yet) or winding down: it is then
// closed without a byte, connects again and is served, with no answer lost.
// Every cycle costs the slot manager's one-second pause after a controller
// loss: a few cycles show it.
TEST_F(Link, ReconnectingAtOnceIsServedOnceTheSeatIsFree)
{
    for (int seq = 2; seq < 7; ++seq) {
        controller.close();
        ASSERT_EQ(hex(success(seq)), seat(seq)) << "cycle " << seq - 1;
        daemon.collect_output();
    }
}

// The daemon is held while the seated controller leaves and the next one
// connects, so the newcomer is pending before the old connection's end is
// read: it is closed without a byte and has to connect again. A round in
// which the one-second connection check fell due at resume and saw the old
// connection's end first (it names the connection in a line of its own)
// frees the seat before the newcomer is looked at; such a round shows
// nothing, and another is played.
TEST_F(Link, ControllerArrivingBeforeTheOldOnesEndIsReadHasToConnectAgain)
{
    e2e::Controller other;
    e2e::Controller *seated = &controller, *newcomer = &other;
    bool shown = false;
    for (int round = 0; round < 5 && !shown; ++round, std::swap(seated, newcomer)) {
        SCOPED_TRACE(round);
        const std::string old = "127.0.0.1:" + std::to_string(seated->local_port());
        hold();
        seated->close();
        const bool connected = newcomer->connect(daemon.port());
        daemon.signal(SIGCONT);
        ASSERT_TRUE(connected);
        ASSERT_TRUE(daemon.wait_err("control connection " + old + " closed.\n"));
        if (daemon.err().find("connection from " + old + " closed: ") != std::string::npos) {
            // The newcomer met the link winding down and may have been
            // closed too: it is seated anew, as the next round's seated one.
            newcomer->close();
            ASSERT_EQ(hex(success(10 + round)), seat(10 + round, *newcomer));
            continue;
        }
        shown = true;
        const std::string name = "connection from 127.0.0.1:" + std::to_string(newcomer->local_port()) + "\n";
        Bytes sent;
        EXPECT_TRUE(newcomer->wait_closed(&sent));
        EXPECT_EQ("", hex(sent)) << "not a byte for the newcomer";
        // Refused while the old link was still connected, or logged as new
        // but not taken when a write had already met the old connection's end.
        daemon.collect_output();
        EXPECT_TRUE(daemon.err().find("refuse " + name) != std::string::npos ||
                    daemon.out().find("new " + name) != std::string::npos)
            << daemon.err();
    }
    EXPECT_TRUE(shown);
    other.close();
    controller.close();
    EXPECT_EQ(hex(success(2)), seat(2));
}

// The daemon is held while the commands and the half-close arrive, so the
// connection check is due when it resumes and finds the connection closing:
// every command received before that still gets its answer, in order.
TEST_F(Link, HalfClosingAfterPipelinedCommandsLosesNoAnswer)
{
    const int count = 10000;
    Bytes burst;
    for (int seq = 0; seq < count; ++seq) {
        const Bytes frame = e2e::tpkt(ping(seq));
        burst.insert(burst.end(), frame.begin(), frame.end());
    }
    hold();
    const bool sent = controller.send_raw(burst) && controller.half_close();
    // Longer than the check period: the check is due when the daemon resumes.
    ::poll(nullptr, 0, 1500);
    daemon.signal(SIGCONT);
    ASSERT_TRUE(sent);
    for (int seq = 0; seq < count;) {
        Bytes answer;
        ASSERT_TRUE(controller.receive_payload(answer)) << "answers received: " << seq;
        // The board's line reports fall due while the daemon is held; they
        // carry no seq (first bit clear) and are not answers.
        if (!answer.empty() && (answer[0] & 0x80) == 0)
            continue;
        ASSERT_EQ(hex(success(seq)), hex(answer));
        ++seq;
    }
}

} // namespace
