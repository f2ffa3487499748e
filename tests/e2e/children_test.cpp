// The daemon's child programs, with fake ones under its root: a stop sent
// right after a start (in the same write as the command that started the
// program) reaches the program; a PPP daemon that ignores the hang-up is
// killed after the time-out, and a destroy that waits for its end is answered
// with the destroy's own seq or none; the T.38 instance query keeps the
// watchdog fed and leaves nothing running; and no process the daemon started
// outlives it, the fixture's check of the stop naming one that left its
// program's group.
#include <atomic>
#include <ctime>
#include <fstream>
#include <functional>
#include <poll.h>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "tests/e2e/fixture.hpp"
#include "tests/slots/frames.hpp"
#include "tests/slots/media_text.hpp"

namespace
{

using e2e::Bytes;

// Appends its number (after its trap) to "pids" beside itself. Started with
// --num-of-instances it answers as the file "query" says, which it must do
// within the daemon's wait of one second, so it starts nothing it can do
// without (shell builtins only, perl rather than python, whose start alone
// may take longer than that on a loaded machine): "line" prints 4 and
// keeps running, "left" prints nothing and ends, leaving a sleep behind in
// its group, "lineleft" prints 4 and ends, leaving one, "escape" prints 4
// and ends, leaving a process in a group of its own (its number in "pids"
// and "escaped"); otherwise it stays silent. As the relay it runs until
// stopped, deaf to SIGTERM when the file "stubborn" exists; when the file
// "holdin" exists it first leaves a sleep running on its standard input (the
// channel), its number in "pids" and "left".
const char kFakeT38[] = "#!/bin/sh\n"
                        "d=${0%/*}\n"
                        "if [ \"$1\" = --num-of-instances ]; then\n"
                        "  echo $$ >> \"$d/pids\"\n"
                        "  mode=\n"
                        "  read -r mode 2>/dev/null < \"$d/query\"\n"
                        "  case $mode in\n"
                        "  line) echo 4; exec sleep 1000 ;;\n"
                        "  left) sleep 1000 & echo $! >> \"$d/pids\"; exit 0 ;;\n"
                        "  lineleft) sleep 1000 & echo $! >> \"$d/pids\"; echo 4; exit 0 ;;\n"
                        "  escape) perl -e 'pipe(my $r, my $w);\n"
                        "if (!fork) {\n"
                        "    setpgrp(0, 0);\n"
                        "    for my $f (@ARGV) {\n"
                        "        open(my $h, \">>\", $f) or die; print $h \"$$\\n\"; close($h);\n"
                        "    }\n"
                        "    syswrite($w, \"x\"); sleep(1000); exit(0);\n"
                        "}\n"
                        "sysread($r, my $x, 1)' \"$d/pids\" \"$d/escaped\" </dev/null >/dev/null 2>&1\n"
                        "    echo 4; exit 0 ;;\n"
                        "  esac\n"
                        "  exec sleep 1000\n"
                        "fi\n"
                        "[ -f \"$d/stubborn\" ] && trap '' TERM\n"
                        "if [ -f \"$d/holdin\" ]; then\n"
                        "  exec 3<&0\n"
                        "  sleep 1000 <&3 3<&- &\n"
                        "  echo $! >> \"$d/pids\"; echo $! >> \"$d/left\"\n"
                        "fi\n"
                        "echo $$ >> \"$d/pids\"\n"
                        "exec sleep 1000\n";

// Runs until stopped, deaf to SIGHUP when the file "deaf" exists beside it;
// appends its number to "pids" once its trap is set. When the file "leave"
// exists it first leaves a sleep running (on the daemon's standard output and
// error), its number in "pids" and "left".
const char kFakePppd[] = "#!/bin/sh\n"
                         "d=$(dirname \"$0\")\n"
                         "[ -f \"$d/deaf\" ] && trap '' HUP\n"
                         "if [ -f \"$d/leave\" ]; then\n"
                         "  sleep 1000 &\n"
                         "  echo $! >> \"$d/pids\"; echo $! >> \"$d/left\"\n"
                         "fi\n"
                         "echo $$ >> \"$d/pids\"\n"
                         "exec sleep 1000\n";

// The fax receiver: appends the file it is told to "files" beside itself,
// leaves a sleep running, appends both numbers to "pids" and runs until
// stopped.
const char kFakeFax[] = "#!/bin/sh\n"
                        "d=$(dirname \"$0\")\n"
                        "sleep 1000 &\n"
                        "echo $! >> \"$d/pids\"\n"
                        "echo $$ >> \"$d/pids\"\n"
                        "echo \"$4\" >> \"$d/files\"\n"
                        "exec sleep 1000\n";

class Children : public e2etest::DaemonTest
{
protected:
    // The fake programs' lists of the processes they run.
    Children()
    {
        programs.watch(daemon.path("/usr/local/sbin/pids"));
        programs.watch(daemon.path("/usr/local/bin/pids"));
    }
    // A test that did not stop the daemon, or ended early, stops it here:
    // nothing the fake programs listed or the daemon logged as started may
    // outlive the stop either.
    void TearDown() override
    {
        if (daemon.pid() > 0 && !stopped) {
            EXPECT_EQ("", survivors_of_stop(started("/usr/local/sbin/pids")));
        }
    }
    void install(const char* fixed, const char* text)
    {
        const std::string path = daemon.path(fixed);
        ASSERT_EQ(0, std::system(("mkdir -p '" + path.substr(0, path.rfind('/')) + "'").c_str()));
        std::ofstream(path) << text;
        ::chmod(path.c_str(), 0755);
    }
    void touch(const char* fixed, const std::string& text = "") { std::ofstream(daemon.path(fixed)) << text; }

