// Conference mixer slots over the simulated mixer, tone and DSP drivers: the
// sums each create sets up and each destroy undoes, the ioctl rows of inputs
// and outputs, and the units found, kept, retired and found again at each
// resource query.
#include "slots/mixer/mixer_factory.hpp"

#include <gtest/gtest.h>

#include "platform/sim/mixer_model.hpp"
#include "slots/mixer/mixer.hpp"
#include "tests/slots/media_fixture.hpp"

namespace
{

using mediatest::board;
using testutil::Capture;
const std::string kMixer = platform::mixer::kPath;

class MixerSlots : public mediatest::MediaSlots
{
protected:
    void SetUp() override
    {
        MediaSlots::SetUp();
        Capture cerr(std::cerr);
        tone.reset(new Hardware::TonecReceiverService);
        dsp.reset(new Hardware::DSProcReceiverService);
        board().set_present(kMixer, true);
        // The units of earlier tests retire: the factory starts with none.
        for (int unit = 0; unit <= 100; ++unit)
            model().remove_unit(unit);
        LGCP::Resources r;
        Mixer::MixerFactory::instance().Query(r);
        run_for(1);
        model().add_unit(0, 8, 4);
        board().clear_journal();
    }
    void TearDown() override
    {
        MediaSlots::TearDown();
        dsp.reset();
        tone.reset();
        board().set_present(kMixer, false);
    }

    static platform::sim::MixerModel& model() { return *board().model<platform::sim::MixerModel>(); }

    // A command in value notation on a slot: the frames it brings back; its log in `log`.
    std::string send(int slot, const std::string& text)
    {
        Capture cerr(std::cerr), clog(std::clog);
        std::string answer = command(
            slot, 90, [&text](LGCP::Command& c) { EXPECT_TRUE(c.setFromValueNotation(text)) << text; });
        log = cerr.text() + clog.text();
        return answer;
    }
    // The requests since the last call: the mixer's ("tdm 0/0/3 -> 3075"), or
    // the tone and DSP drivers' ("dtmf lms-on ts=3075 -> 0").
    static std::string requests(bool media = false)
    {
        if (!media)
            return MediaSlots::requests(kMixer);
        std::string out;
        for (const std::string& line : board().journal())
            if (line.compare(0, 16, "ioctl /dev/dtmf ") == 0 || line.compare(0, 15, "ioctl /dev/dsp ") == 0)
                out += (out.empty() ? "" : " | ") + line.substr(11);
        board().clear_journal();
        return out;
    }
    // DSP records are in host order: the expected bytes are a little-endian
    // host's, and a big-endian one compares the rest of the line.
    static std::string hostOrder(std::string line)
    {
        const std::uint16_t one = 1;
        if (*reinterpret_cast<const unsigned char*>(&one) == 1)
            return line;
        for (std::size_t at = line.find("params="); at != std::string::npos;
             at = line.find("params=", at + 1))
            line.erase(at + 7, 24);
        return line;
    }
    // The report's mixer entries: "unit:tdm_inputs/tdm_outputs/mixer_inputs/dpu/ec/lms".
    static std::string report()
    {
        LGCP::Resources r;
        {
            Capture clog(std::clog);
            Mixer::MixerFactory::instance().Query(r);
        }
        std::string out;
        for (const auto& m : r.get_mixer()) {
            for (const ASN1::INTEGER* v :
                 {&m.get_unit(), &m.get_tdm_inputs(), &m.get_tdm_outputs(), &m.get_mixer_inputs(),
                  &m.get_dpu_per_mixer(), &m.get_dpu_per_ec(), &m.get_dpu_per_lms()})
                out += std::to_string(v->getValue()) + (v == &m.get_unit() ? ":" : "/");
            out.back() = ' ';
        }
        return out.substr(0, out.empty() ? 0 : out.size() - 1);
    }

