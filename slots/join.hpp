#pragma once
// Joining slots: the transmit stream of a source slot goes to the receive
// stream of a target slot. A join has a logical side (source and outputs of
// the slots), a stream side (each slot's hooks start and release its streams
// and report them) and a hardware side (the TDM switch, or a kind's own way of
// joining when its priority is the higher one).
#include <list>

class Slot;

// Makes `source` feed `target`.
bool Connect(Slot& source, Slot& target);
// Detaches the receive side of `target`; a slot without a source counts as
// detached. The logical detach is done even when the hardware refused.
bool Disconnect(Slot& target);
// Detaches the slot both ways: its own receive side and the receive side of
// every slot its output feeds.
void DisconnectAll(Slot& slot);
// A channel the driver took back from the slot, to hand it to its next user:
// the slot's joins go both ways and the channel's switch output is switched
// off, so that nothing the slot was part of reaches that user.
void LeaveChannel(Slot& slot, int channel);

// A slot whose channel the driver takes back (a hang-up, a failure) and then
// hands to its next user, which may come in the same loop turn as the
// hang-up, before the slot has heard of it, or to a slot that never watches
// its channel.
class ChannelHolder
{
public:
    // The channel the slot holds; -1 once it has let it go.
    virtual int held_channel() const = 0;
    // Reads what the channel still holds, as its hang-up would: what the
    // driver queued before it took the channel back still reaches the
    // controller. The read may let the channel go itself (a read that fails
    // again). Nothing to read by default.
    virtual void read_held_channel() {}
    // Lets the channel go: the slot's joins both ways and the channel's
    // switch output go (LeaveChannel), its descriptors of the channel close
    // and what ran on the channel ends as when its channel fails; from then
    // on held_channel() is -1, its joins are refused and its destroy touches
    // nothing of the channel.
    virtual void let_channel_go() = 0;

    // The driver has handed `channel` to a new user (`to`, or null for a
    // slot not made yet). It hands out only a channel it has taken back, so
    // a slot among `slots` other than `to` that still holds it reads it and
    // lets it go now, before the new user's slot uses it. One slot holds a
    // channel at most: true when one did.
    static bool HandedOut(std::list<Slot*> const& slots, int channel, Slot const* to);

protected:
    ~ChannelHolder() = default;
};
// The hardware join and detach, made by the side with the higher priority
// (the receiving side joins and the transmitting side detaches on a tie).
bool llConnect(Slot& source, Slot& target);
bool llDisconnect(Slot& target);
// The default hardware join: through the TDM switch.
bool MuxConnect(Slot& source, Slot& target);
bool MuxDisconnect(Slot& target);