    static LGCP::Message message(int seq, int slot, LGCP::Command const& command)
    {
        LGCP::Message m;
        m.set_seq(seq);
        if (slot >= 0)
            m.set_slot(unsigned(slot));
        m.set_pdu().select_command(command);
        return m;
    }
    static LGCP::Command t38()
    {
        LGCP::Command c;
        mediatest::t38Create(c);
        return c;
    }
    static LGCP::Command destroy() { return LGCP::Command(LGCP::Command::destroy::value, ASN1::Null()); }
    static LGCP::Command query() { return LGCP::Command(LGCP::Command::query::value, ASN1::Null()); }
    // The messages, all in one write.
    bool burst(std::vector<LGCP::Message> const& messages)
    {
        Bytes all;
        for (auto const& m : messages) {
            const Bytes frame = e2e::tpkt(e2e::encode(m));
            all.insert(all.end(), frame.begin(), frame.end());
        }
        return controller.send_raw(all);
    }
    // Messages (line status reports left out) as short texts until one for
    // which `done` holds; a failure at the deadline, saying so when the
    // daemon has ended. The daemon's output is read meanwhile: a burst's log
    // lines may fill its pipes (a pipe may hold no more than a page when the
    // machine's pipe budget is spent), and the daemon would wait on them
    // instead of answering.
    ::testing::AssertionResult until(const std::function<bool(std::string const&)>& done)
    {
        std::atomic<bool> got{false};
        std::thread reader([&] {
            for (; !got; ::poll(nullptr, 0, 10))
                daemon.collect_output();
        });
        bool found = false;
        for (Bytes payload; !found && e2etest::next_answer(controller, payload);) {
            ASN1::CoderEnv env;
            const char* p = reinterpret_cast<const char*>(payload.data());
            found = ASN1::decode(p, p + payload.size(), &env, last, true) && done(slotstest::text(last));
        }
        got = true;
        reader.join();
        if (found)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "not seen" << because();
    }
    // `n` queries in one write, and their answers.
    ::testing::AssertionResult burst_queries(int n)
    {
        std::vector<LGCP::Message> queries;
        queries.reserve(std::size_t(n));
        for (int k = 0; k < n; ++k)
            queries.push_back(message(k, -1, query()));
        if (!burst(queries))
            return ::testing::AssertionFailure() << "not sent" << because();
        return answers(n);
    }
    ::testing::AssertionResult answers(int queries)
    {
        if (queries == 0)
            return ::testing::AssertionSuccess();
        return until([&](std::string const& t) { return t.compare(0, 5, "query") == 0 && --queries == 0; });
    }
    // How often `text` is in the lines the daemon has written whole so far.
    // A line reaches the error stream in parts ("terminate child process,
    // pid=", the number, " status=", ...), so one still being written is not
    // counted: its end may come after the look.
    int count(const std::string& text)
    {
        daemon.collect_output();
        int n = 0;
        for (const std::string* s : {&daemon.out(), &daemon.err()}) {
            const std::size_t whole = s->rfind('\n');
            for (std::size_t at = 0;
                 whole != std::string::npos && (at = s->find(text, at)) != std::string::npos &&
                 at + text.size() <= whole + 1;
                 at += text.size())
                ++n;
        }
        return n;
    }
    bool wait_count(const std::string& text, int n)
    {
        for (int waited = 0; waited < e2e::deadline_ms(); waited += 20, ::poll(nullptr, 0, 20))
            if (count(text) >= n)
                return true;
        return false;
    }
    int lines(const char* fixed)
    {
        std::istringstream in(e2e::read_file(daemon.path(fixed)));
        int n = 0;
        for (std::string line; std::getline(in, line);)
            ++n;
        return n;
    }
    bool wait_lines(const char* fixed, int n)
    {
        for (int waited = 0; waited < e2e::deadline_ms(); waited += 20, ::poll(nullptr, 0, 20))
            if (lines(fixed) >= n)
                return true;
        return false;
    }
    // The numbers in a file beside the fake programs and in the daemon's
    // "t38 daemon[<pid>] successfully started" lines.
    std::set<int> started(const char* fixed)
    {
        std::set<int> pids;
        std::istringstream in(e2e::read_file(daemon.path(fixed)));
        for (int pid; in >> pid;)
            pids.insert(pid);
        daemon.collect_output();
        for (const std::string* s : {&daemon.out(), &daemon.err()})
            for (std::size_t at = 0; (at = s->find("t38 daemon[", at)) != std::string::npos; ++at)
                pids.insert(std::atoi(s->c_str() + at + 11));
        pids.erase(0);
        return pids;
    }
    // The first number in a file beside the fake programs, 0 when none.
    int first(const char* fixed) { return std::atoi(e2e::read_file(daemon.path(fixed)).c_str()); }
    // Waits until `done` holds; false at the deadline.
    static bool eventually(const std::function<bool()>& done)
    {
        for (int waited = 0; waited < e2e::deadline_ms(); waited += 20, ::poll(nullptr, 0, 20))
            if (done())
                return true;
        return false;
    }
    // Stops the daemon (stop_daemon()) with `pids` among its programs: what
    // of them, or of their groups, still runs once it has gone and whatever
    // it killed last has had the time to end; "" when nothing.
    std::string survivors_of_stop(std::set<int> const& pids)
    {
        for (int pid : pids)
            programs.add(pid);
        std::string left = stop_daemon();
        EXPECT_EQ(0, daemon.wait_exit());
        return left;
    }
};

class T38Children : public Children
{
protected:
    void SetUp() override
    {
        install("/usr/local/sbin/t38", kFakeT38);
        start({{}, {}, "device /dev/mcc/ctl present\nmcc pool transparent 200\n"});
    }
};

// A destroy in the same write as the create: the program gets its SIGTERM
// even when it has not yet been executed, and ends on it (status 15), at once.
TEST_F(T38Children, DestroyRightAfterCreateStopsTheProgram)
{
    const int n = 20;
    std::vector<LGCP::Message> pairs;
    for (int k = 1; k <= n; ++k) {
        pairs.push_back(message(k, k, t38()));
        pairs.push_back(message(100 + k, k, destroy()));
    }
    ASSERT_TRUE(burst(pairs));
    ASSERT_TRUE(wait_count("terminate child process", n)) << daemon.err();
    EXPECT_EQ(n, count(" status=15\n")) << daemon.err();
    EXPECT_EQ(0, count("terminate timeout!"));
}

// Programs whose slot went but which ignore SIGTERM, or whose slot is still
// there, and the queries' programs and what they left in their groups: none
// is running once the daemon has stopped.
TEST_F(T38Children, NoProgramOutlivesTheDaemon)
{
    touch("/usr/local/sbin/stubborn");
    ASSERT_TRUE(burst({message(1, 1, t38()), message(2, 2, t38())}));
    ASSERT_TRUE(wait_lines("/usr/local/sbin/pids", 2)) << "both have set their trap";
    ASSERT_TRUE(burst({message(3, 2, destroy())}));
    ASSERT_TRUE(until([](std::string const& t) { return t == "ok #3 @2"; }));
    for (const char* mode : {"line", "left", "lineleft"}) {
        SCOPED_TRACE(mode);
        touch("/usr/local/sbin/query", mode);
        ASSERT_TRUE(burst({message(4, -1, query())}));
        ASSERT_TRUE(answers(1));
    }
    const std::set<int> pids = started("/usr/local/sbin/pids");
    EXPECT_EQ(7u, pids.size()) << "two relays, three queries and two sleeps they left";
    EXPECT_EQ("", survivors_of_stop(pids));
}

// 100 queries whose programs end after their line, each leaving a sleep in
// its group, then 100 create-destroy pairs, each burst in one write.
TEST_F(T38Children, HundredQueriesAndHundredPairsLeaveNothing)
{
    const int n = 100;
    touch("/usr/local/sbin/query", "lineleft");
    ASSERT_TRUE(burst_queries(n));
    std::vector<LGCP::Message> pairs;
    for (int k = 1; k <= n; ++k) {
        pairs.push_back(message(k, k, t38()));
        pairs.push_back(message(1000 + k, k, destroy()));
    }
    ASSERT_TRUE(burst(pairs));
    ASSERT_TRUE(wait_count("successfully started", n));
    const std::set<int> pids = started("/usr/local/sbin/pids");
    EXPECT_LE(3u * n, pids.size()) << "each query, its sleep, each relay started";
    EXPECT_EQ("", survivors_of_stop(pids));
}

// A program that leaves a process holding its channel (its standard input)
// and runs on, with a pool of 2 channels: each destroy ends the program, and
// what it left is killed with its group, so the channel goes back to the pool
// and the third create finds one. What the last one left goes with the daemon.
TEST_F(T38Children, WhatAProgramLeftGoesWithItAndItsChannelComesBack)
{
    ASSERT_EQ("ok\n", daemon.board("mcc pool transparent 2"));
    touch("/usr/local/sbin/holdin");
    for (int k = 1; k <= 3; ++k) {
        SCOPED_TRACE(k);
        ASSERT_TRUE(burst({message(k, k, t38())}));
        ASSERT_EQ("ok #" + std::to_string(k) + " @" + std::to_string(k), texts(1, slotstest::text))
            << daemon.err();
        ASSERT_TRUE(wait_lines("/usr/local/sbin/pids", 2 * k)) << "the program and what it left";
        if (k == 3)
            break;
        const int left = first("/usr/local/sbin/left");
        ASSERT_LT(0, left);
        ::unlink(daemon.path("/usr/local/sbin/left").c_str());
        ASSERT_TRUE(burst({message(10 + k, k, destroy())}));
        const std::string answer = "ok #" + std::to_string(10 + k) + " @" + std::to_string(k);
        ASSERT_TRUE(until([&](std::string const& t) { return t == answer; }));
        EXPECT_TRUE(eventually([&] { return !support::running(left); })) << "what it left is gone";
        EXPECT_TRUE(eventually([&] {
            return daemon.board("mcc").find("transparent 0/2") != std::string::npos;
        })) << daemon.board("mcc");
    }
    EXPECT_EQ("", survivors_of_stop(started("/usr/local/sbin/pids")));
}

// A process a query's program leaves in a group of its own escapes the
// daemon, which kills the program's group only: the stop's check names it
// (the test says it leaves something), and the guard ends it after.
TEST_F(T38Children, WhatLeftTheProgramsGroupIsNamedByTheStopsCheck)
{
    touch("/usr/local/sbin/query", "escape");
    // The program answers once what it leaves has written its number; a
    // program the daemon gave up on (no line within its wait, the answer
    // counting no instance) is asked again.
    bool answered = false;
    for (int seq = 1; !answered && seq < e2e::deadline_ms() / 1000; ++seq) {
        ASSERT_TRUE(burst({message(seq, -1, query())}));
        ASSERT_TRUE(answers(1));
        answered = last.get_pdu().get_signal().get_query().get_t38_instances().getValue() == 4;
    }
    ASSERT_TRUE(answered) << slotstest::text(last);
    const int escaped = first("/usr/local/sbin/escaped");
    ASSERT_LT(0, escaped);
    const std::string left = stop_daemon(SIGTERM, true);
    EXPECT_NE(std::string::npos, ("\n" + left).find("\n" + std::to_string(escaped) + " ")) << left;
    EXPECT_NE(std::string::npos, left.find("perl -e pipe(my $r, my $w);")) << left;
    EXPECT_EQ(0, daemon.wait_exit());
    EXPECT_TRUE(eventually([&] { return !support::running(escaped); })) << "the guard ended it";
}

// Queries whose program stays silent block the loop for their whole wait:
// the watchdog is fed through the loop's own ping, at most once a second
// counted with the loop's pings, so once after each wait (the loop may have
// pinged just before the first).
TEST_F(T38Children, QueryKeepsTheWatchdogFed)
{
    const int n = 4;
    const int before = watchdog_pings();
    ASSERT_LE(0, before) << daemon.board("watchdog") << because();
    ASSERT_TRUE(burst_queries(n));
    EXPECT_LE(before + n, watchdog_pings()) << because();
    EXPECT_EQ(n, count("t38: can't detect T38 resources"));
}

class ModemChildren : public Children
{
protected:
    void SetUp() override
    {
        install("/usr/local/sbin/pppd", kFakePppd);
        start({{}, {}, "device /dev/mctl present\nmctl modems 2 96\n"});
        LGCP::Command trunk;
        trunk.select_create().select_trunk().set_trunk(0);
        trunk.ref_create().ref_trunk().set_timeslot(1);
        ASSERT_TRUE(burst({message(1, 1, trunk)}));
        ASSERT_EQ("ok #1 @1; @1 transmitter 1; @1 receiver 1", texts(3, slotstest::text));
    }
    bool create_modem(int seq)
    {
        LGCP::Command modem;
        modem.select_create().select_modem().set_cid("5551234");
        modem.ref_create().ref_modem().set_cdid("100");
        return burst({message(seq, 2, modem)}) &&
               texts(1, slotstest::text) == "ok #" + std::to_string(seq) + " @2";
    }
    static LGCP::Command connect() { return LGCP::Command(LGCP::Command::connect::value, 1u); }
};

// A destroy in the same write as the connect that starts pppd: the hang-up
// reaches it even when it has not yet been executed, and ends it (status 1),
// so the destroy is answered without the time-out and the kill.
TEST_F(ModemChildren, DestroyRightAfterConnectHangsUp)
{
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(create_modem(10 * round));
        ASSERT_TRUE(burst({message(10 * round + 1, 2, connect()), message(10 * round + 2, 2, destroy())}));
        const std::string answer = "ok #" + std::to_string(10 * round + 2) + " @2";
        ASSERT_TRUE(until([&](std::string const& t) { return t == answer; })) << daemon.err();
        // Written before the answer was sent.
        EXPECT_EQ(round, count("pppd terminated with code 1\n")) << daemon.err();
    }
    EXPECT_EQ(0, count("pppd terminate timeout!"));
    EXPECT_EQ(0, count("killing"));
}

