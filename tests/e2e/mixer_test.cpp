// A conference on the running daemon's mixer: after the resource query, two
// mixer inputs and one output joined to trunk timeslots, with the sum and the
// switch joins the simulated board's drivers hold, and the output's sum
// cleared again at its destroy; an input whose summator is not a TDM channel
// and an output that is not built, as the mixer driver's journal shows them.
#include "tests/e2e/fixture.hpp"
#include "tests/slots/signal_spy.hpp"

namespace
{

using e2etest::Lines;

class MixerConference : public e2etest::DaemonTest
{
protected:
    void SetUp() override { start({{}, {}, "device /dev/mixer present\nmixer add 0 16 8\n"}); }

    // One command in value notation; every message up to its answer and
    // `after` more, each on one line, without the line status reports.
    Lines run(const std::string& text, std::size_t after = 0)
    {
        LGCP::Message m;
        EXPECT_TRUE(m.setFromValueNotation(text)) << text;
        EXPECT_TRUE(send(m));
        const std::string seq = "seq " + std::to_string(m.get_seq().getValue()) + ",";
        Lines out;
        bool answered = false;
        for (e2e::Bytes payload; next(payload);) {
            LGCP::Message got;
            ASN1::CoderEnv env;
            const char* p = reinterpret_cast<const char*>(payload.data());
            if (!ASN1::decode(p, p + payload.size(), &env, got, true))
                return out;
            out.push_back(slotstest::oneLine(got));
            answered = answered || out.back().find(seq) != std::string::npos;
            if (answered && after-- == 0)
                return out;
        }
        return out;
    }
};

TEST_F(MixerConference, TwoInputsAndAnOutputJoinedToTrunkTimeslots)
{
    EXPECT_NE(std::string::npos,
              run("{ seq 1, pdu command : query : NULL }", 1)
                  .back()
                  .find("mixer { { unit 0, tdm_inputs 16, tdm_outputs 16, mixer_inputs 8"));
    for (const char* trunk : {"1, pdu command : create : trunk : { trunk 0, timeslot 1 } }",
                              "2, pdu command : create : trunk : { trunk 0, timeslot 2 } }",
                              "3, pdu command : create : trunk : { trunk 0, timeslot 3 } }"})
        run(std::string("{ seq 2, slot ") + trunk, 2);
    EXPECT_EQ((Lines{"{ seq 3, slot 12, pdu response : success : NULL }"}),
              run("{ seq 3, slot 12, pdu command : create : mixerOut : { unit 0, channel tdm : 2, inputs { { "
                  "channel tdm : 0, gain 32767 }, { channel tdm : 1, gain 16384 } } } }"));
    EXPECT_EQ((Lines{"{ seq 4, slot 10, pdu response : success : NULL }"}),
              run("{ seq 4, slot 10, pdu command : create : mixerIn : { unit 0, channel tdm : 0 } }"));
    EXPECT_EQ((Lines{"{ seq 5, slot 11, pdu response : success : NULL }"}),
              run("{ seq 5, slot 11, pdu command : create : mixerIn : { unit 0, channel tdm : 1 } }"));
    EXPECT_EQ("0 gain=32767\n1 gain=16384\nok\n", daemon.board("mixer sum 0 2"));

    // The trunks feed the inputs; the output feeds the third trunk.
    EXPECT_EQ((Lines{"{ slot 10, pdu signal : receiver : active : 3072 }",
                     "{ seq 6, slot 1, pdu response : success : NULL }"}),
              run("{ seq 6, slot 1, pdu command : connect : 10 }"));
    EXPECT_EQ(2u, run("{ seq 7, slot 2, pdu command : connect : 11 }").size());
    EXPECT_EQ((Lines{"{ slot 12, pdu signal : transmitter : active : 3074 }",
                     "{ seq 8, slot 12, pdu response : success : NULL }"}),
              run("{ seq 8, slot 12, pdu command : connect : 3 }"));
    EXPECT_EQ(0u, daemon.board("hal get 3072").find("3072 connected 1 "));
    EXPECT_EQ(0u, daemon.board("hal get 3073").find("3073 connected 2 "));
    EXPECT_EQ(0u, daemon.board("hal get 3").find("3 connected 3074 "));

    // The output's sum goes with it; the inputs were never in one.
    EXPECT_EQ((Lines{"{ seq 9, slot 12, pdu response : success : NULL }"}),
              run("{ seq 9, slot 12, pdu command : destroy : NULL }"));
    EXPECT_EQ("ok\n", daemon.board("mixer sum 0 2"));
}

// An input whose summator is not a TDM channel is built, its add asked for
// with channel -1 and refused by the driver.
TEST_F(MixerConference, InputWhoseSummatorIsNotATdmChannel)
{
    run("{ seq 1, pdu command : query : NULL }", 1);
    journal();
    EXPECT_EQ(
        (Lines{"{ seq 2, slot 10, pdu response : success : NULL }"}),
        run("{ seq 2, slot 10, pdu command : create : mixerIn : { unit 0, channel tdm : 3, summator rtp : "
            "6 } }"));
    EXPECT_EQ((Lines{"ioctl /dev/mixer tdm 0/0/3 -> 3075",
                     "ioctl /dev/mixer add rx=0/0/-1 tx=0/0/3 gain=32767 -> -1 EINVAL"}),
              journal("ioctl /dev/mixer"));
    // Written before the answer; the wait may have read only the beginning of
    // its line, the rest is read here.
    ASSERT_TRUE(daemon.wait_err("MIX_RX_ADD fail"));
    daemon.collect_output();
    EXPECT_NE(std::string::npos,
              daemon.err().find(
                  "mixer [0]: wrong summator coding !\nmixer [0]: MIX_RX_ADD fail : Invalid argument\n"));
    // Nothing was added, so its destroy removes nothing.
    EXPECT_EQ((Lines{"{ seq 3, slot 10, pdu response : success : NULL }"}),
              run("{ seq 3, slot 10, pdu command : destroy : NULL }"));
    EXPECT_EQ(Lines(), journal("ioctl /dev/mixer"));
}

// An output that is not built leaves the sum it had set up.
TEST_F(MixerConference, OutputNotBuiltKeepsItsSum)
{
    run("{ seq 1, pdu command : query : NULL }", 1);
    journal();
    EXPECT_EQ("ok\n", daemon.board("fail /dev/mixer tdm EIO 1"));
    EXPECT_EQ((Lines{"{ seq 4, slot 12, pdu response : error : insufficientResources }"}),
              run("{ seq 4, slot 12, pdu command : create : mixerOut : { unit 0, channel tdm : 4, inputs { { "
                  "channel tdm : 3, gain 9 } } } }"));
    EXPECT_EQ(
        (Lines{"ioctl /dev/mixer clear 0/0/4 -> 0", "ioctl /dev/mixer add rx=0/0/4 tx=0/0/3 gain=9 -> 0",
               "ioctl /dev/mixer tdm 0/0/4 -> -1 EIO"}),
        journal("ioctl /dev/mixer"));
    EXPECT_EQ("3 gain=9\nok\n", daemon.board("mixer sum 0 4"));
}

} // namespace
