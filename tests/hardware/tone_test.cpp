// The tone service over the simulated tone driver: detector ids, the routing
// of event records, DTMF strings and the ringback read back from the
// generator's history, and what a receiver leaves behind.
#include "hardware/tone.hpp"

#include <fcntl.h>
#include <functional>
#include <memory>

#include "platform/devices.hpp"
#include "tests/hardware/media_rig.hpp"

namespace
{

using Lines = std::vector<std::string>;
const std::string kDtmf = platform::dtmf::kPath;

class Receiver : public Hardware::TonecReceiver
{
public:
    explicit Receiver(unsigned ts) : mTs(ts) {}
    ~Receiver() override { CleanBeforeDestroy(); }
    void tonec_event(Params const& p) override
    {
        events.push_back(std::to_string(p.code) + "@" + std::to_string(p.timestamp));
        if (react)
            react(*this);
    }
    unsigned tonec_timeslot() const override { return mTs; }
    void tone_gen_complete() override { ++completed; }

    Lines events;
    int completed = 0;
    std::function<void(Receiver&)> react; // after an event is noted

private:
    unsigned mTs;
};

// Keys '1' to '3'.
LGCP::TranslateDtmfParams digits(const std::string& keys)
{
    LGCP::TranslateDtmfParams p;
    p.set_digits();
    for (char k : keys) {
        LGCP::DualTone t;
        t.set_freq1(697);
        t.set_freq2(k == '1' ? 1209 : k == '2' ? 1336 : 1477);
        p.set_digits().push_back(t);
    }
    return p;
}

// The generator history of a timeslot, "<ms> <f1> <f2> <a1> <a2>" per request,
// the times counted from the first request and rounded to 10 ms: a timer may
// fire a few milliseconds late (in the pass after its due time), but the
// tones and their order must match exactly.
Lines cadence(hwtest::MediaRig& rig, unsigned ts)
{
    std::istringstream in(rig.command("dtmf gen " + std::to_string(ts)));
    Lines out;
    long first = -1;
    for (long t = 0; in >> t;) {
        std::string rest;
        std::getline(in, rest);
        first = first < 0 ? t : first;
        out.push_back(std::to_string((t - first + 5) / 10 * 10) + rest);
    }
    return out;
}

std::size_t count(const std::string& text, const std::string& line)
{
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(line, at)) != std::string::npos; at += line.size())
        ++n;
    return n;
}

TEST(Tone, DetectorIdsRunAcrossReceiversAndSkipZero)
{
    hwtest::MediaRig rig;
    Receiver a(5), b(6);
    EXPECT_TRUE(a.enableDTMF(true));
    EXPECT_TRUE(b.enableDTMF(true));
    EXPECT_TRUE(a.enableDTMF(true)); // already on: no request
    EXPECT_TRUE(a.disableDTMF());
    EXPECT_TRUE(a.disableDTMF()); // already off: no request
    rig.tone->set_last_id(0xFFFFFFFFu);
    EXPECT_TRUE(a.enableDTMF(true));
    EXPECT_EQ((Lines{"enable ts=5 id=1 -> 0", "enable ts=6 id=2 -> 0", "disable ts=5 -> 0",
                     "enable ts=5 id=1 -> 0"}),
              rig.lines(kDtmf));
    EXPECT_NE(std::string::npos, rig.err.text().find("DTMF_ENABLE_DETECTOR done: timeslot=6 id=2\n"));
    EXPECT_NE(std::string::npos, rig.err.text().find("DTMF_DISABLE_DETECTOR done: timeslot=5\n"));
    // A refused enable still uses up its id.
    rig.sim.fail(kDtmf, platform::dtmf::kEnableDetector, EIO, 1);
    EXPECT_TRUE(b.disableDTMF());
    EXPECT_FALSE(b.enableDTMF(true));
    EXPECT_TRUE(b.enableDTMF(true));
    EXPECT_EQ("enable ts=6 id=3 -> 0", rig.lines(kDtmf).back());
    EXPECT_NE(
        std::string::npos,
        rig.err.text().find("DTMF_ENABLE_DETECTOR fail: timeslot=6 id=2 errno=\"Input/output error\"\n"));
}

