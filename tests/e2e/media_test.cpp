// RTP streams of the running daemon over the simulated board: the capacities
// in the resource report, a stream's session and channel, its RTCP packets on
// a loopback peer, a join with a trunk timeslot, DTMF and VAD events as
// signals, a driver event and the teardown; codec changes that keep the
// stream's input and PD event, and one that fails and leaves the channel to
// the next stream, as a session the driver hung up does; a stream destroyed
// while the board refuses the trunk's detach once; the SSRCs of two runs;
// stream and VAD parameters of a later version, which are not decoded.
#include <functional>

#include "tests/e2e/fixture.hpp"
#include "tests/e2e/rtp_stream.hpp"
#include "tests/slots/signal_spy.hpp"
#include "tests/slots/udp_peer.hpp"

namespace
{

using e2e::Bytes;
using e2etest::Lines;

using Peer = slotstest::UdpPeer;

// One message as one line of value notation.
std::string text(const Bytes& payload)
{
    LGCP::Message m;
    ASN1::CoderEnv env;
    const char* data = reinterpret_cast<const char*>(payload.data());
    return ASN1::decode(data, data + payload.size(), &env, m, true) ? slotstest::oneLine(m) : "undecodable";
}

// A G.711 A-law stream towards the peer, without an SSRC.
LGCP::Message rtpCreate(unsigned slot, const Peer& peer)
{
    LGCP::Message m;
    m.set_slot(slot);
    e2etest::g711Stream(m.set_pdu().select_command(), peer);
    return m;
}

class Media : public e2etest::DaemonTest
{
protected:
    void SetUp() override
    {
        start({{},
               {},
               "voice capacity 4 8\nvoice capacity 2 4\nvoice capacity 1 30\nvoice capacity 8 6\nvoice "
               "capacity 65 2\n"});
    }
    // Sends the command and reads `n` messages.
    Lines exchange(LGCP::Message& m, int seq, std::size_t n)
    {
        m.set_seq(seq);
        EXPECT_TRUE(send(m));
        return receive(n);
    }
    // The next `n` messages, passing over the line status reports.
    Lines receive(std::size_t n)
    {
        Lines out;
        for (Bytes payload; out.size() < n && next(payload);)
            out.push_back(text(payload));
        return out;
    }
    static LGCP::Message slotCommand(unsigned slot)
    {
        LGCP::Message m;
        m.set_slot(slot);
        m.set_pdu().select_command();
        return m;
    }
    static LGCP::IoctlParams& ioctl(LGCP::Message& m) { return m.ref_pdu().ref_command().select_ioctl(); }
    // Slot 5 on trunk 0, timeslot 1 (switch output 1).
    static LGCP::Message trunkCreate()
    {
        LGCP::Message m = slotCommand(5);
        LGCP::TrunkParams& t = m.ref_pdu().ref_command().select_create().select_trunk();
        t.set_trunk(0);
        t.set_timeslot(1);
        return m;
    }
};

TEST_F(Media, RtpStreamFromCreateToDestroy)
{
    // The capacities the voice driver reports reach the resource report.
    LGCP::Message query;
    query.set_pdu().select_command().select_query();
    const Lines report = exchange(query, 1, 2);
    ASSERT_EQ(2u, report.size());
    EXPECT_NE(std::string::npos, report[1].find("rtp-g729 8, rtp-g723 4, rtp-g711 30, rtp-g711mcc 6"))
        << report[1];
    EXPECT_NE(std::string::npos, report[1].find("universal 2")) << report[1];

    Peer peer(e2e::deadline_ms() / 1000);
    const unsigned rtcpPort = Peer::free_port();
    LGCP::Message create = rtpCreate(3, peer);
    TERM::RtpParams& codec = create.ref_pdu().ref_command().ref_create().ref_rtp().ref_codecRTP();
    codec.ref_shost().set_port(rtcpPort - 1);
    codec.set_ssrc(0x0A0B0C0D);
    journal("");
    EXPECT_EQ((Lines{"{ seq 2, slot 3, pdu response : success : NULL }",
                     "{ slot 3, pdu signal : transmitter : active : 1024 }",
                     "{ slot 3, pdu signal : receiver : active : 1024 }"}),
              exchange(create, 2, 3));
    const std::string remote = "remote=127.0.0.1:" + std::to_string(peer.port - 1);
    EXPECT_EQ((Lines{"ioctl /dev/rtp begin " + remote + " local=0.0.0.0:" + std::to_string(rtcpPort - 1) +
                         " rx_pt=8 tx_pt=8 pf=0 vad=0 crate=0 ssrc=168496141 ttl=0 tos=-1 -> 0",
                     "ioctl /dev/rtp add-channel tdm=-1 -> 0 tdm=1024"}),
              journal("/dev/rtp "));
    // CNAME "Velmora Pardomax", EMAIL "support@velmora-pardomax.example",
    // PHONE "+1 555 0100", the end of the list and two bytes of padding.
    EXPECT_EQ("81 CA 00 12 0A 0B 0C 0D "
              "01 10 56 65 6C 6D 6F 72 61 20 50 61 72 64 6F 6D 61 78 "
              "03 20 73 75 70 70 6F 72 74 40 76 65 6C 6D 6F 72 61 2D "
              "70 61 72 64 6F 6D 61 78 2E 65 78 61 6D 70 6C 65 "
              "04 0B 2B 31 20 35 35 35 20 30 31 30 30 "
              "00 00 00",
              peer.receive());

    // Joined to a trunk timeslot through the switch.
    LGCP::Message trunk = trunkCreate();
    EXPECT_EQ(3u, exchange(trunk, 3, 3).size());
    LGCP::Message connect = slotCommand(3);
    connect.ref_pdu().ref_command().select_connect(5);
    EXPECT_EQ("{ seq 4, slot 3, pdu response : success : NULL }", exchange(connect, 4, 1).back());
    EXPECT_EQ((Lines{"ioctl /dev/hal connect dst=1 src=1024 -> 0"}), journal("connect dst"));

    // A digit on the stream's timeslot reaches the controller once detection is on.
    LGCP::Message dtmf = slotCommand(3);
    ioctl(dtmf).select_dtmf_enable(true);
    EXPECT_EQ((Lines{"{ seq 5, slot 3, pdu response : success : NULL }"}), exchange(dtmf, 5, 1));
    EXPECT_EQ("ok\n", daemon.board("dtmf digit 1024 5 stamp=77"));
    EXPECT_EQ((Lines{"{ slot 3, pdu signal : tonec : { timestamp 77, event dtmf : 5 } }"}), receive(1));

    LGCP::Message vad = slotCommand(3);
    ioctl(vad).select_vad_enable(true);
    EXPECT_EQ((Lines{"{ seq 6, slot 3, pdu response : success : NULL }"}), exchange(vad, 6, 1));
    EXPECT_EQ("ok\n", daemon.board("dsp vad 1024 rx=1"));
    EXPECT_EQ((Lines{"{ slot 3, pdu signal : vad : { vad-rx TRUE } }"}), receive(1));

    EXPECT_EQ("ok\n", daemon.board("rtp event 1024 1 3 500"));
    EXPECT_EQ((Lines{"{ slot 3, pdu signal : rtp : pd : { value 3, timeout 500 } }"}), receive(1));

    // Destroyed: the session torn down, the detectors and functions off, goodbye sent.
    LGCP::Message destroy = slotCommand(3);
    destroy.ref_pdu().ref_command().select_destroy();
    destroy.set_seq(8);
    ASSERT_TRUE(controller.send_payload(e2e::encode(destroy)));
    Lines gone;
    while (gone.empty() || gone.back().find("seq 8") == std::string::npos) {
        const Lines next = receive(1);
        ASSERT_EQ(1u, next.size()) << gone.size();
        gone.push_back(next[0]);
    }
    EXPECT_EQ("{ seq 8, slot 3, pdu response : success : NULL }", gone.back());
    EXPECT_EQ((Lines{"ioctl /dev/rtp teardown1 -> 0", "ioctl /dev/rtp teardown2 -> 0",
                     "ioctl /dev/rtp teardown3 -> 0", "ioctl /dev/rtp reset-event type=1 -> 0"}),
              journal("ioctl /dev/rtp"));
    EXPECT_EQ("81 CB 00 04 0A 0B 0C 0D 0B 73 65 73 73 69 6F 6E 20 65 6E 64", peer.receive());
    EXPECT_NE(std::string::npos, daemon.board("dtmf get 1024").find("detector off"));
    EXPECT_EQ(0u, daemon.board("dsp get 1024").find("on=0x0 "));
}

// The driver frees the channel with a session that could not begin again and
// gives it to the next stream: the old slot lets it go at once, and neither
// its requests nor its destroy reach the stream that holds it now.
TEST_F(Media, AStreamThatFailedToRestartLeavesItsChannel)
{
    Peer peer(e2e::deadline_ms() / 1000);
    LGCP::Message first = rtpCreate(3, peer);
    EXPECT_EQ(3u, exchange(first, 1, 3).size());
    LGCP::Message trunk = trunkCreate();
    EXPECT_EQ(3u, exchange(trunk, 2, 3).size());
    int seq = 3;
    // Joins both ways between a stream and the trunk timeslot, and DTMF on the stream.
    const auto join = [&](unsigned source, unsigned target) {
        LGCP::Message connect = slotCommand(source);
        connect.ref_pdu().ref_command().select_connect(target);
        return exchange(connect, seq++, 1);
    };
    const auto dtmf = [&](unsigned slot) {
        LGCP::Message m = slotCommand(slot);
        ioctl(m).select_dtmf_enable(true);
        return exchange(m, seq++, 1);
    };
    EXPECT_EQ((Lines{"{ seq 3, slot 3, pdu response : success : NULL }"}), join(3, 5));
    EXPECT_EQ((Lines{"{ seq 4, slot 5, pdu response : success : NULL }"}), join(5, 3));
    EXPECT_EQ((Lines{"{ seq 5, slot 3, pdu response : success : NULL }"}), dtmf(3));

    EXPECT_EQ("ok\n", daemon.board("fail /dev/rtp begin EIO 1"));
    LGCP::Message encoder = slotCommand(3);
    ioctl(encoder).select_encoder_mode() = LGCP::CodecMode::ulaw;
    EXPECT_EQ((Lines{"{ seq 6, slot 3, pdu response : error : unsupported }"}), exchange(encoder, seq++, 1));
    EXPECT_EQ(0u, daemon.board("hal get 1024").find("1024 disabled ")) << daemon.board("hal get 1024");
    EXPECT_EQ(0u, daemon.board("hal get 1").find("1 constant 0xD5 ")) << daemon.board("hal get 1");
    EXPECT_NE(std::string::npos, daemon.board("dtmf get 1024").find("detector off"));

    LGCP::Message second = rtpCreate(4, peer);
    EXPECT_EQ((Lines{"{ seq 7, slot 4, pdu response : success : NULL }",
                     "{ slot 4, pdu signal : transmitter : active : 1024 }",
                     "{ slot 4, pdu signal : receiver : active : 1024 }"}),
              exchange(second, seq++, 3));
    EXPECT_EQ((Lines{"{ seq 8, slot 4, pdu response : success : NULL }"}), join(4, 5));
    EXPECT_EQ((Lines{"{ seq 9, slot 5, pdu response : success : NULL }"}), join(5, 4));
    EXPECT_EQ((Lines{"{ seq 10, slot 4, pdu response : success : NULL }"}), dtmf(4));
    EXPECT_EQ((Lines{"{ seq 11, slot 3, pdu response : error : unsupported }"}), dtmf(3));
    EXPECT_EQ((Lines{"{ seq 12, slot 3, pdu response : error : connectFail }"}), join(3, 5));
    EXPECT_EQ("ok\n", daemon.board("dtmf digit 1024 6 stamp=8"));
    EXPECT_EQ((Lines{"{ slot 4, pdu signal : tonec : { timestamp 8, event dtmf : 6 } }"}), receive(1));
    LGCP::Message destroy = slotCommand(3);
    destroy.ref_pdu().ref_command().select_destroy();
    EXPECT_EQ((Lines{"{ seq 13, slot 3, pdu response : success : NULL }"}), exchange(destroy, seq++, 1));

    EXPECT_EQ(0u, daemon.board("hal get 1024").find("1024 connected 1 ")) << daemon.board("hal get 1024");
    EXPECT_EQ(0u, daemon.board("hal get 1").find("1 connected 1024 ")) << daemon.board("hal get 1");
    EXPECT_EQ(0u, daemon.board("dtmf get 1024").find("detector on ")) << daemon.board("dtmf get 1024");
    EXPECT_EQ("ok\n", daemon.board("dtmf digit 1024 7 stamp=9"));
    EXPECT_EQ((Lines{"{ slot 4, pdu signal : tonec : { timestamp 9, event dtmf : 7 } }"}), receive(1));
}

// A codec change begins a new driver session for the channel; it gets
// again what the stream had asked of the old one: the input the trunk's join
// started and the PD event with the timeout it was enabled with.
TEST_F(Media, ACodecChangeKeepsTheJoinedStreamsInputAndPdEvent)
{
    Peer peer(e2e::deadline_ms() / 1000);
    LGCP::Message stream = rtpCreate(3, peer);
    ASSERT_EQ(3u, exchange(stream, 1, 3).size());
    LGCP::Message trunk = trunkCreate();
    ASSERT_EQ(3u, exchange(trunk, 2, 3).size());
    LGCP::Message join = slotCommand(5);
    join.ref_pdu().ref_command().select_connect(3);
    EXPECT_EQ((Lines{"{ seq 3, slot 5, pdu response : success : NULL }"}), exchange(join, 3, 1));
    LGCP::Message pd = slotCommand(3);
    ioctl(pd).select_pd_enable().set_timeout(500);
    EXPECT_EQ((Lines{"{ seq 4, slot 3, pdu response : success : NULL }"}), exchange(pd, 4, 1));
    journal("");

    const struct Change {
        bool encoder;
        const char* pts;
    } changes[] = {{false, "rx_pt=0 tx_pt=8"}, {true, "rx_pt=0 tx_pt=0"}};
    int seq = 5;
    for (const Change& c : changes) {
        LGCP::Message codec = slotCommand(3);
        (c.encoder ? ioctl(codec).select_encoder_mode() : ioctl(codec).select_decoder_mode()) =
            LGCP::CodecMode::ulaw;
        EXPECT_EQ((Lines{"{ seq " + std::to_string(seq) + ", slot 3, pdu response : success : NULL }"}),
                  exchange(codec, seq, 1));
        ++seq;
        const std::string sessions = daemon.board("rtp sessions");
        EXPECT_EQ(0u, sessions.find("1024 input=on event=1 ")) << sessions;
        EXPECT_NE(std::string::npos, sessions.find(c.pts)) << sessions;
        EXPECT_EQ(sessions.find('\n') + 4, sessions.size()) << "one session: " << sessions;
        const Lines rtp = journal("ioctl /dev/rtp");
        ASSERT_FALSE(rtp.empty()) << c.pts;
        EXPECT_NE(std::string::npos, rtp[0].find(c.pts)) << rtp[0];
        EXPECT_EQ(
            (Lines{"ioctl /dev/rtp add-channel tdm=1024 -> 0 tdm=1024", "ioctl /dev/rtp start-input -> 0",
                   "ioctl /dev/rtp set-event type=1 timeout=500 -> 0"}),
            Lines(rtp.begin() + 1, rtp.end()));
    }

    // The events of the new session are heard; the trunk's detach releases its input once.
    EXPECT_EQ("ok\n", daemon.board("rtp event 1024 1 2 500"));
    EXPECT_EQ((Lines{"{ slot 3, pdu signal : rtp : pd : { value 2, timeout 500 } }"}), receive(1));
    LGCP::Message detach = slotCommand(3);
    detach.ref_pdu().ref_command().select_disconnect();
    EXPECT_EQ((Lines{"{ seq 7, slot 3, pdu response : success : NULL }"}), exchange(detach, 7, 1));
    EXPECT_EQ((Lines{"ioctl /dev/rtp release-input -> 0"}), journal("ioctl /dev/rtp"));
    EXPECT_EQ(0u, daemon.board("rtp sessions").find("1024 input=off event=1 "))
        << daemon.board("rtp sessions");
    LGCP::Message destroy = slotCommand(3);
    destroy.ref_pdu().ref_command().select_destroy();
    EXPECT_EQ((Lines{"{ seq 8, slot 3, pdu response : success : NULL }"}), exchange(destroy, 8, 1));
    EXPECT_EQ("ok\n", daemon.board("rtp sessions"));
}

// What the stream no longer has is not asked of the new session: PD enabled
// and disabled, then refused once; a join undone.
TEST_F(Media, ACodecChangeAsksNothingTheStreamNoLongerHas)
{
    Peer peer(e2e::deadline_ms() / 1000);
    LGCP::Message stream = rtpCreate(3, peer);
    ASSERT_EQ(3u, exchange(stream, 1, 3).size());
    LGCP::Message trunk = trunkCreate();
    ASSERT_EQ(3u, exchange(trunk, 2, 3).size());
    int seq = 3;
    const auto ask = [&](unsigned slot, void (*what)(LGCP::Command&)) {
        LGCP::Message m = slotCommand(slot);
        what(m.ref_pdu().ref_command());
        const int asked = seq++;
        const Lines answer = exchange(m, asked, 1);
        return answer.size() == 1 && answer[0].find("seq " + std::to_string(asked) + ",") != std::string::npos
                   ? answer[0].substr(answer[0].find("response"))
                   : "no answer";
    };
    const std::string success = "response : success : NULL }";
    const auto enable = [](LGCP::Command& c) { c.select_ioctl().select_pd_enable().set_timeout(300); };
    EXPECT_EQ(success, ask(5, [](LGCP::Command& c) { c.select_connect(3); }));
    EXPECT_EQ(success, ask(3, [](LGCP::Command& c) { c.select_disconnect(); }));
    EXPECT_EQ(success, ask(3, enable));
    EXPECT_EQ(success, ask(3, [](LGCP::Command& c) { c.select_ioctl().select_pd_disable(); }));
    EXPECT_EQ(success, ask(3, enable));
    EXPECT_EQ("ok\n", daemon.board("fail /dev/rtp set-event EIO 1"));
    EXPECT_EQ("response : error : unsupported }", ask(3, enable));
    journal("");

    EXPECT_EQ(success, ask(3, [](LGCP::Command& c) {
                  c.select_ioctl().select_decoder_mode() = LGCP::CodecMode::ulaw;
              }));
    EXPECT_EQ(0u, daemon.board("rtp sessions").find("1024 input=off event=none "))
        << daemon.board("rtp sessions");
    const Lines rtp = journal("ioctl /dev/rtp");
    ASSERT_EQ(2u, rtp.size());
    EXPECT_NE(std::string::npos, rtp[0].find(" rx_pt=0 tx_pt=8 ")) << rtp[0];
    EXPECT_EQ("ioctl /dev/rtp add-channel tdm=1024 -> 0 tdm=1024", rtp[1]);
}

// The board refuses the trunk output's detach once while the stream joined
// to it is destroyed: the destroy succeeds, the switch asks again, and the
// next stream handed the same channel is not heard on the trunk.
TEST_F(Media, ATrunkOutputWhoseDetachWasRefusedLeavesTheDestroyedStream)
{
    Peer peer(e2e::deadline_ms() / 1000);
    LGCP::Message first = rtpCreate(3, peer);
    EXPECT_EQ(3u, exchange(first, 1, 3).size());
    LGCP::Message trunk = trunkCreate();
    EXPECT_EQ(3u, exchange(trunk, 2, 3).size());
    LGCP::Message connect = slotCommand(3);
    connect.ref_pdu().ref_command().select_connect(5);
    EXPECT_EQ((Lines{"{ seq 3, slot 3, pdu response : success : NULL }"}), exchange(connect, 3, 1));
    journal("");

    EXPECT_EQ("ok\n", daemon.board("fail /dev/hal write EAGAIN 1"));
    LGCP::Message destroy = slotCommand(3);
    destroy.ref_pdu().ref_command().select_destroy();
    EXPECT_EQ((Lines{"{ seq 4, slot 3, pdu response : success : NULL }"}), exchange(destroy, 4, 1));
    EXPECT_EQ((Lines{"ioctl /dev/hal write ch=1 byte=0xD5 -> -1 EAGAIN",
                     "ioctl /dev/hal write ch=1 byte=0xD5 -> 0"}),
              journal("ioctl /dev/hal write"));

    LGCP::Message second = rtpCreate(4, peer);
    EXPECT_EQ((Lines{"{ seq 5, slot 4, pdu response : success : NULL }",
                     "{ slot 4, pdu signal : transmitter : active : 1024 }",
                     "{ slot 4, pdu signal : receiver : active : 1024 }"}),
              exchange(second, 5, 3));
    EXPECT_EQ("ok\n", daemon.board("hal drive 1024 0x55"));
    EXPECT_EQ("1 constant 0xD5 reads 0xD5\nok\n", daemon.board("hal get 1"));
}

// A daemon of its own: the SSRC the driver is given for a stream created
// without one.
std::string SsrcOfAFreshRun()
{
    e2e::Daemon daemon;
    e2e::Controller controller;
    if (!daemon.start_serving() || !controller.connect(daemon.port()))
        return "no daemon: " + daemon.err();
    Peer peer(e2e::deadline_ms() / 1000);
    LGCP::Message create = rtpCreate(3, peer);
    create.set_seq(1);
    bool answered = controller.send_payload(e2e::encode(create));
    Bytes answer;
    do
        answered = answered && controller.receive_payload(answer);
    while (answered && e2etest::status_report(answer));
    if (!answered)
        return "no answer";
    const std::string sessions = daemon.board("rtp sessions");
    daemon.signal(SIGTERM);
    EXPECT_EQ(0, daemon.wait_exit());
    const std::size_t at = sessions.find(" ssrc=");
    return at == std::string::npos ? sessions : sessions.substr(at, sessions.find(' ', at + 1) - at);
}

TEST(MediaRuns, EachRunDrawsItsOwnSsrcs)
{
    const std::string first = SsrcOfAFreshRun();
    EXPECT_EQ(0u, first.find(" ssrc=")) << first;
    EXPECT_NE(first, SsrcOfAFreshRun());
}

// A stream whose parameters hold an alternative of a later version (the
// e2m mode, deep inside the parameters) is not decoded: the frame is logged
// and gets no answer, and no stream is begun. The log goes on: the next
// stream takes the first channel, and its "do create rtp: " line is the only one.
TEST_F(Media, AStreamWhoseParametersAreOfALaterVersionIsNotDecoded)
{
    const Bytes later =
        e2e::bytes("C0 01 01 00 05 08 20 01 00 00 09 31 32 37 2E 30 2E 30 2E 31 0F A0 40 01 01 "
                   "01 02 80 01 00 02 04");
    ASSERT_TRUE(controller.send_payload(later));
    Peer peer(e2e::deadline_ms() / 1000);
    LGCP::Message create = rtpCreate(6, peer);
    EXPECT_EQ((Lines{"{ seq 2, slot 6, pdu response : success : NULL }",
                     "{ slot 6, pdu signal : transmitter : active : 1024 }",
                     "{ slot 6, pdu signal : receiver : active : 1024 }"}),
              exchange(create, 2, 3));
    EXPECT_TRUE(daemon.wait_err("receive fail: decode error!\n msg: C0 01 01 00 05 08 20 01 00 00 09 31 "))
        << daemon.err();
    EXPECT_EQ(1u, journal("/dev/rtp begin").size());
    EXPECT_TRUE(daemon.wait_err("do create rtp: ")) << daemon.err();
    const std::string log = daemon.err();
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = log.find("do create rtp: ", at)) != std::string::npos; ++at)
        ++lines;
    EXPECT_EQ(1u, lines) << log;
}

