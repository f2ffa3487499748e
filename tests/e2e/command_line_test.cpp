// The daemon as an operator meets it: command line, start-up line, pid file,
// configuration, status dump, signals and daemon mode.
#include <algorithm>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/e2e/fixture.hpp"
#include "tests/support/controller.hpp"
#include "tests/support/process_guard.hpp"

namespace
{

const char kUsage[] = "Usage:\n"
                      " quelvad -Dh\n"
                      "  -D --daemon                      run as daemon\n"
                      "  -p --port                        use this port\n"
                      "     --disable-clock               disable clock control\n"
                      "     --version                     print version\n"
                      "  -h --help                        display this information\n"
                      "\n";
const char kVersionLine[] = "server version: T230630-1920\n";
const char kPidFile[] = "/var/run/server.pid";
const char kDump[] = "/var/log/server-status";

bool exists(const e2e::Daemon& daemon, const char* fixed)
{
    return ::access(daemon.path(fixed).c_str(), F_OK) == 0;
}

// The status dump once its table is closed, or what there is at the deadline.
std::string dump_text(const e2e::Daemon& daemon)
{
    std::string text;
    for (int i = 0; i < e2e::deadline_ms() / 10 && text.find("+\n\n") == std::string::npos; ++i) {
        ::poll(nullptr, 0, 10);
        text = e2e::read_file(daemon.path(kDump));
    }
    return text;
}

TEST(CommandLine, OptionsThatEndTheProcess)
{
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string out;
        const char* err; // part of what the option parser writes
    };
    const Case cases[] = {
        {{"--help"}, 0, kUsage, ""},
        {{"-h"}, 0, kUsage, ""},
        {{"--version"}, 2, kVersionLine, ""},
        {{"--version", "--help"}, 0, kUsage, ""},
        {{"-D", "-h"}, 0, kUsage, ""},
        {{"-p", "20001"}, 2, kUsage, "invalid option -- 'p'"},
        {{"-x"}, 2, kUsage, "invalid option -- 'x'"},
        {{"--bogus"}, 2, kUsage, "unrecognized option '--bogus'"},
        {{"--port"}, 2, kUsage, "requires an argument"},
        {{"--port", "0"}, 2, kUsage, ""},
        {{"--port", "65536"}, 2, kUsage, ""},
        {{"--port", "+80"}, 2, kUsage, ""},
        {{"--port", "12x"}, 2, kUsage, ""},
        {{"--port="}, 2, kUsage, ""},
        {{"--port=1", "--port", "nope"}, 2, kUsage, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + (c.args.size() > 1 ? " " + c.args[1] : ""));
        e2e::Daemon daemon;
        daemon.start({c.args});
        EXPECT_EQ(c.code, daemon.wait_exit());
        EXPECT_EQ(c.out, daemon.out());
        EXPECT_NE(std::string::npos, daemon.err().find(c.err)) << daemon.err();
        EXPECT_FALSE(exists(daemon, kPidFile)) << "no pid file before start-up";
    }
}

