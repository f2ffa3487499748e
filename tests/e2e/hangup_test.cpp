// Board channels whose driver gives up on them (the simulated board's
// `hangup`): the tone and DSP services' devices, an RTP stream's session and
// a controller channel. The record the descriptor still held reaches the
// controller, the fact is logged once, the loop stops watching the descriptor
// (its event's calls, as the status dump counts them, stop growing), and the
// daemon goes on answering, the slot's destroy included; the next request
// opens the device afresh, for the slots made before the hang-up too. A
// channel the driver hands to a create in the hang-up's own loop turn is the
// new stream's alone. A modem call aborted already is not aborted again.
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <poll.h>
#include <sstream>
#include <unistd.h>

#include "tests/e2e/fixture.hpp"
#include "tests/e2e/rtp_stream.hpp"
#include "tests/slots/signal_spy.hpp"
#include "tests/slots/udp_peer.hpp"

namespace
{

using e2e::Bytes;
using e2etest::Lines;

const char kDump[] = "/var/log/server-status";

class Hangup : public e2etest::DaemonTest
{
protected:
    void SetUp() override { start({{}, {}, "device /dev/mcc/ctl present\n"}); }

    // Sends the command on `slot` (none for -1) and reads `n` messages, each
    // as one line of value notation, the line status reports passed over.
    Lines ask(int slot, const std::function<void(LGCP::Command&)>& fill, std::size_t n = 1)
    {
        post(slot, fill);
        return receive(n);
    }
    // Sends the command on `slot` (none for -1) without waiting for what it brings.
    void post(int slot, const std::function<void(LGCP::Command&)>& fill)
    {
        LGCP::Message m;
        m.set_seq(++mSeq);
        if (slot >= 0)
            m.set_slot(unsigned(slot));
        fill(m.set_pdu().select_command());
        EXPECT_TRUE(send(m));
    }
    Lines receive(std::size_t n)
    {
        Lines out;
        for (Bytes payload; out.size() < n && next(payload);) {
            LGCP::Message m;
            ASN1::CoderEnv env;
            const char* p = reinterpret_cast<const char*>(payload.data());
            out.push_back(ASN1::decode(p, p + payload.size(), &env, m, true) ? slotstest::oneLine(m)
                                                                             : "undecodable");
        }
        return out;
    }
    // Creates a stream towards `peer` on `slot`: its timeslot, "" when it
    // was not made.
    std::string stream(int slot, slotstest::UdpPeer& peer)
    {
        const Lines got = ask(
            slot, [&peer](LGCP::Command& c) { e2etest::g711Stream(c, peer); }, 3);
        const std::string active = "pdu signal : receiver : active : ";
        const std::size_t at = got.size() == 3 ? got[2].find(active) : std::string::npos;
        return at == std::string::npos
                   ? ""
                   : got[2].substr(at + active.size(), got[2].find(" }", at) - at - active.size());
    }
    // "ok" when the command's one answer is its success, else what came.
    std::string outcome(int slot, const std::function<void(LGCP::Command&)>& fill)
    {
        const Lines got = ask(slot, fill);
        return got == Lines{success(slot)} ? "ok" : got.empty() ? "(none)" : got.back();
    }
    std::string success(int slot) const
    {
        return "{ seq " + std::to_string(mSeq) + (slot >= 0 ? ", slot " + std::to_string(slot) : "") +
               ", pdu response : success : NULL }";
    }
    bool ping()
    {
        return outcome(-1, [](LGCP::Command& c) { c.select_ping(); }) == "ok";
    }
    // How often the loop has called the event of that name, by a fresh status
    // dump; -1 when the loop watches no descriptor under that name, -2 when
    // no whole dump came.
    long calls(const std::string& name)
    {
        const std::string path = daemon.path(kDump);
        ::unlink(path.c_str());
        daemon.signal(SIGUSR2);
        std::string text;
        for (int waited = 0; waited < e2e::deadline_ms() && text.find("+\n\n") == std::string::npos;
             waited += 10) {
            daemon.collect_output();
            ::poll(nullptr, 0, 10);
            text = e2e::read_file(path);
        }
        if (text.find("+\n\n") == std::string::npos)
            return -2;
        // | name | events | count | handler | fd | measure |
        std::istringstream rows(text);
        for (std::string row; std::getline(rows, row);) {
            std::istringstream cells(row);
            std::string bar, cell, events, count;
            if (cells >> bar >> cell && bar == "|" && cell == name && cells >> bar >> events >> bar >> count)
                return std::atol(count.c_str());
        }
        return -1;
    }
    // "ok" when the slot's destroy is answered success; the signals before
    // the answer are passed over.
    std::string destroy(int slot)
    {
        Lines got = ask(slot, [](LGCP::Command& c) { c.select_destroy(); });
        const std::string seq = "{ seq " + std::to_string(mSeq) + ",";
        while (!got.empty() && got.back().compare(0, seq.size(), seq) != 0)
            got = receive(1);
        return got.empty() ? "(none)" : got.back() == success(slot) ? "ok" : got.back();
    }
    // The messages up to the answer of the last command sent, that answer last.
    Lines answered()
    {
        Lines got;
        const std::string seq = "{ seq " + std::to_string(mSeq) + ",";
        while (got.empty() || got.back().compare(0, seq.size(), seq) != 0) {
            const Lines next = receive(1);
            if (next.empty())
                break;
            got.push_back(next[0]);
        }
        return got;
    }
    std::size_t logged(const std::string& line)
    {
        daemon.collect_output();
        const std::string& err = daemon.err();
        std::size_t n = 0;
        for (std::size_t at = 0; (at = err.find(line, at)) != std::string::npos; at += line.size())
            ++n;
        return n;
    }

