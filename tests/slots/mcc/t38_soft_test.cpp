// T.38 soft slots with a fake program under the test's root: the command
// line it gets, the channel as its standard input, its end reported with the
// raw status, a program that cannot be forked, the stop of a program that
// ignores SIGTERM, the instance count the program prints and the end of the
// query's helper.
#include <cstddef>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include "platform/sim/watchdog_model.hpp"
#include "slots/mcc/t38_soft.hpp"
#include "tests/runtime/loop_fixture.hpp"
#include "tests/slots/media_fixture.hpp"

namespace
{

using mediatest::board;
using mediatest::mcc;
using mediatest::t38Create;

// Writes its arguments and one frame of its standard input beside itself and
// exits with the code in "exit"; with "ignore" it ignores SIGTERM and sleeps
// for good. Its number goes to the fixture's list of programs.
const char kFakeT38[] = "#!/bin/sh\n"
                        "echo $$ >> \"$QUELVAD_ROOT/pids\"\n"
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
        endsWhole = true;
        T38SoftFactory::instance();
        write_file("/usr/local/sbin/t38", kFakeT38, 0755);
    }
    void TearDown() override
    {
        T38SoftFactory::queryReadWait = T38SoftFactory::kQueryWait;
        MediaSlots::TearDown();
    }
    // The query waits for a helper that answers however slowly a loaded
    // machine starts it.
    static void patient() { T38SoftFactory::queryReadWait = 60000; }
    std::string create(int slot, unsigned nargs)
    {
        return command(slot, 1, [&](LGCP::Command& c) {
            LGCP::T38Soft& t = t38Create(c, 2, 3);
            for (unsigned i = 0; i < nargs; ++i)
                t.set_args().push_back(ASN1::IA5String("a" + std::to_string(i)));
        });
    }
    // Running, and not a zombie left for its new parent to reap.
    static bool running(int pid)
    {
        const std::string stat = testutil::read_file("/proc/" + std::to_string(pid) + "/stat");
        const std::size_t end = stat.rfind(") ");
        return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] != 'Z';
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
    // What the killed program started holds the channel too, and ends on its
    // own after the group's kill: the channel is free once its last holder
    // has closed it, and only then is it handed out again.
    ASSERT_TRUE(pump_for([] { return mcc().allocations().empty(); })) << "the channel was not released";

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

// The controller's arguments reach the program as they are, and the log one
// line each, their control bytes escaped: none can forge a line of its own.
TEST_F(T38Slots, ArgumentsAreLoggedOneLineEach)
{
    ctltest::Capture log(std::clog);
    ASSERT_EQ("ok #1 | @7 transmitter 4096 | @7 receiver 4096", command(7, 1, [](LGCP::Command& c) {
                  LGCP::T38Soft& t = t38Create(c, 2, 3);
                  t.set_args().push_back(ASN1::IA5String("x\nFORGED LINE: hwMux: device lost"));
                  t.set_args().push_back(ASN1::IA5String("\x1B[2J\\"));
              }));
    EXPECT_EQ("arg[4]=x\\nFORGED LINE: hwMux: device lost\narg[5]=\\x1B[2J\\\\\n",
              lines(log.text(), "arg[4]") + lines(log.text(), "arg[5]"));
    EXPECT_EQ("", lines(log.text(), "FORGED"));
    const std::string args =
        "--child\n--remote\n10.0.0.1/4000/5000\nx\nFORGED LINE: hwMux: device lost\n\x1B[2J\\\n";
    EXPECT_TRUE(pump_for([&] { return file("args") == ctltest::hex(args); })) << file("args");
    command(7, 2, [](LGCP::Command& c) { c.select_destroy(); });
    // What the program started holds the channel until the group's kill
    // reaches it: a later test gets the channel the first.
    EXPECT_TRUE(pump_for([] { return children().empty() && mcc().allocations().empty(); }));
}

// The program cannot be forked (the process may start no other): no slot,
// and no message. Run in a child of the test, the only one barred from forking;
// the child-wait service's handler is active here, so the child is one it
// cannot reap before the test does.
TEST_F(T38Slots, ProgramThatCannotBeForked)
{
    LGCP::Command c;
    t38Create(c, 2, 3);
    support::HeldChild child;
    const pid_t pid = child.pid();
    if (pid == 0) {
        std::vector<sock_filter> filter{BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
        std::vector<long> calls{SYS_clone};
#ifdef SYS_fork
        calls.push_back(SYS_fork);
#endif
#ifdef SYS_vfork
        calls.push_back(SYS_vfork);
#endif
#ifdef SYS_clone3
        calls.push_back(SYS_clone3);
#endif
        for (long nr : calls) {
            filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, std::uint32_t(nr), 0, 1));
            filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EAGAIN));
        }
        filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
        const sock_fprog program{static_cast<unsigned short>(filter.size()), filter.data()};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
            ::_exit(77);
        ctltest::Capture err(std::cerr);
        Slot* slot = T38SoftFactory::instance().INewSlot(c.get_create());
        ::_exit(slot ? 1 : !err.text().empty() ? 2 : 0);
    }
    ASSERT_LT(0, pid);
    int status = 0;
    ASSERT_TRUE(child.reap(status)) << "the child has not ended";
    ASSERT_TRUE(WIFEXITED(status)) << status;
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no seccomp filter here";
    EXPECT_EQ(0, WEXITSTATUS(status)) << "1: a slot, 2: a message";
}

