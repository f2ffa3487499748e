// The hardware services of the running daemon over the simulated board: the
// bus clock, the bus test against drive bytes set on the board, the BRI line
// reports, and the daemon started without its board driver.
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "asn1/asn1.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "tests/support/controller.hpp"

namespace
{

using e2e::Bytes;
using Lines = std::vector<std::string>;

Bytes command(const LGCP::Command& c, int seq)
{
    LGCP::Message m;
    m.set_seq(seq);
    m.set_pdu().select_command(c);
    return e2e::encode(m);
}

LGCP::Command ping()
{
    LGCP::Command c;
    c.select_ping();
    return c;
}

LGCP::Command clockCfg(int source)
{
    LGCP::Command c;
    LGCP::ClockCfg& cfg = c.select_clockCfg();
    cfg.set_clkSel0(LGCP::ClkSel0::external);
    cfg.set_bextEn(LGCP::BExtEn::enabled);
    cfg.set_source(source);
    return c;
}

LGCP::Command testBpc(int seed, unsigned length, bool write)
{
    LGCP::Command c;
    LGCP::BpcTestParams& p = c.select_testBpc();
    p.set_bus(1);
    p.set_seed(seed);
    p.set_timeslot_start(10);
    p.set_timeslot_length(length);
    if (write)
        p.set_mode().select_write();
    else
        p.set_mode().select_read();
    return c;
}

// "success", "error 10", "trunkStatus trunk=3 state=2 slips=0 type=1", "other".
std::string summary(const Bytes& payload)
{
    LGCP::Message m;
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    const char* data = reinterpret_cast<const char*>(payload.data());
    if (!ASN1::decode(data, data + payload.size(), &env, m, true))
        return "undecodable";
    const LGCP::PDU& pdu = m.get_pdu();
    if (pdu.response_isSelected()) {
        const LGCP::Response& r = pdu.get_response();
        return r.success_isSelected() ? "success" : "error " + std::to_string(int(r.get_error()));
    }
    if (pdu.signal_isSelected() && pdu.get_signal().trunkStatus_isSelected()) {
        const ACP::TrunkStatus& s = pdu.get_signal().get_trunkStatus();
        return "trunkStatus trunk=" + std::to_string(s.get_trunk().getValue()) +
               " state=" + std::to_string(int(s.get_state())) +
               " slips=" + std::to_string(s.get_slips().getValue()) +
               " type=" + std::to_string(int(s.get_type()));
    }
    return "other";
}

class Hardware : public ::testing::Test
{
protected:
    void start(const std::vector<std::string>& args = {}, const std::string& init = {})
    {
        e2e::Daemon::Options options(args);
        options.sim_init = init;
        ASSERT_TRUE(daemon.start_serving(options)) << daemon.err();
        ASSERT_TRUE(controller.connect(daemon.port()));
        ASSERT_EQ("success", ask(ping()));
    }
    void TearDown() override
    {
        daemon.signal(SIGTERM);
        EXPECT_EQ(0, daemon.wait_exit());
    }
    // The answer to a command; signals that come first are kept in `signals`.
    std::string ask(const LGCP::Command& c)
    {
        if (!controller.send_payload(command(c, ++mSeq)))
            return "(not sent)";
        for (Bytes payload; controller.receive_payload(payload);) {
            std::string s = summary(payload);
            if (s.compare(0, 11, "trunkStatus") != 0 && s != "other")
                return s;
            signals.push_back(s);
        }
        return "(none)";
    }
    // The board's journal lines that contain `text`.
    Lines journal(const std::string& text)
    {
        Lines out;
        const std::string all = daemon.board("journal");
        for (std::size_t at = 0, end; (end = all.find('\n', at)) != std::string::npos; at = end + 1) {
            const std::string line = all.substr(at, end - at);
            if (line.find(text) != std::string::npos)
                out.push_back(line);
        }
        return out;
    }

