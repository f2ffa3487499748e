// The daemon as an operator meets it: command line, start-up line, pid file,
// configuration, status dump, signals and daemon mode.
#include <csignal>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/e2e/harness.hpp"

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

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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
        {{"--help", "--version"}, 0, kUsage, ""},
        {{"--version", "--help"}, 0, kUsage, ""},
        {{"--disable-clock", "--version"}, 2, kVersionLine, ""},
        {{"-D", "-h"}, 0, kUsage, ""},
        {{"-p", "20001"}, 2, kUsage, "invalid option -- 'p'"},
        {{"-x"}, 2, kUsage, "invalid option -- 'x'"},
        {{"--bogus"}, 2, kUsage, "unrecognized option '--bogus'"},
        {{"--port"}, 2, kUsage, "requires an argument"},
        {{"--port", "abc"}, 2, kUsage, ""},
        {{"--port", "0"}, 2, kUsage, ""},
        {{"--port", "65536"}, 2, kUsage, ""},
        {{"--port=99999999999"}, 2, kUsage, ""},
        {{"--port", "-1"}, 2, kUsage, ""},
        {{"--port", "+80"}, 2, kUsage, ""},
        {{"--port", "12x"}, 2, kUsage, ""},
        {{"--port", " 80"}, 2, kUsage, ""},
        {{"--port="}, 2, kUsage, ""},
        {{"--port=1", "--port", "nope"}, 2, kUsage, ""},
    };
    for (const Case& c : cases) {
        std::string args;
        for (auto& a : c.args)
            args += a + " ";
        SCOPED_TRACE(args);
        e2e::Daemon daemon;
        e2e::Daemon::Options options;
        options.args = c.args;
        daemon.start(options);
        EXPECT_EQ(c.code, daemon.wait_exit());
        EXPECT_EQ(c.out, daemon.out());
        EXPECT_NE(std::string::npos, daemon.err().find(c.err)) << daemon.err();
        EXPECT_NE(0, ::access(daemon.path("/var/run/server.pid").c_str(), F_OK))
            << "no pid file before start-up";
    }
}

TEST(CommandLine, PortsFromOneTo65535AreServed)
{
    struct Case {
        const char* form; // %d: the port
    };
    const Case cases[] = {{"--port=%d"}, {"--port %d"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.form);
        e2e::Daemon daemon;
        const int port = e2e::free_port();
        char text[32];
        std::snprintf(text, sizeof text, c.form, port);
        std::istringstream words(text);
        e2e::Daemon::Options options;
        for (std::string w; words >> w;)
            options.args.push_back(w);
        daemon.start(options);
        const std::string line = "Starting server [T230630-1920], port=" + std::to_string(port) + "\n";
        ASSERT_TRUE(daemon.wait_out(line)) << daemon.out() << daemon.err();
        EXPECT_EQ(line, daemon.out());
        daemon.signal(SIGTERM);
        EXPECT_EQ(0, daemon.wait_exit());
    }
}

TEST(CommandLine, OptionsThatLetTheDaemonRun)
{
    struct Case {
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {{"--disable-clock"}},
        {{"positional", "words"}},
        {{"--disable-clock", "--", "--help"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front());
        e2e::Daemon daemon;
        e2e::Daemon::Options options;
        options.args = c.args;
        ASSERT_TRUE(daemon.start_serving(options)) << daemon.out() << daemon.err();
        daemon.signal(SIGTERM);
        EXPECT_EQ(0, daemon.wait_exit());
    }
}

TEST(StartUp, PidFileHoldsTheProcessNumberUntilTheStop)
{
    struct Case {
        int sig;
    };
    const Case cases[] = {{SIGTERM}, {SIGINT}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sig);
        e2e::Daemon daemon;
        ASSERT_TRUE(daemon.start_serving()) << daemon.err();
        EXPECT_EQ("Starting server [T230630-1920], port=" + std::to_string(daemon.port()) + "\n",
                  daemon.out());
        EXPECT_EQ(std::to_string(daemon.pid()), read_file(daemon.path("/var/run/server.pid")));
        daemon.signal(c.sig);
        EXPECT_EQ(0, daemon.wait_exit());
        EXPECT_NE(0, ::access(daemon.path("/var/run/server.pid").c_str(), F_OK));
        EXPECT_NE(std::string::npos, daemon.err().find("Mux: terminating...\n"));
    }
}

