// RTP streams over the simulated RTP, voice, tone and DSP drivers: the
// session record the factory builds, refusals, RTCP on the loopback, codec
// restarts, driver events, a session hung up or failing its reads, the codec
// capacities, the error texts, and creates at the descriptor limit.
#include "slots/rtp/rtp_factory.hpp"

#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <list>
#include <memory>
#include <poll.h>
#include <unistd.h>
#include <utility>

#include "platform/sim/rtp_model.hpp"
#include "platform/sim/voice_model.hpp"
#include "slots/rtp/rtp_slot.hpp"
#include "tests/hardware/media_rig.hpp"
#include "tests/runtime/test_util.hpp"
#include "tests/slots/media_fixture.hpp"
#include "tests/slots/signal_spy.hpp"
#include "tests/slots/udp_peer.hpp"

namespace
{

using Lines = std::vector<std::string>;
using ctltest::Capture;
const std::string kRtp = platform::rtp::kPath;

using Peer = slotstest::UdpPeer;

// Sees every signal, and runs `then` once at the next one (a stream's record
// read in the middle of its pass).
struct Spy : slotstest::SignalSpy {
    void OnSignal(LGCP::Signal const& s) override
    {
        SignalSpy::OnSignal(s);
        if (then)
            std::exchange(then, nullptr)();
    }
    std::function<void()> then;
};

using mediatest::board;

class RtpTest : public mediatest::MediaSlots
{
protected:
    void SetUp() override
    {
        MediaSlots::SetUp();
        {
            Capture clog(std::clog), cerr(std::cerr);
            tone.reset(new Hardware::TonecReceiverService);
            dsp.reset(new Hardware::DSProcReceiverService);
            factory.reset(new RtpFactory);
        }
        server.Bind(&spy);
        board().clear_journal();
    }
    void TearDown() override
    {
        server.Deactivate();
        factory.reset();
        dsp.reset();
        tone.reset();
        MediaSlots::TearDown();
    }

    // An `rtp` create: payload, rx and tx payload, dhost port given by the peer.
    LGCP::CreateParams create(const Peer& peer,
                              TERM::Payload::NamedNumber payload = TERM::Payload::ptG711_Alaw)
    {
        LGCP::CreateParams p;
        LGCP::CreateRtpParams& r = p.select_rtp();
        TERM::RtpParams& c = r.set_codecRTP();
        c.set_payload(payload), c.set_dhost().set_iaddr("127.0.0.1"), c.ref_dhost().set_port(peer.port - 1);
        c.set_shost().set_iaddr("0.0.0.0"), c.ref_shost().set_port(Peer::free_port() - 1);
        c.set_ssrc(0x11223344), r.set_rxPayload(payload), r.set_txPayload(payload);
        return p;
    }

    RtpSlot* build(const LGCP::CreateParams& p)
    {
        Capture clog(std::clog), cerr(std::cerr);
        RtpSlot* slot = static_cast<RtpSlot*>(factory->INewSlot(p));
        log = clog.text() + cerr.text();
        return slot;
    }

    void destroy(RtpSlot* slot)
    {
        Capture clog(std::clog), cerr(std::cerr);
        slot->IBeforeDestroy();
        delete slot;
        board().service();
    }

    // The session record the driver was given, as the journal shows it.
    std::string begin() const
    {
        for (const std::string& line : hwtest::journal(board(), kRtp))
            if (line.compare(0, 12, "ioctl begin ") == 0)
                return line.substr(12, line.rfind(" -> ") - 12);
        return "none";
    }