    std::unique_ptr<Hardware::TonecReceiverService> tone;
    std::unique_ptr<Hardware::DSProcReceiverService> dsp;
    std::string log;
};

TEST_F(MixerSlots, SumsSetUpAtCreateAndUndoneAtDestroy)
{
    report();
    requests();
    struct Case {
        const char *create, *fail; // fail: a request that fails once with EIO, or ""
        const char *answer, *atCreate, *atDestroy;
        const char* lines; // the unit's lines in the log, all of them
    };
    const Case cases[] = {
        {"mixerIn : { unit 0, channel tdm : 3, summator tdm : 6 }", "", "ok #90",
         "tdm 0/0/3 -> 3075 | add rx=0/0/6 tx=0/0/3 gain=32767 -> 0", "remove rx=0/0/6 tx=0/0/3 gain=0 -> 0",
         ""},
        {"mixerIn : { unit 0, channel tdm : 2 }", "", "ok #90", "tdm 0/0/2 -> 3074", "", ""},
        {"mixerIn : { unit 0, channel tdm : 1, summator tdm : 6 }", "add", "ok #90",
         "tdm 0/0/1 -> 3073 | add rx=0/0/6 tx=0/0/1 gain=32767 -> -1 EIO",
         "remove rx=0/0/6 tx=0/0/1 gain=0 -> -1 ENOENT",
         "mixer [0]: MIX_RX_ADD fail : Input/output error\n"
         "mixer [0]: MIX_RX_REMOVE rx.number=6 tx.number=1 fail : No such file or directory\n"},
        // A summator that is not a TDM channel: the add names channel -1, and
        // the input is built with nothing to remove.
        {"mixerIn : { unit 0, channel tdm : 3, summator rtp : 6 }", "", "ok #90",
         "tdm 0/0/3 -> 3075 | add rx=0/0/-1 tx=0/0/3 gain=32767 -> -1 EINVAL", "",
         "mixer [0]: wrong summator coding !\n"
         "mixer [0]: MIX_RX_ADD fail : Invalid argument\n"},
        {"mixerIn : { unit 0, channel tdm : 8 }", "", "insufficientResources #90", "", "", ""},
        {"mixerIn : { unit 0, channel tdm : -1 }", "", "insufficientResources #90", "", "", ""},
        {"mixerIn : { unit 0, channel rtp : 1 }", "", "insufficientResources #90", "", "", ""},
        {"mixerIn : { unit 0, channel tdm : 4 }", "tdm", "insufficientResources #90", "tdm 0/0/4 -> -1 EIO",
         "", "mixer [0]: MIX_TDM dev_no=0 type=0 number=4 fail : Input/output error\n"},
        {"mixerOut : { unit 0, channel tdm : 5, inputs {} }", "", "ok #90",
         "clear 0/0/5 -> 0 | add rx=0/0/5 tx=0/0/5 gain=32767 -> 0 | tdm 0/0/5 -> 3077", "clear 0/0/5 -> 0",
         "mixer [0]: clear tdm output 5\n"},
        {"mixerOut : { unit 0, channel tdm : 4, inputs { { channel tdm : 3, gain 16384 }, { channel tdm : 5, "
         "gain 32767 } } }",
         "", "ok #90",
         "clear 0/0/4 -> 0 | add rx=0/0/4 tx=0/0/3 gain=16384 -> 0 | add rx=0/0/4 tx=0/0/5 gain=32767 -> 0 | "
         "tdm 0/0/4 -> 3076",
         "clear 0/0/4 -> 0", "mixer [0]: clear tdm output 4\n"},
        // An output that is not built leaves its sum as far as it was set up
        // (the next output on the channel clears it).
        {"mixerOut : { unit 0, channel tdm : 4, inputs { { channel tdm : 3, gain 9 }, { channel rtp : 5, "
         "gain "
         "9 } } }",
         "", "insufficientResources #90", "clear 0/0/4 -> 0 | add rx=0/0/4 tx=0/0/3 gain=9 -> 0", "",
         "mixer [0]: SetTX error: translation fail [2]\n"},
        {"mixerOut : { unit 0, channel tdm : 4, inputs {} }", "tdm", "insufficientResources #90",
         "clear 0/0/4 -> 0 | add rx=0/0/4 tx=0/0/4 gain=32767 -> 0 | tdm 0/0/4 -> -1 EIO", "",
         "mixer [0]: MIX_TDM dev_no=0 type=0 number=4 fail : Input/output error\n"},
        {"mixerOut : { unit 0, channel rtp : 4, inputs {} }", "", "insufficientResources #90", "", "",
         "mixer [0]: ClearTX error: translation fail\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.create);
        for (const auto& r : model().requests())
            if (r.first == std::string(c.fail))
                board().fail(kMixer, r.second, EIO, 1);
        EXPECT_EQ(c.answer, send(5, std::string("create : ") + c.create));
        EXPECT_EQ(c.atCreate, requests());
        std::string logs = log;
        if (std::string(c.answer) == "ok #90") {
            EXPECT_EQ("ok #90", send(5, "destroy : NULL"));
            EXPECT_EQ(c.atDestroy, requests());
            logs += log;
        }
        EXPECT_EQ(c.lines, lines(logs, "mixer ["));
        board().service();
        EXPECT_EQ(0u, board().open_count(kMixer));
    }
    // Only the last output that was not built left a sum behind.
    for (int channel = 0; channel < 8; ++channel)
        EXPECT_EQ(channel == 4 ? 1u : 0u, model().sum(0, channel).size()) << channel;
    EXPECT_EQ(32767, model().sum(0, 4)[4]);
}

TEST_F(MixerSlots, IoctlRowsOfInputsAndOutputs)
{
    report();
    ASSERT_EQ("ok #90", send(1, "create : mixerIn : { unit 0, channel tdm : 3 }"));
    ASSERT_EQ("ok #90", send(2, "create : mixerOut : { unit 0, channel tdm : 5, inputs {} }"));
    requests();
    struct Case {
        int slot; // 1 the input (switch channel 3075), 2 the output (3077)
        const char *ioctl, *answer;
        const char* requests; // on the tone and DSP drivers
    };
    const Case cases[] = {
        {1, "echoSuppressor : TRUE", "ok #90", "dtmf lms-on ts=3075 -> 0"},
        {1, "dtmf-enable : TRUE", "ok #90", "dtmf enable ts=3075 id=1 -> 0"},
        {1, "dtmf-reject-enable : TRUE", "ok #90", "dtmf reject-on ts=3075 -> 0"},
        {1, "dtmf-params : { threshold { twist 1, ratio 2, noise 3 }, level { silence 4 } }", "ok #90",
         "dtmf configure ts=3075 twist=1 ratio=2 silence=4 noise=3 -> 0"},
        {1, "vad-enable : TRUE", "ok #90", "dsp enable ts=3075 id=1 mask=0x1 -> 0"},
        {1, "vad-disable : NULL", "ok #90", "dsp disable ts=3075 id=0 mask=0x1 -> 0"},
        {1, "vad-params : v2 : { voice-th-msec 100, silence-th-msec 200, e-th-dB 30 }", "ok #90",
         "dsp vad-version -> 2 | dsp configure ts=3075 fn=0x1 params=6400C8001E00000000000000 -> 0"},
        {1, "sd-enable : TRUE", "ok #90", "dsp enable ts=3075 id=2 mask=0x2 -> 0"},
        {1, "sd-disable : NULL", "ok #90", "dsp disable ts=3075 id=0 mask=0x2 -> 0"},
        {1, "sd-params : NULL", "ok #90",
         "dsp configure ts=3075 fn=0x2 params=000000000000000000000000 -> 0"},
        {1, "iva-enable : TRUE", "ok #90", "dtmf iva-on ts=3075 -> 0"},
        {1, "iva-params : { det_lvl_dB -30 }", "ok #90", "dtmf iva-configure ts=3075 level=-30 -> 0"},
        {1, "rx-gain : { gainDB -6 }", "ok #90",
         "dsp configure ts=3075 fn=0x40 params=FA0000000000000000000000 -> 0"},
        {1, "tone-filter : { freq 2100, enable TRUE , duration-th-msec 50, det-level-dB -20 }", "ok #90",
         "dsp configure ts=3075 fn=0x100 params=340801003200EC0000000000 -> 0"},
        {1, "delays : { rx 10 }", "ok #90",
         "dsp configure ts=3075 fn=0x20 params=0A0000000000000000000000 -> 0"},
        {1, "pd-disable : NULL", "unsupported #90", ""},
        {1, "tone-gen-disable : NULL", "unsupported #90", ""},
        // A string being sent is what dtmf-disable stops.
        {2, "translateDTMF : { digits { { freq1 697, freq2 1209 } } }", "ok #90",
         "dtmf dial ts=3077 f1=697 f2=1209 a1=16384 a2=16384 -> 0"},
        {2, "dtmf-disable : NULL", "ok #90", "dtmf dial ts=3077 f1=0 f2=0 a1=0 a2=0 -> 0"},
        {2, "dtmf-reject-disable : NULL", "ok #90", "dtmf reject-off ts=3077 -> 0"},
        {2, "iva-enable : TRUE", "ok #90", "dtmf iva-on ts=3077 -> 0"},
        {2, "tone-gen-enable : { freq 70000, amp 1000 }", "ok #90",
         "dtmf dial ts=3077 f1=4464 f2=0 a1=1000 a2=0 -> 0"},
        {2, "tone-gen-disable : NULL", "ok #90", "dtmf dial ts=3077 f1=0 f2=0 a1=0 a2=0 -> 0"},
        {2, "delays : { tx 20 }", "ok #90",
         "dsp configure ts=3077 fn=0x20 params=000000001400000000000000 -> 0"},
        {2, "echoSuppressor : TRUE", "unsupported #90", ""},
        {2, "iva-params : { det_lvl_dB -30 }", "unsupported #90", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ioctl);
        EXPECT_EQ(c.answer, send(c.slot, std::string("ioctl : ") + c.ioctl));
        EXPECT_EQ(hostOrder(c.requests), hostOrder(requests(true)));
    }
}

// A unit needs nothing of the factory: the count it is given when it is made
// bounds its channels, read at the moment of asking.
TEST_F(MixerSlots, UnitClearsTheChannelsOfTheCountItIsGiven)
{
    int count = 2;
    Mixer::Mixer unit(0, [&count] { return count; });
    Capture clog(std::clog);
    unit.Reset();
    EXPECT_EQ("clear 0/0/0 -> 0 | clear 0/0/1 -> 0", requests());
    count = 3;
    unit.Reset();
    EXPECT_EQ("clear 0/0/0 -> 0 | clear 0/0/1 -> 0 | clear 0/0/2 -> 0", requests());
}

// A driver that keeps reporting a unit it has reported: the enumeration asks
// no more often than the driver can have units, and says so once.
TEST_F(MixerSlots, EnumerationEndsWhenTheDriverRepeatsAUnit)
{
    model().add_unit(1, 4, 2);
    ASSERT_EQ("ok\n", board().execute("mixer repeat 0 1000"));
    Capture cerr(std::cerr);
    EXPECT_EQ("0:8/8/4/770/17/24", report());
    const std::string got = requests();
    std::size_t asked = 0;
    for (std::size_t at = got.find("enumerate after="); at != std::string::npos;
         at = got.find("enumerate after=", at + 1))
        ++asked;
    EXPECT_EQ(Mixer::MixerFactory::kMaxUnits, asked);
    EXPECT_EQ("mixer: driver reported unit 0 twice\n", cerr.text());
    EXPECT_EQ("ok\n", board().execute("mixer repeat off"));
}

TEST_F(MixerSlots, UnitsFoundKeptRetiredAndFoundAgainAtEachQuery)
{
    Mixer::MixerFactory& factory = Mixer::MixerFactory::instance();
    // No unit is known before the first query.
    EXPECT_EQ("insufficientResources #90", send(7, "create : mixerIn : { unit 0, channel tdm : 1 }"));
    EXPECT_EQ("", requests());
    model().add_unit(1, 4, 2);
    board().fail(kMixer, platform::mixer::kRxClear, EIO, 2);
    Capture cerr(std::cerr);
    // Counts are the smallest over the units; each new unit is reset over the count known then.
    EXPECT_EQ("0:4/4/2/770/17/24 1:4/4/2/770/17/24", report());
    std::string got = requests();
    EXPECT_EQ(0u, got.find("enumerate after=-1 -> 0 unit=0 tdm=8 inputs=4 | clear 0/0/0 -> -1 EIO | "))
        << got;
    EXPECT_NE(std::string::npos, got.find("clear 0/0/7 -> 0 | enumerate after=0 -> 0 unit=1 tdm=4 inputs=2 | "
                                          "clear 1/0/0 -> 0 | clear 1/0/1 -> 0 | clear 1/0/2 -> 0 | "
                                          "clear 1/0/3 -> 0 | enumerate after=1 -> -1 ENODEV"))
        << got;
    EXPECT_EQ("mixer [0]: reset fail: 2 errors.\n", cerr.text());
    EXPECT_TRUE(factory.driver_version_valid());
    // Known units are kept as they are.
    EXPECT_EQ("0:4/4/2/770/17/24 1:4/4/2/770/17/24", report());
    EXPECT_EQ(
        "enumerate after=-1 -> 0 unit=0 tdm=8 inputs=4 | enumerate after=0 -> 0 unit=1 tdm=4 inputs=2 | "
        "enumerate after=1 -> -1 ENODEV",
        requests());

    // A unit that vanishes: its slots are told, it takes no new slot, and it
    // goes with its last slot, on the loop's next turn.
    ASSERT_EQ("ok #90", send(7, "create : mixerIn : { unit 1, channel tdm : 2, summator tdm : 3 }"));
    ASSERT_EQ("ok #90", send(8, "create : mixerOut : { unit 1, channel tdm : 3, inputs {} }"));
    Mixer::Mixer* unit = factory.findMixer(1);
    ASSERT_NE(nullptr, unit);
    model().remove_unit(1);
    {
        Capture clog(std::clog);
        EXPECT_EQ("ok #99 | @7 abort 0 | @8 abort 0", query().substr(0, 32));
    }
    EXPECT_EQ("0:8/8/4/770/17/24", report());
    EXPECT_EQ("insufficientResources #90", send(9, "create : mixerIn : { unit 1, channel tdm : 0 }"));
    EXPECT_EQ("ok #90", send(7, "destroy : NULL"));
    EXPECT_NE(std::string::npos,
              log.find("mixer [1]: MIX_RX_REMOVE rx.number=3 tx.number=2 fail : Invalid argument"));
    EXPECT_FALSE(unit->deletePending());
    EXPECT_EQ("ok #90", send(8, "destroy : NULL"));
    EXPECT_TRUE(unit->deletePending());
    run_for(1);

    // A unit that comes back is a new one, reset again.
    model().add_unit(1, 4, 2);
    requests();
    EXPECT_EQ("0:4/4/2/770/17/24 1:4/4/2/770/17/24", report());
    EXPECT_NE(std::string::npos, requests().find("clear 1/0/0 -> 0 | clear 1/0/1 -> 0 | clear 1/0/2 -> 0 | "
                                                 "clear 1/0/3 -> 0 | enumerate after=1 -> -1 ENODEV"));

    // The driver is asked for at most 100 units.
    for (int n = 2; n <= 100; ++n)
        model().add_unit(n, 4, 2);
    report();
    EXPECT_EQ(100u, factory.units().size());
    // A mixer device that is gone leaves no unit.
    board().set_present(kMixer, false);
    EXPECT_EQ("", report());
    EXPECT_EQ(-1, factory.tdm_channels());
}

} // namespace
