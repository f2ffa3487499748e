// The controller link of the running daemon, byte for byte: answers, framing
// faults, undecodable payloads, the one-controller rule and reconnection.
#include <csignal>
#include <functional>
#include <poll.h>
#include <string>

#include <gtest/gtest.h>

#include "messages/lgcp/LGCP.hpp"
#include "tests/e2e/harness.hpp"

namespace
{

using e2e::Bytes;
using e2e::hex;

const int kNone = -1000000; // no seq, no slot

LGCP::Message message(int seq, int slot)
{
    LGCP::Message m;
    if (seq != kNone)
        m.set_seq(seq);
    if (slot != kNone)
        m.set_slot(static_cast<unsigned>(slot));
    return m;
}

LGCP::Message ping(int seq, int slot)
{
    LGCP::Message m = message(seq, slot);
    m.set_pdu().select_command().select_ping();
    return m;
}

Bytes ping_bytes(int seq)
{
    return e2e::encode(ping(seq, kNone));
}

Bytes success_bytes(int seq)
{
    LGCP::Message m = message(seq, kNone);
    m.set_pdu().select_response().select_success();
    return e2e::encode(m);
}

class Link : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(daemon.start_serving()) << daemon.err(); }
    void TearDown() override
    {
        daemon.signal(SIGTERM);
        EXPECT_EQ(0, daemon.wait_exit());
    }
    // A controller that has been answered once, so the seat is surely its own.
    bool seated(e2e::Controller& c, int seq = 1)
    {
        for (int attempt = 0; attempt < 50; ++attempt) {
            if (!c.connect(daemon.port()))
                return false;
            Bytes answer;
            if (c.send_payload(ping_bytes(seq)) && c.receive_payload(answer))
                return answer == success_bytes(seq);
            // Refused: the daemon still held an earlier controller.
            ::poll(nullptr, 0, 100);
        }
        return false;
    }
    e2e::Daemon daemon;
};