    int mSeq = 0;
};

TEST_F(Hangup, AChannelTheDriverGaveUpOnIsReadToItsEndAndLetGo)
{
    slotstest::UdpPeer peer(e2e::deadline_ms() / 1000);
    const Lines created = ask(
        3, [&peer](LGCP::Command& c) { e2etest::g711Stream(c, peer); }, 3);
    ASSERT_EQ(3u, created.size());
    ASSERT_EQ("ok", outcome(3, [](LGCP::Command& c) { c.select_ioctl().select_dtmf_enable(true); }));
    ASSERT_EQ("ok", outcome(3, [](LGCP::Command& c) { c.select_ioctl().select_vad_enable(true); }));
    const auto mcc = [](LGCP::Command& c) {
        LGCP::MccParams& p = c.select_create().select_mcc();
        p.set_type(LGCP::MccType::data), p.set_mode(LGCP::MccMode::standard);
    };
    ASSERT_EQ("ok", outcome(1, mcc));

    struct Case {
        const char* device;
        const char* record; // what the driver queued before it gave up
        const char* signal; // what the record becomes
        const char* event;  // the loop's name for the descriptor's event
        const char* line;   // logged once
        int slot;           // destroyed afterwards (-1: none)
    };
    // The services' devices first, while the stream they serve is there.
    const Case cases[] = {
        {"/dev/dtmf", "dtmf digit 1024 5 stamp=77",
         "{ slot 3, pdu signal : tonec : { timestamp 77, event dtmf : 5 } }", "TonecReceiverService::OnEvent",
         "tonec device error, events disabled\n", -1},
        {"/dev/dsp", "dsp vad 1024 rx=1", "{ slot 3, pdu signal : vad : { vad-rx TRUE } }",
         "DSProcReceiverService::OnEvent", "dsproc device error, events disabled\n", -1},
        {"/dev/rtp", "rtp event 1024 1 3 500", "{ slot 3, pdu signal : rtp : pd : { value 3, timeout 500 } }",
         "RtpSlot::OnRtpEvent", "rtp[1024]: rtp device error, events disabled\n", 3},
        {"/dev/mcc/ctl", "event /dev/mcc/ctl 0A 0B", "{ slot 1, pdu signal : userData : '0a 0b'H }",
         "MccSlot::OnEvent", "mcc: 01:MCC: channel error, reading stopped\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        ASSERT_LE(0, calls(c.event)) << "watched before";
        // One write to the control socket: the board queues the record and
        // hangs up in the same turn of the daemon's loop.
        EXPECT_EQ("ok\nok\n", daemon.board(c.record + std::string("\nhangup ") + c.device));
        EXPECT_EQ(Lines{c.signal}, receive(1));
        ASSERT_TRUE(ping());
        const long seen = calls(c.event);
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(ping());
        EXPECT_EQ(seen, calls(c.event)) << "the loop is still woken by the descriptor";
        EXPECT_EQ(-1, seen) << "the loop still watches the descriptor";
        EXPECT_EQ(1u, logged(c.line)) << daemon.err();
        if (c.slot >= 0) {
            EXPECT_EQ("ok", destroy(c.slot));
        }
    }
    // The device opens afresh.
    EXPECT_EQ("ok", outcome(2, mcc));
}

// An MCC channel that the driver hung up goes back to it whole: the slot's
// join is undone and the channel's switch output switched off before the
// driver hands the channel to the next slot, and nothing the old slot is asked
// afterwards, a join either way, user data or its destroy, reaches the new
// slot's channel: the joins are refused as those of a stream that let its
// channel go, the user data as a frame the channel did not take.
TEST_F(Hangup, AnMccChannelTheDriverHungUpIsNoLongerItsSlots)
{
    const auto mcc = [](LGCP::Command& c) {
        LGCP::MccParams& p = c.select_create().select_mcc();
        p.set_type(LGCP::MccType::data), p.set_mode(LGCP::MccMode::standard);
    };
    const auto trunk = [](unsigned ts) {
        return [ts](LGCP::Command& c) {
            c.select_create().select_trunk().set_trunk(0u);
            c.ref_create().ref_trunk().set_timeslot(ts);
        };
    };
    // The join's answer; the signals before it are passed over.
    const auto join = [this](int source, unsigned target) {
        Lines got = ask(source, [target](LGCP::Command& c) { c.select_connect(target); });
        const std::string seq = "{ seq " + std::to_string(mSeq) + ",";
        while (!got.empty() && got.back().compare(0, seq.size(), seq) != 0)
            got = receive(1);
        return got.empty() ? "(none)" : got.back();
    };
    const auto answer = [this](int slot, const std::string& how) {
        return "{ seq " + std::to_string(mSeq) + ", slot " + std::to_string(slot) +
               ", pdu response : " + how + " }";
    };
    ASSERT_EQ("ok", outcome(41, mcc));
    ASSERT_EQ(3u, ask(3, trunk(3), 3).size());
    ASSERT_EQ(3u, ask(4, trunk(4), 3).size());
    // Slot 41 feeds trunk 4: its output stream opens with the join.
    const Lines joined = ask(
        41, [](LGCP::Command& c) { c.select_connect(4u); }, 2);
    ASSERT_EQ(2u, joined.size());
    ASSERT_EQ(success(41), joined.back());
    journal();

    EXPECT_EQ("ok\n", daemon.board("hangup /dev/mcc/ctl"));
    ASSERT_TRUE(daemon.wait_err("mcc: 41:MCC: channel error, reading stopped\n")) << daemon.err();
    EXPECT_EQ(Lines{"ioctl /dev/hal write ch=4 byte=0xD5 -> 0"}, journal("/dev/hal"));
    ASSERT_EQ("ok", outcome(42, mcc));
    EXPECT_EQ(Lines{"ioctl /dev/mcc/ctl timeslot -> 4096"}, journal("timeslot"));

    // Each command is sent before its expected answer is made: that names
    // the command's seq.
    std::string got = join(3, 41);
    EXPECT_EQ(answer(3, "error : connectFail"), got);
    got = join(41, 3);
    EXPECT_EQ(answer(41, "error : connectFail"), got);
    got = ask(41, [](LGCP::Command& c) { c.select_userData({1, 2}); }).back();
    EXPECT_EQ(answer(41, "error : internal"), got);
    EXPECT_EQ("ok", destroy(41));
    EXPECT_EQ(Lines{}, journal("=4096"));
    EXPECT_EQ("ok\n", daemon.board("mcc written 4096"));

    // The new slot has the channel: its join and its destroy reach it.
    got = join(3, 42);
    EXPECT_EQ(success(3), got);
    EXPECT_EQ("ok", destroy(42));
    EXPECT_EQ(
        (Lines{"ioctl /dev/hal connect dst=4096 src=3 -> 0", "ioctl /dev/hal write ch=4096 byte=0xD5 -> 0"}),
        journal("=4096"));
    EXPECT_EQ(1u, logged("channel error, reading stopped\n"));
}

// The next request after the hang-up opens the device afresh, and what the
// service knew of each slot is gone with the old one: a slot made after the
// hang-up and a slot that lived through it both get their detector enabled
// on the new descriptor and their events, and their destroys send nothing to
// the old one.
TEST_F(Hangup, TheNextRequestOpensTheDeviceAfreshForEverySlot)
{
    slotstest::UdpPeer peer(e2e::deadline_ms() / 1000);
    const auto create = [&](int slot) { return stream(slot, peer); };
    struct Case {
        const char* device;
        void (*enable)(LGCP::Command&);
        const char* mask;           // the end of the journal's enable
        const char *event, *record; // the board's event command: event, timeslot, record
        const char* signal;         // what the record becomes
        const char* line;           // the hang-up's line
    };
    const Case cases[] = {
        {"/dev/dtmf", [](LGCP::Command& c) { c.select_ioctl().select_dtmf_enable(true); }, "", "dtmf digit ",
         " 5 stamp=77", "tonec : { timestamp 77, event dtmf : 5 }", "tonec device error, events disabled\n"},
        {"/dev/dsp", [](LGCP::Command& c) { c.select_ioctl().select_vad_enable(true); }, " mask=0x1",
         "dsp vad ", " rx=1", "vad : { vad-rx TRUE }", "dsproc device error, events disabled\n"},
    };
    // The journal's enable of a timeslot.
    const auto enabled = [](const Case& c, const std::string& ts, int id) {
        std::ostringstream line;
        line << "ioctl " << c.device << " enable ts=" << ts << " id=" << id << c.mask << " -> 0";
        return line.str();
    };
    int slot = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        const std::string device = c.device;
        const int old = ++slot, young = ++slot;
        const std::string oldTs = create(old);
        ASSERT_EQ("ok", outcome(old, c.enable));
        EXPECT_EQ("ok\n", daemon.board("hangup " + device));
        journal();
        const std::string youngTs = create(young);
        EXPECT_EQ("ok", outcome(young, c.enable));
        EXPECT_EQ((Lines{"open " + device, enabled(c, youngTs, 2)}), journal(c.device));
        EXPECT_NE(std::string::npos, daemon.board("devices").find(device + " present open=1\n"));
        // Nothing comes when the board had no descriptor to send the record on.
        const auto signal = [&](int to, const std::string& ts) {
            const std::string sent = daemon.board(c.event + ts + c.record);
            EXPECT_EQ("ok\n", sent);
            if (sent == "ok\n") {
                EXPECT_EQ(Lines{"{ slot " + std::to_string(to) + ", pdu signal : " + c.signal + " }"},
                          receive(1));
            }
        };
        signal(young, youngTs);
        EXPECT_EQ("ok", outcome(old, c.enable));
        EXPECT_EQ(Lines{enabled(c, oldTs, 3)}, journal(c.device));
        signal(old, oldTs);
        EXPECT_EQ("ok", destroy(old));
        EXPECT_EQ("ok", destroy(young));
        EXPECT_EQ(1u, logged(c.line));
        EXPECT_EQ(0u, logged("Bad file descriptor")) << daemon.err();
    }
}

// After the tone and DSP devices hang up, what the daemon had asked of them for
// a stream is unknown, not off: each disable reaches the device opened afresh
// and is answered success, and so does each off request of a destroy, the
// detector's and the tone generator's (a ringback was playing) among them; the
// echo canceller stays as it is.
TEST_F(Hangup, WhatTheDevicesHeldForAStreamIsUnknownAfterTheHangupNotOff)
{
    slotstest::UdpPeer peer(e2e::deadline_ms() / 1000);
    using Fill = void (*)(LGCP::IoctlParams&);
    const Fill setUp[] = {
        [](LGCP::IoctlParams& p) { p.select_dtmf_enable(true); },
        [](LGCP::IoctlParams& p) { p.select_dtmf_reject_enable(true); },
        [](LGCP::IoctlParams& p) { p.select_echoSuppressor(true); },
        [](LGCP::IoctlParams& p) { p.select_vad_enable(true); },
        [](LGCP::IoctlParams& p) { p.select_sd_enable(true); },
        [](LGCP::IoctlParams& p) { p.select_rx_gain().set_gainDB(-6); },
        [](LGCP::IoctlParams& p) { p.select_activateWaitTone(); },
    };
    // Journal lines as "<request> ts=T ..." with T for the stream's timeslot.
    const std::string off = "dial ts=T f1=0 f2=0 a1=0 a2=0 -> 0";
    const std::string vadOff = "disable ts=T id=0 mask=0x1 -> 0", sdOff = "disable ts=T id=0 mask=0x2 -> 0";
    const Lines destroyDsp{vadOff,
                           "disable ts=T id=0 mask=0x10 -> 0",
                           "disable ts=T id=0 mask=0x80 -> 0",
                           "configure ts=T fn=0x20 params=000000000000000000000000 -> 0",
                           "configure ts=T fn=0x40 params=000000000000000000000000 -> 0",
                           "disable ts=T id=0 mask=0x100 -> 0"};
    struct Case {
        const char* what;
        std::vector<Fill> after; // after the hang-up, each answered success
        Lines tone, dsp;         // what they sent
        Lines destroyTone, destroyDsp;
    };
    const Case cases[] = {
        {"disabled",
         {[](LGCP::IoctlParams& p) { p.select_dtmf_enable(false); },
          [](LGCP::IoctlParams& p) { p.select_vad_disable(); },
          [](LGCP::IoctlParams& p) { p.select_sd_disable(); },
          [](LGCP::IoctlParams& p) { p.select_deactivateWaitTone(); }},
         {"disable ts=T -> 0", off},
         {vadOff, sdOff},
         {"iva-off ts=T -> 0", "reject-off ts=T -> 0"},
         Lines(destroyDsp.begin() + 1, destroyDsp.end())},
        {"destroyed",
         {},
         {},
         {},
         {"disable ts=T -> 0", "iva-off ts=T -> 0", "reject-off ts=T -> 0", off},
         destroyDsp},
    };
    const auto create = [&](int slot) { return stream(slot, peer); };
    const auto asked = [&](int slot, Fill fill) {
        return outcome(slot, [fill](LGCP::Command& c) { fill(c.select_ioctl()); });
    };
    // The requests to `device` for `ts` among the journal's `lines`, "ts=T"
    // in place of the timeslot; the ringback's tones and silences are passed
    // over.
    const auto sent = [](const Lines& lines, const std::string& device, const std::string& ts) {
        const std::string prefix = "ioctl " + device + " ", mark = " ts=" + ts + " ";
        Lines out;
        for (std::string line : lines) {
            const std::size_t at = line.find(mark);
            if (line.compare(0, prefix.size(), prefix) != 0 || at == std::string::npos)
                continue;
            line =
                line.substr(prefix.size(), at + 4 - prefix.size()) + "T" + line.substr(at + mark.size() - 1);
            if (line.compare(0, 5, "dial ") != 0 || line == "dial ts=T f1=0 f2=0 a1=0 a2=0 -> 0")
                out.push_back(line);
        }
        return out;
    };

    std::vector<std::string> timeslots;
    int slot = 40;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        timeslots.push_back(create(++slot));
        ASSERT_NE("", timeslots.back());
        for (Fill fill : setUp)
            ASSERT_EQ("ok", asked(slot, fill));
    }
    EXPECT_EQ("ok\nok\n", daemon.board("hangup /dev/dtmf\nhangup /dev/dsp"));
    ASSERT_TRUE(daemon.wait_err("tonec device error, events disabled\n")) << daemon.err();
    ASSERT_TRUE(daemon.wait_err("dsproc device error, events disabled\n")) << daemon.err();
    slot = 40;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const std::string& ts = timeslots[i];
        SCOPED_TRACE(c.what);
        ++slot;
        journal();
        for (Fill fill : c.after)
            EXPECT_EQ("ok", asked(slot, fill));
        Lines lines = journal();
        EXPECT_EQ(c.tone, sent(lines, "/dev/dtmf", ts));
        EXPECT_EQ(c.dsp, sent(lines, "/dev/dsp", ts));
        EXPECT_EQ("ok", destroy(slot));
        lines = journal();
        EXPECT_EQ(c.destroyTone, sent(lines, "/dev/dtmf", ts));
        EXPECT_EQ(c.destroyDsp, sent(lines, "/dev/dsp", ts));
        // On the board: the detector off, the echo canceller still on, and
        // the generator's last request the one that switched it off.
        const std::string state = daemon.board("dtmf get " + ts), tones = daemon.board("dtmf gen " + ts);
        EXPECT_EQ(0u, state.find("detector off ")) << state;
        EXPECT_NE(std::string::npos, state.find(" lms on ")) << state;
        const std::string lastOff = " 0 0 0 0\nok\n";
        EXPECT_EQ(tones.size() - lastOff.size(), tones.rfind(lastOff)) << tones;
    }
    const std::string devices = daemon.board("devices");
    EXPECT_NE(std::string::npos, devices.find("/dev/dtmf present open=1\n")) << devices;
    EXPECT_NE(std::string::npos, devices.find("/dev/dsp present open=1\n")) << devices;
    EXPECT_EQ(0u, logged("Bad file descriptor")) << daemon.err();
}

