// T.38 soft slots with a fake program under the test's root: the command
// line it gets, the channel as its standard input, its end reported with the
// raw status, the stop of a program that ignores SIGTERM, and the instance
// count the program prints.
#include <sys/wait.h>

#include "slots/mcc/t38_soft.hpp"
#include "tests/slots/media_fixture.hpp"

namespace
{

using mediatest::board;

// Writes its arguments and one frame of its standard input beside itself and
// exits with the code in "exit"; with "ignore" it ignores SIGTERM and sleeps
// for good.
const char kFakeT38[] = "#!/bin/sh\n"
                        "d=$(dirname \"$0\")\n"
                        "if [ \"$1\" = --num-of-instances ]; then\n"
                        "  [ -f \"$d/instances\" ] && cat \"$d/instances\"\n"
                        "  exit 0\n"
                        "fi\n"
                        "[ -f \"$d/ignore\" ] && trap '' TERM\n"
                        "printf '%s\\n' \"$@\" > \"$d/args\"\n"
                        "[ -f \"$d/ignore\" ] && exec sleep 100000\n"
                        "dd bs=4096 count=1 of=\"$d/stdin\" 2>/dev/null\n"
                        "exit $(cat \"$d/exit\" 2>/dev/null || echo 0)\n";

class T38Slots : public mediatest::MediaSlots
{
protected:
    void SetUp() override
    {
        MediaSlots::SetUp();
        T38SoftFactory::instance();
        write_file("/usr/local/sbin/t38", kFakeT38, 0755);
    }
    std::string create(int slot, unsigned nargs)
    {
        return command(slot, 1, [&](LGCP::Command& c) {
            LGCP::T38Soft& t = c.select_create().select_t38soft();
            t.set_dhost().set_iaddr("10.0.0.1"), t.ref_dhost().set_port(4000u);
            t.set_shost().set_iaddr("10.0.0.2"), t.ref_shost().set_port(5000u), t.set_rx_packet_size(160);
            t.set_rx_threshold(2), t.set_tx_threshold(3);
            for (unsigned i = 0; i < nargs; ++i)
                t.set_args().push_back(ASN1::IA5String("a" + std::to_string(i)));
        });
    }
    // This process's children, running or not yet reaped.
    static std::string children()
    {
        return testutil::read_file("/proc/self/task/" + std::to_string(::getpid()) + "/children");
    }
    std::string file(const std::string& name)
    {
        return ctltest::hex(testutil::read_file(root + "/usr/local/sbin/" + name));
    }
};

// The plain run with few arguments is the end-to-end voice test's; here the
// argument cap (27 of the controller's) and an exit code.
TEST_F(T38Slots, ProgramGetsItsLineAndChannelAndItsEndIsReported)
{
    write_file("/usr/local/sbin/exit", "3");
    ctltest::Capture log(std::clog);
    ASSERT_EQ("ok #1 | @7 transmitter 4096 | @7 receiver 4096", create(7, 30));
    EXPECT_EQ("allocate type=transparent rx-size=160 reserved=0 rx-thr=2 tx-thr=3 -> 0 | timeslot -> 4096",
              requests(platform::mcc::kPath));
    std::string expected = "--child\n--remote\n10.0.0.1/4000/5000\n";
    for (unsigned i = 0; i < 27; ++i)
        expected += "a" + std::to_string(i) + "\n";
    // A frame each turn until the program has read one: it may end and
    // close the channel between two turns.
    ASSERT_TRUE(pump_for([&] {
        board().inject(platform::mcc::kPath, {0x5A, 0x01});
        return !file("stdin").empty();
    }));
    EXPECT_EQ("@7 abort 768", pump_until("abort"));
    EXPECT_EQ(ctltest::hex(expected), file("args"));
    EXPECT_EQ("5A 01", file("stdin"));
    const std::string text = log.text();
    EXPECT_EQ(
        0u, text.find("args for run t38 daemon:\narg[0]=" + root + "/usr/local/sbin/t38\narg[1]=--child\n"));
    EXPECT_NE(std::string::npos, text.find("arg[30]="));
    EXPECT_EQ(std::string::npos, text.find("arg[31]"));
    EXPECT_EQ("07:t38 soft: t38 daemon terminated with code=3\n", lines(text, "07:"));
}

// A program that cannot run: its child leaves with _exit, so a buffer the
// daemon had not flushed yet is written once, by the daemon alone.
TEST_F(T38Slots, ProgramThatCannotRun)
{
    write_file("/usr/local/sbin/t38", kFakeT38, 0644);
    const std::string path = root + "/buffered";
    FILE* out = std::fopen(path.c_str(), "w");
    std::fputs("x", out);
    ASSERT_EQ("ok #1 | @7 transmitter 4096 | @7 receiver 4096", create(7, 0));
    EXPECT_EQ("@7 abort 60672", pump_until("abort"));
    std::fclose(out);
    EXPECT_EQ("78", ctltest::hex(testutil::read_file(path)));
}

TEST_F(T38Slots, KilledProgramAndStubbornProgram)
{
    ASSERT_EQ("ok #1 | @7 transmitter 4096 | @7 receiver 4096", create(7, 0));
    ::kill(static_cast<T38SoftSlot*>(Slots::instance().GetSlotAt(7))->child(), SIGKILL);
    ctltest::Capture log(std::clog);
    EXPECT_EQ("@7 abort 9", pump_until("abort"));
    EXPECT_EQ("07:t38 soft: t38 daemon terminated by signal=9\n", lines(log.text(), "07:"));
    command(7, 2, [](LGCP::Command& c) { c.select_destroy(); });
    board().service();

    // SIGTERM is ignored: SIGKILL follows after the delay, and the slot
    // itself went at once.
    write_file("/usr/local/sbin/ignore", "");
    std::remove((root + "/usr/local/sbin/args").c_str());
    ASSERT_EQ("ok #1 | @8 transmitter 4096 | @8 receiver 4096", create(8, 0));
    const int stubborn = static_cast<T38SoftSlot*>(Slots::instance().GetSlotAt(8))->child();
    ASSERT_TRUE(pump_for([&] { return !file("args").empty(); }));
    ctltest::Capture err(std::cerr);
    EXPECT_EQ("ok #4", command(8, 4, [](LGCP::Command& c) { c.select_destroy(); }));
    run_for(T38SoftFactory::kKillDelay - 10);
    EXPECT_EQ(0, ::kill(stubborn, 0)) << "still running before the delay";
    run_for(20);
    EXPECT_TRUE(pump_for([&] { return ::kill(stubborn, 0) != 0; })) << "killed and reaped";
    run_for(5); // the end reaches the reaper, which the loop then deletes
    EXPECT_NE(std::string::npos, err.text().find("t38 daemon isn't terminated, killing ..."));
    EXPECT_EQ("", frames()) << "a destroyed slot reports no end";
}

// Helpers that write their pid beside themselves, then print the line and
// stall, or stall without a word. The query waits for neither to end: the
// stalled one keeps running and is reaped when it ends, the silent one is
// killed and reaped.
TEST_F(T38Slots, InstanceQueryDoesNotWaitForTheHelperToEnd)
{
    const struct Row {
        const char* output; // before the stall
        int answer;
        const char* line;   // the query's log line
        const char* reaped; // in the child-wait service's line for the ended child
    } rows[] = {
        {"echo 4", 4, "", " status="},
        {":", 0, "t38: can't detect T38 resources\n", " status=9\n"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.output);
        write_file("/usr/local/sbin/t38",
                   std::string("#!/bin/sh\necho $$ > \"$(dirname \"$0\")/pid\"\n") + r.output +
                       "\nexec sleep 60\n",
                   0755);
        ctltest::Capture log(std::clog);
        EXPECT_EQ(r.answer, T38SoftFactory::instance().QueryNumOfInstances());
        EXPECT_EQ(r.line, lines(log.text(), "t38"));
        if (r.answer != 0) {
            const int helper = std::atoi(testutil::read_file(root + "/usr/local/sbin/pid").c_str());
            EXPECT_EQ(0, ::kill(helper, 0)) << "still running after its line";
            ::kill(helper, SIGKILL);
        }
        EXPECT_TRUE(pump_for([&] {
            return children().empty() && log.text().find(r.reaped) != std::string::npos;
        })) << log.text();
    }
}

TEST_F(T38Slots, InstanceCount)
{
    write_file("/usr/local/sbin/instances", "4\n");
    EXPECT_EQ(4, T38SoftFactory::instance().QueryNumOfInstances());
    std::remove((root + "/usr/local/sbin/instances").c_str());
    ctltest::Capture log(std::clog);
    EXPECT_EQ(0, T38SoftFactory::instance().QueryNumOfInstances());
    EXPECT_EQ("t38: can't detect T38 resources\n", lines(log.text(), "t38"));
}

} // namespace