TEST_F(Link, EveryCommandGetsItsAnswer)
{
    struct Case {
        const char* what;
        std::function<LGCP::Message()> build; // empty: the request has no encoding of ours
        const char* request;
        const char* answer;
    };
    const Case cases[] = {
        {"ping seq 5", [] { return ping(5, kNone); }, "80 01 05 18", "80 01 05 40"},
        {"ping seq 5 slot 3", [] { return ping(5, 3); }, "C0 01 05 00 03 18", "C0 01 05 00 03 40"},
        {"ping", [] { return ping(kNone, kNone); }, "06 00", "10"},
        {"ping slot 1023", [] { return ping(kNone, 1023); }, "40 03 FF 18", "40 03 FF 40"},
        {"ping seq 300", [] { return ping(300, kNone); }, "80 02 01 2C 18", "80 02 01 2C 40"},
        {"ping seq -1", [] { return ping(-1, kNone); }, "80 01 FF 18", "80 01 FF 40"},
        {"ping seq 5 slot 1024", nullptr, "C0 01 05 04 00 18", "80 01 05 62"},
        {"ping slot 1024", nullptr, "40 04 00 18", "18 80"},
        {"success sent by the controller, seq 5 slot 3",
         [] {
             LGCP::Message m = message(5, 3);
             m.set_pdu().select_response().select_success();
             return m;
         },
         "C0 01 05 00 03 40", "80 01 05 64"},
        {"invalidSlot sent by the controller",
         [] {
             LGCP::Message m = message(kNone, kNone);
             m.set_pdu().select_response().select_error(LGCP::ErrorCause::invalidSlot);
             return m;
         },
         "18 80", "19 00"},
        {"activated signal sent by the controller, seq 9 slot 4",
         [] {
             LGCP::Message m = message(9, 4);
             m.set_pdu().select_signal().select_activated();
             return m;
         },
         "C0 01 09 00 04 85", "80 01 09 64"},
        {"destroy seq 7 without a slot",
         [] {
             LGCP::Message m = message(7, kNone);
             m.set_pdu().select_command().select_destroy();
             return m;
         },
         "80 01 07 0A", "80 01 07 64"},
        {"connect 300 without a slot",
         [] {
             LGCP::Message m = message(5, kNone);
             m.set_pdu().select_command().select_connect(300);
             return m;
         },
         "80 01 05 04 01 2C", "80 01 05 64"},
    };
    e2e::Controller controller;
    ASSERT_TRUE(controller.connect(daemon.port()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes request = e2e::hex(c.request);
        if (c.build) {
            EXPECT_EQ(c.request, hex(e2e::encode(c.build())));
        }
        ASSERT_TRUE(controller.send_payload(request));
        Bytes answer;
        ASSERT_TRUE(controller.receive_payload(answer));
        EXPECT_EQ(c.answer, hex(answer));
        LGCP::Message decoded;
        EXPECT_TRUE(e2e::decode(answer, decoded));
        EXPECT_TRUE(decoded.get_pdu().response_isSelected());
    }
}

TEST_F(Link, UndecodablePayloadsGetNoAnswer)
{
    struct Case {
        const char* what;
        const char* frame;
        const char* logged; // on the error stream
    };
    const Case cases[] = {
        {"one bad octet", "03 00 00 05 FF", "receive fail: decode error!\n msg: FF \n"},
        {"empty payload", "03 00 00 04", "receive fail: decode error!\n"},
        {"command beyond protoLemz", "03 00 00 08 08 F0 01 00", " msg: 08 F0 01 00 \n"},
        {"seq runs past the end", "03 00 00 07 80 02 05", " msg: 80 02 05 \n"},
        {"fourth pdu alternative", "03 00 00 05 30", " msg: 30 \n"},
    };
    e2e::Controller controller;
    ASSERT_TRUE(controller.connect(daemon.port()));
    int seq = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(controller.send_raw(e2e::hex(c.frame)));
        // The next frame to arrive answers the ping that follows.
        ASSERT_TRUE(controller.send_payload(ping_bytes(++seq)));
        Bytes answer;
        ASSERT_TRUE(controller.receive_payload(answer));
        EXPECT_EQ(hex(success_bytes(seq)), hex(answer));
        EXPECT_TRUE(daemon.wait_err(c.logged)) << daemon.err();
    }
}

TEST_F(Link, LongUndecodablePayloadIsLoggedShort)
{
    e2e::Controller controller;
    ASSERT_TRUE(controller.connect(daemon.port()));
    ASSERT_TRUE(controller.send_payload(Bytes(3000, 0xFF)));
    ASSERT_TRUE(controller.send_payload(ping_bytes(1)));
    Bytes answer;
    ASSERT_TRUE(controller.receive_payload(answer));
    EXPECT_EQ(hex(success_bytes(1)), hex(answer));
    std::string first64;
    for (int i = 0; i < 64; ++i)
        first64 += "FF ";
    ASSERT_TRUE(daemon.wait_err(" msg: " + first64));
    EXPECT_EQ(std::string::npos, daemon.err().find(first64 + "FF")) << "the dump stops after 64 octets";
}

TEST_F(Link, GarbageNeverClosesTheLink)
{
    struct Case {
        const char* what;
        const char* bytes;
    };
    const Case cases[] = {
        {"bytes that start no frame", "FF FE 00 55 AA 80"},
        {"a bad reserved octet", "03 07"},
        {"a length below the header", "03 00 00 02"},
        {"a zero length", "03 00 00 00"},
        {"an empty frame", "03 00 00 04"},
        {"zeros", "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
    };
    e2e::Controller controller;
    ASSERT_TRUE(controller.connect(daemon.port()));
    int seq = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(controller.send_raw(e2e::hex(c.bytes)));
        ASSERT_TRUE(controller.send_payload(ping_bytes(++seq)));
        Bytes answer;
        ASSERT_TRUE(controller.receive_payload(answer));
        EXPECT_EQ(hex(success_bytes(seq)), hex(answer));
    }
}

