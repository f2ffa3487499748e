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
#include "slots/slot.hpp"

class MccSlot : public Slot
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

private:
    Fd mFd; // writes go here; the read event holds a duplicate
    int mChannel;
    Event mEvent;
    bool mReadFailed = false; // the last read of the channel failed
};

class MccFactory : public SlotFactory
{
public:
    static MccFactory& instance();

    char const* GetName() const override { return "MCC"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    // The driver handed `channel` to a new user (an MCC channel, a player, a
    // recorder or a T.38 soft slot): an MCC slot that still holds it lets it
    // go first. Its hang-up came in the same loop turn as the new user's
    // allocation, so the loop has not delivered it yet. Nothing to do (and
    // no factory built) while no MCC slot was ever made.
    static void ChannelHandedOut(int channel);
    void Query(LGCP::Resources& resources) override;
    std::ostream& PutHeader(std::ostream& os) const { return os << "mcc: "; }
};
