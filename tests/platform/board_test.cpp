#include "platform/board.hpp"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/runtime/test_util.hpp"

namespace
{

TEST(Board, RealBoardResolvesFixedPathsAndClosesOnExec)
{
    testutil::TempDir root;
    root.mkdirs("dev");
    root.write("dev/device", "");
    struct Case {
        const char* path;
        int flags;
        int error; // 0: the open succeeds
    };
    const Case cases[] = {
        {"/dev/device", O_WRONLY, 0},
        {"/dev/device", O_RDONLY | O_NONBLOCK, 0},
        {"/dev/missing", O_RDWR, ENOENT},
    };
    for (const Case& c : cases) {
        errno = 0;
        const int fd = platform::board().open(c.path, c.flags);
        EXPECT_EQ(c.error ? errno : 0, c.error) << c.path;
        if (fd >= 0) {
            EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
            EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, c.flags & O_NONBLOCK);
            ::close(fd);
        }
        EXPECT_EQ(fd >= 0, c.error == 0) << c.path;
    }
}

TEST(Board, AnInstalledBoardReceivesEveryCall)
{
    struct Fake : platform::Board {
        std::string path;
        unsigned long request = 0;
        int open(const char* p, int) override
        {
            path = p;
            return 99;
        }
        std::uintptr_t arg = 1;

    protected:
        int request_word(int, unsigned long r, std::uintptr_t a) override
        {
            request = r;
            arg = a;
            return 5;
        }
    } fake;
    platform::setBoard(&fake);
    EXPECT_EQ(platform::board().open("/dev/misc/gw-wd", O_WRONLY), 99);
    EXPECT_EQ(fake.path, "/dev/misc/gw-wd") << "the path is passed as the fixed path";
    // Request numbers go through untouched, including the top bit of the
    // 32-bit PowerPC encoding.
    EXPECT_EQ(platform::board().ioctl(3, 0x80044d01ul), 5);
    EXPECT_EQ(fake.request, 0x80044d01ul);
    EXPECT_EQ(fake.arg, 0u) << "no argument";
    // A value travels as the argument word itself, a record as its address.
    platform::board().ioctl(3, 0x80044300ul, -2);
    EXPECT_EQ(fake.arg, std::uintptr_t(-2));
    std::int32_t word = 7;
    platform::board().ioctl(3, 0x80044301ul, &word);
    EXPECT_EQ(fake.arg, reinterpret_cast<std::uintptr_t>(&word));
    platform::setBoard(nullptr);
    EXPECT_NE(&platform::board(), &fake);
}

} // namespace
