#include "runtime/daemon.hpp"

#include "tests/runtime/test_util.hpp"

#include <regex>
#include <sys/wait.h>

namespace
{

// Runs body in a child that becomes a daemon (mode 0: syslog, 1: log file
// named by `name`), writing to each stream; returns once the daemon and its
// parent have both ended (the write end of a pipe closes with the last one).
void RunDaemon(int mode, const std::string& name)
{
    int done[2];
    ASSERT_EQ(0, pipe(done));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(done[0]);
        Daemon::Init(Daemon::Params{mode, false, name});
        char cwd[256];
        std::cout << "cwd " << (getcwd(cwd, sizeof(cwd)) ? cwd : "?") << std::endl;
        std::cerr << "failure" << std::endl;
        std::clog << "progress";
        if (mode == 0)
            std::clog << std::endl;
        std::exit(mode == 0 && write(1, "raw", 3) != 3);
    }
    close(done[1]);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    testutil::read_now(done[0]); // blocks until the last writer is gone
    close(done[0]);
}

TEST(Daemon, SyslogModeSendsTheThreeStreams)
{
    testutil::TempDir root;
    root.mkdirs("dev");
    const int sock = testutil::bind_unix(root / "dev/log", SOCK_DGRAM);
    RunDaemon(0, "qvd-" + std::string(100, 'v')); // the identity is cut to 79 characters
    const std::vector<std::string> got = testutil::datagrams(sock);
    close(sock);
    const std::string stamp = "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123][0-9] "
                              "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] qvd-" +
                              std::string(75, 'v') + ": ";
    const std::string expected[] = {"<29>" + stamp + "cwd /", "<27>" + stamp + "failure",
                                    "<31>" + stamp + "progress"};
    ASSERT_EQ(4u, got.size());
    for (int i = 0; i < 3; ++i) {
        ASSERT_FALSE(got[i].empty());
        EXPECT_EQ('\0', got[i].back()) << i;
        EXPECT_TRUE(std::regex_match(got[i].substr(0, got[i].size() - 1), std::regex(expected[i]))) << got[i];
    }
    EXPECT_EQ("raw", got[3]);
}

TEST(Daemon, LogFileModeWritesTheHourFile)
{
    testutil::TempDir temp(false);
    RunDaemon(1, temp.path());
    const std::vector<std::string> names = testutil::list_dir(temp.path());
    ASSERT_EQ(1u, names.size());
    EXPECT_TRUE(std::regex_match(names[0], std::regex("[0-9]{4}_[0-9]{2}_[0-9]{2}-[0-9]{2}\\.log")))
        << names[0];
    const std::string text = testutil::read_file(temp / names[0]);
    const std::string p = "[0-5][0-9]:[0-6][0-9]:[0-9]{5,6}: ";
    EXPECT_TRUE(std::regex_match(text, std::regex(p + "cwd /\n" + p + "failure\n" + p + "progress"))) << text;
}

} // namespace
