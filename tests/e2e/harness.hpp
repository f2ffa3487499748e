#pragma once
// End-to-end harness: runs the real quelvad binary under a private root with
// the simulated board, and talks to it as a controller does (TPKT frames of
// aligned-PER LGCP messages over TCP on 127.0.0.1).
//
// Nothing here measures time: every wait is for a condition (a line of
// output, a frame, an exit), bounded by a generous deadline only so that a
// broken daemon fails the test instead of hanging it.
#include <string>
#include <sys/types.h>
#include <vector>

namespace LGCP
{
class Message;
}

namespace e2e
{

using Bytes = std::vector<unsigned char>;

// "80 01 05 18" -> bytes; "" -> none.
Bytes hex(const std::string& text);
// Bytes -> "80 01 05 18".
std::string hex(const Bytes& bytes);
// Aligned PER; empty when the message has no encoding.
Bytes encode(const LGCP::Message& message);
bool decode(const Bytes& payload, LGCP::Message& message);
// 03 00 <length of the whole frame, big-endian> <payload>.
Bytes tpkt(const Bytes& payload);

// Upper bound of every wait, in milliseconds.
int deadline_ms();

// A TCP port that was free a moment ago.
int free_port();

struct DaemonOptions {
    std::vector<std::string> args;
    std::string config;    // "/usr/local/etc/server.conf" unless empty
    std::string sim_init;  // commands applied when the simulated board is installed
    bool make_dirs = true; // the root's var/run, var/log, ... directories
};

class Daemon
{
public:
    using Options = DaemonOptions;

    Daemon();
    ~Daemon();
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    // Starts the binary with the options; "--port N" goes first unless the
    // arguments carry a port of their own.
    void start(const Options& options);
    // Starts with "--port <free port>" and waits for the start-up line and
    // the listening socket.
    bool start_serving(Options options = Options());

    const std::string& root() const { return mRoot; }
    int port() const { return mPort; }
    pid_t pid() const { return mPid; }
    // A path under the private root: path("/var/run/server.pid").
    std::string path(const std::string& fixed) const;

    const std::string& out() const { return mOut; }
    const std::string& err() const { return mErr; }
    // Reads output until `text` appears on stdout (or stderr), or the deadline.
    bool wait_out(const std::string& text);
    bool wait_err(const std::string& text);
    // Reads output until the file exists (or no longer exists) or the deadline.
    bool wait_file(const std::string& fixed, bool exists = true);
    // Until a client can connect to the port.
    bool wait_listening();

    void signal(int sig);
    // Reads output until the process ends; its exit code, 128 + n for a
    // signal n, -1 when it is still running at the deadline.
    int wait_exit();

    // A line-based command to the simulated board's control socket: its answer.
    std::string board(const std::string& command);

private:
    void pump(int timeout_ms);
    void write_file(const std::string& fixed, const std::string& text);

    std::string mRoot;
    int mPort = 0;
    pid_t mPid = -1;
    int mOutFd = -1;
    int mErrFd = -1;
    std::string mOut;
    std::string mErr;
    int mStatus = -1;
};

class Controller
{
public:
    Controller() = default;
    ~Controller();
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    // Retries until the deadline: the listening socket may not be there yet.
    bool connect(int port);
    void close();
    bool connected() const { return mFd >= 0; }

    bool send_raw(const Bytes& bytes);
    bool send_payload(const Bytes& payload) { return send_raw(tpkt(payload)); }
    // Encodes in aligned PER; the payload is also returned for checking.
    bool send(const LGCP::Message& message, Bytes* payload = nullptr);

    // The payload of the next whole frame; false on close or deadline.
    bool receive_payload(Bytes& payload);
    bool receive(LGCP::Message& message);
    // True when the peer closes the connection (EOF or reset) before the
    // deadline; bytes received meanwhile are appended to `extra`.
    bool wait_closed(Bytes* extra = nullptr);

private:
    bool fill(std::size_t n);

    int mFd = -1;
    Bytes mIn;
};

} // namespace e2e
