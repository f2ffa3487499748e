#include "tests/support/controller.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "asn1/asn1.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "tests/support/loopback.hpp"

#ifndef QUELVAD_BINARY
#error "QUELVAD_BINARY must name the daemon under test"
#endif
#ifndef QUELVAD_E2E_LAUNCHER
#define QUELVAD_E2E_LAUNCHER ""
#endif

namespace e2e
{

namespace
{

long long now_ms()
{
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Bounds a wait; left() is the next poll's timeout, at most 100 ms.
struct Deadline {
    long long end = now_ms() + deadline_ms();
    bool passed() const { return now_ms() >= end; }
    int left() const { return int(std::max(0LL, std::min(100LL, end - now_ms()))); }
};

void mkdirs(const std::string& path)
{
    for (std::size_t i = 1; i <= path.size(); ++i)
        if (i == path.size() || path[i] == '/')
            ::mkdir(path.substr(0, i).c_str(), 0755);
}

int free_port()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = support::loopback(0);
    socklen_t len = sizeof addr;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
    ::close(fd);
    return bound ? ntohs(addr.sin_port) : 0;
}

} // namespace

Bytes encode(const LGCP::Message& message)
{
    ASN1::CoderEnv env; // aligned PER
    std::vector<char> octets;
    return ASN1::encode(message, &env, std::back_inserter(octets)) ? Bytes(octets.begin(), octets.end())
                                                                   : Bytes();
}

Bytes tpkt(const Bytes& payload)
{
    const std::size_t n = payload.size() + 4;
    Bytes frame(n);
    frame[0] = 0x03;
    frame[2] = static_cast<unsigned char>(n >> 8);
    frame[3] = static_cast<unsigned char>(n & 0xFF);
    std::copy(payload.begin(), payload.end(), frame.begin() + 4);
    return frame;
}

int deadline_ms()
{
    return std::string(QUELVAD_E2E_LAUNCHER).empty() ? 20000 : 60000;
}

std::string daemon_binary(const DaemonOptions& options)
{
    return options.binary.empty() ? QUELVAD_BINARY : options.binary;
}

bool signal_message(const Bytes& payload)
{
    LGCP::Message m;
    ASN1::CoderEnv env;
    const char* p = reinterpret_cast<const char*>(payload.data());
    return ASN1::decode(p, p + payload.size(), &env, m, true) && m.get_pdu().signal_isSelected();
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Daemon::Daemon()
{
    char tmpl[] = "/tmp/quelvad-e2e-XXXXXX";
    const char* dir = ::mkdtemp(tmpl);
    mRoot = dir ? dir : "";
}

Daemon::~Daemon()
{
    reset();
    if (mRoot.size() > 6 && std::system(("rm -rf '" + mRoot + "'").c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", mRoot.c_str());
}

// Kills a process still running and forgets it.
void Daemon::reset()
{
    if (mPid > 0 && mStatus < 0) {
        ::kill(mPid, SIGKILL);
        ::waitpid(mPid, nullptr, 0);
    }
    for (int* fd : {&mOutFd, &mErrFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    mOut.clear();
    mErr.clear();
    mStatus = -1;
}

void Daemon::write_file(const std::string& fixed, const std::string& text)
{
    const std::string p = path(fixed);
    mkdirs(p.substr(0, p.rfind('/')));
    std::ofstream(p) << text;
}

void Daemon::start(const Options& options)
{
    for (const char* d : {"/usr/local/etc", "/var/run", "/var/log", "/var/monitoring", "/dev/misc"})
        if (options.make_dirs)
            mkdirs(path(d));
    if (!options.config.empty())
        write_file("/usr/local/etc/server.conf", options.config);
    if (!options.sim_init.empty())
        write_file("/board.sock.init", options.sim_init);
    if (!mPort)
        mPort = free_port();

    std::vector<std::string> argv;
    std::istringstream launcher(QUELVAD_E2E_LAUNCHER);
    for (std::string w; launcher >> w;)
        argv.push_back(w);
    argv.push_back(daemon_binary(options));
    // First, so that a "--" among the options leaves it in force.
    if (std::none_of(options.args.begin(), options.args.end(),
                     [](const std::string& a) { return a.compare(0, 6, "--port") == 0; }))
        argv.insert(argv.end(), {"--port", "PORT"});
    argv.insert(argv.end(), options.args.begin(), options.args.end());
    std::vector<char*> args;
    for (std::string& a : argv) {
        for (std::size_t at; (at = a.find("PORT")) != std::string::npos;)
            a.replace(at, 4, std::to_string(mPort));
        args.push_back(&a[0]);
    }
    args.push_back(nullptr);

    std::vector<std::string> env = {"QUELVAD_ROOT=" + mRoot};
    if (options.board)
        env.push_back("QUELVAD_SIM=" + path("/board.sock"));
    for (const char* keep : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "HOME"})
        if (const char* v = std::getenv(keep))
            env.push_back(std::string(keep) + "=" + v);
    for (const std::string& more : options.env) {
        const std::string name = more.substr(0, more.find('=') + 1);
        env.erase(
            std::remove_if(env.begin(), env.end(),
                           [&name](const std::string& e) { return e.compare(0, name.size(), name) == 0; }),
            env.end());
        env.push_back(more);
    }
    std::vector<char*> envp;
    envp.reserve(env.size() + 1);
    for (std::string& e : env)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);

    int file = -1;
    if (!options.output.empty() &&
        (file = ::open(path(options.output).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) < 0)
        return;
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return;
    const pid_t parent = ::getpid();
    mPid = ::fork();
    if (mPid == 0) {
        // A client that dies without stopping its daemon (a crash, Ctrl-C)
        // must not leave it holding the ports.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(file >= 0 ? file : out[1], 1);
        ::dup2(file >= 0 ? file : err[1], 2);
        // Only the soft limit: a test may raise it again on the running daemon.
        rlimit files{};
        if (options.open_files && ::getrlimit(RLIMIT_NOFILE, &files) == 0) {
            files.rlim_cur = options.open_files;
            ::setrlimit(RLIMIT_NOFILE, &files);
        }
        ::execve(args[0], args.data(), envp.data());
        if (args[0][0] != '/')
            ::execvpe(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    if (file >= 0)
        ::close(file);
    mOutFd = out[0];
    mErrFd = err[0];
}

bool Daemon::start_serving(const Options& options)
{
    // The port was free when chosen, but anything on the machine may take it
    // before the daemon binds; the daemon would wait for it for ever.
    for (int attempt = 0; attempt < 3; ++attempt, reset(), mPort = 0) {
        start(options);
        if (!wait_out("Starting server "))
            return false;
        if (wait_listening())
            return true;
        if (mErr.find("can't bind to socket") == std::string::npos)
            return false;
    }
    return false;
}

void Daemon::pump(int timeout_ms)
{
    pollfd p[2] = {{mOutFd, POLLIN, 0}, {mErrFd, POLLIN, 0}};
    if (::poll(p, 2, timeout_ms) <= 0)
        return;
    char buf[4096];
    for (int i = 0; i < 2; ++i) {
        if (p[i].fd < 0 || !(p[i].revents & (POLLIN | POLLHUP)))
            continue;
        const ssize_t n = ::read(p[i].fd, buf, sizeof buf);
        if (n > 0) {
            (i == 0 ? mOut : mErr).append(buf, std::size_t(n));
        } else if (n == 0) {
            ::close(p[i].fd);
            (i == 0 ? mOutFd : mErrFd) = -1;
        }
    }
}

void Daemon::collect_output()
{
    for (std::size_t seen = ~std::size_t{0}; seen != mOut.size() + mErr.size();) {
        seen = mOut.size() + mErr.size();
        pump(0);
    }
}

bool Daemon::wait_text(const std::string& buffer, const std::string& text)
{
    for (Deadline d; buffer.find(text) == std::string::npos; pump(d.left()))
        if (d.passed() || (mOutFd < 0 && mErrFd < 0))
            return false;
    return true;
}

bool Daemon::wait_file(const std::string& fixed, bool exists)
{
    const std::string p = path(fixed);
    for (Deadline d; (::access(p.c_str(), F_OK) == 0) != exists; pump(d.left() / 4 + 1))
        if (d.passed())
            return false;
    return true;
}

bool Daemon::wait_listening()
{
    // Read from the kernel's socket table rather than by connecting: a probe
    // connection would take the one controller seat for a moment. The
    // listening socket must be one of the daemon's own descriptors, not some
    // other program's on the same port.
    char local[32];
    std::snprintf(local, sizeof local, ":%04X 00000000:0000 0A", mPort);
    const std::string fds = "/proc/" + std::to_string(mPid) + "/fd/";
    for (Deadline d; !d.passed(); pump(d.left() / 4 + 1)) {
        std::ifstream table("/proc/net/tcp");
        for (std::string line; std::getline(table, line);) {
            if (line.find(local) == std::string::npos)
                continue;
            std::istringstream fields(line);
            std::string field, inode;
            for (int i = 0; i < 10 && fields >> field; ++i)
                inode = field;
            for (int fd = 0; fd < 256; ++fd) {
                char link[64];
                const ssize_t n = ::readlink((fds + std::to_string(fd)).c_str(), link, sizeof link - 1);
                if (n > 0 && std::string(link, std::size_t(n)) == "socket:[" + inode + "]")
                    return true;
            }
        }
        if ((mOutFd < 0 && mErrFd < 0) || mErr.find("can't bind to socket") != std::string::npos)
            return false;
    }
    return false;
}

void Daemon::signal(int sig)
{
    // Never kill(-1): a daemon that was not started has no process.
    if (mPid > 0)
        ::kill(mPid, sig);
}

int Daemon::wait_exit()
{
    for (Deadline d; mStatus < 0 && !d.passed();) {
        int status = 0;
        if (::waitpid(mPid, &status, WNOHANG) != mPid) {
            pump(d.left());
            continue;
        }
        while (mOutFd >= 0 || mErrFd >= 0)
            pump(100);
        mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return mStatus;
}

std::string Daemon::board(const std::string& command)
{
    return board_answer(board_post(command));
}

int Daemon::board_post(const std::string& command)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path("/board.sock").c_str());
    const std::string line = command + "\n";
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == ssize_t(line.size()))
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

std::string Daemon::board_answer(int fd)
{
    std::string answer;
    if (fd < 0)
        return answer;
    // The answer ends with a line "ok" or "error ...".
    for (Deadline d; !d.passed();) {
        pollfd p{fd, POLLIN, 0};
        pump(0);
        if (::poll(&p, 1, d.left()) <= 0)
            continue;
        char buf[1024];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        answer.append(buf, std::size_t(n));
        const std::size_t last = answer.rfind('\n', answer.size() - 2);
        const std::string tail = answer.substr(last == std::string::npos ? 0 : last + 1);
        if (answer.back() == '\n' && (tail == "ok\n" || tail.compare(0, 6, "error ") == 0))
            break;
    }
    ::close(fd);
    return answer;
}

bool Controller::connect(int port)
{
    close();
    for (Deadline d; !d.passed(); ::poll(nullptr, 0, d.left() / 4 + 1)) {
        mFd = support::connect_loopback(port);
        if (mFd >= 0) {
            const int one = 1;
            ::setsockopt(mFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return true;
        }
    }
    return false;
}

void Controller::close()
{
    if (mFd >= 0)
        ::close(mFd);
    mFd = -1;
    mIn.clear();
    mAt = 0;
}

int Controller::local_port() const
{
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (mFd < 0 || ::getsockname(mFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 0;
    return ntohs(addr.sin_port);
}

bool Controller::half_close()
{
    return ::shutdown(mFd, SHUT_WR) == 0;
}

bool Controller::send_raw(const Bytes& bytes)
{
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::send(mFd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

bool Controller::fill(std::size_t n)
{
    if (mAt > 0 && mIn.size() - mAt < n) {
        mIn.erase(mIn.begin(), mIn.begin() + long(mAt));
        mAt = 0;
    }
    for (Deadline d; mIn.size() - mAt < n;) {
        if (d.passed() || mFd < 0)
            return false;
        pollfd p{mFd, POLLIN, 0};
        if (::poll(&p, 1, d.left()) <= 0)
            continue;
        unsigned char buf[65536];
        const ssize_t r = ::recv(mFd, buf, sizeof buf, 0);
        if (r <= 0)
            return false;
        mIn.insert(mIn.end(), buf, buf + r);
    }
    return true;
}

bool Controller::receive_payload(Bytes& payload)
{
    if (!fill(4) || mIn[mAt] != 0x03 || mIn[mAt + 1] != 0x00)
        return false;
    const std::size_t n = std::size_t(mIn[mAt + 2]) << 8 | mIn[mAt + 3];
    if (n < 4 || !fill(n))
        return false;
    payload.assign(mIn.begin() + long(mAt) + 4, mIn.begin() + long(mAt + n));
    mAt += n;
    return true;
}

bool Controller::wait_closed(Bytes* extra)
{
    for (Deadline d; !d.passed();) {
        pollfd p{mFd, POLLIN, 0};
        if (::poll(&p, 1, d.left()) <= 0)
            continue;
        unsigned char buf[4096];
        const ssize_t r = ::recv(mFd, buf, sizeof buf, 0);
        if (r <= 0)
            return true;
        if (extra)
            extra->insert(extra->end(), buf, buf + r);
    }
    return false;
}

} // namespace e2e