// A destroy whose answer waits for pppd's end: the answer carries the
// destroy's own seq, -1 (FF) too, and none when the destroy had none.
TEST_F(ModemChildren, DeferredDestroyAnswerCarriesItsSeqOrNone)
{
    const struct Case {
        bool seq;
        const char* answer;
    } cases[] = {
        {true, "C0 01 FF 00 02 40"},
        {false, "40 00 02 40"},
    };
    int pppds = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        ASSERT_TRUE(create_modem(10));
        ASSERT_TRUE(burst({message(11, 2, connect())}));
        ASSERT_TRUE(until([](std::string const& t) { return t == "ok #11 @2"; }));
        ASSERT_TRUE(wait_lines("/usr/local/sbin/pids", ++pppds)) << "pppd runs";
        LGCP::Message destroying = message(-1, 2, destroy());
        if (!c.seq)
            destroying.omit_seq();
        ASSERT_TRUE(burst({destroying}));
        Bytes payload;
        while (next(payload) && e2e::signal_message(payload)) {
        }
        EXPECT_EQ(c.answer, e2e::hex(payload));
        EXPECT_EQ(pppds, count("pppd terminated with code 1\n")) << "the answer waited for pppd's end";
    }
}

// A PPP daemon deaf to the hang-up: the time-out, its kill, and the kill
// again when the slot is deleted, its end not yet seen.
TEST_F(ModemChildren, DeafPppdIsKilledAfterTheTimeOut)
{
    touch("/usr/local/sbin/deaf");
    ASSERT_TRUE(create_modem(10));
    ASSERT_TRUE(burst({message(11, 2, connect())}));
    ASSERT_TRUE(wait_lines("/usr/local/sbin/pids", 1)) << "its trap is set";
    ASSERT_TRUE(burst({message(12, 2, destroy())}));
    ASSERT_TRUE(until([](std::string const& t) { return t == "ok #12 @2"; })) << daemon.err();
    daemon.collect_output();
    std::string logs;
    std::istringstream in(daemon.err());
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, 3, "02:") == 0 && line.find("pppd") != std::string::npos)
            logs += line.substr(line.find(": ") + 2) + "\n";
    EXPECT_EQ("sent HUP to pppd.\npppd terminate timeout!\npppd isn't terminated, killing ...\n"
              "pppd isn't terminated, killing ...\n",
              logs);
    EXPECT_EQ("", survivors_of_stop(started("/usr/local/sbin/pids")));
}