TEST(StartUp, StopRequestDuringStartUpIsNotLost)
{
    e2e::Daemon daemon;
    daemon.start(e2e::Daemon::Options());
    // The handlers are in place before this line is written; the loop has
    // not started yet, or has only just started.
    ASSERT_TRUE(daemon.wait_out("Starting server "));
    daemon.signal(SIGTERM);
    EXPECT_EQ(0, daemon.wait_exit());
    EXPECT_NE(0, ::access(daemon.path("/var/run/server.pid").c_str(), F_OK));
}

TEST(StartUp, ConfigurationIsReadBeforeTheOptions)
{
    e2e::Daemon daemon;
    e2e::Daemon::Options options;
    options.config = "# trace flags\n[traces]\nsignalling.hdlc = maybe\nmonitoring.internal = yes\n";
    options.args = {"--help"};
    daemon.start(options);
    EXPECT_EQ(0, daemon.wait_exit());
    EXPECT_EQ(kUsage, daemon.out());
    EXPECT_EQ("traces: optional key \"signalling.hdlc\" has invalid value=\"maybe\", line 3. Key will be "
              "ignored.\n",
              daemon.err());
}

TEST(StartUp, MissingRootDirectoriesAreNoFailure)
{
    e2e::Daemon daemon;
    e2e::Daemon::Options options;
    options.make_dirs = false;
    daemon.start(options);
    ASSERT_TRUE(daemon.wait_out("Starting server ")) << daemon.err();
    ASSERT_TRUE(daemon.wait_listening());
    daemon.signal(SIGTERM);
    EXPECT_EQ(0, daemon.wait_exit());
}

TEST(StatusDump, WrittenOnEachSigusr2WithTheHandlerTable)
{
    e2e::Daemon daemon;
    ASSERT_TRUE(daemon.start_serving());
    const std::string dump = "/var/log/server-status";
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ::unlink(daemon.path(dump).c_str());
        daemon.signal(SIGUSR2);
        ASSERT_TRUE(daemon.wait_file(dump));
        std::string text;
        // The file is complete once its table is closed.
        for (int i = 0; i < 1000 && text.find("+\n\n") == std::string::npos; ++i) {
            ::poll(nullptr, 0, 10);
            text = read_file(daemon.path(dump));
        }
        std::istringstream lines(text);
        std::string banner, version;
        std::getline(lines, banner);
        std::getline(lines, version);
        EXPECT_NE(std::string::npos, banner.find("Tavrel"));
        EXPECT_EQ("version : T230630-1920", version);
        for (const char* part :
             {"dpc transition measurement (min/max/cur/counter): ",
              "event transition measurement (min/max/cur/counter): ",
              "timer transition measurement (min/max/cur/counter): ",
              "|                  name                  |            events            |"
              "  count   | handler  | fd  |                          measure"
              "                           |\n",
              "|     ChildWaitService::OnChildEvent     |            POLLIN            |",
              "|       AcceptorNet::OnSocketEvent       |            POLLIN            |",
              "|                simboard                |            POLLIN            |"}) {
            EXPECT_NE(std::string::npos, text.find(part)) << part << "\n" << text;
        }
    }
    daemon.signal(SIGTERM);
    EXPECT_EQ(0, daemon.wait_exit());
}

TEST(StatusDump, ListsTheProfilingPointsBeforeTheTable)
{
    e2e::Daemon daemon;
    ASSERT_TRUE(daemon.start_serving());
    e2e::Controller controller;
    ASSERT_TRUE(controller.connect(daemon.port()));
    ASSERT_TRUE(controller.send_payload(e2e::hex("80 01 05 18")));
    e2e::Bytes answer;
    ASSERT_TRUE(controller.receive_payload(answer));
    daemon.signal(SIGUSR2);
    ASSERT_TRUE(daemon.wait_file("/var/log/server-status"));
    std::string text;
    for (int i = 0; i < 1000 && text.find("+\n\n") == std::string::npos; ++i) {
        ::poll(nullptr, 0, 10);
        text = read_file(daemon.path("/var/log/server-status"));
    }
    const std::size_t timer = text.find("timer transition measurement");
    const std::size_t point = text.find("\n[Tpkt_protocol::message]: min=");
    const std::size_t table = text.find("\n+---");
    EXPECT_LT(timer, point) << text;
    EXPECT_LT(point, table) << text;
    EXPECT_NE(std::string::npos, text.find("\n[Control::Service::Send [1]]: min=")) << text;
    daemon.signal(SIGTERM);
    EXPECT_EQ(0, daemon.wait_exit());
}

