// The TDM switch over the simulated board: its source table, its log lines,
// the first good open, the refresh of disabled bus outputs and the refused
// releases it asks again.
#include "hardware/hw_mux.hpp"

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/devices.hpp"
#include "platform/sim/hal_model.hpp"
#include "platform/sim_board.hpp"
#include "tests/runtime/test_util.hpp"

namespace
{

using platform::SimBoard;
using platform::sim::HalModel;

struct Rig {
    SimBoard sim;
    Rig() { platform::setBoard(&sim); }
    ~Rig() { platform::setBoard(nullptr); }
    HalModel& hal() { return *sim.model<HalModel>(); }
};

TEST(HwMux, StartsWithoutTheDeviceAndOpensItAtTheNextOperation)
{
    Rig rig;
    rig.sim.set_present(platform::hal::kPath, false);
    testutil::Capture clog(std::clog);
    HwMux mux;
    EXPECT_FALSE(mux.Connect(33, 8200));
    EXPECT_EQ(255, mux.Read(8200));
    EXPECT_EQ(0, mux.source(8200)) << "nothing is known before the first open";
    EXPECT_EQ("hwMux: init\nhwMux: can't open device: No such file or directory\n"
              "hwMux: can't open device: No such file or directory\nhwMux: ERROR not opened\n"
              "hwMux: can't open device: No such file or directory\n",
              clog.text());
    rig.sim.set_present(platform::hal::kPath, true);
    EXPECT_TRUE(mux.Connect(33, 8200));
    // Every bus output was disabled before the connect, and only those.
    EXPECT_EQ(unsigned(SwitchChannel::kBusOutputs), rig.hal().count(platform::hal::kDisable));
    EXPECT_EQ(1u, rig.hal().disables(8192));
    EXPECT_EQ(1u, rig.hal().disables(10239));
    EXPECT_EQ(0u, rig.hal().disables(10240));
    EXPECT_EQ(33, mux.source(8200));
    EXPECT_EQ(HwMux::kDisabled, mux.source(8201));
}

// Each row: a control command for the board (a failure to inject), one
// operation, its result, the source entry it leaves and its log line.
TEST(HwMux, TheSourceTableRecordsEveryRequestWhateverItsOutcome)
{
    Rig rig;
    HwMux mux;
    struct Case {
        const char* inject;
        std::function<int()> op;
        int result, channel;
        std::int32_t entry;
        const char* log;
    };
    const Case cases[] = {
        {"fail /dev/hal connect EIO 1", [&] { return mux.Connect(5, 8200); }, 0, 8200, 5,
         "hwMux: connect 5 -> 8200 failed: Input/output error\n"},
        {"", [&] { return mux.Connect(57343 + 8192, 8201); }, 0, 8201, 65535,
         "hwMux: connect 65535 -> 8201 failed: Invalid argument\n"},
        {"", [&] { return mux.Connect(-1, 8192); }, 0, 8192, HwMux::kDisabled, "hwMux: ERROR not opened\n"},
        {"", [&] { return mux.Connect(12, 100); }, 1, 100, HwMux::kDisabled, ""},
        {"fail /dev/hal write ENODEV 1", [&] { return mux.Disconnect(8202); }, 0, 8202, HwMux::kConstant,
         "hwMux: disconnect failed 8202 : No such device\n"},
        {"", [&] { return mux.Disconnect(-3); }, 0, 8202, HwMux::kConstant, ""},
        {"fail /dev/hal write EIO 1", [&] { return mux.Write(8203, 0x5A); }, 0, 8203, HwMux::kConstant,
         "hwMux: write failed 8203 <- 0x5a : Input/output error\n"},
        {"", [&] { return mux.Connect(7, 8204); }, 1, 8204, 7, ""},
        {"fail /dev/hal disable EIO 1", [&] { return mux.Disable(8204); }, 0, 8204, HwMux::kDisabled,
         "hwMux: disable failed 8204 : Input/output error\n"},
        {"hal drive 8330 0x5A", [&] { return mux.Read(8330); }, 0x5A, 8330, HwMux::kDisabled, ""},
        {"fail /dev/hal read EIO 1", [&] { return mux.Read(8330); }, 255, 8330, HwMux::kDisabled,
         "hwMux: read failed 8330 -> 0xff : Input/output error\n"},
        {"", [&] { return mux.Read(-1); }, 255, 8330, HwMux::kDisabled, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.log);
        ASSERT_TRUE(!*c.inject || rig.sim.execute(c.inject) == "ok\n");
        testutil::Capture clog(std::clog);
        EXPECT_EQ(c.result, c.op());
        EXPECT_EQ(c.entry, mux.source(c.channel));
        EXPECT_EQ(c.log, clog.text());
    }
}

TEST(HwMux, TheRefreshReDisablesOnlyDisabledBusOutputs)
{
    Rig rig;
    HwMux mux;
    // The driver refuses this source, but the entry holds it as a source, never as "disabled".
    testutil::Capture clog(std::clog);
    ASSERT_FALSE(mux.Connect(65535, 8200));
    ASSERT_TRUE(mux.Connect(3, 8201));
    ASSERT_TRUE(mux.Disconnect(8202));
    ASSERT_TRUE(mux.Write(8203, 1));
    ASSERT_TRUE(mux.Disable(8204));
    // The first pass after the open starts at entry 1 and covers 128 entries.
    mux.OnDPC();
    EXPECT_EQ(1u, rig.hal().disables(8192));
    EXPECT_EQ(2u, rig.hal().disables(8193));
    EXPECT_EQ(2u, rig.hal().disables(8192 + 128));
    EXPECT_EQ(1u, rig.hal().disables(8192 + 129));
    rig.sim.clear_journal();
    for (int pass = 1; pass < 16; ++pass)
        mux.OnDPC();
    const unsigned disables[][2] = {{8192, 2}, {8199, 2}, {8200, 1}, {8201, 1},
                                    {8202, 1}, {8203, 1}, {8204, 3}, {10239, 2}};
    for (const auto& c : disables)
        EXPECT_EQ(c[1], rig.hal().disables(int(c[0]))) << c[0];
    // Every refresh request reached the board and is counted: the open's 2048,
    // one Disable, and the 2044 bus outputs the passes found disabled; none
    // changed anything, so none is journalled.
    EXPECT_EQ("connect 2\ndisable 4093\nwrite 2\nread 0\nclock 0\nspi-write 0\nspi-read 0\nok\n",
              rig.sim.execute("hal stats"));
    EXPECT_EQ(std::deque<std::string>(), rig.sim.journal());
}

// Each row: requests on one output, each after the failure it injects (trunk
// output 34 has no source entry, bus output 8300 has one), the log they
// leave, then two refresh passes: the requests the board saw in them and
// what the output carries after them.
TEST(HwMux, ARefusedReleaseIsAskedAgainUntilTakenOrReplaced)
{
    using Op = std::function<bool(HwMux&)>;
    const auto connect = [](int source, int out) -> Op {
        return [=](HwMux& m) { return m.Connect(source, out); };
    };
    const auto idle = [](int out) -> Op { return [=](HwMux& m) { return m.Disconnect(out); }; };
    const auto disable = [](int out) -> Op { return [=](HwMux& m) { return m.Disable(out); }; };
    const auto write = [](int out) -> Op { return [=](HwMux& m) { return m.Write(out, 0x12); }; };
    struct Case {
        const char* what;
        int channel;
        std::vector<std::pair<const char*, Op>> steps;
        std::string log;
        std::deque<std::string> passes;
        const char* after;
    };
    const std::string eio = "hwMux: disconnect failed 34 : Input/output error\n";
    const std::string idled = "ioctl /dev/hal write ch=34 byte=0xD5 -> 0";
    const std::string disabled = "ioctl /dev/hal disable ch=34 -> 0";
    const Case cases[] = {
        {"idle byte refused",
         34,
         {{"", connect(1, 34)}, {"fail /dev/hal write EIO 1", idle(34)}},
         eio,
         {idled},
         "34 constant 0xD5 reads 0xD5\nok\n"},
        {"disable refused",
         34,
         {{"", connect(1, 34)}, {"fail /dev/hal disable EAGAIN 1", disable(34)}},
         "hwMux: disable failed 34 : Resource temporarily unavailable\n",
         {disabled},
         "34 disabled reads 0xFF\nok\n"},
        {"retry refused again",
         34,
         {{"", connect(1, 34)}, {"fail /dev/hal write EINTR 2", idle(34)}},
         "hwMux: disconnect failed 34 : Interrupted system call\n",
         {"ioctl /dev/hal write ch=34 byte=0xD5 -> -1 EINTR", idled},
         "34 constant 0xD5 reads 0xD5\nok\n"},
        {"later Connect",
         34,
         {{"", connect(1, 34)}, {"fail /dev/hal write EIO 1", idle(34)}, {"", connect(2, 34)}},
         eio,
         {},
         "34 connected 2 reads 0xFF\nok\n"},
        {"later Write",
         34,
         {{"", connect(1, 34)}, {"fail /dev/hal write EIO 1", idle(34)}, {"", write(34)}},
         eio,
         {},
         "34 constant 0x12 reads 0x12\nok\n"},
        {"later Disconnect",
         34,
         {{"", connect(1, 34)}, {"fail /dev/hal disable EIO 1", disable(34)}, {"", idle(34)}},
         "hwMux: disable failed 34 : Input/output error\n",
         {},
         "34 constant 0xD5 reads 0xD5\nok\n"},
        {"later Disable",
         34,
         {{"", connect(1, 34)}, {"fail /dev/hal write EIO 1", idle(34)}, {"", disable(34)}},
         eio,
         {},
         "34 disabled reads 0xFF\nok\n"},
        {"later Disable refused too",
         34,
         {{"", connect(1, 34)},
          {"fail /dev/hal write EIO 1", idle(34)},
          {"fail /dev/hal disable EIO 1", disable(34)}},
         (eio + "hwMux: disable failed 34 : Input/output error\n"),
         {disabled},
         "34 disabled reads 0xFF\nok\n"},
        // The output still carries source 1: the refused join replaces nothing.
        {"later Connect refused",
         34,
         {{"", connect(1, 34)},
          {"fail /dev/hal write EIO 1", idle(34)},
          {"fail /dev/hal connect EIO 1", connect(2, 34)}},
         (eio + "hwMux: connect 2 -> 34 failed: Input/output error\n"),
         {idled},
         "34 constant 0xD5 reads 0xD5\nok\n"},
        {"bus output",
         8300,
         {{"", connect(3, 8300)}, {"fail /dev/hal write ENODEV 1", idle(8300)}},
         "hwMux: disconnect failed 8300 : No such device\n",
         {"ioctl /dev/hal write ch=8300 byte=0xD5 -> 0"},
         "8300 constant 0xD5 reads 0xD5\nok\n"},
        // No such output: nothing is joined on it, and no retry could succeed.
        {"invalid channel",
         16384,
         {{"", disable(16384)}},
         "hwMux: disable failed 16384 : Invalid argument\n",
         {},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        HwMux mux;
        testutil::Capture clog(std::clog);
        for (const auto& [inject, op] : c.steps) {
            ASSERT_TRUE(!*inject || rig.sim.execute(inject) == "ok\n");
            op(mux);
        }
        EXPECT_EQ(c.log, clog.text());
        rig.sim.clear_journal();
        mux.OnDPC();
        mux.OnDPC();
        EXPECT_EQ(c.passes, rig.sim.journal());
        EXPECT_EQ(c.log, clog.text()) << "a retry logs nothing";
        // A channel outside the board has nothing to show.
        if (*c.after) {
            EXPECT_EQ(c.after, rig.sim.execute("hal get " + std::to_string(c.channel)));
        }
    }
    // The table tells the last request: the retried idle byte.
    Rig rig;
    HwMux mux;
    ASSERT_TRUE(rig.sim.execute("fail /dev/hal write EIO 1") == "ok\n");
    ASSERT_FALSE(mux.Disconnect(8300));
    ASSERT_FALSE(mux.Connect(70000, 8300));
    mux.OnDPC();
    EXPECT_EQ(HwMux::kConstant, mux.source(8300));
}

// A driver that refuses every request: one retry per output however often it
// was refused, a bounded share of them per pass, every one asked in turn, and
// all of them taken once the driver answers again.
TEST(HwMux, RefusedReleasesAreAskedInTurnWithABoundPerPass)
{
    Rig rig;
    HwMux mux;
    // Refused requests never reach the driver's model: the journal counts them.
    const auto writes = [&] {
        unsigned n = 0;
        for (const std::string& line : rig.sim.journal())
            n += line.find(" write ch=") != std::string::npos;
        return n;
    };
    testutil::Capture clog(std::clog);
    ASSERT_EQ("ok\n", rig.sim.execute("fail /dev/hal write EIO"));
    for (int n = 0; n < 3; ++n)
        EXPECT_FALSE(mux.Disconnect(34));
    mux.OnDPC();
    EXPECT_EQ(4u, writes());
    for (int out = 0; out < 200; ++out)
        EXPECT_FALSE(mux.Disconnect(out));
    const unsigned before = writes();
    mux.OnDPC();
    EXPECT_EQ(before + HwMux::kRetriesPerPass, writes());
    // The next pass goes on after the last output asked, then from the first.
    rig.sim.clear_journal();
    mux.OnDPC();
    ASSERT_EQ(HwMux::kRetriesPerPass, rig.sim.journal().size());
    EXPECT_EQ("ioctl /dev/hal write ch=128 byte=0xD5 -> -1 EIO", rig.sim.journal().front());
    EXPECT_EQ("ioctl /dev/hal write ch=55 byte=0xD5 -> -1 EIO", rig.sim.journal().back());
    ASSERT_EQ("ok\n", rig.sim.execute("fail /dev/hal write off"));
    mux.OnDPC();
    mux.OnDPC();
    for (int out = 0; out < 200; ++out)
        EXPECT_EQ(HalModel::Output::constant, rig.hal().output(out).kind) << out;
    const unsigned done = writes();
    mux.OnDPC();
    EXPECT_EQ(done, writes());
}

} // namespace