// The daemon stops while a PPP daemon deaf to the hang-up runs: the slot's
// end kills it before the daemon is gone.
TEST_F(ModemChildren, APppdStillRunningDoesNotOutliveTheDaemon)
{
    touch("/usr/local/sbin/deaf");
    ASSERT_TRUE(create_modem(10));
    ASSERT_TRUE(burst({message(11, 2, connect())}));
    ASSERT_TRUE(wait_lines("/usr/local/sbin/pids", 1)) << "its trap is set";
    EXPECT_EQ("", survivors_of_stop(started("/usr/local/sbin/pids")));
}

// A PPP daemon that leaves a process behind: the destroy's hang-up ends it,
// and what it left is killed with its group; what one still running at the
// daemon's stop left goes with the daemon.
TEST_F(ModemChildren, WhatAPppdLeftGoesWithItAndWithTheDaemon)
{
    touch("/usr/local/sbin/leave");
    ASSERT_TRUE(create_modem(10));
    ASSERT_TRUE(burst({message(11, 2, connect())}));
    ASSERT_TRUE(wait_lines("/usr/local/sbin/pids", 2)) << "pppd and what it left";
    const int left = first("/usr/local/sbin/left");
    ASSERT_LT(0, left);
    ASSERT_TRUE(burst({message(12, 2, destroy())}));
    ASSERT_TRUE(until([](std::string const& t) { return t == "ok #12 @2"; })) << daemon.err();
    EXPECT_EQ(1, count("pppd terminated with code 1\n")) << "it ended on the hang-up";
    EXPECT_TRUE(eventually([&] { return !support::running(left); })) << "what it left is gone";

    ASSERT_TRUE(create_modem(20));
    ASSERT_TRUE(burst({message(21, 2, connect())}));
    ASSERT_TRUE(wait_lines("/usr/local/sbin/pids", 4));
    EXPECT_EQ("", survivors_of_stop(started("/usr/local/sbin/pids")));
}

