#pragma once
// Helpers shared by the runtime and platform tests: captured streams, a
// private QUELVAD_ROOT, pipes and loopback sockets.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/paths.hpp"
#include "runtime/fd.hpp"
#include "runtime/inet4.hpp"

namespace testutil
{

// Captures one of the standard streams for the lifetime of the object.
class Capture
{
public:
    explicit Capture(std::ostream& os) : mOs(os), mOld(os.rdbuf(mBuf.rdbuf())) {}
    ~Capture() { mOs.rdbuf(mOld); }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    std::string text() const { return mBuf.str(); }
    void clear() { mBuf.str(std::string()); }

private:
    std::ostream& mOs;
    std::ostringstream mBuf;
    std::streambuf* mOld;
};

inline std::string read_file(const std::string& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// The names in a directory, sorted, without "." and "..".
inline std::vector<std::string> list_dir(const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.')
                names.push_back(entry->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Takes every free descriptor of the process but `spare` (under a soft limit
// lowered to just above the highest open descriptor, so that filling is
// quick), and gives them back when it goes.
class Shortage
{
public:
    explicit Shortage(int spare)
    {
        ::getrlimit(RLIMIT_NOFILE, &mSaved);
        int highest = 0;
        if (DIR* d = ::opendir("/proc/self/fd")) {
            while (const dirent* e = ::readdir(d))
                highest = std::max(highest, std::atoi(e->d_name));
            ::closedir(d);
        }
        rlimit low = mSaved;
        low.rlim_cur = std::min<rlim_t>(mSaved.rlim_cur, rlim_t(highest) + 32);
        ::setrlimit(RLIMIT_NOFILE, &low);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            mHeld.push_back(fd);
        for (; spare > 0 && !mHeld.empty(); --spare, mHeld.pop_back())
            ::close(mHeld.back());
    }
    ~Shortage()
    {
        for (int fd : mHeld)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &mSaved);
    }
    Shortage(const Shortage&) = delete;
    Shortage& operator=(const Shortage&) = delete;

private:
    rlimit mSaved{};
    std::vector<int> mHeld;
};

// A temporary directory, removed with its content; with `as_root` it is also
// QUELVAD_ROOT for the life of the object.
class TempDir
{
public:
    explicit TempDir(bool as_root = true) : mRoot(as_root)
    {
        char pattern[] = "/tmp/quelvad-test-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        EXPECT_NE(made, nullptr);
        mPath = made ? made : "/nonexistent";
        if (!mRoot)
            return;
        if (const char* old = std::getenv("QUELVAD_ROOT"))
            mOld = old, mHadOld = true;
        ::setenv("QUELVAD_ROOT", mPath.c_str(), 1);
        Paths::reload();
    }
    ~TempDir()
    {
        if (mRoot) {
            if (mHadOld)
                ::setenv("QUELVAD_ROOT", mOld.c_str(), 1);
            else
                ::unsetenv("QUELVAD_ROOT");
            Paths::reload();
        }
        EXPECT_EQ(std::system(("rm -rf '" + mPath + "'").c_str()), 0);
    }
    const std::string& path() const { return mPath; }
    std::string operator/(const std::string& relative) const { return mPath + "/" + relative; }
    // Creates every directory of a relative path.
    void mkdirs(const std::string& relative) const
    {
        EXPECT_EQ(std::system(("mkdir -p '" + mPath + "/" + relative + "'").c_str()), 0);
    }
    void write(const std::string& relative, const std::string& content) const
    {
        std::ofstream(mPath + "/" + relative) << content;
    }

private:
    std::string mPath, mOld;
    bool mRoot, mHadOld = false;
};

// Whatever a non-blocking descriptor holds right now.
inline std::string read_now(int fd)
{
    std::string out;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof(buffer))) > 0)
        out.append(buffer, static_cast<std::size_t>(n));
    return out;
}

// A pipe, both ends non-blocking; put() and take() move one byte.
struct Pipe {
    Fd r, w;
    Pipe()
    {
        int p[2];
        if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) == 0)
            r = Fd(p[0]), w = Fd(p[1]);
    }
    void put() { ASSERT_EQ(::write(w.lowlevel_fd(), "x", 1), 1); }
    void take() { ASSERT_EQ(read_now(r.lowlevel_fd()), "x"); }
};

// A socket listening on a free loopback port, and that port; invalid on failure.
inline Fd listener(int& port, int backlog = 1)
{
    Fd s(::socket(AF_INET, SOCK_STREAM, 0));
    INet4::Addr a;
    a.Assign("127.0.0.1:0", nullptr);
    socklen_t len = a.size();
    if (::bind(s.lowlevel_fd(), a, a.size()) != 0 || ::listen(s.lowlevel_fd(), backlog) != 0 ||
        ::getsockname(s.lowlevel_fd(), a, &len) != 0)
        return Fd();
    port = a.port();
    return s;
}

// A blocking client connected to 127.0.0.1:port, or an invalid Fd.
inline Fd connect_to(int port)
{
    Fd s(::socket(AF_INET, SOCK_STREAM, 0));
    INet4::Addr a;
    a.Assign("127.0.0.1", nullptr);
    a.port(static_cast<unsigned short>(port));
    return ::connect(s.lowlevel_fd(), a, a.size()) == 0 ? s : Fd();
}

// A connected TCP pair over loopback: `client` is the remote end, `server`
// the accepted socket (non-blocking) with its peer address.
struct TcpPair {
    Fd client, server;
    INet4::Addr peer;
    TcpPair()
    {
        int port = 0;
        Fd l = listener(port);
        client = connect_to(port);
        socklen_t len = peer.size();
        server = Fd(::accept(l.lowlevel_fd(), peer, &len));
        server.NonBlock();
    }
};

// A socket bound to a path of the file system (an old one is removed).
inline int bind_unix(const std::string& path, int type)
{
    ::unlink(path.c_str());
    const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", path.c_str());
    EXPECT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr))) << path;
    return fd;
}

// Every datagram waiting on a socket, in order; never blocks.
inline std::vector<std::string> datagrams(int fd)
{
    std::vector<std::string> out;
    std::vector<char> buffer(65536);
    for (ssize_t n; (n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT)) >= 0;)
        out.emplace_back(buffer.data(), static_cast<std::size_t>(n));
    return out;
}

} // namespace testutil
