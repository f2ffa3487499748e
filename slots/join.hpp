#pragma once
// Joining slots: the transmit stream of a source slot goes to the receive
// stream of a target slot. A join has a logical side (source and outputs of
// the slots), a stream side (each slot's hooks start and release its streams
// and report them) and a hardware side (the TDM switch, or a kind's own way of
// joining when its priority is the higher one).
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
// The hardware join and detach, made by the side with the higher priority
// (the receiving side joins and the transmitting side detaches on a tie).
bool llConnect(Slot& source, Slot& target);
bool llDisconnect(Slot& target);
// The default hardware join: through the TDM switch.
bool MuxConnect(Slot& source, Slot& target);
bool MuxDisconnect(Slot& target);
