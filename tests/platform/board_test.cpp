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
        int flags, error; // error 0: the open succeeds
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

} // namespace
