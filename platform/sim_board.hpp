#pragma once
// The simulated board: stands in for the board's drivers on a development
// machine or in a test. Selected at the top of main when QUELVAD_SIM is set
// (its value is the path of the control socket).
//
// Every open of a present device hands out one end of a fresh
// socketpair(AF_UNIX, SOCK_SEQPACKET), close-on-exec and non-blocking when the
// flags ask for it, so poll, EAGAIN, dup and close behave as with a driver.
// The board keeps the other end and routes what happens on it to the device's
// model (platform/sim/*_model.hpp): each request, each record the daemon
// writes, the last close. A model keeps only its driver's state; the board
// keeps which devices are present, which descriptors are open, injected
// request failures and the journal. Neither computes what the daemon must.
//
// A request finds its device without a system call when it comes on the very
// number an open handed out: that number is taken from a reserved range (from
// half the descriptor limit, at most 1024, up), which the kernel's lowest-free
// allocation reaches only when the process holds that many descriptors, so a
// number there changes hands only through the board's own opens, which
// rewrite the table, and it leaves the table when the device's last duplicate
// closes. (So a request on such a number that the daemon has closed while a
// duplicate lives still reaches the device, where the kernel says EBADF.) A
// request on any other number (a duplicate the daemon made, a number that is
// not a board descriptor) is routed by the socket's identity, which all
// duplicates share, as the kernel would route it.
//
// Control commands (README's table; `help` lists them): the board's own
// (device, devices, journal, clear, event, hangup, fail) and each model's, whose
// first word names the model ("hal ...", "watchdog").
//
// Journal lines: "open <path>", "open <path> missing", "close <path>",
// "hangup <path>" (the board closed its end: the `hangup` command),
// "ioctl <path> <request decoded> -> <result>" (for example
// "ioctl /dev/hal connect dst=8200 src=33 -> 0", "... -> -1 ENODEV"; an unknown
// request shows its number), "write <path> <text>" for printable records
// (the watchdog's "START", "PING", "STOP") and "write <path> [<hex>]" for
// others. Requests that change nothing (a disable of an output that is
// already disabled: the switch's periodic refresh) are counted by their
// model but not journalled.
//
// A device may take what the daemon writes more slowly than it comes (a voice
// channel plays 8,000 bytes a second): the board then leaves the records in
// the descriptor until the model's time for the next one, so the descriptor
// fills and stops being writable, and a timer in the board's pollable
// descriptor wakes the loop when that time comes. Such a descriptor holds
// about one record beyond what its model holds (the model's request reply
// says how large), not the system's default socket buffer.
//
// Start-up opens devices before the loop serves the socket, so the commands of
// the file "<QUELVAD_SIM>.init", when it exists, are applied when the board is
// installed.
//
// Devices known from the start, all present: "/dev/misc/gw-wd" (watchdog) and
// "/dev/hal" (board driver). Any other path is missing until a command makes
// it present; "/dev/maintenance", "/dev/e1-cas", "/dev/mcc/ctl", "/dev/mctl"
// and "/dev/mixer" have their models from the start too.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

#include "platform/board.hpp"
#include "platform/sim/device_model.hpp"

namespace platform
{

namespace sim
{
class ControlSocket;
}

class SimBoard : public Board, private sim::Host
{
public:
    SimBoard();
    ~SimBoard() override;
    SimBoard(const SimBoard&) = delete;
    SimBoard& operator=(const SimBoard&) = delete;

    int open(const char* path, int flags) override;
    // A descriptor of the network interface model (journalled as "inet-dgram").
    int interface_socket() override;

    // Adds (or replaces) the model of a device; the device is present.
    void add(std::unique_ptr<sim::DeviceModel> model);
    // The model of a device, or null; `model<sim::HalModel>()` for a typed one.
    sim::DeviceModel* model(const std::string& path) override;
    template <class Model> Model* model()
    {
        for (auto& d : mDevices) {
            if (auto* m = dynamic_cast<Model*>(d.second.model.get()))
                return m;
        }
        return nullptr;
    }

