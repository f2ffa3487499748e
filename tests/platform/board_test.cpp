#include "platform/board.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/paths.hpp"

namespace {

class BoardTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/quelvad-board-XXXXXX";
        mRoot = ::mkdtemp(tmpl);
        ::mkdir((mRoot + "/dev").c_str(), 0755);
        int fd = ::open((mRoot + "/dev/device").c_str(), O_CREAT | O_WRONLY, 0644);
        ::close(fd);
        const char* old = std::getenv("QUELVAD_ROOT");
        mHadOld = old != nullptr;
        if (old) mOld = old;
        ::setenv("QUELVAD_ROOT", mRoot.c_str(), 1);
        Paths::reload();
    }
    void TearDown() override {
        if (mHadOld)
            ::setenv("QUELVAD_ROOT", mOld.c_str(), 1);
        else
            ::unsetenv("QUELVAD_ROOT");
        Paths::reload();
        ::unlink((mRoot + "/dev/device").c_str());
        ::rmdir((mRoot + "/dev").c_str());
        ::rmdir(mRoot.c_str());
        platform::setBoard(nullptr);
    }
    std::string mRoot, mOld;
    bool mHadOld = false;
};

TEST_F(BoardTest, RealBoardResolvesFixedPathsAndClosesOnExec) {
    struct Case {
        const char* path;
        int flags;
        bool opens;
        int error;
    };
    const Case cases[] = {
        {"/dev/device", O_WRONLY, true, 0},
        {"/dev/device", O_RDONLY | O_NONBLOCK, true, 0},
        {"/dev/missing", O_RDWR, false, ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        errno = 0;
        int fd = platform::board().open(c.path, c.flags);
        EXPECT_EQ(fd >= 0, c.opens);
        if (fd >= 0) {
            EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
            EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, c.flags & O_NONBLOCK);
            ::close(fd);
        } else {
            EXPECT_EQ(errno, c.error);
        }
    }
}

TEST_F(BoardTest, AnInstalledBoardReceivesEveryCall) {
    struct Fake : platform::Board {
        std::string path;
        unsigned long request = 0;
        int open(const char* p, int) override {
            path = p;
            return 99;
        }
        int ioctl(int, unsigned long r, void*) override {
            request = r;
            return 5;
        }
    } fake;
    platform::setBoard(&fake);
    EXPECT_EQ(platform::board().open("/dev/misc/gw-wd", O_WRONLY), 99);
    EXPECT_EQ(fake.path, "/dev/misc/gw-wd") << "the path is passed as the fixed path";
    // Request numbers go through untouched, including the top bit of the
    // 32-bit PowerPC encoding.
    EXPECT_EQ(platform::board().ioctl(3, 0x80044d01ul, nullptr), 5);
    EXPECT_EQ(fake.request, 0x80044d01ul);
    platform::setBoard(nullptr);
    EXPECT_NE(&platform::board(), &fake);
}

} // namespace