    Spy spy;
    std::unique_ptr<Hardware::TonecReceiverService> tone;
    std::unique_ptr<Hardware::DSProcReceiverService> dsp;
    std::unique_ptr<RtpFactory> factory;
    std::string log;
};

TEST_F(RtpTest, SessionRecordFromTheCreateParameters)
{
    using P = TERM::Payload;
    const struct Case {
        const char* what;
        P::NamedNumber payload, rx, tx;
        void (*options)(TERM::RtpParams&);
        const char* record; // the fields after the addresses
    } cases[] = {
        {"ulaw stream decoding alaw", P::ptG711_Ulaw, P::ptG711_Alaw, P::ptG711_Ulaw, nullptr,
         "rx_pt=8 tx_pt=0 pf=0 vad=0 crate=0 ssrc=287454020 ttl=0 tos=-1"},
        {"only plain laws override", P::ptG729, P::ptG723, P::ptG711mcc_Ulaw, nullptr,
         "rx_pt=18 tx_pt=18 pf=0 vad=0 crate=0 ssrc=287454020 ttl=0 tos=-1"},
        {"options", P::ptG728, P::ptG711_Alaw, P::ptG711_Alaw,
         [](TERM::RtpParams& c) {
             c.set_pfactor(2), c.set_vad(true), c.set_crate(5), c.set_ttl(64);
             c.set_qos_dscp(TERM::IpQoSDSCP::ef);
         },
         "rx_pt=8 tx_pt=8 pf=2 vad=1 crate=1 ssrc=287454020 ttl=64 tos=184"},
        {"dscp cs7", P::ptG711_Alaw, P::ptG711_Alaw, P::ptG711_Alaw,
         [](TERM::RtpParams& c) { c.set_qos_dscp(TERM::IpQoSDSCP::cs7); },
         "rx_pt=8 tx_pt=8 pf=0 vad=0 crate=0 ssrc=287454020 ttl=0 tos=224"},
        {"g723", P::ptG723, P::ptG723, P::ptG723, nullptr,
         "rx_pt=4 tx_pt=4 pf=0 vad=0 crate=0 ssrc=287454020 ttl=0 tos=-1"},
        {"g728", P::ptG728, P::ptG728, P::ptG728, nullptr,
         "rx_pt=15 tx_pt=15 pf=0 vad=0 crate=0 ssrc=287454020 ttl=0 tos=-1"},
        {"g711 alaw on the multi-channel controller", P::ptG711mcc_Alaw, P::ptG711mcc_Alaw, P::ptG711mcc_Alaw,
         nullptr, "rx_pt=136 tx_pt=136 pf=0 vad=0 crate=0 ssrc=287454020 ttl=0 tos=-1"},
        {"g711 ulaw on the multi-channel controller", P::ptG711mcc_Ulaw, P::ptG711mcc_Ulaw, P::ptG711mcc_Ulaw,
         nullptr, "rx_pt=128 tx_pt=128 pf=0 vad=0 crate=0 ssrc=287454020 ttl=0 tos=-1"},
    };
    for (const Case& c : cases) {
        Peer peer;
        LGCP::CreateParams p = create(peer, c.payload);
        p.ref_rtp().set_rxPayload(c.rx), p.ref_rtp().set_txPayload(c.tx);
        if (c.options)
            c.options(p.ref_rtp().ref_codecRTP());
        RtpSlot* slot = build(p);
        ASSERT_NE(nullptr, slot) << c.what << ": " << log;
        const std::string record = begin();
        EXPECT_EQ(c.record, record.substr(record.find("rx_pt="))) << c.what;
        board().clear_journal();
        destroy(slot);
    }
}

TEST_F(RtpTest, RefusedCreatesOpenNothing)
{
    const struct Case {
        const char* what;
        void (*edit)(LGCP::CreateParams&);
        const char* line;
    } cases[] = {
        {"payload not in the table",
         [](LGCP::CreateParams& p) { p.ref_rtp().ref_codecRTP().set_payload(TERM::Payload::ptT38_UDP_TL); },
         "rtp[0,0,0,0]: rtp do not created: payload 11not found\n"},
        {"remote address not a dotted IPv4 text",
         [](LGCP::CreateParams& p) { p.ref_rtp().ref_codecRTP().ref_dhost().set_iaddr("300.1.2.3"); },
         "rtp[0,0,0,0]: rtp do not created: invalid address 300.1.2.3\n"},
        {"a local address that would forge a log line",
         [](LGCP::CreateParams& p) { p.ref_rtp().ref_codecRTP().ref_shost().set_iaddr("1.2.3\nhwMux: x\r"); },
         "rtp[0,0,0,0]: rtp do not created: invalid address 1.2.3\\nhwMux: x\\r\n"},
        {"radio streams are another factory's",
         [](LGCP::CreateParams& p) { p.ref_rtp().ref_codecRTP().set_radio(); }, ""},
    };
    for (const Case& c : cases) {
        Peer peer;
        LGCP::CreateParams p = create(peer);
        c.edit(p);
        EXPECT_EQ(nullptr, build(p)) << c.what;
        EXPECT_TRUE(hwtest::journal(board(), kRtp).empty()) << c.what;
        EXPECT_EQ(*c.line != 0, log.find(c.line) != std::string::npos && !log.empty())
            << c.what << ": " << log;
    }
    // A failed begin closes what was opened.
    Peer peer;
    board().fail(kRtp, platform::rtp::kBeginSession, EIO, 1);
    EXPECT_EQ(nullptr, build(create(peer)));
    EXPECT_NE(std::string::npos, log.find("rtp[0,0,0,0]: begin session fail !!! \n"));
    board().service();
    EXPECT_EQ(0u, board().open_count(kRtp));
}

// The packets and the teardown are pinned by the end-to-end media test.
TEST_F(RtpTest, TheEchoCancellerItSwitchedOnOutlivesTheStream)
{
    Peer peer;
    LGCP::CreateParams p = create(peer);
    p.ref_rtp().ref_codecRTP().set_echo().set_suppressor(true);
    p.ref_rtp().ref_codecRTP().ref_echo().set_canceller(true);
    RtpSlot* slot = build(p);
    ASSERT_NE(nullptr, slot) << log;
    EXPECT_NE(std::string::npos, board().execute("dtmf get 1024").find("lms on"));
    destroy(slot);
    EXPECT_NE(std::string::npos, board().execute("dtmf get 1024").find("lms on"));
    EXPECT_EQ("ok\n", board().execute("rtp sessions"));
}

TEST_F(RtpTest, CodecChangesRestartOntoAFreshSession)
{
    Peer peer;
    LGCP::CreateParams p = create(peer, TERM::Payload::ptG729);
    RtpSlot* slot = build(p);
    ASSERT_NE(nullptr, slot) << log;
    peer.receive();
    const struct Step {
        bool encoder;
        LGCP::CodecMode::NamedNumber mode;
        const char *outcome, *pts;
    } steps[] = {
        {true, LGCP::CodecMode::alaw, " - OK", "rx_pt=18 tx_pt=8"},
        {true, LGCP::CodecMode::alaw, " - Nothing to do", "rx_pt=18 tx_pt=8"},
        {false, LGCP::CodecMode::ulaw, " - OK", "rx_pt=0 tx_pt=8"},
        {true, LGCP::CodecMode::lbrc, " - OK", "rx_pt=0 tx_pt=18"},
    };
    for (const Step& s : steps) {
        LGCP::IoctlParams c;
        s.encoder ? c.select_encoder_mode() = s.mode : c.select_decoder_mode() = s.mode;
        Capture clog(std::clog), cerr(std::cerr);
        EXPECT_TRUE(slot->Ioctl(c));
        EXPECT_NE(std::string::npos, clog.text().find(s.outcome)) << clog.text();
        board().service();
        const std::string sessions = board().execute("rtp sessions");
        // One session only: the old one was released, the channel kept.
        EXPECT_EQ(0u, sessions.find("1024 ")) << sessions;
        EXPECT_EQ(sessions.find('\n'), sessions.rfind('\n', sessions.size() - 4)) << sessions;
        EXPECT_NE(std::string::npos, sessions.find(s.pts)) << sessions;
    }
    // The events of the new session are heard, a burst in one pass.
    for (const char* event : {"rtp event 1024 1 1 100", "rtp event 1024 2 0 0", "rtp event 1024 1 0 100"})
        EXPECT_EQ("ok\n", board().execute(event));
    run_for(1);
    EXPECT_EQ((Lines{"rtp : pd : { value 1, timeout 100 }", "rtp : pd : { value 0, timeout 100 }"}),
              spy.signals);
    EXPECT_NE(std::string::npos,
              quiet.text().find("rtp[1024]: rtp event:  type=1\nrtp[1024]: rtp event:  type=2\n"
                                "rtp[1024]: rtp event:  type=1\n"));
    // A restart that fails leaves the stream without a session.
    board().fail(kRtp, platform::rtp::kAddChannel, EBUSY, 1);
    LGCP::IoctlParams c;
    c.select_encoder_mode() = LGCP::CodecMode::ulaw;
    {
        Capture clog(std::clog), cerr(std::cerr);
        EXPECT_FALSE(slot->Ioctl(c));
        EXPECT_EQ("rtp[1024]: fail to restart RTP session!\n", cerr.text());
    }
    EXPECT_FALSE(slot->device_open());
    destroy(slot);
}

// A codec restart at the descriptor limit either gets a session whose events
// are heard or fails as a restart does: never a session nobody watches. The
// first pass, with descriptors to spare, also lets the sanitizer build meet
// its types before the shortage.
TEST_F(RtpTest, ARestartAtTheDescriptorLimitIsHeardOrFails)
{
    int failed = 0;
    for (int spare : {64, 0, 1, 2}) {
        SCOPED_TRACE("spare descriptors: " + std::to_string(spare));
        Peer peer;
        RtpSlot* slot = build(create(peer, TERM::Payload::ptG729));
        ASSERT_NE(nullptr, slot) << log;
        peer.receive();
        spy.signals.clear();
        LGCP::IoctlParams c;
        c.select_encoder_mode() = LGCP::CodecMode::alaw;
        bool restarted = false;
        {
            Capture clog(std::clog), cerr(std::cerr);
            testutil::Shortage shortage(spare);
            restarted = slot->Ioctl(c);
        }
        board().service();
        if (restarted) {
            EXPECT_EQ("ok\n", board().execute("rtp event 1024 1 1 100"));
            run_for(1);
            EXPECT_EQ(Lines{"rtp : pd : { value 1, timeout 100 }"}, spy.signals)
                << "the new session is heard";
        } else {
            ++failed;
            EXPECT_FALSE(slot->device_open());
            EXPECT_EQ(-1, slot->get_channel());
        }
        destroy(slot);
        board().service();
        EXPECT_EQ(0u, board().open_count(kRtp));
    }
    EXPECT_LE(1, failed) << "no pass ran short of descriptors";
}

// The new session refuses the input and the event once: the restart stands,
// the refusal is logged as a pd-enable's, and the slot no longer asks for them.
TEST_F(RtpTest, WhatARestartedSessionRefusedIsNotAskedAgain)
{
    Peer peer;
    RtpSlot* slot = build(create(peer));
    ASSERT_NE(nullptr, slot) << log;
    LGCP::IoctlParams pd;
    pd.select_pd_enable().set_timeout(250);
    {
        Capture clog(std::clog), cerr(std::cerr);
        EXPECT_TRUE(slot->IOnInputStream());
        EXPECT_TRUE(slot->Ioctl(pd));
    }
    board().fail(kRtp, platform::rtp::kStartInput, EIO, 1);
    board().fail(kRtp, platform::rtp::kSetEvent, EIO, 1);
    for (LGCP::CodecMode::NamedNumber mode : {LGCP::CodecMode::ulaw, LGCP::CodecMode::alaw}) {
        board().clear_journal();
        LGCP::IoctlParams c;
        c.select_encoder_mode() = mode;
        Capture clog(std::clog), cerr(std::cerr);
        EXPECT_TRUE(slot->Ioctl(c));
        EXPECT_NE(std::string::npos, clog.text().find(" - OK\n")) << clog.text();
        const bool first = mode == LGCP::CodecMode::ulaw;
        EXPECT_EQ(first ? "rtp[1024]: RTP SET EVENT PD fail: errno=\"Input/output error\"\n" : "",
                  cerr.text());
        // After the open, the begin and the add-channel.
        const Lines journal = hwtest::journal(board(), kRtp);
        ASSERT_LE(3u, journal.size());
        const Lines refused =
            first ? Lines{"ioctl start-input -> -1 EIO", "ioctl set-event type=1 timeout=250 -> -1 EIO"}
                  : Lines{};
        EXPECT_EQ(refused, Lines(journal.begin() + 3, journal.end()));
        EXPECT_FALSE(slot->is_input_started());
        board().service();
        EXPECT_EQ(0u, board().execute("rtp sessions").find("1024 input=off event=none "));
    }
    destroy(slot);
}

TEST_F(RtpTest, CapacitiesPerMaskAtEachQuery)
{
    auto* voice = board().model<platform::sim::VoiceModel>();
    voice->set_capacity(4, 8), voice->set_capacity(2, 4), voice->set_capacity(1, 30);
    voice->set_capacity(8, 6), voice->set_capacity(65, 2);
    LGCP::Resources r;
    factory->Query(r);
    std::ostringstream header;
    factory->PutHeader(header);
    EXPECT_EQ("rtp[4,8,30,2]: ", header.str()); // the report's counts: the end-to-end media test
    // A refused request counts as none, even after channels were found.
    voice->set_capacity(8, -1), voice->set_capacity(65, 0);
    factory->Query(r);
    EXPECT_EQ(0, r.get_rtp_g711mcc().getValue());
    EXPECT_EQ(0, r.get_universal().getValue());
    EXPECT_EQ(30, r.get_rtp_g711().getValue());
    for (std::uint32_t mask : {4, 2, 1, 8, 65})
        voice->set_capacity(mask, 0);
}

TEST(RtpErrors, Texts)
{
    const struct Case {
        unsigned code;
        const char* text;
    } cases[] = {
        {0, "No error"},
        {0x300010E, "Unable to close session"},
        {0x3000122, "Don't send this packet now"},
        {0x300010D, "Unknown RTP Error 50331917"},
        {0x3000001, "Unknown RTP Error 50331649"},
        {0x3000123, "Unknown RTP Error 50331939"},
        {0xFFFFFFFF, "Unknown RTP Error -1"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(c.text, RTPStrError(c.code)) << c.code;
}

// A stream on a session the test begins itself, as the factory does, whose
// reads the test can make fail for a pass: the session descriptor's number is
// taken over by a descriptor open for writing only (a read of it fails with
// EBADF) and given back after.
class FlakyStream : public RtpSlot
{
public:
    using RtpSlot::RtpSlot;
    ~FlakyStream() override { mend(); }
    FlakyStream(const FlakyStream&) = delete;
    FlakyStream& operator=(const FlakyStream&) = delete;

    // Null when the driver refused the session.
    static FlakyStream* open()
    {
        Fd session;
        rtp_connection_params params{};
        params.ssrc = 7;
        platform::rtp::rtp_channel_info info{-1, -1, -1, 0};
        if (!session.open(kRtp.c_str(), O_RDONLY | O_NONBLOCK) ||
            board().ioctl(session.lowlevel_fd(), platform::rtp::kBeginSession, &params) == -1 ||
            board().ioctl(session.lowlevel_fd(), platform::rtp::kAddChannel, &info) == -1)
            return nullptr;
        return new FlakyStream(info.tdm, session, params);
    }
    void break_reads()
    {
        saved = ::dup(device.lowlevel_fd());
        const int writeOnly = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        ::dup2(writeOnly, device.lowlevel_fd());
        ::close(writeOnly);
    }
    // The number back to the session, when the slot still holds it; the
    // test's copy closed.
    void mend()
    {
        if (saved < 0)
            return;
        if (device.is_valid())
            ::dup2(saved, device.lowlevel_fd());
        ::close(saved);
        saved = -1;
    }

private:
    int saved = -1;
};

// A read that fails costs its pass only: a good pass between two failures
// (a record read, or nothing to read) makes the second a first one again;
// failing again in the next pass, or hung up, or its channel handed to a new
// session (whose read, failing again, lets it go by itself), the session is
// let go with the channel, once: the detectors and the switch output of the
// channel are switched off, the driver's session ends, and the slot takes no
// request after and sends nothing at its destroy.
TEST_F(RtpTest, ASessionHungUpOrFailingItsReadsInTwoPassesInARowIsLetGo)
{
    struct Case {
        const char* what;
        // x reads fail, r one record, e nothing to read, h hung up, g the
        // channel handed out, G handed out and reads fail
        const char* passes;
        unsigned lost; // "rtp device error" lines
    };
    // clang-format off
    const Case cases[] = {
        {"two failed passes in a row", "xx", 0},
        {"a record between", "xrxrxx", 0},
        {"nothing to read between", "xexx", 0},
        {"hung up", "h", 1},
        {"a failed pass, then hung up", "xh", 1},
        {"the channel handed out", "g", 1},
        {"a failed pass, then the channel handed out", "xG", 0},
    };
    // clang-format on
    const auto journal = [] { return Lines(board().journal().begin(), board().journal().end()); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        spy.signals.clear();
        std::unique_ptr<FlakyStream> stream(FlakyStream::open());
        ASSERT_NE(nullptr, stream);
        ASSERT_EQ(1024, stream->get_channel());
        LGCP::IoctlParams dtmf;
        dtmf.select_dtmf_enable(true);
        Capture clog(std::clog), cerr(std::cerr);
        ASSERT_TRUE(stream->Ioctl(dtmf));
        ASSERT_TRUE(HwMux::instance().Connect(1, 1024)); // the channel's switch output, as a join sets it
        const std::string passes = c.passes;
        std::size_t failed = 0;
        Lines records;
        for (std::size_t i = 0; i < passes.size(); ++i) {
            const char pass = passes[i];
            if (pass == 'x' || pass == 'G') {
                stream->break_reads();
                ++failed;
            }
            if (pass == 'r') {
                const std::string value = std::to_string(records.size() + 1);
                EXPECT_EQ("ok\n", board().execute("rtp event 1024 1 " + value + " 100"));
                records.push_back("rtp : pd : { value " + value + ", timeout 100 }");
            }
            if (pass == 'h') {
                EXPECT_EQ(1u, board().hangup(kRtp));
            }
            board().clear_journal();
            if (pass == 'g' || pass == 'G')
                ChannelHolder::HandedOut(std::list<Slot*>{stream.get()}, 1024, nullptr);
            else
                stream->OnRtpEvent(-1, short(pass == 'h' ? POLLIN | POLLHUP : POLLIN));
            stream->mend();
            if (i + 1 < passes.size()) {
                EXPECT_EQ(1024, stream->get_channel()) << "after pass " << i;
                EXPECT_TRUE(stream->device_open()) << "after pass " << i;
            }
        }
        EXPECT_EQ(-1, stream->get_channel());
        EXPECT_FALSE(stream->device_open());
        EXPECT_EQ((Lines{"ioctl /dev/hal disable ch=1024 -> 0", "ioctl /dev/dtmf disable ts=1024 -> 0",
                         "ioctl /dev/dsp disable ts=1024 id=0 mask=0x100 -> 0"}),
                  journal());
        board().service();
        EXPECT_EQ("ok\n", board().execute("rtp sessions"));
        const auto count = [&cerr](const std::string& line) {
            std::size_t n = 0;
            for (std::size_t at = 0; (at = cerr.text().find(line, at)) != std::string::npos;
                 at += line.size())
                ++n;
            return n;
        };
        EXPECT_EQ(failed, count("rtp[1024]: fail to read from rtp: Bad file descriptor\n")) << cerr.text();
        EXPECT_EQ(c.lost, count("rtp[1024]: rtp device error, events disabled\n")) << cerr.text();
        EXPECT_EQ(records, spy.signals);

        EXPECT_FALSE(stream->Ioctl(dtmf));
        EXPECT_FALSE(stream->IOnInputStream());
        EXPECT_FALSE(stream->IOnOutputStream());
        board().clear_journal();
        EXPECT_TRUE(stream->IBeforeDestroy());
        stream.reset();
        board().service();
        EXPECT_EQ(Lines{}, journal());
    }
}

// Failed reads count against one session, and only until a read succeeds: a
// codec restart, or a record read before the failure in the same pass, makes
// the next failure a first one again. The stream keeps its session and its
// channel, switches nothing off, and its records still become signals.
TEST_F(RtpTest, AFailedReadCountsUntilAGoodReadOrANewSession)
{
    struct Case {
        const char* what;
        const char* passes; // x reads fail, c codec restart, f a record read, then reads fail
    };
    const Case cases[] = {
        {"a restart between two failed passes", "xcx"},
        {"a record read before the failure of the next pass", "xf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string passes = c.passes;
        spy.signals.clear();
        std::unique_ptr<FlakyStream> stream(FlakyStream::open());
        ASSERT_NE(nullptr, stream);
        LGCP::IoctlParams dtmf;
        dtmf.select_dtmf_enable(true);
        Capture clog(std::clog), cerr(std::cerr);
        ASSERT_TRUE(stream->Ioctl(dtmf));
        ASSERT_TRUE(HwMux::instance().Connect(1, 1024));
        board().clear_journal();
        Lines records;
        for (const char pass : passes) {
            if (pass == 'c') {
                ASSERT_TRUE(stream->restart());
                continue;
            }
            if (pass == 'x')
                stream->break_reads();
            if (pass == 'f') {
                records.push_back("rtp : pd : { value " + std::to_string(records.size() + 1) +
                                  ", timeout 100 }");
                EXPECT_EQ("ok\n",
                          board().execute("rtp event 1024 1 " + std::to_string(records.size()) + " 100"));
                spy.then = [&stream] { stream->break_reads(); };
            }
            stream->OnRtpEvent(-1, POLLIN);
            stream->mend();
            EXPECT_FALSE(spy.then) << "no record was read";
            spy.then = nullptr;
        }
        std::size_t failed = 0;
        for (std::size_t at = 0;
             (at = cerr.text().find("]: fail to read from rtp: ", at)) != std::string::npos; ++at)
            ++failed;
        EXPECT_EQ(passes.size() - std::size_t(std::count(passes.begin(), passes.end(), 'c')), failed);
        EXPECT_EQ(1024, stream->get_channel());
        EXPECT_TRUE(stream->device_open());
        EXPECT_EQ(records, spy.signals);
        EXPECT_EQ(std::string::npos, cerr.text().find("events disabled")) << cerr.text();
        for (const std::string& line : board().journal())
            EXPECT_EQ(std::string::npos, line.find(" disable ")) << line;
        EXPECT_TRUE(stream->Ioctl(dtmf));
        EXPECT_TRUE(stream->IBeforeDestroy());
        stream.reset();
        board().service();
        EXPECT_EQ("ok\n", board().execute("rtp sessions"));
    }
}

// With only `spare` descriptors left, a stream that cannot get every
// descriptor it needs (its RTCP socket, the session, the slot's and its read
// event's duplicates of the session, the slot's duplicate of the RTCP socket)
// is refused, and the session ends with the factory's descriptor; one that
// got them all announces itself to its peer. No descriptor is left behind.
TEST_F(RtpTest, CreatesAtTheDescriptorLimitAreRefusedForWhatTheyMissed)
{
    const std::string opening = "device \"/dev/rtp\" open fail: Too many open files",
                      duplicating =
                          "rtp do not created: can not duplicate descriptor [errno=Too many open files]";
    const struct Case {
        int spare;
        std::string line; // after the factory's header; "" for a stream built
    } cases[] = {
        {0, "rtp do not created: can not create socket [errno=Too many open files]"},
        // The board's open takes two: the descriptor it hands out and its own end.
        {1, opening},
        {2, opening},
        {3, duplicating},
        {4, duplicating},
        {5, duplicating},
        {6, ""},
    };
    {
        // The sanitizer build checks a type through a pipe the first time it
        // meets it: a stream is built and destroyed before any shortage.
        Peer peer;
        RtpSlot* slot = build(create(peer));
        ASSERT_NE(nullptr, slot) << log;
        destroy(slot);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE("spare descriptors: " + std::to_string(c.spare));
        Peer peer;
        const LGCP::CreateParams p = create(peer);
        const std::size_t before = testutil::list_dir("/proc/self/fd").size();
        RtpSlot* slot = nullptr;
        {
            testutil::Shortage shortage(c.spare);
            slot = build(p);
        }
        if (c.line.empty()) {
            EXPECT_NE(nullptr, slot) << log;
            EXPECT_NE("nothing", peer.receive()) << "the stream's source description";
        } else {
            EXPECT_EQ(nullptr, slot);
            EXPECT_NE(std::string::npos, log.find("rtp[0,0,0,0]: " + c.line + "\n")) << log;
        }
        if (slot)
            destroy(slot);
        board().service();
        EXPECT_EQ(0u, board().open_count(kRtp));
        EXPECT_EQ(before, testutil::list_dir("/proc/self/fd").size());
    }
}

} // namespace
