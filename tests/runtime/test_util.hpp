#pragma once
// Helpers shared by the runtime and platform tests: captured streams, a
// private QUELVAD_ROOT, pipes and loopback sockets.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/paths.hpp"

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
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

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
        const char* old = std::getenv("QUELVAD_ROOT");
        mHadOld = old != nullptr;
        if (old)
            mOld = old;
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
        std::string dir = mPath;
        std::istringstream parts(relative);
        for (std::string part; std::getline(parts, part, '/');)
            if (!part.empty())
                ::mkdir((dir += "/" + part).c_str(), 0755);
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

// A listening socket on loopback; returns its port.
inline int listen_loopback(int& listener, int backlog)
{
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    EXPECT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
    EXPECT_EQ(0, ::listen(listener, backlog));
    EXPECT_EQ(0, ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len));
    return ntohs(addr.sin_port);
}

// A blocking connection to a loopback port.
inline int dial_loopback(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<unsigned short>(port));
    EXPECT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
    return fd;
}

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
