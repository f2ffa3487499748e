// The kernel's socket table read row by row, byte for byte; the socket at
// the other end of a connection found in it, in either byte order of the
// address words; and, on this machine's own /proc, the process that holds it
// and the process group of the holder.
#include "slots/modem/peer_socket.hpp"

#include <arpa/inet.h>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/loopback.hpp"

namespace
{

// A row read, as "<local word>:<port> <remote word>:<port> <inode>" in hex
// and decimal, or "" when it is not one.
std::string read(const char* line)
{
    auth::TcpRow row;
    if (!auth::ParseTcpRow(line, row))
        return "";
    char text[64];
    std::snprintf(text, sizeof text, "%08X:%u %08X:%u ", unsigned(row.local), unsigned(row.localPort),
                  unsigned(row.remote), unsigned(row.remotePort));
    return text + std::to_string(row.inode);
}

TEST(PeerSocket, TableRows)
{
    struct Case {
        const char *line, *read;
    } const cases[] = {
        {"  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode",
         ""},
        {"   0: 0100007F:CB20 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 20811 1 "
         "0000000000000000 100 0 0 10 0",
         "0100007F:52000 00000000:0 20811"},
        {"  12: 7F000001:D2F4 7f000001:cb20 01 00000000:00000000 00:00000000 00000000  1000        0 "
         "4294967296",
         "7F000001:54004 7F000001:52000 4294967296"},
        {"   1: 0100007F:C46D 0100007F:DE72 06 00000000:00000000 03:00001135 00000000     0        0 0 3 "
         "00000000879e4f2f",
         "0100007F:50285 0100007F:56946 0"},
        {"9:\t0100007F:CB20 0100007F:D2F4 01 0:0 0:0 0 0 0 9999999999999999999",
         "0100007F:52000 0100007F:54004 9999999999999999999"},
        {"9: 0100007F:CB20 0100007F:D2F4 01 0:0 0:0 0 0 0 10000000000000000000", ""},
        {"9: 0100007F:CB20 0100007F:D2F4 01 0:0 0:0 0 0 0 12a4", ""},
        {"9: 0100007F:CB20 0100007F:D2F4 01 0:0 0:0 0 0 0", ""},
        {"9: 100007F:CB20 0100007F:D2F4 01 0:0 0:0 0 0 0 7", ""},
        {"9: 0100007F:CB2 0100007F:D2F4 01 0:0 0:0 0 0 0 7", ""},
        {"9: 0100007G:CB20 0100007F:D2F4 01 0:0 0:0 0 0 0 7", ""},
        {"9: 0100007F-CB20 0100007F:D2F4 01 0:0 0:0 0 0 0 7", ""},
        {"9 0100007F:CB20 0100007F:D2F4 01 0:0 0:0 0 0 0 7", ""},
        {"", ""},
    };
    for (auto const& c : cases)
        EXPECT_EQ(c.read, read(c.line)) << c.line;
}

// An end as the kernel prints it: the address word as held, in this
// process's order (or swapped), and the port.
std::string printed(sockaddr_in const& at, bool swapped = false)
{
    const std::uint32_t word = swapped ? __builtin_bswap32(at.sin_addr.s_addr) : at.sin_addr.s_addr;
    char text[16];
    std::snprintf(text, sizeof text, "%08X:%04X", unsigned(word), unsigned(ntohs(at.sin_port)));
    return text;
}

TEST(PeerSocket, TheOtherEndOfAConnection)
{
    const sockaddr_in listener = support::loopback(52000), ours = listener, plugin = support::loopback(53000);
    sockaddr_in other = support::loopback(53000);
    other.sin_addr.s_addr = htonl(0x7F000002);
    for (bool swapped : {false, true}) {
        SCOPED_TRACE(swapped ? "the kernel's order is not ours" : "the kernel's order is ours");
        const auto row = [&](int n, sockaddr_in const& local, sockaddr_in const& remote, const char* inode) {
            return "   " + std::to_string(n) + ": " + printed(local, swapped) + " " +
                   printed(remote, swapped) + " 01 00000000:00000000 00:00000000 00000000  1000        0 " +
                   inode + " 1 0 20 4 30 10 -1\n";
        };
        const std::string table = "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when "
                                  "retrnsmt   uid  timeout inode\n" +
                                  row(0, listener, support::loopback(0), "100") +
                                  row(1, plugin, ours, "0") /* an earlier one, closing */ +
                                  row(2, ours, plugin, "111") + row(3, other, ours, "333") +
                                  row(4, plugin, ours, "222");
        EXPECT_EQ(222u, auth::FindTcpSocket(table, plugin, ours)) << table;
        EXPECT_EQ(111u, auth::FindTcpSocket(table, ours, plugin));
        EXPECT_EQ(333u, auth::FindTcpSocket(table, other, ours));
        EXPECT_EQ(0u, auth::FindTcpSocket(table, support::loopback(53001), ours));
        EXPECT_EQ(0u, auth::FindTcpSocket(table, plugin, support::loopback(52001)));
        EXPECT_EQ(0u, auth::FindTcpSocket(table.substr(0, table.find("   4:")), plugin, ours))
            << "closed by its process";
    }
}

// A connection of this process to itself over the loopback: the connecting
// end and the accepted one, -1 each when it could not be made.
void connection(int& plugin, int& accepted)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at = support::loopback(0);
    socklen_t size = sizeof at;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 && ::listen(listener, 1) == 0 &&
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&at), &size) == 0) {
        plugin = support::connect_loopback(ntohs(at.sin_port));
        accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    }
    ::close(listener);
}

