#include "slots/modem/peer_socket.hpp"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace auth
{

namespace
{

// Exactly `digits` hex digits of `text` from `at`.
bool hex(std::string const& text, std::size_t at, std::size_t digits, std::uint32_t& value)
{
    value = 0;
    for (std::size_t k = at; k < at + digits; ++k) {
        const char c = text[k];
        const int d = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                             : -1;
        if (d < 0)
            return false;
        value = value << 4 | std::uint32_t(d);
    }
    return true;
}

// An end "0100007F:CB20": the address word, ":", the port.
bool end(std::string const& text, std::uint32_t& address, std::uint16_t& port)
{
    std::uint32_t number = 0;
    if (text.size() != 13 || text[8] != ':' || !hex(text, 0, 8, address) || !hex(text, 9, 4, number))
        return false;
    port = std::uint16_t(number);
    return true;
}

// The next field of `line` from `at` (blanks separate them); empty at the end.
std::string field(std::string const& line, std::size_t& at)
{
    const std::size_t start = line.find_first_not_of(" \t", at);
    if (start == std::string::npos) {
        at = line.size();
        return std::string();
    }
    at = line.find_first_of(" \t", start);
    if (at == std::string::npos)
        at = line.size();
    return line.substr(start, at - start);
}

// The kernel prints an address word as it holds it, in its own byte order:
// ours, or the other one where the daemon runs emulated on a kernel of the
// other order.
bool same_address(std::uint32_t printed, std::uint32_t network)
{
    return printed == network || printed == __builtin_bswap32(network);
}

bool is_end(std::uint32_t address, std::uint16_t port, sockaddr_in const& at)
{
    return port == ntohs(at.sin_port) && same_address(address, at.sin_addr.s_addr);
}

// The whole of a small file of the kernel's, empty when it cannot be read.
std::string read_all(char const* path)
{
    std::string text;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, std::size_t(n));
    }
    ::close(fd);
    return text;
}

// A whole number of decimal digits alone, at most 9 of them; -1 otherwise.
int number(std::string const& text)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::stoi(text);
}

} // namespace

bool ParseTcpRow(std::string const& line, TcpRow& row)
{
    std::size_t at = 0;
    const std::string number = field(line, at);
    if (number.size() < 2 || number.back() != ':')
        return false;
    if (!end(field(line, at), row.local, row.localPort) || !end(field(line, at), row.remote, row.remotePort))
        return false;
    // The state, the queues, the timer, the retransmits, the owner and the
    // time-out come before the inode.
    for (int k = 0; k < 6; ++k) {
        if (field(line, at).empty())
            return false;
    }
    const std::string inode = field(line, at);
    // Up to 19 digits: any such number fits 64 bits.
    if (inode.empty() || inode.size() > 19 || inode.find_first_not_of("0123456789") != std::string::npos)
        return false;
    row.inode = 0;
    for (char c : inode)
        row.inode = row.inode * 10 + std::uint64_t(c - '0');
    return true;
}

std::uint64_t FindTcpSocket(std::string const& table, sockaddr_in const& local, sockaddr_in const& remote)
{
    for (std::size_t at = 0; at < table.size();) {
        std::size_t stop = table.find('\n', at);
        if (stop == std::string::npos)
            stop = table.size();
        TcpRow row;
        // An earlier connection of the same ports may still be listed,
        // waiting out its close, with inode 0.
        if (ParseTcpRow(table.substr(at, stop - at), row) && row.inode != 0 &&
            is_end(row.local, row.localPort, local) && is_end(row.remote, row.remotePort, remote))
            return row.inode;
        at = stop + 1;
    }
    return 0;
}

std::uint64_t PeerSocket(int connection)
{
    sockaddr_in ours{}, peer{};
    socklen_t size = sizeof ours;
    if (::getsockname(connection, reinterpret_cast<sockaddr*>(&ours), &size) != 0 ||
        ours.sin_family != AF_INET)
        return 0;
    size = sizeof peer;
    if (::getpeername(connection, reinterpret_cast<sockaddr*>(&peer), &size) != 0 ||
        peer.sin_family != AF_INET)
        return 0;
    // The peer's row is the one whose own end is the peer and whose other
    // end is ours.
    return FindTcpSocket(read_all("/proc/net/tcp"), peer, ours);
}

bool HoldsSocket(int pid, std::uint64_t inode)
{
    if (pid <= 0 || inode == 0)
        return false;
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return false;
    const std::string wanted = "socket:[" + std::to_string(inode) + "]";
    bool held = false;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        char target[64];
        const ssize_t n = ::readlink((folder + "/" + entry->d_name).c_str(), target, sizeof target);
        if (n > 0 && std::string(target, std::size_t(n)) == wanted) {
            held = true;
            break;
        }
    }
    ::closedir(dir);
    return held;
}

bool ParseStatGroup(std::string const& stat, int& group)
{
    // The name ends at the last ")": the state, the parent and the group
    // follow it.
    const std::size_t name = stat.rfind(')');
    if (name == std::string::npos)
        return false;
    std::size_t at = name + 1;
    field(stat, at);
    field(stat, at);
    const int value = number(field(stat, at));
    if (value <= 0)
        return false;
    group = value;
    return true;
}

int GroupHolding(std::vector<int> const& groups, std::uint64_t inode)
{
    if (groups.empty() || inode == 0)
        return -1;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return -1;
    int found = -1;
    while (const dirent* entry = ::readdir(proc)) {
        const int pid = number(entry->d_name);
        if (pid <= 0)
            continue;
        int group = -1;
        const std::string stat = read_all(("/proc/" + std::to_string(pid) + "/stat").c_str());
        if (!ParseStatGroup(stat, group) || std::find(groups.begin(), groups.end(), group) == groups.end())
            continue;
        if (HoldsSocket(pid, inode)) {
            found = group;
            break;
        }
    }
    ::closedir(proc);
    return found;
}

} // namespace auth