// One board command hangs up a stream's session and the tone and DSP devices.
// The slot lets its channel go in a turn in which the services have not yet
// handled their own hang-ups: its off requests fail on the hung-up
// descriptors and go once more to the devices opened afresh, so the detector,
// the VAD and the ringback's generator end up off on the board, and each
// device's hang-up is logged once.
TEST_F(Hangup, OffRequestsInTheTurnOfTheDevicesHangupReachTheDevicesOpenedAfresh)
{
    slotstest::UdpPeer peer(e2e::deadline_ms() / 1000);
    const std::string ts = stream(50, peer);
    ASSERT_NE("", ts);
    using Fill = void (*)(LGCP::IoctlParams&);
    for (Fill fill : {Fill([](LGCP::IoctlParams& p) { p.select_dtmf_enable(true); }),
                      Fill([](LGCP::IoctlParams& p) { p.select_vad_enable(true); }),
                      Fill([](LGCP::IoctlParams& p) { p.select_activateWaitTone(); })})
        ASSERT_EQ("ok", outcome(50, [fill](LGCP::Command& c) { fill(c.select_ioctl()); }));
    journal();
    EXPECT_EQ("ok\nok\nok\n", daemon.board("hangup /dev/rtp\nhangup /dev/dtmf\nhangup /dev/dsp"));
    ASSERT_TRUE(daemon.wait_err("rtp[" + ts + "]: rtp device error, events disabled\n")) << daemon.err();
    ASSERT_TRUE(ping());
    const Lines all = journal();
    // A device's lines from its hang-up on, "T" for the timeslot.
    const auto since = [&](const std::string& device) {
        Lines out;
        for (std::string line : all) {
            if (line.find(" " + device) == std::string::npos || (out.empty() && line != "hangup " + device))
                continue;
            for (std::size_t at; (at = line.find("ts=" + ts)) != std::string::npos;)
                line.replace(at, 3 + ts.size(), "ts=T");
            out.push_back(line);
        }
        return out;
    };
    EXPECT_EQ((Lines{"hangup /dev/dtmf", "open /dev/dtmf", "ioctl /dev/dtmf disable ts=T -> 0",
                     "ioctl /dev/dtmf iva-off ts=T -> 0", "ioctl /dev/dtmf reject-off ts=T -> 0",
                     "ioctl /dev/dtmf dial ts=T f1=0 f2=0 a1=0 a2=0 -> 0"}),
              since("/dev/dtmf"));
    EXPECT_EQ((Lines{"hangup /dev/dsp", "open /dev/dsp", "ioctl /dev/dsp disable ts=T id=0 mask=0x1 -> 0",
                     "ioctl /dev/dsp disable ts=T id=0 mask=0x10 -> 0",
                     "ioctl /dev/dsp disable ts=T id=0 mask=0x80 -> 0",
                     "ioctl /dev/dsp configure ts=T fn=0x20 params=000000000000000000000000 -> 0",
                     "ioctl /dev/dsp configure ts=T fn=0x40 params=000000000000000000000000 -> 0",
                     "ioctl /dev/dsp disable ts=T id=0 mask=0x100 -> 0"}),
              since("/dev/dsp"));
    const std::string state = daemon.board("dtmf get " + ts), tones = daemon.board("dtmf gen " + ts);
    EXPECT_EQ(0u, state.find("detector off ")) << state;
    const std::string lastOff = " 0 0 0 0\nok\n";
    EXPECT_EQ(tones.size() - lastOff.size(), tones.rfind(lastOff)) << tones;
    EXPECT_EQ(0u, daemon.board("dsp get " + ts).find("on=0x0 ")) << daemon.board("dsp get " + ts);
    const std::string devices = daemon.board("devices");
    EXPECT_NE(std::string::npos, devices.find("/dev/dtmf present open=1\n")) << devices;
    EXPECT_NE(std::string::npos, devices.find("/dev/dsp present open=1\n")) << devices;
    EXPECT_EQ(1u, logged("tonec device error, events disabled\n")) << daemon.err();
    EXPECT_EQ(1u, logged("dsproc device error, events disabled\n")) << daemon.err();
    EXPECT_EQ(0u, logged(" fail:")) << daemon.err();
    EXPECT_EQ("ok", destroy(50));
}

