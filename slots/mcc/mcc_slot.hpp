#pragma once
// Data channels of the multi-channel controller ("/dev/mcc/ctl"): a data, BRI,
// SS7 or transparent channel that joins other slots through the TDM switch.
// Every read of the channel goes to the controller as one `userData` signal;
// every `userData` command is one write to the channel. The factory also
// reports the controller's channel counts.
#include <ostream>
#include <vector>

#include "runtime/event.hpp"
#include "runtime/fd.hpp"
#include "slots/factory.hpp"
#include "slots/join.hpp"
#include "slots/slot.hpp"

class MccSlot : public Slot, public ChannelHolder
{
public:
    // Takes a descriptor on which the allocation succeeded and keeps two
    // duplicates of it, one for writes and one for the read event.
    explicit MccSlot(Fd const& fd);
    // False when the process had no descriptor left for a duplicate (errno
    // says why): such a slot holds no channel and is only fit to be deleted.
    bool holds_channel() const { return mFd.is_valid() && mEvent.IsActive(); }

    bool IUserData(std::vector<char> const& data) override;
    bool IOnOutputStream() override { return mChannel >= 0; }
    bool IOnInputStream() override { return mChannel >= 0; }
    int IGetTransmitChannel() override { return mChannel; }
    int IGetReceiveChannel() override { return mChannel; }
    char const* GetName() const override { return "MCC"; }

    // Reads what the channel holds, then lets the channel go when it hung up
    // or failed (logged once).
    void OnEvent(int fd, short revents);
    // A read that fails ends the pass with a line; failing again in the next
    // pass, it lets the channel go as a hang-up does.
    void DoRead();
    // The driver has freed the channel (a hang-up, reads that fail in two
    // passes in a row, or the channel handed to another user) and may give
    // it to the next user: the slot closes its descriptors and leaves the
    // channel (its joins both ways, its switch output). It takes no join and
    // no user data from then on, and its destroy touches nothing of the
    // channel. Logged once.
    void LetGoChannel();
    // -1 once the slot has let the channel go.
    int get_channel() const { return mChannel; }

    // The channel handed to a new user before the slot heard of its hang-up:
    // the frames it still holds are read first, as at the hang-up.
    int held_channel() const override { return mChannel; }
    void read_held_channel() override { DoRead(); }
    void let_channel_go() override { LetGoChannel(); }

private:
    Fd mFd; // writes go here; the read event holds a duplicate
    int mChannel;
    Event mEvent;
    bool mReadFailed = false; // the last read of the channel failed
};

// The factories whose slots take their channels from the controller's pool
// ("/dev/mcc/ctl"): data channels, voice players and recorders, T.38 soft
// slots.
class MccPoolFactory : public SlotFactory
{
public:
    // The driver handed `channel` of the pool to a new user (a slot of any
    // of these factories, not made yet): a slot of theirs that still holds it
    // (its hang-up came in the same loop turn as the new user's allocation,
    // or it never watches its channel) reads it and lets it go first.
    static void ChannelHandedOut(int channel);
};

class MccFactory : public MccPoolFactory
{
public:
    static MccFactory& instance();

    char const* GetName() const override { return "MCC"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources& resources) override;
    std::ostream& PutHeader(std::ostream& os) const { return os << "mcc: "; }
};
