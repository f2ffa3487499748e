// The DSP processing service over the simulated DSP driver: function ids and
// states, VAD configuration by driver version, event routing, clean-up.
#include "hardware/dsp.hpp"

#include <functional>
#include <sstream>

#include "platform/devices.hpp"
#include "runtime/traces.hpp"
#include "tests/hardware/media_rig.hpp"

namespace
{

using Lines = std::vector<std::string>;
const std::string kDsp = platform::dsp::kPath;

class Receiver : public Hardware::DSProcReceiver
{
public:
    explicit Receiver(unsigned ts) : mTs(ts) {}
    void dsproc_vad_event(Hardware::DSProcVADEvent const& e) override { note("vad", e.rx, e.tx); }
    void dsproc_bss_event(struct dsproc_bss_event const* e) override { note("bss", e->score); }
    void dsproc_sd_event(Hardware::DSProcSDEvent const& e) override { note("sd", e.value); }
    void dsproc_tone_flt_event(dsproc_tone_event const* e) override { note("tone", e->freq, e->presence); }
    void dsproc_flags_event(struct dsproc_flags_event const* e) override { note("flags", e->flags, e->mask); }
    template <class... V> void note(std::string line, V... v)
    {
        for (const std::string& x : {std::to_string(v)...})
            line += " " + x;
        events.push_back(line);
        if (react)
            react(*this);
    }
    unsigned dsproc_timeslot() const override { return mTs; }