// The board queues a record on a stream's session and hangs it up and, in
// the same loop turn, the controller creates the next stream, which the
// driver gives the freed channel, switches its detector on and joins a trunk
// timeslot to it. The old stream reads the record and lets the channel go
// before the new one is made (its joins both ways, its switch output, its
// detectors), and nothing of it reaches the channel after: neither its
// hang-up, whose turn comes next, nor its destroy; its requests fail. The new
// stream's detector and switch channel stay on.
TEST_F(Hangup, AStreamWhoseChannelGoesToACreateInTheHangupsTurnLetsItGoFirst)
{
    slotstest::UdpPeer peer(e2e::deadline_ms() / 1000);
    const auto dtmf = [](LGCP::Command& c) { c.select_ioctl().select_dtmf_enable(true); };
    const auto join = [](unsigned target) {
        return [target](LGCP::Command& c) { c.select_connect(target); };
    };
    const std::string ts = stream(50, peer);
    ASSERT_NE("", ts);
    ASSERT_EQ(3u, ask(
                      3,
                      [](LGCP::Command& c) {
                          c.select_create().select_trunk().set_trunk(0);
                          c.ref_create().ref_trunk().set_timeslot(1);
                      },
                      3)
                      .size());
    ASSERT_EQ("ok", outcome(3, join(50)));
    ASSERT_EQ("ok", outcome(50, join(3)));
    ASSERT_EQ("ok", outcome(50, dtmf));
    journal();

    int board = -1;
    {
        // All of it is there for the daemon's next turn: the board's command
        // is served first, then the controller's.
        const e2etest::Held held(daemon.pid());
        ASSERT_TRUE(held.stopped());
        board = daemon.board_post("rtp event " + ts + " 1 3 500\nhangup /dev/rtp");
        post(51, [&peer](LGCP::Command& c) { e2etest::g711Stream(c, peer); });
        post(51, dtmf);
        post(3, join(51));
    }
    EXPECT_EQ("ok\nok\n", daemon.board_answer(board));
    const Lines got = answered();
    std::ostringstream shown;
    for (const std::string& line : got)
        shown << line << "\n";
    // The driver gave the new stream the old one's channel.
    ASSERT_EQ(1,
              std::count(got.begin(), got.end(), "{ slot 51, pdu signal : receiver : active : " + ts + " }"))
        << shown.str();
    // What the old session queued before it went still reached the controller.
    EXPECT_EQ(1, std::count(got.begin(), got.end(),
                            "{ slot 50, pdu signal : rtp : pd : { value 3, timeout 500 } }"))
        << shown.str();
    for (int seq = mSeq - 2; seq <= mSeq; ++seq) {
        const int slot = seq == mSeq ? 3 : 51;
        EXPECT_EQ(1, std::count(got.begin(), got.end(),
                                "{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) +
                                    ", pdu response : success : NULL }"))
            << shown.str();
    }
    // Logged once, and the old stream's hang-up has had its turn (a ping
    // answered after it; what the old stream may still send is passed over).
    ASSERT_TRUE(daemon.wait_err("rtp[" + ts + "]: rtp device error, events disabled\n")) << daemon.err();
    post(-1, [](LGCP::Command& c) { c.select_ping(); });
    const Lines pinged = answered();
    ASSERT_EQ(success(-1), pinged.empty() ? "(none)" : pinged.back());
    EXPECT_NE("ok", outcome(50, dtmf));
    EXPECT_EQ("ok", destroy(50));
    EXPECT_EQ(1u, logged("rtp[" + ts + "]: rtp device error, events disabled\n"));

    // The old stream's let-go comes between the new session's channel and
    // the new stream's detector; after that detector, the channel's one
    // request is the new stream's join.
    const Lines lines = journal();
    std::ostringstream all;
    for (const std::string& line : lines)
        all << line << "\n";
    const auto at = [&lines](const std::string& start) {
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i].compare(0, start.size(), start) == 0)
                return i;
        return lines.size();
    };
    const std::size_t handed = at("ioctl /dev/rtp add-channel tdm=-1 -> 0 tdm=" + ts),
                      enabled = at("ioctl /dev/dtmf enable ts=" + ts + " ");
    ASSERT_LT(handed, enabled) << all.str();
    ASSERT_LT(enabled, lines.size()) << all.str();
    for (const std::string& off :
         {"ioctl /dev/hal disable ch=" + ts + " ", "ioctl /dev/dtmf disable ts=" + ts + " ",
          "ioctl /dev/dsp disable ts=" + ts + " "}) {
        const std::size_t first = at(off);
        EXPECT_TRUE(handed < first && first < enabled) << off << "\n" << all.str();
    }
    Lines later;
    for (std::size_t i = enabled + 1; i < lines.size(); ++i)
        if (lines[i].find("=" + ts + " ") != std::string::npos)
            later.push_back(lines[i]);
    EXPECT_EQ(Lines{"ioctl /dev/hal connect dst=" + ts + " src=1 -> 0"}, later) << all.str();
    EXPECT_EQ(0u, daemon.board("hal get " + ts).find(ts + " connected 1 ")) << daemon.board("hal get " + ts);
    EXPECT_EQ(0u, daemon.board("dtmf get " + ts).find("detector on ")) << daemon.board("dtmf get " + ts);
    EXPECT_EQ("ok", destroy(51));
    EXPECT_EQ("ok", destroy(3));
}