// Fax receivers (fax, no originate) on trunk slots 1 and 3; the receiver's
// files as it was told them, without the daemon's root.
class FaxChildren : public ModemChildren
{
protected:
    void SetUp() override
    {
        install("/usr/local/bin/fax", kFakeFax);
        ModemChildren::SetUp();
        LGCP::Command trunk;
        trunk.select_create().select_trunk().set_trunk(0);
        trunk.ref_create().ref_trunk().set_timeslot(2);
        ASSERT_TRUE(burst({message(3, 3, trunk)}));
        ASSERT_EQ("ok #3 @3; @3 transmitter 2; @3 receiver 2", texts(3, slotstest::text));
        ASSERT_EQ(0, std::system(("mkdir -p '" + daemon.path("/var") + "'").c_str()));
    }
    void TearDown() override
    {
        if (daemon.pid() > 0 && !stopped) {
            EXPECT_EQ("", survivors_of_stop(started("/usr/local/bin/pids")));
        }
    }
    // Fax slots 4, 5, ... joined to trunk slots 1, 3 in one write.
    void receive(int n)
    {
        std::vector<LGCP::Message> joins;
        for (int k = 0; k < n; ++k) {
            LGCP::Command fax;
            fax.select_create().select_modem().set_cid("5551234");
            fax.ref_create().ref_modem().set_cdid("100");
            fax.ref_create().ref_modem().set_fax();
            ASSERT_TRUE(burst({message(4 + k, 4 + k, fax)}));
            ASSERT_EQ("ok #" + std::to_string(4 + k) + " @" + std::to_string(4 + k),
                      texts(1, slotstest::text));
            joins.push_back(
                message(10 + k, 4 + k, LGCP::Command(LGCP::Command::connect::value, k ? 3u : 1u)));
        }
        ASSERT_TRUE(burst(joins));
        ASSERT_TRUE(wait_lines("/usr/local/bin/files", n)) << daemon.err();
    }
    std::vector<std::string> files()
    {
        std::vector<std::string> out;
        std::istringstream in(e2e::read_file(daemon.path("/usr/local/bin/files")));
        for (std::string line; std::getline(in, line);)
            out.push_back(line.compare(0, daemon.path("").size(), daemon.path("")) == 0
                              ? line.substr(daemon.path("").size())
                              : line);
        return out;
    }
    // "/var/fax-HH-MM-SS" of a time.
    static std::string stamp(std::time_t t)
    {
        std::tm now{};
        ::localtime_r(&t, &now);
        char name[64];
        std::strftime(name, sizeof name, "/var/fax-%H-%M-%S", &now);
        return name;
    }
    // The stamp of a receiver's file and its "-N" (0 when none); -1 when the
    // name has not the receiver's form.
    static int suffix(std::string const& file, std::string& at)
    {
        const std::size_t stampSize = std::string("/var/fax-HH-MM-SS").size();
        if (file.size() < stampSize + 3 || file.compare(0, 9, "/var/fax-") != 0 ||
            file.compare(file.size() - 3, 3, ".g3") != 0)
            return -1;
        at = file.substr(0, stampSize);
        const std::string rest = file.substr(stampSize, file.size() - 3 - stampSize);
        if (rest.empty())
            return 0;
        return rest.size() > 1 && rest[0] == '-' &&
                       rest.find_first_not_of("0123456789", 1) == std::string::npos
                   ? std::atoi(rest.c_str() + 1)
                   : -1;
    }
};