// The watchdog is fed through the simulated board, or reported missing; a
// stop asked for at the start-up line, before the loop runs, is not lost.
TEST(StartUp, RunsWithItsPidFileUntilStopped)
{
    struct Case {
        std::vector<std::string> args;
        int sig;
        const char* init = ""; // the simulated board's start
        const char* err = "";  // on the error stream
        const char* journal =
            "open /dev/misc/gw-wd\nwrite /dev/misc/gw-wd START\n"; // its watchdog lines' beginning
        bool early = false;                                        // stopped at the start-up line
    };
    const Case cases[] = {
        {{"--port=PORT"}, SIGTERM},
        {{"--port", "PORT"}, SIGINT},
        {{"positional", "words"}, SIGTERM},
        {{"--disable-clock", "--", "--help"}, SIGINT},
        {{},
         SIGTERM,
         "device /dev/misc/gw-wd missing\n",
         "Mux: fail to open watchdog: No such file or directory\n",
         "open /dev/misc/gw-wd missing\n"},
        {{}, SIGTERM, "", "", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? c.init : c.args.back());
        e2e::Daemon daemon;
        e2e::Daemon::Options options(c.args);
        options.sim_init = c.init;
        if (c.early) {
            daemon.start(options);
            ASSERT_TRUE(daemon.wait_out("Starting server "));
        } else {
            ASSERT_TRUE(daemon.start_serving(options)) << daemon.out() << daemon.err();
            EXPECT_EQ(std::to_string(daemon.pid()), e2e::read_file(daemon.path(kPidFile)));
            std::istringstream journal(daemon.board("journal"));
            std::string watchdog;
            for (std::string line; std::getline(journal, line);)
                watchdog += line.find("/dev/misc/gw-wd") != std::string::npos ? line + "\n" : "";
            EXPECT_EQ(0u, watchdog.find(c.journal)) << watchdog;
            EXPECT_TRUE(daemon.wait_err(c.err)) << daemon.err();
        }
        EXPECT_EQ("Starting server [T230630-1920], port=" + std::to_string(daemon.port()) + "\n",
                  daemon.out());
        // Start-up lists neither the factory chain nor the services it binds.
        for (const char* line : {"slot factories:", "services:"})
            EXPECT_EQ(std::string::npos, daemon.err().find(line)) << daemon.err();
        daemon.signal(c.sig);
        EXPECT_EQ(0, daemon.wait_exit());
        EXPECT_FALSE(exists(daemon, kPidFile));
        EXPECT_NE(std::string::npos, daemon.err().find("Mux: terminating...\n"));
    }
}

// A link at the pid file's place is a pid file that cannot be opened: the
// daemon runs without one, and neither the link nor what it points at (or
// fails to point at) is touched, at start or at the stop.
TEST(StartUp, PidFileThatIsALinkIsLeftAlone)
{
    for (const bool dangling : {false, true}) {
        SCOPED_TRACE(dangling ? "dangling" : "to a file");
        e2e::Daemon daemon;
        const std::string target = daemon.path("/var/run/other");
        if (!dangling)
            daemon.write_file("/var/run/other", "keep");
        ::mkdir(daemon.path("/var").c_str(), 0755);
        ::mkdir(daemon.path("/var/run").c_str(), 0755);
        ASSERT_EQ(0, ::symlink(target.c_str(), daemon.path(kPidFile).c_str()));
        ASSERT_TRUE(daemon.start_serving()) << daemon.err();
        for (const bool stopped : {false, true}) {
            if (stopped) {
                daemon.signal(SIGTERM);
                EXPECT_EQ(0, daemon.wait_exit());
            }
            struct stat entry {
            };
            EXPECT_EQ(0, ::lstat(daemon.path(kPidFile).c_str(), &entry)) << stopped;
            EXPECT_TRUE(S_ISLNK(entry.st_mode)) << stopped;
            EXPECT_EQ(!dangling, exists(daemon, "/var/run/other")) << stopped;
            EXPECT_EQ(dangling ? "" : "keep", e2e::read_file(target)) << stopped;
        }
    }
}

TEST(StartUp, ConfigurationIsReadBeforeTheOptions)
{
    e2e::Daemon daemon;
    daemon.start(
        {{"--help"}, "# trace flags\n[traces]\nsignalling.hdlc = maybe\nmonitoring.internal = yes\n"});
    EXPECT_EQ(0, daemon.wait_exit());
    EXPECT_EQ(kUsage, daemon.out());
    EXPECT_EQ("traces: optional key \"signalling.hdlc\" has invalid value=\"maybe\", line 3. Key will be "
              "ignored.\n",
              daemon.err());
}