// A VAD control whose parameters are an alternative of a later version is
// not decoded, even on a DSP of VAD version 1, which reads no parameters:
// the frame is logged and gets no answer, and the detector is left as the
// version 1 control before it configured it.
TEST_F(Media, VadParametersOfALaterVersionAreNotDecoded)
{
    Peer peer(e2e::deadline_ms() / 1000);
    LGCP::Message create = rtpCreate(3, peer);
    ASSERT_EQ(3u, exchange(create, 1, 3).size());
    EXPECT_EQ("ok\n", daemon.board("dsp version 1"));
    journal("");

    LGCP::Message v1 = slotCommand(3);
    ioctl(v1).select_vad_params().select_v1();
    EXPECT_EQ((Lines{"{ seq 2, slot 3, pdu response : success : NULL }"}), exchange(v1, 2, 1));
    EXPECT_EQ((Lines{"ioctl /dev/dsp vad-version -> 1", "ioctl /dev/dsp configure ts=1024 fn=0x1 params=" +
                                                            e2etest::record_words({3, 127, 0}) + " -> 0"}),
              journal("ioctl /dev/dsp"));

    // vad-params (17) holding VADParams alternative 2, one zero octet; then a ping,
    // whose answer is the first to come.
    ASSERT_TRUE(controller.send_payload(e2e::bytes("C0 01 03 00 03 12 46 00 01 00")));
    LGCP::Message ping = slotCommand(3);
    ping.ref_pdu().ref_command().select_ping();
    EXPECT_EQ((Lines{"{ seq 4, slot 3, pdu response : success : NULL }"}), exchange(ping, 4, 1));
    EXPECT_TRUE(daemon.wait_err("receive fail: decode error!\n msg: C0 01 03 00 03 12 46 00 01 00 \n"))
        << daemon.err();
    EXPECT_EQ(Lines{}, journal("/dev/dsp"));
}

