#include "runtime/fd.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

bool is_cloexec(int fd) { return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }
bool is_open(int fd) { return ::fcntl(fd, F_GETFD) >= 0; }

struct Pipe {
    int r = -1, w = -1;
    Pipe() {
        int p[2];
        if (::pipe(p) == 0) {
            r = p[0];
            w = p[1];
        }
    }
};

TEST(Fd, TakesOwnershipAndMarksCloseOnExec) {
    Pipe p;
    ASSERT_FALSE(is_cloexec(p.r));
    {
        Fd fd(p.r);
        EXPECT_TRUE(fd.is_valid());
        EXPECT_TRUE(fd);
        EXPECT_EQ(fd.lowlevel_fd(), p.r);
        EXPECT_TRUE(is_cloexec(p.r));
    }
    EXPECT_FALSE(is_open(p.r));
    ::close(p.w);
}

TEST(Fd, CopySharesTheOpenFileUnderAnotherNumber) {
    Pipe p;
    Fd reader(p.r);
    Fd copy(reader);
    ASSERT_TRUE(copy.is_valid());
    EXPECT_NE(copy.lowlevel_fd(), reader.lowlevel_fd());
    EXPECT_TRUE(is_cloexec(copy.lowlevel_fd()));
    EXPECT_EQ(reader.close(), 0);
    ASSERT_EQ(::write(p.w, "x", 1), 1);
    char c = 0;
    EXPECT_EQ(::read(copy.lowlevel_fd(), &c, 1), 1);
    EXPECT_EQ(c, 'x');
    ::close(p.w);
}

TEST(Fd, AssignmentClosesOwnAndDuplicatesOther) {
    Pipe a, b;
    Fd x(a.r);
    Fd y(b.r);
    int old = x.lowlevel_fd();
    x = y;
    EXPECT_FALSE(is_open(old) && old != x.lowlevel_fd());
    EXPECT_NE(x.lowlevel_fd(), y.lowlevel_fd());
    EXPECT_TRUE(is_cloexec(x.lowlevel_fd()));
    int before = x.lowlevel_fd();
    const Fd& self = x;
    x = self;
    EXPECT_EQ(x.lowlevel_fd(), before);
    EXPECT_TRUE(is_open(before));
    ::close(a.w);
    ::close(b.w);
}

TEST(Fd, InvalidHandles) {
    struct Case {
        const char* what;
        int raw;
    };
    const Case cases[] = {{"default", -1}, {"negative", -7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fd fd(c.raw);
        EXPECT_FALSE(fd.is_valid());
        EXPECT_FALSE(fd);
        EXPECT_EQ(fd.dup(), -1);
        EXPECT_FALSE(fd.NonBlock());
        Fd copy(fd);
        EXPECT_FALSE(copy.is_valid());
        errno = 0;
        EXPECT_EQ(fd.close(), -1);
        EXPECT_EQ(errno, EBADF);
    }
}

TEST(Fd, SecondCloseReportsBadDescriptor) {
    Pipe p;
    Fd fd(p.r);
    EXPECT_EQ(fd.close(), 0);
    EXPECT_FALSE(fd.is_valid());
    errno = 0;
    EXPECT_EQ(fd.close(), -1);
    EXPECT_EQ(errno, EBADF);
    ::close(p.w);
}

TEST(Fd, OpenReplacesHeldDescriptor) {
    Fd fd;
    ASSERT_TRUE(fd.open("/dev/null", O_RDONLY));
    int first = fd.lowlevel_fd();
    EXPECT_TRUE(is_cloexec(first));
    ASSERT_TRUE(fd.open("/dev/null", O_WRONLY));
    EXPECT_TRUE(is_cloexec(fd.lowlevel_fd()));
    if (fd.lowlevel_fd() != first) {
        EXPECT_FALSE(is_open(first));
    }
    EXPECT_FALSE(fd.open("/nonexistent/quelvad", O_RDONLY));
    EXPECT_FALSE(fd.is_valid());
}

TEST(Errno, WritesTheSystemText) {
    struct Case {
        int value;
    };
    const Case cases[] = {{ENOENT}, {EBADF}, {EAGAIN}, {0}};
    for (const Case& c : cases) {
        errno = c.value;
        Errno e;
        EXPECT_EQ(e.value(), c.value);
        std::ostringstream os;
        os << "open failed: " << e;
        EXPECT_EQ(os.str(), std::string("open failed: ") + std::strerror(c.value));
    }
}

} // namespace
