#pragma once
// Which process holds the other end of a loopback TCP connection: the
// plugin of a PPP daemon runs inside the daemon or in a process the daemon
// started (a helper, a script), all in the daemon's process group, so the
// group whose process holds the plugin's socket tells which call a
// connection is for. The kernel lists its IPv4 TCP sockets in
// "/proc/net/tcp" (each with its inode), each process's descriptors in
// "/proc/<pid>/fd" ("socket:[<inode>]") and its group in "/proc/<pid>/stat".
// All are the kernel's own files, read as they are; anything missing or
// unreadable is simply not found.
#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

namespace auth
{

// One row of the kernel's socket table. Addresses are the words the kernel
// printed (an address word as the kernel holds it, in its byte order), ports
// are numbers.
struct TcpRow {
    std::uint32_t local = 0;
    std::uint16_t localPort = 0;
    std::uint32_t remote = 0;
    std::uint16_t remotePort = 0;
    std::uint64_t inode = 0;
};

// Reads a row such as
// "   3: 0100007F:D2F4 0100007F:CB20 01 00000000:00000000 00:00000000 00000000  1000  0 41726 1 ...";
// false for the heading and anything malformed.
bool ParseTcpRow(std::string const& line, TcpRow& row);

// The inode of the open socket of `table` (the text of "/proc/net/tcp") whose
// own end is `local` and whose other end is `remote`; 0 when there is none
// (a socket no process holds any more has inode 0).
std::uint64_t FindTcpSocket(std::string const& table, sockaddr_in const& local, sockaddr_in const& remote);

// The inode of the socket at the other end of the connected loopback TCP
// socket `connection`, 0 when it cannot be found.
std::uint64_t PeerSocket(int connection);

// True when the process `pid` has a descriptor of the socket `inode`.
bool HoldsSocket(int pid, std::uint64_t inode);

// Reads the process group from the text of "/proc/<pid>/stat", such as
// "4242 (a (b) c) S 1 4240 4240 0 -1 ..." (the name in parentheses may hold
// blanks and parentheses itself); false when the text holds none.
bool ParseStatGroup(std::string const& stat, int& group);

// The first of `groups` (process group numbers) that has a process holding
// a descriptor of the socket `inode`; -1 when none has.
int GroupHolding(std::vector<int> const& groups, std::uint64_t inode);

} // namespace auth
