#include "runtime/mux_set.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace
{

// A pipe whose reading end is readable once a byte was written.
struct Pipe {
    Pipe() { EXPECT_EQ(0, ::pipe2(fd, O_CLOEXEC)); }
    ~Pipe()
    {
        ::close(fd[0]);
        ::close(fd[1]);
    }
    void fill() { EXPECT_EQ(1, ::write(fd[1], "x", 1)); }
    int rd() const { return fd[0]; }
    int wr() const { return fd[1]; }
    int fd[2];
};

TEST(MuxSet, HighestDescriptorAndTheSetHandedToSelect)
{
    Mux::Set empty, a, b;
    EXPECT_EQ(-1, empty.highest());
    EXPECT_EQ(nullptr, empty.get());
    EXPECT_FALSE(empty.is_set(0));
    for (int fd : {-1, FD_SETSIZE, FD_SETSIZE + 5})
        EXPECT_FALSE(a.add(fd)) << fd;
    EXPECT_EQ(nullptr, a.get()) << "nothing refused was added";
    EXPECT_TRUE(a.add(7));
    EXPECT_TRUE(a.add(3));
    EXPECT_TRUE(b.add(FD_SETSIZE - 1));
    EXPECT_EQ(7, a.highest());
    ASSERT_NE(nullptr, a.get());
    EXPECT_TRUE(FD_ISSET(3, a.get()) && FD_ISSET(7, a.get()) && !FD_ISSET(5, a.get()));
    EXPECT_TRUE(a.is_set(3) && !a.is_set(4) && !a.is_set(-1));

    EXPECT_EQ(7, Mux::Set::max_fd(a, empty));
    EXPECT_EQ(7, Mux::Set::max_fd(empty, a));
    EXPECT_EQ(-1, Mux::Set::max_fd(empty, empty));
    EXPECT_EQ(FD_SETSIZE - 1, Mux::Set::max_fd(empty, a, b));
    EXPECT_EQ(-1, Mux::Set::max_fd(empty, empty, empty));
    a.clear();
    EXPECT_EQ(-1, a.highest());
    EXPECT_EQ(nullptr, a.get());
}

// Every form reaches select() with the highest descriptor of its sets plus
// one: a ready descriptor that is the highest of them is reported.
TEST(MuxSet, SelectFormsReportTheReadyDescriptors)
{
    Pipe idle, ready;
    ready.fill();
    // The ready reading end is made the highest descriptor of the read set.
    const int high =
        ready.rd() > idle.rd() ? ready.rd() : ::fcntl(ready.rd(), F_DUPFD_CLOEXEC, idle.rd() + 1);
    ASSERT_GT(high, idle.rd());
    struct Case {
        const char* name;
        int (*call)(Mux::Set& rd, Mux::Set& wr, Mux::Set& ex);
        int count;    // what select returns
        bool reads;   // the read set is handed to select: only the ready end stays in it
        bool excepts; // the exception set is handed to select: the idle end leaves it
    };
    const Case cases[] = {
        {"read", [](Mux::Set& rd, Mux::Set&, Mux::Set&) { return Mux::Set::select(rd); }, 1, true, false},
        {"read, timeout",
         [](Mux::Set& rd, Mux::Set&, Mux::Set&) {
             Mux::timeval none(0, 0);
             return Mux::Set::select(rd, none);
         },
         1, true, false},
        {"read and write", [](Mux::Set& rd, Mux::Set& wr, Mux::Set&) { return Mux::Set::select(rd, wr); }, 2,
         true, false},
        {"read and write, timeout",
         [](Mux::Set& rd, Mux::Set& wr, Mux::Set&) {
             Mux::timeval none(0, 0);
             return Mux::Set::select(rd, wr, none);
         },
         2, true, false},
        {"three", [](Mux::Set& rd, Mux::Set& wr, Mux::Set& ex) { return Mux::Set::select(rd, wr, ex); }, 2,
         true, true},
        {"three, timeout",
         [](Mux::Set& rd, Mux::Set& wr, Mux::Set& ex) {
             Mux::timeval none(0, 0);
             return Mux::Set::select(rd, wr, ex, none);
         },
         2, true, true},
        {"read only",
         [](Mux::Set& rd, Mux::Set&, Mux::Set&) {
             Mux::timeval none(0, 0);
             return Mux::Set::select_rd(rd, none);
         },
         1, true, false},
        {"write only",
         [](Mux::Set&, Mux::Set& wr, Mux::Set&) {
             Mux::timeval none(0, 0);
             return Mux::Set::select_wr(wr, none);
         },
         1, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Mux::Set rd, wr, ex;
        rd.add(idle.rd());
        rd.add(high);
        wr.add(idle.wr());
        ex.add(idle.rd());
        EXPECT_EQ(c.count, c.call(rd, wr, ex));
        EXPECT_TRUE(rd.is_set(high));
        EXPECT_EQ(!c.reads, rd.is_set(idle.rd()));
        EXPECT_TRUE(wr.is_set(idle.wr())) << "writable, or not handed to select";
        EXPECT_EQ(!c.excepts, ex.is_set(idle.rd()));
    }

    // Nothing ready within a zero timeout.
    Mux::Set rd;
    rd.add(idle.rd());
    Mux::timeval none(0, 0);
    EXPECT_EQ(0, Mux::Set::select_rd(rd, none));
    if (high != ready.rd())
        ::close(high);
}

} // namespace
