#pragma once
// The controller client of the end-to-end tests and the load benchmark: runs the
// real quelvad binary under a private root with the simulated board, and talks to it
// as a controller does (TPKT frames of aligned-PER LGCP messages over TCP on
// 127.0.0.1). Every wait is for a condition, bounded by a generous deadline only so
// that a broken daemon fails the test instead of hanging it.
#include "tests/support/hex.hpp"

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace LGCP
{
class Message;
}

namespace e2e
{

using Bytes = std::vector<unsigned char>;

using support::hex; // bytes -> "80 01 05 18"
inline Bytes bytes(const std::string& text)
{
    return support::bytes<Bytes>(text);
}
Bytes encode(const LGCP::Message& m); // aligned PER; empty when it fails
Bytes tpkt(const Bytes& payload);     // 03 00 <big-endian frame length> <payload>
int deadline_ms();                    // upper bound of every wait
std::string read_file(const std::string& path);
// An LGCP signal (a message that answers no command, e.g. a line status report).
bool signal_message(const Bytes& payload);

struct DaemonOptions {
    DaemonOptions(std::vector<std::string> a = {}, std::string c = {}, std::string i = {})
        : args(std::move(a)), config(std::move(c)), sim_init(std::move(i))
    {
    }
    // "PORT" in an argument stands for the daemon's port; "--port PORT" goes
    // first unless an argument names "--port" itself.
    std::vector<std::string> args;
    std::string config;    // "/usr/local/etc/server.conf" unless empty
    std::string sim_init;  // commands applied when the simulated board is installed
    bool make_dirs = true; // the root's var/run, var/log, ... directories
    bool board = true;     // QUELVAD_SIM set: the simulated board replaces the devices
    std::string binary;    // the daemon to run; empty: the one built with this client
    // A fixed path: the daemon's standard output and error both go to that
    // file (created empty) instead of out() and err().
    std::string output;
    // The daemon's soft limit of open descriptors; 0: this program's.
    unsigned open_files = 0;
    // More of the daemon's environment, "NAME=value" each; a name given here
    // replaces what the daemon would otherwise get.
    std::vector<std::string> env;
};
// The daemon that Daemon::start runs for the options.
std::string daemon_binary(const DaemonOptions& options);

class Daemon
{
public:
    using Options = DaemonOptions;

    Daemon();
    ~Daemon();
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    void start(const Options& options = Options());
    // Starts and waits for the start-up line and the daemon's own listening
    // socket; a port taken meanwhile by another program starts it again.
    bool start_serving(const Options& options = Options());

    int port() const { return mPort; }
    pid_t pid() const { return mPid; }
    std::string path(const std::string& fixed) const { return mRoot + fixed; }
    const std::string& out() const { return mOut; }
    const std::string& err() const { return mErr; }

    // Read output until the text appears, or the deadline.
    bool wait_out(const std::string& text) { return wait_text(mOut, text); }
    bool wait_err(const std::string& text) { return wait_text(mErr, text); }
    bool wait_file(const std::string& fixed, bool exists = true);
    bool wait_listening();

    // Reads what the daemon has written so far without waiting, so that a
    // long test does not fill the pipes of its output and stall it.
    void collect_output();

    void signal(int sig);
    // Exit code, 128 + n for a signal n, -1 when still running at the deadline.
    int wait_exit();
    // A line to the simulated board's control socket: its answer.
    std::string board(const std::string& command);
    // The same in two steps, so that the line can wait in the socket while
    // the daemon is held: the connection it was sent on (-1 when it could
    // not be sent), then its answer (the connection closed).
    int board_post(const std::string& command);
    std::string board_answer(int fd);
    // Writes a file under the root (a fixed path), making its folders.
    void write_file(const std::string& fixed, const std::string& text);

private:
    bool wait_text(const std::string& buffer, const std::string& text);
    void pump(int timeout_ms);
    void reset();

    std::string mRoot;
    int mPort = 0;
    pid_t mPid = -1;
    int mOutFd = -1;
    int mErrFd = -1;
    std::string mOut, mErr;
    int mStatus = -1;
};

class Controller
{
public:
    Controller() = default;
    ~Controller() { close(); }
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    // Retries until the deadline: the listening socket may not be there yet.
    // A connection to itself is no listener (support::connect_loopback).
    bool connect(int port);
    void close();
    // The port of our end of the connection, as the daemon names the peer
    // in its log lines; 0 when not connected.
    int local_port() const;

    bool send_raw(const Bytes& bytes);
    // Ends the sending direction only; answers can still be read.
    bool half_close();
    bool send_payload(const Bytes& payload) { return send_raw(tpkt(payload)); }
    // The payload of the next whole frame; false on close or deadline.
    bool receive_payload(Bytes& payload);
    // True when the peer closes the connection before the deadline; bytes
    // received meanwhile are appended to `extra`.
    bool wait_closed(Bytes* extra = nullptr);

private:
    bool fill(std::size_t n);

    int mFd = -1;
    Bytes mIn;
    std::size_t mAt = 0; // mIn before it has been handed out
};

} // namespace e2e