TEST_F(Link, FramesSplitAtEveryPointAreReassembled)
{
    e2e::Controller controller;
    ASSERT_TRUE(controller.connect(daemon.port()));
    const Bytes frame = e2e::hex("03 00 00 0A C0 01 05 00 03 18");
    for (std::size_t split = 1; split < frame.size(); ++split) {
        SCOPED_TRACE(split);
        ASSERT_TRUE(controller.send_raw(Bytes(frame.begin(), frame.begin() + long(split))));
        // Gives the first part its own segment; the answer does not depend on it.
        ::poll(nullptr, 0, 2);
        ASSERT_TRUE(controller.send_raw(Bytes(frame.begin() + long(split), frame.end())));
        Bytes answer;
        ASSERT_TRUE(controller.receive_payload(answer));
        EXPECT_EQ("C0 01 05 00 03 40", hex(answer));
    }
    // One octet at a time, then two frames and a half in one write.
    for (unsigned char b : frame) {
        ASSERT_TRUE(controller.send_raw(Bytes{b}));
        ::poll(nullptr, 0, 1);
    }
    Bytes burst = frame;
    burst.insert(burst.end(), frame.begin(), frame.end());
    burst.insert(burst.end(), frame.begin(), frame.begin() + 5);
    ASSERT_TRUE(controller.send_raw(burst));
    ASSERT_TRUE(controller.send_raw(Bytes(frame.begin() + 5, frame.end())));
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        Bytes answer;
        ASSERT_TRUE(controller.receive_payload(answer));
        EXPECT_EQ("C0 01 05 00 03 40", hex(answer));
    }
}

TEST_F(Link, PipelinedCommandsAreAnsweredInOrder)
{
    e2e::Controller controller;
    ASSERT_TRUE(controller.connect(daemon.port()));
    const int count = 2000;
    Bytes burst;
    for (int seq = 0; seq < count; ++seq) {
        const Bytes frame = e2e::tpkt(ping_bytes(seq));
        burst.insert(burst.end(), frame.begin(), frame.end());
    }
    ASSERT_TRUE(controller.send_raw(burst));
    for (int seq = 0; seq < count; ++seq) {
        Bytes answer;
        ASSERT_TRUE(controller.receive_payload(answer)) << seq;
        ASSERT_EQ(hex(success_bytes(seq)), hex(answer));
    }
}

TEST_F(Link, SecondControllerIsClosedAtOnceWhileTheFirstWorksOn)
{
    e2e::Controller first, second;
    ASSERT_TRUE(seated(first));
    ASSERT_TRUE(second.connect(daemon.port()));
    Bytes sent;
    EXPECT_TRUE(second.wait_closed(&sent));
    EXPECT_EQ("", hex(sent)) << "not a byte for the refused one";
    EXPECT_TRUE(daemon.wait_err("refuse connection from 127.0.0.1:"));
    ASSERT_TRUE(first.send_payload(ping_bytes(2)));
    Bytes answer;
    ASSERT_TRUE(first.receive_payload(answer));
    EXPECT_EQ(hex(success_bytes(2)), hex(answer));
}

TEST_F(Link, NextControllerIsServedAfterTheFirstLeaves)
{
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        e2e::Controller controller;
        ASSERT_TRUE(seated(controller, round));
        ASSERT_TRUE(controller.send_payload(e2e::hex("C0 01 05 00 03 18")));
        Bytes answer;
        ASSERT_TRUE(controller.receive_payload(answer));
        EXPECT_EQ("C0 01 05 00 03 40", hex(answer));
    }
}

TEST(LinkStop, StopClosesTheControllerLink)
{
    e2e::Daemon daemon;
    ASSERT_TRUE(daemon.start_serving());
    e2e::Controller controller;
    ASSERT_TRUE(controller.connect(daemon.port()));
    ASSERT_TRUE(controller.send_payload(ping_bytes(1)));
    Bytes answer;
    ASSERT_TRUE(controller.receive_payload(answer));
    daemon.signal(SIGTERM);
    EXPECT_TRUE(controller.wait_closed());
    EXPECT_EQ(0, daemon.wait_exit());
}

} // namespace