// A configuration that opens but cannot be read (here a folder) is no
// configuration: start-up goes on silently, as without the file.
TEST(StartUp, ConfigurationThatCannotBeReadIsNoConfiguration)
{
    e2e::Daemon daemon;
    std::string folder;
    for (const char* part : {"/usr", "/local", "/etc", "/server.conf"}) {
        folder += part;
        ::mkdir(daemon.path(folder).c_str(), 0755);
    }
    ASSERT_TRUE(daemon.start_serving()) << daemon.err();
    daemon.signal(SIGTERM);
    EXPECT_EQ(0, daemon.wait_exit());
    EXPECT_EQ("Starting server [T230630-1920], port=" + std::to_string(daemon.port()) + "\n", daemon.out());
    EXPECT_EQ(std::string::npos, daemon.err().find("terminate")) << daemon.err();
    EXPECT_EQ(std::string::npos, daemon.err().find("traces")) << daemon.err();
}

// After a command has run, so that the profiling points have values.
TEST(StatusDump, WrittenOnEachSigusr2WithTheHandlerTableAndProfilingPoints)
{
    e2e::Daemon daemon;
    ASSERT_TRUE(daemon.start_serving());
    e2e::Controller controller;
    ASSERT_TRUE(controller.connect(daemon.port()));
    ASSERT_TRUE(controller.send_payload(e2e::bytes("80 01 05 18")));
    e2e::Bytes answer;
    ASSERT_TRUE(controller.receive_payload(answer));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ::unlink(daemon.path(kDump).c_str());
        daemon.signal(SIGUSR2);
        ASSERT_TRUE(daemon.wait_file(kDump));
        const std::string text = dump_text(daemon);
        const std::size_t version = text.find('\n') + 1;
        EXPECT_NE(std::string::npos, text.substr(0, version).find("Tavrel")) << text;
        EXPECT_EQ(version, text.find("version : T230630-1920\n")) << text;
        // The layout is the loop's unit test's; here the daemon's own handlers
        // and profiling points.
        for (const char* part : {"\n[Tpkt_protocol::message]: min=", "\n[Control::Service::Send [1]]: min=",
                                 "|     ChildWaitService::OnChildEvent     |            POLLIN            |",
                                 "|       AcceptorNet::OnSocketEvent       |            POLLIN            |"})
            EXPECT_NE(std::string::npos, text.find(part)) << part << "\n" << text;
    }
    daemon.signal(SIGHUP);
    EXPECT_TRUE(daemon.wait_err("update hardware resources\n"));
    daemon.signal(SIGTERM);
    EXPECT_EQ(0, daemon.wait_exit());
}

// The dump is rewritten in place: the file keeps its identity, a longer
// previous dump leaves nothing behind, a link is written through and stays a
// link, and nothing is written beside it.
TEST(StatusDump, RewrittenInPlaceThroughALink)
{
    const std::string old(20000, 'x');
    for (const bool link : {false, true}) {
        SCOPED_TRACE(link ? "link" : "file");
        e2e::Daemon daemon;
        ASSERT_TRUE(daemon.start_serving()) << daemon.err();
        const std::string target = daemon.path(link ? "/var/log/status-target" : kDump);
        {
            std::ofstream(target) << old;
        }
        if (link) {
            ASSERT_EQ(0, ::symlink(target.c_str(), daemon.path(kDump).c_str()));
        }
        struct stat before {
        };
        ASSERT_EQ(0, ::stat(target.c_str(), &before));
        daemon.signal(SIGUSR2);
        std::string text;
        for (int i = 0; i < e2e::deadline_ms() / 10 && text.find("+\n\n") == std::string::npos; ++i) {
            ::poll(nullptr, 0, 10);
            text = e2e::read_file(target);
        }
        EXPECT_EQ(0u, text.find("Tavrel")) << text;
        EXPECT_EQ(text.size(), text.find("+\n\n") + 3) << "nothing of the old text after the table";
        struct stat after {
        };
        ASSERT_EQ(0, ::stat(target.c_str(), &after));
        EXPECT_EQ(before.st_ino, after.st_ino);
        struct stat entry {
        };
        ASSERT_EQ(0, ::lstat(daemon.path(kDump).c_str(), &entry));
        EXPECT_EQ(link, S_ISLNK(entry.st_mode));
        std::vector<std::string> names;
        if (DIR* dir = ::opendir(daemon.path("/var/log").c_str())) {
            while (const dirent* e = ::readdir(dir))
                if (e->d_name[0] != '.')
                    names.push_back(e->d_name);
            ::closedir(dir);
        }
        std::sort(names.begin(), names.end());
        const std::vector<std::string> expected =
            link ? std::vector<std::string>{"server-status", "status-target"}
                 : std::vector<std::string>{"server-status"};
        EXPECT_EQ(expected, names);
        daemon.signal(SIGTERM);
        EXPECT_EQ(0, daemon.wait_exit());
    }
}