TEST(Tone, DtmfAndIvaDetectionKeepTheirOwnState)
{
    hwtest::MediaRig rig;
    {
        Receiver r(7);
        EXPECT_TRUE(r.enableIVA(true));
        EXPECT_TRUE(r.enableDTMF(true)); // IVA on does not stand for the DTMF detector
        EXPECT_TRUE(r.enableIVA(false)); // and IVA off leaves the DTMF detector on
        EXPECT_EQ("ok\n", rig.command("dtmf digit 7 5"));
        rig.run_for(1);
        EXPECT_EQ((Lines{"5@0"}), r.events);
        rig.sim.clear_journal();
    }
    // Destruction switches off what is still on: the DTMF detector only.
    EXPECT_EQ((Lines{"disable ts=7 -> 0"}), rig.lines(kDtmf));
}

TEST(Tone, EventRecordsGoToTheTimeslotsFirstReceiverOrAreDroppedWithALine)
{
    struct Case {
        const char* inject;           // control command
        const char *delivered, *line; // the log line naming the drop, "" for a delivered record
    };
    const Case cases[] = {
        {"dtmf digit 9 3 id=1 stamp=40", "", "receive tonec event from unknown timeslot 9\n"},
        {"dtmf digit 4 3 id=0 stamp=40", "",
         "ignore spurious dtmf event (DTMF disabled):  timestamp=40 timeslot=4 code=3 id=0\n"},
        {"dtmf digit 5 3 id=7 stamp=40", "",
         "ignore spurious dtmf event:  timestamp=40 timeslot=5 code=3 id=7 rid=1\n"},
        {"dtmf digit 5 3 id=1 stamp=40", "3@40", "dtmf event:  timestamp=40 timeslot=5 code=3 id=1\n"},
    };
    for (const Case& c : cases) {
        hwtest::MediaRig rig;
        Receiver first(5), second(5), off(4);
        ASSERT_TRUE(first.enableDTMF(true));
        ASSERT_TRUE(second.enableDTMF(true));
        EXPECT_EQ("ok\n", rig.command(c.inject));
        // A good record after the dropped one is still read in the same pass.
        EXPECT_EQ("ok\n", rig.command("dtmf digit 5 8 id=1 stamp=41"));
        rig.run_for(1);
        EXPECT_EQ((std::string(c.delivered).empty() ? Lines{"8@41"} : Lines{c.delivered, "8@41"}),
                  first.events)
            << c.inject;
        EXPECT_TRUE(second.events.empty()) << c.inject;
        EXPECT_NE(std::string::npos, (rig.err.text() + rig.log.text()).find(c.line)) << c.inject;
    }
}

TEST(Tone, ShortReadsEndThePassAndADeviceErrorIsDisarmed)
{
    hwtest::MediaRig rig;
    Receiver r(5);
    ASSERT_TRUE(r.enableDTMF(true));
    EXPECT_EQ("ok\n", rig.command("event /dev/dtmf 01 02 03 04"));
    EXPECT_EQ("ok\n", rig.command("dtmf digit 5 2"));
    rig.run_for(10);
    EXPECT_EQ((Lines{"2@0"}), r.events);
    ASSERT_TRUE(rig.tone->is_open());
    rig.tone->OnEvent(-1, POLLHUP);
    EXPECT_FALSE(rig.tone->is_open());
    EXPECT_NE(std::string::npos, rig.err.text().find("tonec device error, events disabled\n"));
}

// A read that fails costs its pass only; failing again in the next pass, it
// lets the device go, and the next enable reaches a device opened afresh.
TEST(Tone, AReadThatFailsInTwoPassesInARowLetsTheDeviceGo)
{
    hwtest::MediaRig rig;
    Receiver r(5);
    ASSERT_TRUE(r.enableDTMF(true));
    rig.tone->OnEvent(-1, POLLIN); // a read of no descriptor: EBADF
    EXPECT_TRUE(rig.tone->is_open());
    EXPECT_EQ("ok\n", rig.command("dtmf digit 5 2"));
    rig.run_for(1);
    EXPECT_EQ((Lines{"2@0"}), r.events);
    // The good pass between them makes this failure a first one again.
    rig.tone->OnEvent(-1, POLLIN);
    EXPECT_TRUE(rig.tone->is_open());
    rig.tone->OnEvent(-1, POLLIN);
    EXPECT_FALSE(rig.tone->is_open());
    EXPECT_EQ(3u, count(rig.err.text(), "fail to read from tonec: Bad file descriptor\n"));
    rig.sim.clear_journal();
    EXPECT_TRUE(r.enableDTMF(true));
    EXPECT_EQ((Lines{"open", "enable ts=5 id=2 -> 0"}), rig.lines(kDtmf));
}