// A connection of this process to itself over the loopback: each end finds
// the other's socket among this process's descriptors, until it is closed.
TEST(PeerSocket, TheProcessThatHoldsIt)
{
    int plugin = -1, accepted = -1;
    connection(plugin, accepted);
    ASSERT_GE(plugin, 0);
    ASSERT_GE(accepted, 0);
    const std::uint64_t theirs = auth::PeerSocket(accepted), ours = auth::PeerSocket(plugin);
    EXPECT_NE(0u, theirs);
    EXPECT_NE(0u, ours);
    EXPECT_NE(theirs, ours);
    EXPECT_TRUE(auth::HoldsSocket(::getpid(), theirs));
    EXPECT_TRUE(auth::HoldsSocket(::getpid(), ours));
    EXPECT_FALSE(auth::HoldsSocket(::getppid(), theirs));
    EXPECT_FALSE(auth::HoldsSocket(0, theirs));
    ::close(plugin);
    EXPECT_EQ(0u, auth::PeerSocket(accepted)) << "no process holds the plugin's end";
    EXPECT_FALSE(auth::HoldsSocket(::getpid(), theirs));
    ::close(accepted);
    EXPECT_EQ(0u, auth::PeerSocket(accepted)) << "no connection";
}

TEST(PeerSocket, ProcessGroupOfAStatLine)
{
    struct Case {
        const char* stat;
        int group; // -1: none read
    } const cases[] = {
        {"4242 (pppd) S 1 4240 4240 0 -1 4194560 90 0 0 0", 4240},
        {"4242 (a (b) c) R 1 77 77 0", 77},
        {"4242 (x) y) S 1 88 88", 88},
        {"4242 (two words) S 1 99", 99},
        {"4242 (pppd S 1 4240 4240", -1},
        {"4242 (pppd) S 1", -1},
        {"4242 (pppd) S 1 x12 0", -1},
        {"4242 (pppd) S 1 0 0", -1},
        {"4242 (pppd) S 1 -5 0", -1},
        {"4242 (pppd) S 1 12345678901 0", -1},
        {"", -1},
    };
    for (auto const& c : cases) {
        int group = -1;
        EXPECT_EQ(c.group != -1, auth::ParseStatGroup(c.stat, group)) << c.stat;
        EXPECT_EQ(c.group, group) << c.stat;
    }
}

// A connection's other end held by a process of a group whose leader holds
// none: the group is found by any of its processes, and no other group is.
TEST(PeerSocket, TheGroupThatHoldsIt)
{
    int plugin = -1, accepted = -1;
    connection(plugin, accepted);
    ASSERT_GE(plugin, 0);
    ASSERT_GE(accepted, 0);
    const std::uint64_t theirs = auth::PeerSocket(accepted);
    ASSERT_NE(0u, theirs);
    // The leader closes its copy; the member keeps it until `hold` ends.
    int ready[2], hold[2];
    ASSERT_EQ(0, ::pipe(ready));
    ASSERT_EQ(0, ::pipe(hold));
    const auto child = [&](pid_t group, bool keeps) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setpgid(0, group);
            if (!keeps)
                ::close(plugin);
            char byte = 'r';
            ::close(hold[1]);
            (void)!::write(ready[1], &byte, 1);
            while (::read(hold[0], &byte, 1) > 0) {
            }
            ::_exit(0);
        }
        if (pid > 0)
            ::setpgid(pid, group ? group : pid);
        return pid;
    };
    const pid_t leader = child(0, false);
    const pid_t member = leader > 0 ? child(leader, true) : -1;
    ::close(ready[1]);
    ::close(hold[0]);
    char byte;
    const bool started = member > 0 && ::read(ready[0], &byte, 1) == 1 && ::read(ready[0], &byte, 1) == 1;
    ::close(plugin);
    if (started) {
        EXPECT_EQ(leader, auth::GroupHolding({::getpgrp(), leader}, theirs));
        EXPECT_EQ(-1, auth::GroupHolding({::getpgrp()}, theirs)) << "this process closed its copy";
        EXPECT_FALSE(auth::HoldsSocket(leader, theirs));
        EXPECT_TRUE(auth::HoldsSocket(member, theirs));
        EXPECT_EQ(-1, auth::GroupHolding({}, theirs));
        EXPECT_EQ(-1, auth::GroupHolding({leader}, 0));
    }
    ::close(hold[1]);
    ::close(ready[0]);
    for (pid_t pid : {leader, member}) {
        int status = -1;
        if (pid > 0) {
            EXPECT_EQ(pid, ::waitpid(pid, &status, 0));
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
    }
    ASSERT_TRUE(started);
    ::close(accepted);
}

} // namespace