// A DSP modem call whose answer the driver refused is aborted with that
// error. The later hang-up of the descriptor that holds its modem, alone or
// met in its loop turn by the next call's allocation of that modem, aborts
// it no second time.
TEST_F(Hangup, AModemCallWhoseAnswerFailedIsAbortedOnce)
{
    ASSERT_EQ("ok\nok\n", daemon.board("device /dev/mctl present\nmctl modems 1 96"));
    ASSERT_EQ(3u, ask(
                      1,
                      [](LGCP::Command& c) {
                          c.select_create().select_trunk().set_trunk(0);
                          c.ref_create().ref_trunk().set_timeslot(1);
                      },
                      3)
                      .size());
    const auto modem = [](bool fax) {
        return [fax](LGCP::Command& c) {
            TERM::ModemParams& p = c.select_create().select_modem();
            p.set_cid("42"), p.set_cdid("100");
            if (fax) // a call that starts no program
                p.set_fax(), p.set_originate();
        };
    };
    const auto join = [](LGCP::Command& c) { c.select_connect(1u); };
    // Slot 2's messages among the lines, "" for none.
    const auto of2 = [](const Lines& lines) {
        std::string out;
        for (const std::string& line : lines)
            if (line.find("slot 2,") != std::string::npos && line.compare(0, 6, "{ seq ") != 0)
                out += line + "\n";
        return out;
    };
    // What came up to the answer of a ping, sent after another one: the
    // descriptor's hang-up, polled by the first one's turn at the latest,
    // has been handled.
    const auto settled = [this] {
        Lines got;
        for (int i = 0; i < 2; ++i) {
            post(-1, [](LGCP::Command& c) { c.select_ping(); });
            for (const std::string& line : answered())
                got.push_back(line);
        }
        return got;
    };
    for (const bool next : {false, true}) {
        SCOPED_TRACE(next ? "the hang-up met by the next call's allocation" : "the hang-up alone");
        ASSERT_EQ("ok\n", daemon.board("fail /dev/mctl answer 5 1"));
        ASSERT_EQ("ok", outcome(2, modem(false)));
        post(2, join);
        EXPECT_EQ("{ slot 2, pdu signal : transmitter : active : 96 }\n"
                  "{ slot 2, pdu signal : receiver : active : 96 }\n"
                  "{ slot 2, pdu signal : abort : 5 }\n",
                  of2(answered()));
        Lines after;
        if (next) {
            // The hang-up and the next call's join all there for one turn.
            int board = -1;
            {
                const e2etest::Held held(daemon.pid());
                ASSERT_TRUE(held.stopped());
                board = daemon.board_post("hangup /dev/mctl");
                post(3, modem(true));
                post(3, join);
            }
            EXPECT_EQ("ok\n", daemon.board_answer(board));
            after = answered();
            EXPECT_EQ(
                1, std::count(after.begin(), after.end(), "{ slot 3, pdu signal : receiver : active : 96 }"));
        } else {
            EXPECT_EQ("ok\n", daemon.board("hangup /dev/mctl"));
        }
        for (const std::string& line : settled())
            after.push_back(line);
        EXPECT_EQ("", of2(after)) << "a second abort";
        EXPECT_EQ("ok", destroy(2));
        if (next) {
            EXPECT_EQ("ok", destroy(3));
        }
    }
    EXPECT_EQ("ok", destroy(1));
}

} // namespace
