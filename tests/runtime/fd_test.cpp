#include "runtime/fd.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <utility>

#include <gtest/gtest.h>

#include "tests/runtime/test_util.hpp"

namespace
{

const auto is_cloexec = [](int fd) { return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; };
const auto is_open = [](int fd) { return ::fcntl(fd, F_GETFD) >= 0; };

TEST(Fd, OwnsItsDescriptorAndCopiesByDuplicating)
{
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    ASSERT_FALSE(is_cloexec(p[0]));
    {
        Fd reader(p[0]);
        EXPECT_TRUE(is_cloexec(p[0])) << "taken over with close-on-exec";
        Fd copy(reader), assigned;
        assigned = copy;
        EXPECT_NE(copy.lowlevel_fd(), p[0]);
        EXPECT_NE(assigned.lowlevel_fd(), copy.lowlevel_fd());
        EXPECT_TRUE(is_cloexec(copy.lowlevel_fd()) && is_cloexec(assigned.lowlevel_fd()));
        const int before = assigned.lowlevel_fd();
        assigned = static_cast<const Fd&>(assigned);
        EXPECT_EQ(assigned.lowlevel_fd(), before) << "self-assignment keeps the descriptor";
        // The copy reads from the same open pipe after the original is closed.
        EXPECT_EQ(reader.close(), 0);
        EXPECT_EQ(reader.close(), -1);
        ASSERT_EQ(::write(p[1], "x", 1), 1);
        char c = 0;
        EXPECT_EQ(::read(assigned.lowlevel_fd(), &c, 1), 1);
        EXPECT_EQ(c, 'x');
        const int last = copy.lowlevel_fd();
        copy = Fd();
        EXPECT_FALSE(is_open(last)) << "assignment closes the held descriptor";
    }
    EXPECT_FALSE(is_open(p[0]));
    ::close(p[1]);
}

// A handle assigned from a temporary takes its descriptor over: the number
// stays and nothing is duplicated, so that it works with one descriptor left.
TEST(Fd, ATemporaryIsTakenOverWithoutADuplicate)
{
    Fd held;
    {
        const testutil::Shortage one(1);
        held = Fd(::open("/dev/null", O_RDONLY));
    }
    EXPECT_TRUE(held.is_valid());
    const int raw = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(raw, 0);
    const int before = held.lowlevel_fd();
    held = Fd(raw);
    EXPECT_EQ(held.lowlevel_fd(), raw);
    EXPECT_FALSE(is_open(before)) << "assignment closes the held descriptor";
    const Fd taken(std::move(held));
    EXPECT_EQ(taken.lowlevel_fd(), raw);
}

TEST(Fd, InvalidHandlesAndFailedOpens)
{
    for (int raw : {-1, -7}) {
        Fd fd(raw), copy(fd);
        EXPECT_FALSE(fd || copy.is_valid()) << raw;
        EXPECT_EQ(fd.dup(), -1) << raw;
        EXPECT_FALSE(fd.NonBlock()) << raw;
        errno = 0;
        EXPECT_EQ(fd.close(), -1) << raw;
        EXPECT_EQ(errno, EBADF) << raw;
    }
    Fd fd;
    ASSERT_TRUE(fd.open("/dev/null", O_RDONLY));
    EXPECT_TRUE(is_cloexec(fd.lowlevel_fd()));
    const int held = fd.lowlevel_fd();
    EXPECT_FALSE(fd.open("/nonexistent/quelvad", O_RDONLY));
    EXPECT_FALSE(fd.is_valid());
    EXPECT_FALSE(is_open(held)) << "open closes what the handle held";
}

// True exactly when the flag could be read and written; the flag then has the
// asked state, whatever it had before.
TEST(SetCloexec, SetsOrClearsAndReportsSuccess)
{
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    const struct {
        int fd;
        bool on;
        bool result;
    } cases[] = {
        {p[0], true, true}, {p[0], true, true}, {p[0], false, true}, {p[0], false, true},
        {-1, true, false},  {-1, false, false}, {p[1], true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.fd) + (c.on ? " on" : " off"));
        EXPECT_EQ(c.result, SetCloexec(c.fd, c.on));
        if (c.result) {
            EXPECT_EQ(c.on, is_cloexec(c.fd));
        }
    }
    ::close(p[0]);
    ::close(p[1]);
    EXPECT_FALSE(SetCloexec(p[0], true)) << "a closed descriptor";
}

TEST(Errno, WritesTheSystemText)
{
    for (int value : {ENOENT, EAGAIN, 0}) {
        errno = value;
        Errno e;
        errno = EBADF; // captured at construction
        std::ostringstream os;
        os << "open failed: " << e;
        EXPECT_EQ(e.value(), value);
        EXPECT_EQ(os.str(), std::string("open failed: ") + std::strerror(value));
    }
}

} // namespace