// Without the root's directories the daemon still serves; the dump fails
// until its directory exists.
TEST(StatusDump, UnwritableFileIsReportedAndTriedAgain)
{
    e2e::Daemon daemon;
    e2e::Daemon::Options options;
    options.make_dirs = false;
    ASSERT_TRUE(daemon.start_serving(options)) << daemon.err();
    daemon.signal(SIGUSR2);
    ASSERT_TRUE(daemon.wait_err("dump status error\n"));
    ASSERT_EQ(0, ::mkdir(daemon.path("/var").c_str(), 0755));
    ASSERT_EQ(0, ::mkdir(daemon.path("/var/log").c_str(), 0755));
    daemon.signal(SIGUSR2);
    EXPECT_TRUE(daemon.wait_file(kDump));
    daemon.signal(SIGTERM);
    EXPECT_EQ(0, daemon.wait_exit());
}

// The dump's open never waits and a dump that could not be written whole is
// reported; the loop serves the controller either way. A FIFO with a reader is
// written as a file is.
TEST(StatusDump, NeverWaitsAndReportsWhatCouldNotBeWritten)
{
    enum Target { LonelyFifo, ReadFifo, FullDevice };
    const std::pair<Target, const char*> cases[] = {
        {LonelyFifo, "dump status error\n"}, {ReadFifo, ""}, {FullDevice, "dump status error\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        e2e::Daemon daemon;
        ASSERT_TRUE(daemon.start_serving()) << daemon.err();
        e2e::Controller controller;
        ASSERT_TRUE(controller.connect(daemon.port()));
        const std::string path = daemon.path(kDump);
        int reader = -1;
        if (c.first == FullDevice) {
            ASSERT_EQ(0, ::symlink("/dev/full", path.c_str()));
        } else {
            ASSERT_EQ(0, ::mkfifo(path.c_str(), 0644));
        }
        if (c.first == ReadFifo) {
            reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            ASSERT_GE(reader, 0);
        }
        daemon.signal(SIGUSR2);
        std::string text;
        for (int i = 0; reader >= 0 && i < e2e::deadline_ms() / 10 && text.find("+\n\n") == std::string::npos;
             ++i) {
            char buf[4096];
            const ssize_t n = ::read(reader, buf, sizeof buf);
            if (n > 0)
                text.append(buf, std::size_t(n));
            else
                ::poll(nullptr, 0, 10);
        }
        if (reader >= 0) {
            EXPECT_EQ(0u, text.find("Tavrel")) << text;
            ::close(reader);
        }
        // Served meanwhile; what the dump reported is on the error stream by
        // the time the answer comes, the signal being older than the command.
        ASSERT_TRUE(controller.send_payload(e2e::bytes("80 01 05 18")));
        e2e::Bytes answer;
        EXPECT_TRUE(controller.receive_payload(answer));
        if (*c.second) {
            EXPECT_TRUE(daemon.wait_err(c.second)) << daemon.err();
        } else {
            ASSERT_TRUE(controller.send_payload(e2e::bytes("80 01 05 18")));
            ASSERT_TRUE(controller.receive_payload(answer));
            daemon.collect_output();
            EXPECT_EQ(std::string::npos, daemon.err().find("dump status error")) << daemon.err();
        }
        daemon.signal(SIGTERM);
        EXPECT_EQ(0, daemon.wait_exit());
    }
}

// In the foreground a failed write loses only what it could not write. The
// output file is held at its size (writes fail with EFBIG, as on a full file
// system): a line of each stream is lost; once the file may grow again, the
// next line of each is written.
TEST(Foreground, AFailedWriteLosesOnlyWhatItCouldNotWrite)
{
    e2e::Daemon daemon;
    e2e::Daemon::Options options;
    options.output = "/console";
    // Inherited: a write past the limit fails instead of ending the daemon.
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &old);
    daemon.start(options);
    ::sigaction(SIGXFSZ, &old, nullptr);
    const std::string console = daemon.path("/console");
    for (int i = 0;
         i < e2e::deadline_ms() / 10 && e2e::read_file(console).find("Starting server ") == std::string::npos;
         ++i)
        ::poll(nullptr, 0, 10);
    struct stat file {
    };
    ASSERT_EQ(0, ::stat(console.c_str(), &file));
    ASSERT_NE(0, file.st_size);
    rlimit unlimited{};
    ASSERT_EQ(0, ::prlimit(daemon.pid(), RLIMIT_FSIZE, nullptr, &unlimited));
    const rlimit held{rlim_t(file.st_size), unlimited.rlim_max};
    ASSERT_EQ(0, ::prlimit(daemon.pid(), RLIMIT_FSIZE, &held, nullptr));
    // The loop goes on writing its start while the limit is set: the file
    // is held at whatever size it had reached by then, once a write that had
    // passed the limit's check before it was set has ended. The daemon seen
    // asleep (in its poll) after the limit has no such write left.
    support::ProcStat seen;
    for (int i = 0;
         i < e2e::deadline_ms() / 10 && !(support::proc_stat(daemon.pid(), seen) && seen.state == 'S'); ++i)
        ::poll(nullptr, 0, 10);
    ASSERT_EQ('S', seen.state) << "the daemon never seen asleep";
    ASSERT_EQ(0, ::stat(console.c_str(), &file));
    const std::size_t mark = std::size_t(file.st_size);
    ASSERT_EQ(0, ::mkdir(daemon.path(kDump).c_str(), 0755)) << "a dump that fails";

    // A controller's connection writes to std::cout, the failed dump to
    // std::cerr, the resource update to std::clog; its report to the
    // controller comes after all three.
    const auto provoke = [&daemon](e2e::Controller& controller) {
        const auto next = [&controller](e2e::Bytes& payload) {
            while (controller.receive_payload(payload))
                if (!e2etest::status_report(payload))
                    return true;
            return false;
        };
        // A newcomer is turned away until the daemon has seen the last
        // controller go, however long that takes on a loaded machine.
        e2e::Bytes payload;
        bool seated = false;
        for (int waited = 0; waited < e2e::deadline_ms() && !seated; waited += 100, ::poll(nullptr, 0, 100))
            seated = controller.connect(daemon.port()) &&
                     controller.send_payload(e2e::bytes("80 01 05 18")) && next(payload);
        return seated && (daemon.signal(SIGUSR2), daemon.signal(SIGHUP), next(payload));
    };
    e2e::Controller lost;
    ASSERT_TRUE(provoke(lost));
    EXPECT_EQ(mark, e2e::read_file(console).size());

    ASSERT_EQ(0, ::prlimit(daemon.pid(), RLIMIT_FSIZE, &unlimited, nullptr));
    lost.close();
    e2e::Controller written;
    ASSERT_TRUE(provoke(written));
    const std::string lines[] = {"new connection from 127.0.0.1:" + std::to_string(written.local_port()) +
                                     "\n",
                                 "dump status error\n", "update hardware resources\n"};
    std::string text;
    for (int i = 0; i < e2e::deadline_ms() / 10; ++i, ::poll(nullptr, 0, 10)) {
        text = e2e::read_file(console).substr(mark);
        if (std::all_of(std::begin(lines), std::end(lines),
                        [&text](const std::string& line) { return text.find(line) != std::string::npos; }))
            break;
    }
    for (const std::string& line : lines)
        EXPECT_NE(std::string::npos, text.find(line)) << line << text;
    daemon.signal(SIGTERM);
    EXPECT_EQ(0, daemon.wait_exit());
}

} // namespace