    // Creates the control socket at `path` (replacing a stale one); false with
    // errno when it cannot. The socket file is removed at destruction.
    bool listen(const std::string& path);
    // Applies every line of a command file; false when it cannot be read.
    bool load(const std::string& path);

    // Readable whenever the simulator has work: a control client, a record
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
    // The driver gives up on the device: it closes its end of every open
    // descriptor of it (journalled "hangup <path>" each), as the last close
    // does. The daemon's end then reads end of file and polls hung up, and a
    // request on it fails as on a descriptor that is none of the board's;
    // later opens of the device succeed. The number of descriptors hung up.
    unsigned hangup(const std::string& path);
    // Requests of that number on the device fail with `error`, `times` times
    // (forever when negative); error 0 removes the rule.
    void fail(const std::string& path, unsigned long request, int error, int times = -1);

    // The board's clock in milliseconds (sim::Host::now); the monotonic clock
    // unless a test gives its own, whose time the test then advances.
    void set_clock(std::function<std::uint64_t()> clock) { mClock = std::move(clock); }

    const std::deque<std::string>& journal() const { return mJournal; }
    void clear_journal() { mJournal.clear(); }

    // The oldest lines are dropped beyond this many.
    static constexpr std::size_t kJournalLimit = sim::kHistoryLimit;

protected:
    int request_word(int fd, unsigned long request, std::uintptr_t arg) override;

private:
    struct Device {
        bool present = false;
        std::unique_ptr<sim::DeviceModel> model;
    };
    // The simulator's end of one handed-out descriptor.
    struct Channel {
        std::string path;
        Device* device = nullptr;
        ino_t inode = 0; // of the daemon's end, shared by all its duplicates
        int handed = -1; // the number the open handed out
        int end = -1;    // the simulator's end, the key of this entry
    };
    struct FailRule {
        int error = 0;
        int times = -1;
    };

    // sim::Host
    bool send(sim::Channel channel, const sim::Bytes& record) override;
    std::vector<sim::Channel> channels(const std::string& path) const override;
    void record(const std::string& line) override;
    std::uint64_t now() const override;

    Device& device(const std::string& path);
    // The channel of a daemon's descriptor, or null when it is none of the board's.
    const Channel* channel_of(int fd) const;
    const Channel*& handed(int fd);
    std::string execute_fail(std::istringstream& in);
    std::string help() const;
    void watch(int fd, unsigned events);
    void on_channel(int fd, unsigned events);
    void drain_channels();
    // Handles what the kernel says is pending on the simulator's end.
    void poll_channel(int fd);
    // Closes the simulator's end; `why` opens the journal line ("close ",
    // "hangup ").
    void drop_channel(int fd, const char* why = "close ");
    // The daemon's descriptor holds about `bytes` that the driver has not
    // taken (Reply::hold).
    static void hold(int fd, std::size_t bytes);
    // Leaves the descriptor's records where they are until `at`.
    void pause(int fd, std::uint64_t at);
    void resume_due();
    void arm_timer();

    std::map<std::string, Device> mDevices;
    std::map<int, Channel> mChannels;
    // The reserved range's first number, and by number from there the
    // channel of each number handed out (null: none).
    int mFirstHanded = 0;
    std::vector<const Channel*> mHanded;
    std::map<std::pair<std::string, unsigned long>, FailRule> mFailures;
    std::deque<std::string> mJournal;
    std::unique_ptr<sim::ControlSocket> mControl;
    int mEpoll = -1;
    // Paused descriptors by the simulator's end, with the time each resumes.
    std::map<int, std::uint64_t> mPaused;
    int mTimer = -1;
    std::function<std::uint64_t()> mClock;
};

// Installs a simulated board when QUELVAD_SIM is set: control socket at its
// value, commands of "<value>.init". Null when the variable is unset or empty.
// A socket that cannot be made is reported on std::cerr; the board still runs.
SimBoard* installSimBoardFromEnvironment();

} // namespace platform
