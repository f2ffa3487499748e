
#include "runtime/daemon.hpp"

#include "tests/runtime/test_util.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

// Runs body in a child that becomes a daemon; returns once the daemon and its
// parent have both ended (the write end of a pipe closes with the last one).
template <class Body> void RunDaemon(Body body)
{
    int done[2];
    ASSERT_EQ(0, pipe(done));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(done[0]);
        body();
        std::exit(0);
    }
    close(done[1]);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    char c;
    while (read(done[0], &c, 1) > 0) {
    }
    close(done[0]);
}

TEST(Daemon, SyslogModeSendsTheThreeStreams)
{
    testutil::TempDir root;
    const std::string& mRoot = root.path();
    root.mkdirs("dev");
    const int sock = testutil::bind_unix(mRoot + "/dev/log", SOCK_DGRAM);
    RunDaemon([] {
        Daemon::Params params;
        params.name = "qvd-" + std::string(100, 'v'); // cut to 79 characters
        Daemon::Init(params);
        char cwd[256];
        std::cout << "cwd " << (getcwd(cwd, sizeof(cwd)) ? cwd : "?") << std::endl;
        std::cerr << "failure" << std::endl;
        std::clog << "progress" << std::endl;
        ssize_t ignored = write(1, "raw", 3);
        (void)ignored;
    });

    const std::vector<std::string> got = testutil::datagrams(sock);
    close(sock);

    const std::string ident = "qvd-" + std::string(75, 'v');
    const std::string stamp =
        "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] ";
    const char* expected[] = {"<29>"
                              "STAMP"
                              "IDENT: cwd /",
                              "<27>"
                              "STAMP"
                              "IDENT: failure",
                              "<31>"
                              "STAMP"
                              "IDENT: progress"};
    ASSERT_EQ(4u, got.size());
    for (int i = 0; i < 3; ++i) {
        std::string pattern = expected[i];
        pattern.replace(pattern.find("STAMP"), 5, stamp);
        pattern.replace(pattern.find("IDENT"), 5, ident);
        ASSERT_FALSE(got[i].empty());
        EXPECT_EQ('\0', got[i].back()) << i;
        EXPECT_TRUE(std::regex_match(got[i].substr(0, got[i].size() - 1), std::regex(pattern))) << got[i];
    }
    EXPECT_EQ("raw", got[3]);
}

TEST(Daemon, LogFileModeWritesTheHourFile)
{
    testutil::TempDir temp(false);
    const std::string& dir = temp.path();
    const std::string& mRoot = dir;
    RunDaemon([dir] {
        Daemon::Params params;
        params.mode = 1;
        params.name = dir;
        Daemon::Init(params);
        std::cout << "notice" << std::endl;
        std::cerr << "failure\n";
        std::clog << "unfinished";
    });
    std::vector<std::string> names;
    DIR* d = opendir(mRoot.c_str());
    ASSERT_NE(nullptr, d);
    while (dirent* entry = readdir(d))
        if (entry->d_name[0] != '.')
            names.push_back(entry->d_name);
    closedir(d);
    ASSERT_EQ(1u, names.size());
    EXPECT_TRUE(std::regex_match(names[0], std::regex("[0-9]{4}_[0-9]{2}_[0-9]{2}-[0-9]{2}\\.log")))
        << names[0];
    const std::string text = testutil::read_file(mRoot + "/" + names[0]);
    const std::string p = "[0-5][0-9]:[0-6][0-9]:[0-9]{6}: ";
    EXPECT_TRUE(std::regex_match(text, std::regex(p + "notice\n" + p + "failure\n" + p + "unfinished")))
        << text;
}

} // namespace
