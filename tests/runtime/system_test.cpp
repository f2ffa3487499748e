#include "runtime/system.hpp"

#include "tests/runtime/test_util.hpp"

namespace
{

using TempRoot = testutil::TempDir;

// ---- process search -------------------------------------------------------

TEST(FindProcByName, FakeProcTable)
{
    TempRoot root;
    EXPECT_EQ(find_proc_by_name("controller", 0), -1) << "no /proc at all";
    for (const std::string stat :
         {"1 (init) S 0 1 1", "42 (controller) S 1 42 42", "43 (controller2) S 1 43 43", "44 (odd) name) R 1",
          "45 (with space) S 1", "46 no parentheses", "47 )backwards( S"}) {
        const std::string dir = "proc/" + stat.substr(0, stat.find(' '));
        root.mkdirs(dir);
        root.write(dir + "/stat", stat);
    }
    root.mkdirs("proc/self");
    root.write("proc/self/stat", "9 (self) S");
    root.mkdirs("proc/50"); // a process without a stat file

    // A name, a hint, and the process found.
    const std::tuple<const char*, int, int> cases[] = {
        {"controller", 0, 42},  {"controller", 43, 42}, {"controller", 42, 42}, {"controller", 9999, 42},
        {"controller2", 0, 43}, {"control", 0, -1},     {"init", 0, 1},         {"odd) name", 0, 44},
        {"odd", 0, -1},         {"with space", 0, 45},  {"self", 0, -1},        {"", 0, -1},
        {"parentheses", 0, -1}, {"backwards", 0, -1},
    };
    for (const auto& [name, hint, expected] : cases)
        EXPECT_EQ(find_proc_by_name(name, hint), expected) << name << " from " << hint;
}

// ---- pid file -----------------------------------------------------------------

// Its content and its removal at the end are the end-to-end start-up test's,
// running without the directory the status dump test's.
TEST(LinuxRun, PidFileIsReadableByAll)
{
    TempRoot root;
    root.mkdirs("var/run");
    Linux::Run run("server");
    struct stat info;
    ASSERT_EQ(stat((root / "var/run/server.pid").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

// ---- signals --------------------------------------------------------------------

int calls = 0;
bool info_was_null = false;
void info_handler(int sig, siginfo_t* info, void* context)
{
    calls += sig == SIGUSR1;
    info_was_null = info == nullptr && context == nullptr;
}
const auto plain_handler = [](int sig) { calls += sig == SIGUSR2; };
const auto current = [](int sig) {
    struct sigaction action;
    sigaction(sig, nullptr, &action);
    return action;
};

// Handlers are installed without SA_SIGINFO: they are called with null
// pointers; the block set is kept while the handler runs.
TEST(Signal, InstallationFlagsAndBlockSet)
{
    calls = 0;
    ASSERT_EQ(IPC::Signal::handle(SIGUSR1, info_handler, SA_RESTART | SA_SIGINFO), 0);
    EXPECT_EQ(current(SIGUSR1).sa_flags & (SA_SIGINFO | SA_RESTART), SA_RESTART);
    raise(SIGUSR1);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(info_was_null);
    EXPECT_EQ(IPC::Signal::ignore(SIGUSR1), 0);
    raise(SIGUSR1);
    EXPECT_EQ(IPC::Signal::system(SIGUSR1), 0);
    EXPECT_EQ(current(SIGUSR1).sa_handler, SIG_DFL);
    EXPECT_EQ(calls, 1);
    EXPECT_NE(IPC::Signal::handle(NSIG, info_handler, 0), 0);

    ASSERT_EQ(IPC::Signal::handle(SIGUSR2, plain_handler, 0, IPC::Signal::Set(SIGHUP, SIGALRM, SIGPIPE)), 0);
    struct sigaction action = current(SIGUSR2);
    for (int sig : {SIGHUP, SIGALRM, SIGPIPE, SIGINT})
        EXPECT_EQ(sigismember(&action.sa_mask, sig), sig != SIGINT) << sig;
    raise(SIGUSR2);
    EXPECT_EQ(calls, 2);
    ASSERT_EQ(IPC::Signal::handle(SIGUSR2, plain_handler, 0), 0);
    action = current(SIGUSR2);
    EXPECT_FALSE(sigismember(&action.sa_mask, SIGHUP));
    IPC::Signal::system(SIGUSR2);
}

} // namespace