// Helpers that write their pid beside themselves and answer or not, some
// leaving a sleep behind in their group (its pid written by `left`). The
// query waits for none of them to end: a helper that answered and runs on is
// killed with its group kQueryWait ms after its line, a silent one at once;
// one that has ended has what it left in its group killed as it is reaped,
// without the wait. Every pid also goes to the fixture's list of programs.
TEST_F(T38Slots, InstanceQueryKillsTheHelperAndItsGroup)
{
    const struct Row {
        const char* script;
        int answer;
        const char* line; // the query's log line
        bool waits;       // the kill comes kQueryWait ms after the line, not before
        bool silent;      // the query's read waits for its time-out, kQueryWait
    } rows[] = {
        {"echo 4; exec sleep 60", 4, "", true, false},
        {"exec sleep 60", 0, "t38: can't detect T38 resources\n", false, true},
        {"sleep 60 & left $!; exit 0", 0, "t38: can't detect T38 resources\n", false, false},
        {"sleep 60 & left $!; echo 4; exit 0", 4, "", false, false},
    };
    const std::string dir = root + "/usr/local/sbin/";
    for (const Row& r : rows) {
        SCOPED_TRACE(r.script);
        std::remove((dir + "bg").c_str());
        write_file("/usr/local/sbin/t38",
                   std::string("#!/bin/sh\nd=$(dirname \"$0\")\necho $$ > \"$d/pid\"\n"
                               "echo $$ >> \"$QUELVAD_ROOT/pids\"\n"
                               "left() { echo $1 > \"$d/bg\"; echo $1 >> \"$QUELVAD_ROOT/pids\"; }\n") +
                       r.script + "\n",
                   0755);
        T38SoftFactory::queryReadWait = T38SoftFactory::kQueryWait;
        if (!r.silent)
            patient();
        ctltest::Capture log(std::clog);
        EXPECT_EQ(r.answer, T38SoftFactory::instance().QueryNumOfInstances());
        EXPECT_EQ(r.line, lines(log.text(), "t38"));
        const std::string bg = testutil::read_file(dir + "bg");
        const int last = std::atoi((bg.empty() ? testutil::read_file(dir + "pid") : bg).c_str());
        ASSERT_LT(0, last);
        if (r.waits) {
            run_for(T38SoftFactory::kQueryWait - 1);
            EXPECT_TRUE(running(last)) << "still running after its line";
            run_for(1);
        }
        EXPECT_TRUE(pump_for([&] { return children().empty() && !running(last); })) << log.text();
    }
}

// The count is the leading number of the helper's first line, at most 31
// characters, however its output is written; what follows the first line
// feed is never read as the count.
TEST_F(T38Slots, InstanceCount)
{
    const struct Row {
        const char* script;
        int count;
        const char* line; // the query's log line
    } rows[] = {
        {"printf '4\\n'", 4, ""},
        {"printf '\\n4\\n'", 0, ""},
        {"printf ' \\n7\\n'", 0, ""},
        {"printf '3 lines\\n9\\n'", 3, ""},
        {"printf 1; printf '2\\n9\\n'", 12, ""}, // two writes, read whole or in two pieces
        {"printf 12", 12, ""},                   // the end of the output ends the line
        {"printf '%031d8\\n' 7", 7, ""},         // the 32nd character is not read
        {"true", 0, "t38: can't detect T38 resources\n"},
    };
    patient();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.script);
        write_file("/usr/local/sbin/t38",
                   std::string("#!/bin/sh\necho $$ >> \"$QUELVAD_ROOT/pids\"\n") + r.script + "\n", 0755);
        ctltest::Capture log(std::clog);
        EXPECT_EQ(r.count, T38SoftFactory::instance().QueryNumOfInstances());
        EXPECT_EQ(r.line, lines(log.text(), "t38"));
        EXPECT_TRUE(pump_for([] { return children().empty(); }));
    }
}

// The query pings the watchdog through the loop's own ping: right after the
// loop's ping it adds none, a second later one, however many queries run.
TEST_F(T38Slots, InstanceQueryFeedsTheWatchdogThroughTheLoopsPing)
{
    write_file("/usr/local/sbin/instances", "4\n");
    const struct Case {
        unsigned after_ms; // from the loop's ping to the queries
        int queries;
        unsigned pings; // the loop's and the queries'
    } cases[] = {
        {0, 1, 1},
        {0, 3, 1},
        {1000, 3, 2},
    };
    patient();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.after_ms) + " ms, " + std::to_string(c.queries) + " queries");
        // The loop pings after its first poll, which ends when the timer is due.
        looptest::Action queries;
        queries.set(500, [&] {
            mClock.advance_ms(c.after_ms);
            for (int i = 0; i < c.queries; ++i)
                EXPECT_EQ(4, T38SoftFactory::instance().QueryNumOfInstances());
            multiplexer.terminate();
        });
        multiplexer.run(true, true);
        board().service();
        EXPECT_EQ(c.pings, board().model<platform::sim::WatchdogModel>()->pings());
        // The helpers are killed and reaped by the loop.
        EXPECT_TRUE(pump_for([] { return children().empty(); }));
    }
}

} // namespace