// The driver hangs up a stream's session and frees its channel, which the
// next stream is given: the old slot lets the channel go at once (its joins
// both ways, its switch output, its detectors), takes no request after, and
// its destroy sends nothing that reaches the new stream on that channel.
TEST_F(Media, AStreamWhoseSessionWasHungUpLeavesItsChannel)
{
    Peer peer(e2e::deadline_ms() / 1000);
    LGCP::Message first = rtpCreate(3, peer);
    ASSERT_EQ(3u, exchange(first, 1, 3).size());
    LGCP::Message trunk = trunkCreate();
    ASSERT_EQ(3u, exchange(trunk, 2, 3).size());
    int seq = 3;
    // The answer to a command on a slot, from its "response".
    const auto ask = [&](unsigned slot, const std::function<void(LGCP::Command&)>& fill) {
        LGCP::Message m = slotCommand(slot);
        fill(m.ref_pdu().ref_command());
        const int asked = seq++;
        const Lines answer = exchange(m, asked, 1);
        return answer.size() == 1 && answer[0].find("seq " + std::to_string(asked) + ",") != std::string::npos
                   ? answer[0].substr(answer[0].find("response"))
                   : "no answer";
    };
    const auto join = [](unsigned target) {
        return [target](LGCP::Command& c) { c.select_connect(target); };
    };
    const auto dtmf = [](LGCP::Command& c) { c.select_ioctl().select_dtmf_enable(true); };
    const auto vad = [](LGCP::Command& c) { c.select_ioctl().select_vad_enable(true); };
    const std::string success = "response : success : NULL }";
    EXPECT_EQ(success, ask(3, join(5)));
    EXPECT_EQ(success, ask(5, join(3)));
    EXPECT_EQ(success, ask(3, dtmf));
    EXPECT_EQ(success, ask(3, vad));

    EXPECT_EQ("ok\n", daemon.board("hangup /dev/rtp"));
    EXPECT_TRUE(daemon.wait_err("rtp[1024]: rtp device error, events disabled\n")) << daemon.err();
    EXPECT_EQ(0u, daemon.board("hal get 1024").find("1024 disabled ")) << daemon.board("hal get 1024");
    EXPECT_EQ(0u, daemon.board("hal get 1").find("1 constant 0xD5 ")) << daemon.board("hal get 1");
    EXPECT_EQ(0u, daemon.board("dtmf get 1024").find("detector off ")) << daemon.board("dtmf get 1024");
    EXPECT_EQ(0u, daemon.board("dsp get 1024").find("on=0x0 ")) << daemon.board("dsp get 1024");
    EXPECT_EQ("ok\n", daemon.board("rtp sessions"));

    LGCP::Message second = rtpCreate(4, peer);
    EXPECT_EQ((Lines{"{ seq " + std::to_string(seq) + ", slot 4, pdu response : success : NULL }",
                     "{ slot 4, pdu signal : transmitter : active : 1024 }",
                     "{ slot 4, pdu signal : receiver : active : 1024 }"}),
              exchange(second, seq, 3));
    ++seq;
    EXPECT_EQ(success, ask(4, join(5)));
    EXPECT_EQ(success, ask(5, join(4)));
    EXPECT_EQ(success, ask(4, dtmf));
    EXPECT_EQ(success, ask(4, vad));
    EXPECT_EQ("response : error : unsupported }", ask(3, dtmf));
    EXPECT_EQ("response : error : connectFail }", ask(3, join(5)));
    EXPECT_EQ("response : error : connectFail }", ask(5, join(3)));
    // A digit on the channel, once the daemon has read it: the signals it
    // gave, which come before the answer to a ping sent after.
    const auto digit = [&](unsigned stamp) {
        const std::string at = std::to_string(stamp);
        EXPECT_EQ("ok\n", daemon.board("dtmf digit 1024 6 stamp=" + at));
        EXPECT_TRUE(daemon.wait_err("dtmf event:  timestamp=" + at + " ")) << daemon.err();
        LGCP::Message ping;
        ping.set_pdu().select_command().select_ping();
        ping.set_seq(seq++);
        EXPECT_TRUE(send(ping));
        Lines signals;
        for (Lines got = receive(1); got.size() == 1 && got[0].find(" response ") == std::string::npos;
             got = receive(1))
            signals.push_back(got[0]);
        return signals;
    };
    EXPECT_EQ((Lines{"{ slot 4, pdu signal : tonec : { timestamp 8, event dtmf : 6 } }"}), digit(8));
    journal("");

    EXPECT_EQ(success, ask(3, [](LGCP::Command& c) { c.select_destroy(); }));
    // Nothing of the old slot's destroy names the channel or goes to the driver's sessions.
    Lines reached;
    for (const std::string& line : journal(""))
        if (line.find("1024") != std::string::npos || line.find("/dev/rtp") != std::string::npos)
            reached.push_back(line);
    EXPECT_EQ(Lines{}, reached);
    EXPECT_EQ(0u, daemon.board("hal get 1024").find("1024 connected 1 ")) << daemon.board("hal get 1024");
    EXPECT_EQ(0u, daemon.board("hal get 1").find("1 connected 1024 ")) << daemon.board("hal get 1");
    EXPECT_EQ(0u, daemon.board("dtmf get 1024").find("detector on ")) << daemon.board("dtmf get 1024");
    EXPECT_EQ(0u, daemon.board("dsp get 1024").find("on=0x1 ")) << daemon.board("dsp get 1024");
    EXPECT_EQ((Lines{"{ slot 4, pdu signal : tonec : { timestamp 9, event dtmf : 6 } }"}), digit(9));
}

} // namespace