TEST(StatusDump, UnwritableFileIsReportedAndTriedAgain)
{
    e2e::Daemon daemon;
    e2e::Daemon::Options options;
    options.make_dirs = false;
    daemon.start(options);
    ASSERT_TRUE(daemon.wait_out("Starting server "));
    ASSERT_TRUE(daemon.wait_listening());
    daemon.signal(SIGUSR2);
    ASSERT_TRUE(daemon.wait_err("dump status error\n"));
    ASSERT_EQ(0, ::mkdir(daemon.path("/var").c_str(), 0755));
    ASSERT_EQ(0, ::mkdir(daemon.path("/var/log").c_str(), 0755));
    daemon.signal(SIGUSR2);
    EXPECT_TRUE(daemon.wait_file("/var/log/server-status"));
    daemon.signal(SIGTERM);
    EXPECT_EQ(0, daemon.wait_exit());
}

TEST(StartUp, SighupIsLoggedAndTheDaemonRunsOn)
{
    e2e::Daemon daemon;
    ASSERT_TRUE(daemon.start_serving());
    daemon.signal(SIGHUP);
    EXPECT_TRUE(daemon.wait_err("update hardware resources\n"));
    daemon.signal(SIGTERM);
    EXPECT_EQ(0, daemon.wait_exit());
}

TEST(Watchdog, FedThroughTheSimulatedBoardOrReportedMissing)
{
    struct Case {
        const char* init;
        const char* err;     // on the error stream, or ""
        const char* journal; // how the board's journal begins
    };
    const Case cases[] = {
        {"", "", "open /dev/misc/gw-wd\nwrite /dev/misc/gw-wd START\n"},
        {"device /dev/misc/gw-wd missing\n", "Mux: fail to open watchdog: No such file or directory\n",
         "open /dev/misc/gw-wd missing\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.init);
        e2e::Daemon daemon;
        e2e::Daemon::Options options;
        options.sim_init = c.init;
        ASSERT_TRUE(daemon.start_serving(options));
        std::string journal = daemon.board("journal");
        EXPECT_EQ(0u, journal.find(c.journal)) << journal;
        EXPECT_TRUE(daemon.wait_err(c.err)) << daemon.err();
        daemon.signal(SIGTERM);
        EXPECT_EQ(0, daemon.wait_exit());
    }
}

TEST(DaemonMode, StartUpLineGoesToSyslogAfterDetaching)
{
    e2e::Daemon daemon;
    // The syslog socket under the private root, where the daemon's streams go.
    const std::string log = daemon.path("/dev/log");
    ::mkdir(daemon.path("/dev").c_str(), 0755);
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", log.c_str());
    ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));

    e2e::Daemon::Options options;
    options.args = {"-D"};
    daemon.start(options);
    EXPECT_EQ(0, daemon.wait_exit()) << "the parent leaves once the daemon is detached";
    EXPECT_EQ("", daemon.out()) << "nothing after detaching reaches the terminal";

    std::string records;
    const std::string expected =
        "qvd-T230630-1920: Starting server [T230630-1920], port=" + std::to_string(daemon.port());
    for (int i = 0; i < e2e::deadline_ms() / 100 && records.find(expected) == std::string::npos; ++i) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char buf[16384];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0)
            records.append(buf, std::size_t(n));
    }
    EXPECT_NE(std::string::npos, records.find(expected)) << records;
    EXPECT_EQ(0u, records.find("<29>")) << "a notice of the daemon facility";

    int pid = 0;
    for (int i = 0; i < e2e::deadline_ms() / 10 && pid <= 0; ++i) {
        pid = std::atoi(read_file(daemon.path("/var/run/server.pid")).c_str());
        if (pid <= 0)
            ::poll(nullptr, 0, 10);
    }
    ASSERT_GT(pid, 0);
    EXPECT_NE(daemon.pid(), pid) << "the pid file names the detached process";
    ::kill(pid, SIGTERM);
    const bool removed = daemon.wait_file("/var/run/server.pid", false);
    EXPECT_TRUE(removed);
    if (!removed)
        ::kill(pid, SIGKILL);
    ::close(fd);
}

} // namespace
