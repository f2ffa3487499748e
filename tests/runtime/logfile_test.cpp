#include "runtime/logfile.hpp"

#include "runtime/clock.hpp"
#include "tests/runtime/test_util.hpp"

#include <ctime>

namespace
{

// 2026-12-24 10:59:59 UTC.
const long kBefore = 1798109999;

class LogFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC0", 1);
        tzset();
        Mux::setClock(&mClock);
    }

    void TearDown() override { Mux::setClock(nullptr); }

    std::vector<std::string> Files() const { return testutil::list_dir(mDir); }

    std::string Read(const std::string& name) const { return testutil::read_file(mTemp / name); }

    void At(long sec, long usec) { mClock.set_wall(sec, usec); }

    testutil::TempDir mTemp{false};
    const std::string mDir = mTemp.path();
    Mux::TestClock mClock;
};

TEST_F(LogFileTest, LinesPrefixesAndHours)
{
    // Each step sets the wall clock, writes and flushes; then every file, its
    // name on a line before its content.
    using Step = std::tuple<long, long, const char*>;
    const std::pair<std::vector<Step>, std::string> cases[] = {
        // One line; the microseconds padded to five digits.
        {{{kBefore, 5, "hello\n"}}, "2026_12_24-10.log\n59:59:00005: hello\n"},
        {{{kBefore, 99999, "x\n"}}, "2026_12_24-10.log\n59:59:99999: x\n"},
        // Six digits are written whole.
        {{{kBefore, 999999, "y\n"}}, "2026_12_24-10.log\n59:59:999999: y\n"},
        // The change of the hour opens the next file.
        {{{kBefore, 900000, "first\n"}, {kBefore + 1, 100000, "second\n"}},
         "2026_12_24-10.log\n59:59:900000: first\n2026_12_24-11.log\n00:00:100000: second\n"},
        // One prefix per line of a flush.
        {{{kBefore - 60, 123456, "a\nb\n"}}, "2026_12_24-10.log\n58:59:123456: a\n58:59:123456: b\n"},
        // An unfinished line is continued without a prefix.
        {{{kBefore, 1, "abc"}, {kBefore, 2, "def\nghi\n"}},
         "2026_12_24-10.log\n59:59:00001: abcdef\n59:59:00002: ghi\n"},
        // A line longer than the put area gets one prefix.
        {{{kBefore, 7, "0123456789abcdefghijklmnopqrstuvwxyz\n"}},
         "2026_12_24-10.log\n59:59:00007: 0123456789abcdefghijklmnopqrstuvwxyz\n"},
        {{{kBefore, 0, "\n"}}, "2026_12_24-10.log\n59:59:00000: \n"},
    };
    for (const auto& [steps, files] : cases) {
        {
            At(std::get<0>(steps.front()), std::get<1>(steps.front()));
            LogFileStreamBuf buf(mDir);
            std::ostream os(&buf);
            for (const auto& [sec, usec, text] : steps) {
                At(sec, usec);
                os << text << std::flush;
            }
        }
        std::string got;
        for (const std::string& name : Files()) {
            got += name + "\n" + Read(name);
            unlink((mDir + "/" + name).c_str());
        }
        EXPECT_EQ(files, got);
    }
}

// A restart within the hour empties that hour's file; text without a line
// feed is written when the stream buffer goes.
TEST_F(LogFileTest, RestartTruncatesAndPendingTextIsWritten)
{
    const std::pair<const char*, const char*> runs[] = {
        {"before restart\n", "59:59:00001: before restart\n"},
        {"after restart\n", "59:59:00002: after restart\n"},
        {"last words", "59:59:00003: last words"},
    };
    long usec = 0;
    for (const auto& [text, file] : runs) {
        At(kBefore, ++usec);
        {
            LogFileStreamBuf buf(mDir);
            std::ostream os(&buf);
            os << text;
        }
        EXPECT_EQ(file, Read("2026_12_24-10.log")) << text;
    }
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
