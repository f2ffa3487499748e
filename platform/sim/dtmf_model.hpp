#pragma once
// The tone driver "/dev/dtmf": per timeslot the DTMF detector (on or off and
// the id it was enabled with), DTMF rejection, the echo canceller, the IVA
// detector and the detector settings; and the tone generator's history, each
// request with the time it arrived: the newest kHistoryLimit requests of all
// timeslots together (a wait tone turned on and off keeps adding to it).
//
// Control commands:
//   dtmf digit <ts> <code> [id=<n>] [stamp=<n>]  one event record to every open
//        descriptor; the id defaults to the timeslot's last detector enable (0 before any)
//   dtmf gen <ts>    the generator history of the timeslot, one line per request
//        kept: "<ms> <f1> <f2> <a1> <a2>" or "<ms> selcal <amp> <signs>", ms counted
//        from the first request the driver saw (dropped from the history or not)
//   dtmf get <ts>    "detector on id=3 reject off lms on iva off"
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <vector>

#include "platform/sim/device_model.hpp"

namespace platform
{
namespace sim
{

class DtmfModel : public DeviceModel
{
public:
    struct Timeslot {
        bool detector = false;
        std::uint32_t id = 0;
        bool reject = false;
        bool lms = false;
        bool iva = false;
    };
    struct Generated {
        std::uint64_t ms;
        std::uint32_t timeslot;
        std::string text; // "<f1> <f2> <a1> <a2>" or "selcal <amp> <signs>"
    };

    DtmfModel();

    const char* word() const override { return "dtmf"; }
    std::string usage() const override;
    std::string execute(std::istringstream& args) override;
    RequestNames requests() const override;
    std::string decode(unsigned long request, std::uintptr_t arg) const override;
    Reply ioctl(Channel channel, unsigned long request, std::uintptr_t arg) override;

    Timeslot timeslot(std::uint32_t ts) const;
    // The generator requests of a timeslot that the history keeps, oldest first.
    std::vector<Generated> generated(std::uint32_t ts) const;
    // Where the time stamps of the generator history come from (milliseconds);
    // the monotonic clock unless a test gives its own.
    void set_clock(std::function<std::uint64_t()> clock) { mClock = std::move(clock); }
    // One event record to every open descriptor; the number reached.
    unsigned digit(std::uint32_t ts, std::int32_t code, std::uint32_t id, std::uint32_t stamp);

private:
    // One generator request into the history, at the clock's time.
    void generate(std::uint32_t ts, std::string text);

    std::map<std::uint32_t, Timeslot> mTimeslots;
    std::deque<Generated> mGenerated;
    // The time of the first generator request, which "dtmf gen" counts from.
    std::uint64_t mFirstGenerated = 0;
    std::function<std::uint64_t()> mClock;
};

// "key=value" words after a command's fixed arguments: false on a word that
// is not one of `keys` or not a number.
bool parseOptions(std::istringstream& args, std::map<std::string, long>& options);

} // namespace sim
} // namespace platform
