#pragma once
// The multi-channel controller driver "/dev/mcc/ctl": one controller channel
// per descriptor, allocated from a pool per channel type, each with its own
// switch channel, carrying whole frames by read and write.
//
// Pools (sizes settable): data (SS7 channels come from it too), BRI,
// transparent. An allocation on a descriptor that already has a channel
// fails with EBUSY, an unknown type with EINVAL, an empty pool with ENOSPC;
// the timeslot request before an allocation fails with EINVAL. Switch
// channels are the lowest free numbers from kFirstChannel on; closing the
// descriptor frees its channel (the switch keeps whatever joins it had).
//
// Frames travel through the switch table of the hal model, as the daemon
// built it: a frame written on a channel goes out on every switch output
// that carries the channel (to another controller channel directly, else it
// is kept as sent on that line); a frame arriving on a line ("mcc frame")
// reaches every controller channel whose switch output carries the line.
// A frame written before an allocation goes nowhere. Every frame written on
// an allocated channel is also kept for the channel ("mcc written"), so a test
// sees what a channel played whether or not it was joined at that moment.
// What a line was sent and what a channel was written are kept until a test
// takes them, the newest kSentLimit frames of each.
//
// A transparent (voice) channel plays what it is given at 8,000 bytes a second
// and takes the next record only while less than one second of it is still
// to be played; until then what the daemon writes waits in the descriptor,
// which holds about one record of kRecord bytes (or a few smaller ones) and
// is then full, so a player that keeps writing waits, as on a board, and has
// handed over its last record only when less than a second and that record
// are left to play.
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

#include "platform/devices.hpp"
#include "platform/sim/device_model.hpp"

namespace platform
{
namespace sim
{

class MccModel : public DeviceModel
{
public:
    static constexpr std::int32_t kFirstChannel = 4096;
    // Frames kept per line (and per channel written on) beyond which the
    // oldest are dropped: a history each, so fewer than kHistoryLimit.
    static constexpr std::size_t kSentLimit = 256;
    // A voice channel's rate, bytes a millisecond, and what it holds still to play.
    static constexpr std::uint64_t kBytesPerMs = 8;
    static constexpr std::uint64_t kHeld = 8000;
    // The largest record a voice channel takes (a phrase player's), and what
    // its descriptor holds beyond kHeld.
    static constexpr std::size_t kRecord = 8192;

    enum Pool { data, bri, transparent, kPools };

    struct Allocation {
        std::int32_t number = -1;
        mcc::Allocate request{};
        // A voice channel's bytes still to play at `playedAt` (board clock).
        std::uint64_t toPlay = 0;
        std::uint64_t playedAt = 0;
    };

    MccModel();

    const char* word() const override { return "mcc"; }
    std::string usage() const override;
    std::string execute(std::istringstream& args) override;
    RequestNames requests() const override;
    std::string decode(unsigned long request, std::uintptr_t arg) const override;
    Reply ioctl(Channel channel, unsigned long request, std::uintptr_t arg) override;
    void close(Channel channel) override;
    void write(Channel channel, const Bytes& frame) override;
    std::uint64_t takes_next_at(Channel channel) const override;

    void set_pool(Pool pool, unsigned size) { mPoolSize[pool] = size; }
    // A frame arriving on a line; the number of channels it reached.
    unsigned receive(std::int32_t line, const Bytes& frame);
    // The frames sent out on a line since the last call, oldest first.
    std::vector<Bytes> take_sent(std::int32_t line);
    // The frames written on a controller channel (by its switch channel) since
    // the last call, whatever the switch did with them; oldest first.
    std::vector<Bytes> take_written(std::int32_t number);
    // The allocations, by switch channel.
    std::map<std::int32_t, Allocation> allocations() const;

private:
    unsigned in_use(Pool pool) const;
    std::string describe() const;

    unsigned mPoolSize[kPools] = {32, 16, 32};
    std::map<Channel, Allocation> mAllocated;
    std::map<std::int32_t, std::deque<Bytes>> mSent;
    std::map<std::int32_t, std::deque<Bytes>> mWritten;
};

} // namespace sim
} // namespace platform