// Two receivers started by one write (in one second, as a rule): each is told
// a file of its own, with the receiver's form; in one second, the second
// gets "-1".
TEST_F(FaxChildren, TwoReceiversStartedTogetherGetTwoFiles)
{
    receive(2);
    const std::vector<std::string> got = files();
    ASSERT_EQ(2u, got.size());
    EXPECT_NE(got[0], got[1]);
    std::string at[2];
    const int n[2] = {suffix(got[0], at[0]), suffix(got[1], at[1])};
    EXPECT_TRUE(n[0] >= 0 && n[1] >= 0) << got[0] << " " << got[1];
    if (at[0] == at[1]) {
        EXPECT_EQ(1, n[0] + n[1]) << got[0] << " " << got[1];
    }
    EXPECT_EQ("", survivors_of_stop(started("/usr/local/bin/pids"))) << "what each left goes with the daemon";
}

// Files of the receiver's name for every second around the join exist: the
// receiver is told its name with "-1". The join is sent once the create has
// been answered and the receiver runs before the next deadline, each wait
// bounded by the deadline however loaded the machine: the files cover both.
TEST_F(FaxChildren, AReceiverSkipsAFileThatExists)
{
    const std::time_t now = std::time(nullptr);
    std::set<std::string> taken;
    for (std::time_t t = now - 1; t <= now + std::time_t{2} * (e2e::deadline_ms() / 1000) + 1; ++t) {
        taken.insert(stamp(t));
        touch((stamp(t) + ".g3").c_str(), "earlier fax");
    }
    receive(1);
    const std::vector<std::string> got = files();
    ASSERT_EQ(1u, got.size());
    std::string at;
    EXPECT_EQ(1, suffix(got[0], at)) << got[0];
    EXPECT_EQ(1u, taken.count(at)) << got[0];
    EXPECT_EQ("earlier fax", e2e::read_file(daemon.path(at + ".g3")));
}

} // namespace
