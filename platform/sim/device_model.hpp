#pragma once
// One simulated driver: the state a board driver keeps for its device (and
// nothing the daemon must compute itself), its requests decoded for the
// journal, and the control commands that let a test or a person set that
// state or make the driver speak. The simulated board (platform/sim_board.hpp)
// routes every open, request, written record and control command of the
// device's path to its model.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace platform
{
namespace sim
{

using Bytes = std::vector<std::uint8_t>;
// The simulator's end of one descriptor handed out to the daemon.
using Channel = int;

// What a request gives back: the result, or -1 with `error` as errno when it
// is not 0. `out` is appended to the journal line (what the driver filled in).
// `hold`, when not 0, is what the descriptor holds from then on of what the
// daemon writes and the driver has not taken yet: about that many bytes (one
// record of that size, or a few smaller ones; a larger record is refused with
// EMSGSIZE); with them waiting, the descriptor is full.
struct Reply {
    int result = 0;
    int error = 0;
    std::string out;
    std::size_t hold = 0;
};

inline Reply failure(int error)
{
    return Reply{-1, error, std::string()};
}

class DeviceModel;

// What a model may ask of the board that holds it.
class Host
{
public:
    virtual ~Host() = default;
    // One record to the daemon's end of the descriptor; false when it is full or gone.
    virtual bool send(Channel channel, const Bytes& record) = 0;
    // The open descriptors of a device, oldest first.
    virtual std::vector<Channel> channels(const std::string& path) const = 0;
    virtual void record(const std::string& line) = 0;
    // Another device's model (a driver that routes through the switch asks the hal's), or null.
    virtual DeviceModel* model(const std::string& path) = 0;
    // The board's clock, in milliseconds: the monotonic clock unless a test gives its own.
    virtual std::uint64_t now() const = 0;
};

class DeviceModel
{
public:
    // The requests a model knows, by the names used in the journal and in `fail`.
    using RequestNames = std::vector<std::pair<const char*, unsigned long>>;

    explicit DeviceModel(std::string path) : mPath(std::move(path)) {}
    virtual ~DeviceModel() = default;
    DeviceModel(const DeviceModel&) = delete;
    DeviceModel& operator=(const DeviceModel&) = delete;

    const std::string& path() const { return mPath; }
    void attach(Host* host) { mHost = host; }

    // The first word of this model's control commands ("" for none), and
    // their usage lines, each ended by a newline.
    virtual const char* word() const { return ""; }
    virtual std::string usage() const { return ""; }
    // The arguments after the word; the answer's lines, the last one "ok" or "error <reason>".
    virtual std::string execute(std::istringstream& args);

    virtual RequestNames requests() const { return {}; }
    // The request's name and its arguments as the daemon passed them ("connect
    // dst=8200 src=33"); "" when the model does not know the request.
    virtual std::string decode(unsigned long request, std::uintptr_t arg) const;
    virtual Reply ioctl(Channel channel, unsigned long request, std::uintptr_t arg);
    // True when the request, asked now, would change nothing: the model counts
    // it, the journal does not show it.
    virtual bool quiet(unsigned long /*request*/, std::uintptr_t /*arg*/) const { return false; }

    // An open of the device: 0 accepts it, an errno refuses it.
    virtual int open(Channel, int /*flags*/) { return 0; }
    // The daemon's last duplicate of the descriptor is closed.
    virtual void close(Channel) {}
    // A record the daemon wrote (already journalled by the board).
    virtual void write(Channel, const Bytes&) {}
    // When the driver takes the next record written on the descriptor, by the
    // board's clock; until then the record waits in the descriptor, which
    // stops being writable once it is full. At or before now: at once.
    virtual std::uint64_t takes_next_at(Channel) const { return 0; }

protected:
    Host& host() { return *mHost; }
    // The record a request's argument word points to.
    template <class Record> static Record* record(std::uintptr_t arg)
    {
        // The word is the address the daemon passed: the model reads its record there.
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        return reinterpret_cast<Record*>(arg);
    }
    // The value a request passes by value.
    static int value(std::uintptr_t arg) { return static_cast<int>(static_cast<std::intptr_t>(arg)); }

private:
    std::string mPath;
    Host* mHost = nullptr;
};

// The most entries a history of the board or of a model holds (the journal,
// a driver's record of the requests it saw): beyond it, the oldest are dropped.
constexpr std::size_t kHistoryLimit = 4096;

// Appends an entry to a history, dropping its oldest entries beyond `limit`.
template <class Entry>
void appendToHistory(std::deque<Entry>& history, Entry entry, std::size_t limit = kHistoryLimit)
{
    history.push_back(std::move(entry));
    while (history.size() > limit)
        history.pop_front();
}

// Texts shared by the models and the board.
std::string errnoName(int error);                       // "ENODEV", or the number
bool parseErrno(const std::string& text, int& error);   // "ENODEV", "EIO", a number
bool parseNumber(const std::string& text, long& value); // decimal or 0x hexadecimal
std::string hexByte(unsigned value);                    // "0xD5"

} // namespace sim
} // namespace platform