    e2e::Daemon daemon;
    e2e::Controller controller;
    Lines signals;
    int mSeq = 0;
};

std::string hexByte(unsigned byte)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte & 0xFF);
    return text;
}

TEST_F(Hardware, ClockAndBusTestAgainstTheBoard)
{
    ::srandom(7);
    const unsigned first = unsigned(::random()) & 0xFF, second = unsigned(::random()) & 0xFF;
    struct Case {
        std::vector<std::string> board;
        LGCP::Command command;
        const char* answer;
        const char* request; // journal lines that contain it
        Lines lines;
    };
    const std::vector<Case> cases = {
        {{}, clockCfg(2), "success", "clock source=", {"ioctl /dev/hal clock source=2 -> 0"}},
        {{"hal drive 8330 " + hexByte(first), "hal drive 8331 " + hexByte(second)},
         testBpc(7, 2, false),
         "success",
         "read ch=",
         {"ioctl /dev/hal read ch=8330 -> 0 byte=" + hexByte(first),
          "ioctl /dev/hal read ch=8331 -> 0 byte=" + hexByte(second)}},
        {{"hal drive 8330 " + hexByte(first ^ 0x81)},
         testBpc(7, 2, false),
         "error 10",
         "read ch=",
         {"ioctl /dev/hal read ch=8330 -> 0 byte=" + hexByte(first ^ 0x81)}},
        {{"hal drive 8330 off", "hal drive 8331 off"},
         testBpc(7, 2, true),
         "success",
         "ch=833",
         {"ioctl /dev/hal write ch=8330 byte=" + hexByte(first) + " -> 0",
          "ioctl /dev/hal write ch=8331 byte=" + hexByte(second) + " -> 0",
          "ioctl /dev/hal read ch=8330 -> 0 byte=" + hexByte(first),
          "ioctl /dev/hal read ch=8331 -> 0 byte=" + hexByte(second)}},
    };
    start();
    EXPECT_EQ(Lines{"ioctl /dev/hal clock source=4 -> 0"}, journal("clock source=")) << "freerun at connect";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        for (const std::string& b : c.board)
            ASSERT_EQ("ok\n", daemon.board(b));
        ASSERT_EQ("ok\n", daemon.board("clear"));
        EXPECT_EQ(c.answer, ask(c.command));
        EXPECT_EQ(c.lines, journal(c.request));
    }
    EXPECT_TRUE(daemon.wait_err("bus 1: test failed on channel 10 expected "));
}

TEST_F(Hardware, DisabledClockControlAnswersUnsupported)
{
    start({"--disable-clock"});
    EXPECT_EQ("error 6", ask(clockCfg(2)));
    EXPECT_EQ(Lines(), journal("clock source="));
}

TEST_F(Hardware, LineInterfacesReportOnceASecondWhileConnected)
{
    start({}, "hal spi 3 0x33 0x05\n");
    while (signals.size() < 8 && ask(ping()) == "success") {
    }
    ASSERT_LE(8u, signals.size());
    EXPECT_EQ("trunkStatus trunk=0 state=0 slips=0 type=1", signals[0]);
    EXPECT_EQ("trunkStatus trunk=3 state=2 slips=0 type=1", signals[3]);
    EXPECT_EQ("trunkStatus trunk=7 state=0 slips=0 type=1", signals[7]);
}

TEST_F(Hardware, WithoutTheBoardDriverTheDaemonKeepsServing)
{
    start({}, "device /dev/hal missing\n");
    EXPECT_EQ("success", ask(clockCfg(2)));
    EXPECT_EQ("error 10", ask(testBpc(7, 1, false))) << "every read gives 255";
    EXPECT_EQ("success", ask(ping()));
    for (const char* line :
         {"hwMux: init\nhwMux: can't open device: No such file or directory\n",
          "spi: try init\nspi: /dev/hal open fail\n", "clkctl: set clock source fail: code 1.\n"})
        EXPECT_TRUE(daemon.wait_err(line)) << line;
}

} // namespace