TEST(Tone, DtmfStringsAndRingbackFollowTheirCadence)
{
    const std::string off = "0 0 0 0", silence = "1000 1000 0 0", ring = "425 0 2048 2048";
    struct Case {
        const char* what;
        std::string script; // at ms: s<keys> string, r ringback on, c ringback off
        Lines cadence;
        int completed;
    };
    const std::string one = "697 1209 16384 16384", two = "697 1336 16384 16384";
    // clang-format off
    const Case cases[] = {
        {"three digits", "0 s123",
         {"0 " + one, "70 " + silence, "140 " + two, "210 " + silence, "280 697 1477 16384 16384",
          "350 " + silence, "420 " + off}, 1},
        {"empty string", "0 s", {"0 " + off}, 1},
        {"string during a string", "0 s1 30 s2",
         {"0 " + one, "70 " + silence, "140 " + two, "210 " + silence, "280 " + off}, 1},
        // The ringback replaces the string at once; the string is not complete.
        {"ringback during a string", "0 s12 30 r",
         {"0 " + one, "30 " + ring, "1030 " + silence, "4030 " + ring, "5030 " + silence}, 0},
        {"string after a ringback that replaced a string", "0 s12 30 r 100 s1",
         {"0 " + one, "30 " + ring, "100 " + one, "170 " + silence, "240 " + off}, 1},
        {"string during ringback", "0 r 500 s1",
         {"0 " + ring, "500 " + one, "570 " + silence, "640 " + off}, 1},
        {"ringback stopped", "0 r 1500 c", {"0 " + ring, "1000 " + silence, "1500 " + off}, 0},
        {"ringback stopped during a string", "0 s1 40 c", {"0 " + one, "70 " + silence, "140 " + off}, 1},
        {"ringback that replaced a string stopped", "0 s1 10 r 20 c", {"0 " + one, "10 " + ring, "20 " + off}, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        hwtest::MediaRig rig;
        Receiver r(3);
        std::istringstream script(c.script);
        unsigned now = 0, at = 0;
        for (std::string action; script >> at >> action; now = at) {
            rig.run_for(at - now);
            if (action[0] == 's')
                r.translateDTMF(digits(action.substr(1)));
            else if (action == "r")
                r.activateAudibleCall();
            else
                r.cancelAudibleCall();
        }
        rig.run_for(6000 - now);
        EXPECT_EQ(c.cadence, cadence(rig, 3)) << c.what;
        EXPECT_EQ(c.completed, r.completed) << c.what;
    }
}

TEST(Tone, CleanBeforeDestroySwitchesOffWhatTheReceiverSwitchedOnButTheEchoCanceller)
{
    struct Case {
        const char* what;
        void (*use)(Receiver&);
        Lines requests;
    };
    const Case cases[] = {
        {"nothing used", [](Receiver&) {}, {}},
        {"everything on",
         [](Receiver& r) {
             r.enableDTMF(true), r.enableIVA(true), r.enableDTMFReject(true), r.echoCancel(true);
             r.enableToneGenerator(440, 0, 1000, 0);
         },
         {"disable ts=2 -> 0", "iva-off ts=2 -> 0", "reject-off ts=2 -> 0",
          "dial ts=2 f1=0 f2=0 a1=0 a2=0 -> 0"}},
        {"ringback running",
         [](Receiver& r) { r.activateAudibleCall(); },
         {"dial ts=2 f1=0 f2=0 a1=0 a2=0 -> 0"}},
        {"switched on and off again",
         [](Receiver& r) {
             r.echoCancel(true), r.echoCancel(false);
             r.enableToneGenerator(440, 0, 1000, 0), r.disableToneGenerator(true);
         },
         {}},
    };
    for (const Case& c : cases) {
        hwtest::MediaRig rig;
        {
            Receiver r(2);
            c.use(r);
            rig.sim.clear_journal();
        }
        EXPECT_EQ(c.requests, rig.lines(kDtmf)) << c.what;
    }
}

TEST(Tone, SelcalNeedsFourSignsAndSendsTheFirstFour)
{
    hwtest::MediaRig rig;
    Receiver r(1);
    TERM::SelcalCommand c;
    c.set_signs("ABC");
    EXPECT_FALSE(r.translateSelcal(c));
    // The controller's signs stay on the line of their refusal.
    c.set_signs("A\nB");
    EXPECT_FALSE(r.translateSelcal(c));
    c.set_signs("ABCDE");
    r.translateSelcal(c);
    c.set_amp(500);
    c.set_signs("WXYZ");
    r.translateSelcal(c);
    EXPECT_EQ((Lines{"selcal ts=1 amp=12000 signs=ABCD -> 0", "selcal ts=1 amp=500 signs=WXYZ -> 0"}),
              rig.lines(kDtmf));
    EXPECT_EQ("SELCAL_DIAL fail: timeslot=1 incorect signs:ABC\n"
              "SELCAL_DIAL fail: timeslot=1 incorect signs:A\\nB\n",
              rig.err.text());
}

TEST(Tone, EveryRequestRetriesTheOpenOfAMissingDevice)
{
    hwtest::MediaRig rig;
    rig.sim.set_present(kDtmf, false);
    Hardware::TonecReceiverService missing;
    EXPECT_FALSE(missing.is_open());
    Receiver r(4);
    LGCP::IVAParams iva;
    iva.set_det_lvl_dB(-30);
    EXPECT_FALSE(r.configureIVA(iva));
    EXPECT_FALSE(r.enableDTMF(true)); // no descriptor: the open fails again, no request
    rig.sim.set_present(kDtmf, true);
    EXPECT_TRUE(r.configureIVA(iva));
    EXPECT_TRUE(missing.is_open());
    EXPECT_EQ(0u,
              rig.err.text().find("open tonec fail, DTMF proceeding disabled: No such file or directory\n"
                                  "open tonec fail, DTMF proceeding disabled: No such file or directory\n"
                                  "configure IVA fail: (interface not opened) timeslot=4\n"
                                  "open tonec fail, DTMF proceeding disabled: No such file or directory\n"))
        << rig.err.text();
    EXPECT_NE(std::string::npos, rig.log.text().find("IVA_CONFIGURE_DETECTOR ts=4 det_lvl_dB=-30\n"));
}

// The keypad: each symbol with its row and column frequencies.
TEST(Tone, DtmfSymbolTable)
{
    using Pairs = std::map<char, std::pair<std::uint16_t, std::uint16_t>>;
    const Pairs keypad = {
        {'1', {697, 1209}}, {'2', {697, 1336}}, {'3', {697, 1477}}, {'A', {697, 1633}},
        {'4', {770, 1209}}, {'5', {770, 1336}}, {'6', {770, 1477}}, {'B', {770, 1633}},
        {'7', {852, 1209}}, {'8', {852, 1336}}, {'9', {852, 1477}}, {'C', {852, 1633}},
        {'*', {941, 1209}}, {'0', {941, 1336}}, {'#', {941, 1477}}, {'D', {941, 1633}},
    };
    EXPECT_EQ(keypad, static_cast<const Pairs&>(Dtmf::tonesValidator));
}

// A device let go takes what the service knew of each timeslot with it: the
// driver may have kept a function or not, so every function of every receiver
// is unknown, neither on nor off. Its next request, enable or disable, and
// each off request of a destroy reach the device opened afresh; a request that
// succeeds makes the function known again, a failed one leaves it unknown.
TEST(Tone, AfterTheDeviceIsLetGoEveryFunctionIsUnknownNotOff)
{
    const std::string off = "dial ts=2 f1=0 f2=0 a1=0 a2=0 -> 0";
    const Lines destroyAll{"disable ts=2 -> 0", "iva-off ts=2 -> 0", "reject-off ts=2 -> 0", off};
    const Lines openAndDestroyAll{"open", "disable ts=2 -> 0", "iva-off ts=2 -> 0", "reject-off ts=2 -> 0",
                                  off};
    struct Case {
        const char* what;
        void (*before)(Receiver&); // before the device goes
        void (*after)(hwtest::MediaRig&, Receiver&);
        Lines requests, destroy; // the journal after the let-go, and the destroy's
    };
    // clang-format off
    const Case cases[] = {
        {"detector on, disabled twice",
         [](Receiver& r) { r.enableDTMF(true); },
         [](hwtest::MediaRig&, Receiver& r) { EXPECT_TRUE(r.disableDTMF()); EXPECT_TRUE(r.disableDTMF()); },
         {"open", "disable ts=2 -> 0"}, {"iva-off ts=2 -> 0", "reject-off ts=2 -> 0", off}},
        {"detector never used, disabled",
         [](Receiver&) {},
         [](hwtest::MediaRig&, Receiver& r) { EXPECT_TRUE(r.disableDTMF()); },
         {"open", "disable ts=2 -> 0"}, {"iva-off ts=2 -> 0", "reject-off ts=2 -> 0", off}},
        {"detector on, enabled twice",
         [](Receiver& r) { r.enableDTMF(true); },
         [](hwtest::MediaRig&, Receiver& r) { EXPECT_TRUE(r.enableDTMF(true)); EXPECT_TRUE(r.enableDTMF(true)); },
         {"open", "enable ts=2 id=2 -> 0"}, destroyAll},
        {"everything on, destroyed",
         [](Receiver& r) {
             r.enableDTMF(true), r.enableIVA(true), r.enableDTMFReject(true), r.echoCancel(true);
             r.activateAudibleCall();
         },
         [](hwtest::MediaRig&, Receiver&) {}, {}, openAndDestroyAll},
        {"switched off again before the device went, destroyed",
         [](Receiver& r) {
             r.enableDTMF(true), r.enableIVA(true), r.enableDTMFReject(true);
             r.enableIVA(false), r.enableDTMFReject(false), r.disableDTMF();
             r.enableToneGenerator(440, 0, 1000, 0), r.disableToneGenerator(true);
         },
         [](hwtest::MediaRig&, Receiver&) {}, {}, openAndDestroyAll},
        {"iva, rejection and generator switched off again after",
         [](Receiver& r) { r.enableIVA(true), r.enableDTMFReject(true), r.activateAudibleCall(); },
         [](hwtest::MediaRig&, Receiver& r) {
             EXPECT_TRUE(r.enableIVA(false));
             EXPECT_TRUE(r.enableDTMFReject(false));
             r.cancelAudibleCall();
         },
         {"open", "iva-off ts=2 -> 0", "reject-off ts=2 -> 0", off}, {"disable ts=2 -> 0"}},
        {"a refused disable leaves the detector unknown",
         [](Receiver& r) { r.enableDTMF(true); },
         [](hwtest::MediaRig& rig, Receiver& r) {
             rig.sim.fail(kDtmf, platform::dtmf::kDisableDetector, EIO, 1);
             EXPECT_FALSE(r.disableDTMF());
             EXPECT_TRUE(r.disableDTMF());
         },
         {"open", "disable ts=2 -> -1 EIO", "disable ts=2 -> 0"}, {"iva-off ts=2 -> 0", "reject-off ts=2 -> 0", off}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        hwtest::MediaRig rig;
        {
            Receiver r(2);
            c.before(r);
            EXPECT_EQ("ok\n", rig.command("hangup " + kDtmf));
            rig.run_for(1);
            ASSERT_FALSE(rig.tone->is_open());
            rig.sim.clear_journal();
            c.after(rig, r);
            EXPECT_EQ(c.requests, rig.lines(kDtmf));
            rig.sim.clear_journal();
        }
        EXPECT_EQ(c.destroy, rig.lines(kDtmf));
        // The detector and the generator are off on the board.
        EXPECT_EQ(0u, rig.command("dtmf get 2").find("detector off"));
        const Lines tones = cadence(rig, 2);
        EXPECT_EQ(" 0 0 0 0", tones.empty() ? "(none)" : tones.back().substr(tones.back().find(' ')));
        EXPECT_EQ(0u, count(rig.err.text(), "Bad file descriptor"));
    }
}

// The delivery of a record polled on the device makes a request that lets
// the device go and opens it afresh (the device hung up in the same turn):
// the pass ends there, and what the old descriptor still held is not read
// as if it were the new device's. The test reads the device through a
// descriptor of its own, which holds the same records as the service's.
TEST(Tone, ARequestThatReopensTheDeviceDuringADeliveryEndsThePass)
{
    hwtest::MediaRig rig;
    Receiver r(2);
    ASSERT_TRUE(r.enableDTMF(true));
    r.react = [](Receiver& self) { EXPECT_TRUE(self.enableIVA(true)); };
    const Fd polled(rig.sim.open(kDtmf.c_str(), O_RDONLY | O_NONBLOCK));
    ASSERT_TRUE(polled.is_valid());
    for (const char* record : {"dtmf digit 2 5 id=1", "dtmf digit 2 6 id=1"})
        ASSERT_EQ("ok\n", rig.command(record));
    EXPECT_EQ("ok\n", rig.command("hangup " + kDtmf));
    rig.sim.clear_journal();
    rig.tone->OnEvent(polled.lowlevel_fd(), POLLIN | POLLHUP);
    EXPECT_EQ(Lines{"5@0"}, r.events);
    EXPECT_EQ(0u, count(rig.log.text(), "code=6")) << "the old descriptor's record was read";
    EXPECT_EQ((Lines{"open", "iva-on ts=2 -> 0"}), rig.lines(kDtmf));
    EXPECT_EQ(1u, count(rig.err.text(), "tonec device error, events disabled\n")) << rig.err.text();
    EXPECT_EQ(0u, count(rig.err.text(), "fail to read")) << rig.err.text();
    EXPECT_TRUE(rig.tone->is_open());
}

// The device hangs up and, before the loop has handled that, a request fails
// on its descriptor: the device is let go at once, the request is made once
// more on the device opened afresh, and the hang-up is logged once, also when
// the request comes from the delivery of a record the descriptor still held.
// The reopened device is watched: a record sent on it is delivered.
TEST(Tone, ARequestFailingOnADeviceHungUpInItsTurnIsMadeAgainOnTheDeviceOpenedAfresh)
{
    using R = std::unique_ptr<Receiver>;
    const std::string off = "dial ts=2 f1=0 f2=0 a1=0 a2=0 -> 0";
    struct Case {
        const char* what;
        void (*before)(Receiver&);
        const char* record; // queued before the hang-up ("" for none)
        void (*turn)(hwtest::MediaRig&, R&);
        Lines requests;
    };
    const Case cases[] = {
        {"destroyed",
         [](Receiver& r) {
             r.enableDTMF(true), r.enableIVA(true), r.enableDTMFReject(true), r.activateAudibleCall();
         },
         "",
         [](hwtest::MediaRig&, R& r) { r.reset(); },
         {"hangup", "open", "disable ts=2 -> 0", "iva-off ts=2 -> 0", "reject-off ts=2 -> 0", off}},
        {"detector enabled",
         [](Receiver&) {},
         "",
         [](hwtest::MediaRig&, R& r) { EXPECT_TRUE(r->enableDTMF(true)); },
         {"hangup", "open", "enable ts=2 id=1 -> 0"}},
        {"IVA switched on while a record is delivered",
         [](Receiver& r) {
             r.enableDTMF(true), r.react = [](Receiver& self) { EXPECT_TRUE(self.enableIVA(true)); };
         },
         "dtmf digit 2 5 id=1",
         [](hwtest::MediaRig&, R&) {},
         {"hangup", "open", "iva-on ts=2 -> 0"}},
        {"the device gone for good",
         [](Receiver& r) { r.enableDTMF(true); },
         "",
         [](hwtest::MediaRig& rig, R& r) {
             rig.sim.set_present(kDtmf, false);
             EXPECT_FALSE(r->disableDTMF());
             EXPECT_NE(
                 std::string::npos,
                 rig.err.text().find(
                     "DTMF_DISABLE_DETECTOR fail: timeslot=2 errno=\"Inappropriate ioctl for device\"\n"));
             rig.sim.set_present(kDtmf, true);
         },
         {"hangup", "open missing"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        hwtest::MediaRig rig;
        R r(new Receiver(2));
        c.before(*r);
        rig.sim.clear_journal();
        if (*c.record) {
            EXPECT_EQ("ok\n", rig.command(c.record));
        }
        EXPECT_EQ("ok\n", rig.command("hangup " + kDtmf));
        c.turn(rig, r);
        rig.run_for(1);
        EXPECT_EQ(c.requests, rig.lines(kDtmf));
        EXPECT_EQ(1u, count(rig.err.text(), "tonec device error, events disabled\n")) << rig.err.text();
        if (r && r->detector_enabled()) {
            EXPECT_TRUE(rig.tone->is_open());
            EXPECT_EQ("ok\n", rig.command("dtmf digit 2 7 id=" + std::to_string(r->event_id())));
            rig.run_for(1);
            EXPECT_EQ("7@0", r->events.empty() ? "(none)" : r->events.back());
        }
    }
}

} // namespace
