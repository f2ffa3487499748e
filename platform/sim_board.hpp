#pragma once
// The simulated board: stands in for the board's drivers on a development
// machine or in a test. Selected at the top of main when QUELVAD_SIM is set
// (its value is the path of the control socket).
//
// Every open of a present device hands out one end of a fresh
// socketpair(AF_UNIX, SOCK_SEQPACKET), close-on-exec and non-blocking when the
// flags ask for it, so poll, EAGAIN, dup and close behave as with a driver.
// The simulator keeps the other end: each record the daemon writes is one
// request in the journal, each record injected there is one driver event for
// the daemon. It keeps only driver state (which devices are present, which
// are open) and the journal; it never computes what the daemon must compute.
//
// Control socket: a unix stream socket at the QUELVAD_SIM path, served inside
// the daemon's loop (see pollable_fd). One command per line; every answer
// ends with a line "ok" or "error <reason>", after any lines it lists:
//
//   help                           the command list
//   device <path> present          later opens of <path> succeed
//   device <path> missing          later opens of <path> fail with ENOENT
//   devices                        "<path> present|missing open=<n>" per device
//   journal                        the requests recorded so far, oldest first
//   clear                          empties the journal
//   event <path> <hex bytes>       one record to every open descriptor of <path>
//
// Journal lines: "open <path>", "open <path> missing", "close <path>",
// "ioctl <path> 0x<request>", "write <path> <text>" for printable records
// (the watchdog's "START", "PING", "STOP") and "write <path> [<hex>]" for others.
//
// Start-up opens devices before the loop serves the socket, so the commands of
// the file "<QUELVAD_SIM>.init", when it exists, are applied when the board is
// installed.
//
// Devices known from the start, all present: "/dev/misc/gw-wd" (watchdog) and
// "/dev/hal" (board driver). Any other path is missing until a command makes
// it present.
#include <cstddef>
#include <deque>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

#include "platform/board.hpp"

namespace platform
{

class SimBoard : public Board
{
public:
    SimBoard();
    ~SimBoard() override;
    SimBoard(const SimBoard&) = delete;
    SimBoard& operator=(const SimBoard&) = delete;

    int open(const char* path, int flags) override;
    int ioctl(int fd, unsigned long request, void* arg) override;

    // Creates the control socket at `path` (replacing a stale one); false with
    // errno when it cannot. The socket file is removed at destruction.
    bool listen(const std::string& path);
    // Applies every line of a command file; false when it cannot be read.
    bool load(const std::string& path);

    // Readable whenever the simulator has work: a control client, a request
    // written by the daemon, a closed device. The daemon watches it in its loop
    // and calls service(), which never blocks.
    int pollable_fd() const { return mEpoll; }
    void service();

    // One control command without its newline; the answer's lines, each ended
    // by a newline, the last one "ok" or "error <reason>".
    std::string execute(const std::string& line);

    void set_present(const std::string& path, bool present);
    bool present(const std::string& path) const;
    // Descriptors of the device that the daemon has not closed yet.
    unsigned open_count(const std::string& path) const;
    // One record to every open descriptor of the device; the number reached.
    unsigned inject(const std::string& path, const std::vector<unsigned char>& record);

    const std::deque<std::string>& journal() const { return mJournal; }
    void clear_journal() { mJournal.clear(); }

    // The oldest lines are dropped beyond this many.
    static constexpr std::size_t kJournalLimit = 4096;

private:
    struct Device {
        bool present = false;
    };
    // The simulator's end of one handed-out descriptor.
    struct Channel {
        std::string path;
        ino_t inode = 0; // of the daemon's end, shared by all its duplicates
    };
    struct Client {
        std::string in;
        std::string out;
        bool closing = false;
    };

    void record(const std::string& line);
    void watch(int fd, unsigned events);
    void on_accept();
    void on_client(int fd, unsigned events);
    void flush(int fd, Client& client);
    void drop_client(int fd);
    void on_channel(int fd, unsigned events);
    void drop_channel(int fd);

    std::map<std::string, Device> mDevices;
    std::map<int, Channel> mChannels;
    std::map<int, Client> mClients;
    std::deque<std::string> mJournal;
    int mEpoll = -1;
    int mListen = -1;
    std::string mSocketPath;
};

// Installs a simulated board when QUELVAD_SIM is set: control socket at its
// value, commands of "<value>.init". Null when the variable is unset or empty.
// A socket that cannot be made is reported on std::cerr; the board still runs.
SimBoard* installSimBoardFromEnvironment();

} // namespace platform
