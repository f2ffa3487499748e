// Directory listing on a 64-bit host file system from the 32-bit target needs
// 64-bit offsets and inode numbers.
#define _FILE_OFFSET_BITS 64

#include "runtime/logfile.hpp"

#include "runtime/clock.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// 2026-12-24 10:59:59 UTC.
const long kBefore = 1798109999;

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC0", 1);
        tzset();
        char dir[] = "/tmp/logfile_test.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(dir));
        mDir = dir;
        Mux::setClock(&mClock);
    }

    void TearDown() override
    {
        Mux::setClock(nullptr);
        for (const std::string& name : Files())
            unlink((mDir + "/" + name).c_str());
        rmdir(mDir.c_str());
    }

    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        DIR* dir = opendir(mDir.c_str());
        if (!dir)
            return names;
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.')
                names.push_back(entry->d_name);
        closedir(dir);
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string Read(const std::string& name) const
    {
        std::ifstream in((mDir + "/" + name).c_str(), std::ios::binary);
        std::ostringstream os;
        os << in.rdbuf();
        return os.str();
    }

    void At(long sec, long usec) { mClock.set_wall(sec, usec); }

    std::string mDir;
    Mux::TestClock mClock;
};

// Each step sets the wall clock, writes, flushes; then each file's content.
struct Step {
    long sec;
    long usec;
    const char* text;
};

struct FileCase {
    const char* what;
    std::vector<Step> steps;
    std::vector<std::pair<std::string, std::string>> files;
};

TEST_F(LogFileTest, LinesPrefixesAndHours)
{
    const FileCase cases[] = {
        {"one line, six-digit microseconds", {{kBefore, 5, "hello\n"}}, {{"2026_12_24-10.log", "59:59:000005: hello\n"}}},
        {"hour change opens the next file",
         {{kBefore, 900000, "first\n"}, {kBefore + 1, 100000, "second\n"}},
         {{"2026_12_24-10.log", "59:59:900000: first\n"}, {"2026_12_24-11.log", "00:00:100000: second\n"}}},
        {"one prefix per line of a flush",
         {{kBefore - 60, 123456, "a\nb\n"}},
         {{"2026_12_24-10.log", "58:59:123456: a\n58:59:123456: b\n"}}},
        {"unfinished line is continued without a prefix",
         {{kBefore, 1, "abc"}, {kBefore, 2, "def\nghi\n"}},
         {{"2026_12_24-10.log", "59:59:000001: abcdef\n59:59:000002: ghi\n"}}},
        {"line longer than the put area gets one prefix",
         {{kBefore, 7, "0123456789abcdefghijklmnopqrstuvwxyz\n"}},
         {{"2026_12_24-10.log", "59:59:000007: 0123456789abcdefghijklmnopqrstuvwxyz\n"}}},
        {"empty line", {{kBefore, 0, "\n"}}, {{"2026_12_24-10.log", "59:59:000000: \n"}}},
    };
    for (const FileCase& c : cases) {
        {
            At(c.steps.front().sec, c.steps.front().usec);
            LogFileStreamBuf buf(mDir);
            std::ostream os(&buf);
            for (const Step& s : c.steps) {
                At(s.sec, s.usec);
                os << s.text << std::flush;
            }
        }
        std::vector<std::string> names;
        for (const auto& f : c.files) {
            names.push_back(f.first);
            EXPECT_EQ(f.second, Read(f.first)) << c.what;
        }
        EXPECT_EQ(names, Files()) << c.what;
        for (const std::string& name : Files())
            unlink((mDir + "/" + name).c_str());
    }
}

TEST_F(LogFileTest, RestartWithinTheHourAppends)
{
    At(kBefore, 1);
    {
        LogFileStreamBuf buf(mDir);
        std::ostream os(&buf);
        os << "before restart" << std::endl;
    }
    At(kBefore, 2);
    {
        LogFileStreamBuf buf(mDir);
        std::ostream os(&buf);
        os << "after restart" << std::endl;
    }
    EXPECT_EQ("59:59:000001: before restart\n59:59:000002: after restart\n", Read("2026_12_24-10.log"));
}

TEST_F(LogFileTest, PendingTextIsWrittenAtDestruction)
{
    At(kBefore, 3);
    {
        LogFileStreamBuf buf(mDir);
        std::ostream os(&buf);
        os << "last words";
    }
    EXPECT_EQ("59:59:000003: last words", Read("2026_12_24-10.log"));
}

TEST_F(LogFileTest, MissingDirectoryFailsSilently)
{
    At(kBefore, 0);
    LogFileStreamBuf buf(mDir + "/missing");
    std::ostream os(&buf);
    os << "nowhere" << std::endl;
    EXPECT_TRUE(Files().empty());
}

} // namespace