    Lines events;
    std::function<void(Receiver&)> react; // after an event is noted

private:
    unsigned mTs;
};

class TraceEvents
{
public:
    TraceEvents() : mSaved(traces.signalling.events) { traces.signalling.events = true; }
    ~TraceEvents() { traces.signalling.events = mSaved; }

private:
    bool mSaved;
};

TEST(Dsp, OneIdCounterForEveryFunctionAndReceiver)
{
    hwtest::MediaRig rig;
    Receiver a(5), b(6);
    EXPECT_TRUE(a.enableVAD(true));
    EXPECT_TRUE(b.enableSD(true));
    EXPECT_TRUE(a.enableBSS(true));
    EXPECT_TRUE(a.enableVAD(true)); // on already
    EXPECT_TRUE(a.enableMute(true, false));
    EXPECT_TRUE(a.enableMute(false, false));
    EXPECT_EQ((Lines{"enable ts=5 id=1 mask=0x1 -> 0", "enable ts=6 id=2 mask=0x2 -> 0",
                     "enable ts=5 id=3 mask=0x10 -> 0", "enable ts=5 id=4 mask=0x4 -> 0",
                     "disable ts=5 id=0 mask=0xC -> 0"}),
              rig.lines(kDsp));
    EXPECT_NE(std::string::npos, rig.err.text().find("DSPROC_ENABLE BSS done: timeslot=5 id=3\n"));
    EXPECT_NE(std::string::npos, rig.err.text().find("DSPROC_DISABLE MUTE done: timeslot=5\n"));
}

TEST(Dsp, UnknownStatesSendTheirFirstDisable)
{
    // VAD and SD start unknown (-1), BSS and NG off (0).
    struct Case {
        const char* what;
        bool (Receiver::*disable)();
        Lines requests;
    };
    const Case cases[] = {
        {"vad", &Receiver::disableVAD, {"disable ts=3 id=0 mask=0x1 -> 0"}},
        {"sd", &Receiver::disableSD, {"disable ts=3 id=0 mask=0x2 -> 0"}},
        {"bss", &Receiver::disableBSS, {}},
        {"ng", &Receiver::disableNG, {}},
    };
    for (const Case& c : cases) {
        hwtest::MediaRig rig;
        Receiver r(3);
        EXPECT_TRUE((r.*c.disable)()) << c.what;
        EXPECT_TRUE((r.*c.disable)()) << c.what; // known off now
        EXPECT_EQ(c.requests, rig.lines(kDsp)) << c.what;
    }
}

TEST(Dsp, VadConfigurationFollowsTheDriversVersion)
{
    struct Case {
        int version;
        bool v2, result;
        const char* request; // "" for none
    };
    const Case cases[] = {
        {2, true, true, "configure ts=4 fn=0x1 params=2C01E803F600000000000000 -> 0"},
        {2, false, false, ""},
        {1, true, true, "configure ts=4 fn=0x1 params=030000007F00000000000000 -> 0"},
        {3, false, true, "configure ts=4 fn=0x1 params=030000007F00000000000000 -> 0"},
    };
    for (const Case& c : cases) {
        hwtest::MediaRig rig;
        rig.command("dsp version " + std::to_string(c.version));
        Receiver r(4);
        LGCP::VADParams p;
        TERM::VADParamsV2& v2 = p.select_v2();
        v2.set_voice_th_msec(300);
        v2.set_silence_th_msec(1000);
        v2.set_e_th_dB(-10);
        if (!c.v2)
            p.select_v1();
        EXPECT_EQ(c.result, r.configureVAD(p)) << c.version;
        Lines expected{"vad-version -> " + std::to_string(c.version)};
        if (*c.request)
            expected.push_back(c.request);
        // The record is in host order: the expected bytes are a little-endian host's.
        const std::uint16_t one = 1;
        if (*reinterpret_cast<const unsigned char*>(&one) == 1) {
            EXPECT_EQ(expected, rig.lines(kDsp)) << c.version;
        } else {
            EXPECT_EQ(expected.size(), rig.lines(kDsp).size()) << c.version;
        }
        EXPECT_EQ(c.result ? "" : "DSPROC_CONFIGURE VAD: params not specified for v2:  timeslot=4\n",
                  rig.err.text());
    }
}

// The lines that name a dropped record.
std::string drops(const std::string& text)
{
    std::istringstream lines(text);
    std::string out;
    for (std::string line; std::getline(lines, line);)
        if (line.find("ignore spurious") != std::string::npos ||
            line.find("unknown timeslot") != std::string::npos)
            out += line + "\n";
    return out;
}

TEST(Dsp, EventRecordsFollowEachFunctionsFilter)
{
    struct Case {
        const char* what;
        int vad; // 0 untouched, 1 on, 2 on and off again
        bool enableBss;
        const char *inject, *delivered; // delivered "": dropped
        const char* line;               // log line of a drop (trace flag on), "" for none
    };
    const Case cases[] = {
        {"vad rx only", 1, false, "dsp vad 5 rx=1", "vad 1 -1", ""},
        {"vad before any enable, id 0", 0, false, "dsp vad 5 tx=0 id=0", "vad -1 0", ""},
        {"vad foreign id", 1, false, "dsp vad 5 rx=1 id=9", "",
         "ignore spurious dsproc vad event:  timeslot=5 id=9 type=1 rid=1\n"},
        {"vad switched off", 2, false, "dsp vad 5 rx=1", "",
         "ignore spurious dsproc vad event (dsproc disabled):  timeslot=5 id=1 type=1\n"},
        {"bss whatever its id", 0, true, "dsp bss 5 0.5 id=77", "bss 0.500000", ""},
        {"bss off", 0, false, "dsp bss 5 0.5", "",
         "ignore spurious dsproc bss event (dsproc disabled):  timeslot=5 id=0 type=16\n"},
        {"flags with nothing on", 0, false, "dsp flags 5 0x20000000 0x20000000", "flags 536870912 536870912",
         ""},
        {"tone filter", 0, false, "dsp tone 5 1000 1", "tone 1000 1", ""},
        {"unknown timeslot", 0, false, "dsp sd 8 1", "", "receive dsproc event from unknown timeslot 8\n"},
    };
    for (const Case& c : cases) {
        hwtest::MediaRig rig;
        TraceEvents trace;
        Receiver r(5);
        ASSERT_TRUE(!c.vad || r.enableVAD(true));
        ASSERT_TRUE(c.vad != 2 || r.disableVAD());
        ASSERT_TRUE(!c.enableBss || r.enableBSS(true));
        EXPECT_EQ("ok\n", rig.command(c.inject)) << c.what;
        EXPECT_EQ("ok\n", rig.command("dsp sd 5 1 id=0")); // the next record is still read
        rig.run_for(1);
        EXPECT_EQ((*c.delivered ? Lines{c.delivered, "sd 1"} : Lines{"sd 1"}), r.events) << c.what;
        EXPECT_EQ(c.line, drops(rig.err.text() + rig.log.text())) << c.what;
    }
}

// A read that fails costs its pass only; failing again in the next pass, it
// lets the device go, and the next enable reaches a device opened afresh.
TEST(Dsp, AReadThatFailsInTwoPassesInARowLetsTheDeviceGo)
{
    hwtest::MediaRig rig;
    Receiver r(5);
    ASSERT_TRUE(r.enableVAD(true));
    rig.dsp->OnEvent(-1, POLLIN); // a read of no descriptor: EBADF
    EXPECT_TRUE(rig.dsp->is_open());
    EXPECT_EQ("ok\n", rig.command("dsp vad 5 rx=1"));
    rig.run_for(1);
    EXPECT_EQ((Lines{"vad 1 -1"}), r.events);
    rig.dsp->OnEvent(-1, POLLIN);
    EXPECT_TRUE(rig.dsp->is_open());
    rig.dsp->OnEvent(-1, POLLIN);
    EXPECT_FALSE(rig.dsp->is_open());
    EXPECT_NE(std::string::npos, rig.err.text().find("fail to read from dsproc: Bad file descriptor\n"));
    rig.sim.clear_journal();
    EXPECT_TRUE(r.enableVAD(true));
    EXPECT_EQ((Lines{"open", "enable ts=5 id=2 mask=0x1 -> 0"}), rig.lines(kDsp));
}

TEST(Dsp, CleanBeforeDestroySwitchesOffFunctionsThatAreOn)
{
    struct Case {
        const char* what;
        void (*use)(Receiver&);
        Lines requests;
    };
    const Case cases[] = {
        {"nothing used", [](Receiver&) {}, {"disable ts=2 id=0 mask=0x100 -> 0"}},
        {"all on",
         [](Receiver& r) {
             r.enableVAD(true), r.enableBSS(true), r.enableNG(true), r.enableSD(true);
             r.configureDelays(10, 0), r.configureRxGain(-3);
         },
         {"disable ts=2 id=0 mask=0x1 -> 0", "disable ts=2 id=0 mask=0x10 -> 0",
          "disable ts=2 id=0 mask=0x80 -> 0", "configure ts=2 fn=0x20 params=000000000000000000000000 -> 0",
          "configure ts=2 fn=0x40 params=000000000000000000000000 -> 0",
          "disable ts=2 id=0 mask=0x100 -> 0"}},
        {"gain set back to zero",
         [](Receiver& r) { r.configureRxGain(5), r.configureRxGain(0); },
         {"disable ts=2 id=0 mask=0x100 -> 0"}},
    };
    for (const Case& c : cases) {
        hwtest::MediaRig rig;
        Receiver r(2);
        c.use(r);
        rig.sim.clear_journal();
        r.CleanBeforeDestroy();
        EXPECT_EQ(c.requests, rig.lines(kDsp)) << c.what;
    }
}

// A device let go takes what the service knew of each timeslot with it: every
// function of every receiver is unknown, neither on nor off, and the delays
// and the gain may be anything. The next request of a function, enable or
// disable, and each off request of a destroy reach the device opened afresh;
// a request that succeeds makes the function known again, a failed one leaves
// it unknown. The destroy still leaves SD and muting as they are.
TEST(Dsp, AfterTheDeviceIsLetGoEveryFunctionIsUnknownNotOff)
{
    const std::string vadOff = "disable ts=2 id=0 mask=0x1 -> 0", sdOff = "disable ts=2 id=0 mask=0x2 -> 0",
                      bssOff = "disable ts=2 id=0 mask=0x10 -> 0", ngOff = "disable ts=2 id=0 mask=0x80 -> 0",
                      delays = "configure ts=2 fn=0x20 params=000000000000000000000000 -> 0",
                      gain = "configure ts=2 fn=0x40 params=000000000000000000000000 -> 0",
                      toneAll = "disable ts=2 id=0 mask=0x100 -> 0";
    struct Case {
        const char* what;
        void (*before)(Receiver&); // before the device goes
        void (*after)(hwtest::MediaRig&, Receiver&);
        Lines requests, destroy; // the journal after the let-go, and the destroy's
    };
    const auto allOn = [](Receiver& r) {
        r.enableVAD(true), r.enableBSS(true), r.enableNG(true), r.enableSD(true);
        r.enableMute(true, true), r.configureDelays(10, 20), r.configureRxGain(-3);
    };
    const auto allOffAgain = [](Receiver& r) {
        r.enableVAD(true), r.enableBSS(true), r.enableNG(true), r.enableSD(true);
        r.disableVAD(), r.disableBSS(), r.disableNG(), r.disableSD();
        r.configureDelays(10, 20), r.configureDelays(0, 0), r.configureRxGain(-3), r.configureRxGain(0);
    };
    const Case cases[] = {
        {"all on, each disabled twice",
         allOn,
         [](hwtest::MediaRig&, Receiver& r) {
             for (int twice = 0; twice < 2; ++twice) {
                 EXPECT_TRUE(r.disableVAD());
                 EXPECT_TRUE(r.disableBSS());
                 EXPECT_TRUE(r.disableNG());
                 EXPECT_TRUE(r.disableSD());
                 EXPECT_TRUE(r.disableMute());
             }
         },
         {"open", vadOff, bssOff, ngOff, sdOff, "disable ts=2 id=0 mask=0xC -> 0"},
         {delays, gain, toneAll}},
        {"switched off before the device went, each disabled",
         allOffAgain,
         [](hwtest::MediaRig&, Receiver& r) {
             EXPECT_TRUE(r.disableVAD());
             EXPECT_TRUE(r.disableBSS());
             EXPECT_TRUE(r.disableNG());
             EXPECT_TRUE(r.disableSD());
         },
         {"open", vadOff, bssOff, ngOff, sdOff},
         {delays, gain, toneAll}},
        {"all on, each enabled twice",
         allOn,
         [](hwtest::MediaRig&, Receiver& r) {
             for (int twice = 0; twice < 2; ++twice) {
                 EXPECT_TRUE(r.enableVAD(true));
                 EXPECT_TRUE(r.enableBSS(true));
                 EXPECT_TRUE(r.enableNG(true));
                 EXPECT_TRUE(r.enableSD(true));
                 EXPECT_TRUE(r.enableMute(true, true));
             }
         },
         {"open", "enable ts=2 id=6 mask=0x1 -> 0", "enable ts=2 id=7 mask=0x10 -> 0",
          "enable ts=2 id=8 mask=0x80 -> 0", "enable ts=2 id=9 mask=0x2 -> 0",
          "enable ts=2 id=10 mask=0xC -> 0"},
         {vadOff, bssOff, ngOff, delays, gain, toneAll}},
        {"all on, destroyed",
         allOn,
         [](hwtest::MediaRig&, Receiver&) {},
         {},
         {"open", vadOff, bssOff, ngOff, delays, gain, toneAll}},
        {"switched off before the device went, destroyed",
         allOffAgain,
         [](hwtest::MediaRig&, Receiver&) {},
         {},
         {"open", vadOff, bssOff, ngOff, delays, gain, toneAll}},
        {"a refused disable leaves VAD unknown",
         allOn,
         [](hwtest::MediaRig& rig, Receiver& r) {
             rig.sim.fail(kDsp, platform::dsp::kDisable, EIO, 1);
             EXPECT_FALSE(r.disableVAD());
             r.configureDelays(0, 0), r.configureRxGain(0);
         },
         {"open", "disable ts=2 id=0 mask=0x1 -> -1 EIO", delays, gain},
         {vadOff, bssOff, ngOff, toneAll}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        hwtest::MediaRig rig;
        Receiver r(2);
        c.before(r);
        EXPECT_EQ("ok\n", rig.command("hangup " + kDsp));
        rig.run_for(1);
        ASSERT_FALSE(rig.dsp->is_open());
        rig.sim.clear_journal();
        c.after(rig, r);
        EXPECT_EQ(c.requests, rig.lines(kDsp));
        rig.sim.clear_journal();
        r.CleanBeforeDestroy();
        EXPECT_EQ(c.destroy, rig.lines(kDsp));
        EXPECT_EQ(std::string::npos, rig.err.text().find("Bad file descriptor"));
    }
}

// The device hangs up and, before the loop has handled that, a request fails
// on its descriptor: the device is let go at once, the request (the driver's
// version query too) is made once more on the device opened afresh, and the
// hang-up is logged once, also when the request comes from the delivery of a
// record the descriptor still held: the hang-up polled with it was the old
// descriptor's.
TEST(Dsp, ARequestFailingOnADeviceHungUpInItsTurnIsMadeAgainOnTheDeviceOpenedAfresh)
{
    const std::string zero = " params=000000000000000000000000 -> 0";
    struct Case {
        const char* what;
        void (*turn)(Receiver&);
        Lines requests;
        const char* record = ""; // queued before the hang-up
    };
    const Case cases[] = {
        {"cleaned before its destroy",
         [](Receiver& r) { r.CleanBeforeDestroy(); },
         {"hangup", "open", "disable ts=2 id=0 mask=0x1 -> 0", "disable ts=2 id=0 mask=0x10 -> 0",
          "disable ts=2 id=0 mask=0x80 -> 0", "configure ts=2 fn=0x20" + zero,
          "configure ts=2 fn=0x40" + zero, "disable ts=2 id=0 mask=0x100 -> 0"}},
        {"SD enabled",
         [](Receiver& r) { EXPECT_TRUE(r.enableSD(true)); },
         {"hangup", "open", "enable ts=2 id=2 mask=0x2 -> 0"}},
        // Version 2 wants v2 parameters: the refusal shows whose answer counted.
        {"VAD configured",
         [](Receiver& r) {
             LGCP::VADParams p;
             p.select_v1();
             EXPECT_FALSE(r.configureVAD(p));
         },
         {"hangup", "open", "vad-version -> 2"}},
        {"SD enabled while a record is delivered",
         [](Receiver& r) { r.react = [](Receiver& self) { EXPECT_TRUE(self.enableSD(true)); }; },
         {"hangup", "open", "enable ts=2 id=2 mask=0x2 -> 0"},
         "dsp vad 2 rx=1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        hwtest::MediaRig rig;
        EXPECT_EQ("ok\n", rig.command("dsp version 2"));
        Receiver r(2);
        ASSERT_TRUE(r.enableVAD(true));
        rig.sim.clear_journal();
        if (*c.record) {
            EXPECT_EQ("ok\n", rig.command(c.record));
        }
        EXPECT_EQ("ok\n", rig.command("hangup " + kDsp));
        c.turn(r);
        rig.run_for(1);
        EXPECT_EQ(c.requests, rig.lines(kDsp));
        const std::string &err = rig.err.text(), once = "dsproc device error, events disabled\n";
        EXPECT_NE(std::string::npos, err.find(once)) << err;
        EXPECT_EQ(err.find(once), err.rfind(once)) << err;
        EXPECT_TRUE(rig.dsp->is_open());
    }
}

} // namespace
