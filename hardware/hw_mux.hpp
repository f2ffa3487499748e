#pragma once
// The TDM switch: the one object that drives the board's time-division switch
// through "/dev/hal". It joins an input to an output, drives a constant byte
// on an output, disables an output, writes and reads the byte of a channel,
// and remembers what drives each of the 2,048 TDM bus outputs. Slot joining,
// HDLC channels, the bus test and the map, extension, RTP and mixer slots
// use it; it never talks to the controller.
//
// The driver forgets a disabled output's state after a while, so once the
// device is open a deferred call re-disables 128 of the disabled bus outputs
// in every loop pass: the whole bus every 16 passes.
//
// An output whose release the driver refused (the idle byte of `Disconnect`,
// or `Disable`) would keep carrying a source that no slot holds any more, so
// the switch remembers it and asks again in every refresh pass, silently,
// until the driver takes the request or a later request for the output
// replaces it.
#include <cstdint>
#include <map>

#include "runtime/dpc.hpp"
#include "runtime/fd.hpp"

// Switch channel numbers: one number names a point of the switch, its output
// as a destination and its input as a source. RTP, MCC, mixer and modem
// channels are the numbers their drivers return.
namespace SwitchChannel
{
constexpr int e1(int trunk, int timeslot) // trunk 0..3, timeslot 0..31
{
    return 32 * trunk + timeslot;
}
constexpr int bri(int line, int channel) // line 0..7, channel 0..3: trunk 0's numbers
{
    return 4 * line + channel;
}
constexpr int bus(int bus, int timeslot) // bus 0..15, timeslot 0..127
{
    return 8192 + 128 * bus + timeslot;
}
constexpr int extension(int n)
{
    return 8192 + n;
}
constexpr int kBusFirst = 8192;   // the first TDM bus output
constexpr int kBusOutputs = 2048; // 8192..10239
} // namespace SwitchChannel

class HwMux
{
public:
    // What a bus output's source entry holds besides a source channel (every
    // source is a channel >= 0, so no source is ever taken for one of them).
    static constexpr std::int32_t kDisabled = -1; // the output is not driven
    static constexpr std::int32_t kConstant = -2; // a written byte or the idle byte
    static constexpr unsigned char kIdleByte = 0xD5;
    // Bus outputs re-disabled per loop pass.
    static constexpr unsigned kRefreshPerPass = 128;
    // Refused releases asked again per pass, at most.
    static constexpr unsigned kRetriesPerPass = 128;

    // The single switch, created on first use (start-up creates it after the
    // slot factories) and destroyed at exit.
    static HwMux& instance();

    HwMux();
    HwMux(const HwMux&) = delete;
    HwMux& operator=(const HwMux&) = delete;

    // True when the device is open, else tries to open it; the first good
    // open disables every bus output and starts the refresh.
    bool IsOpened();
    // A good Connect or Write of an output drops its refused release; a
    // refused one leaves it to be asked again, since the output still carries
    // what that release was to take off it.
    bool Connect(int source, int destination);
    // Drives the idle byte on the output. Refused, it is asked again in the
    // refresh passes (as is a refused Disable) until the driver takes it.
    bool Disconnect(int destination);
    bool Disable(int channel);
    bool Write(int channel, unsigned char value);
    // The channel's byte; 255 when the switch is closed, the channel negative or the request fails.
    int Read(int channel);
    void Reset() {}
    void OnDPC();

    // The source entry of a bus output 8192..10239: a source channel,
    // kDisabled or kConstant (0 before the first good open); kDisabled for
    // any other channel.
    std::int32_t source(int busOutput) const;

private:
    enum class Release : std::uint8_t { idle, disable };

    void set_source(int destination, std::int32_t value);
    // Issues the release's request once; false (errno set) when refused.
    bool request(int channel, Release kind);
    // After a release's request (error: 0 when the driver took it, else its
    // errno): forgets the output's pending release, or keeps this one in its place.
    void settle(int channel, Release kind, int error);
    void retry_releases();

    Fd mFd;
    std::int32_t mSources[SwitchChannel::kBusOutputs] = {};
    unsigned mCursor = 0;
    // One entry per output whose release waits to be asked again; the next
    // pass's retries start at the first channel not below mRetryFrom.
    std::map<int, Release> mPending;
    int mRetryFrom = 0;
    Dpc mRefresh;
};

// Prints the current call stack (at most 10 frames) to standard output; a
// diagnostic for a developer's debugging session.
void print_trace();
