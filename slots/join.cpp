#include "slots/join.hpp"

#include <iostream>

#include "hardware/hw_mux.hpp"
#include "slots/slot.hpp"

bool Connect(Slot& source, Slot& target)
{
    if (target.GetSource() == &source)
        return true;
    if (source.GetOutputs().empty()) {
        if (!source.IOnOutputStream()) {
            std::cerr << "slot " << source << " don't have output stream to " << target << std::endl;
            return false;
        }
        source.OnChangeOutputStream(true);
    }
    Slot* const old = target.GetSource();
    if (!old) {
        if (!target.IOnInputStream()) {
            std::cerr << "slot " << target << " don't have input stream from " << source << std::endl;
            return false;
        }
        target.OnChangeInputStream(true);
    } else {
        // The old hardware link goes first: the target's output must never
        // be driven by two sources at once.
        llDisconnect(target);
    }
    if (!llConnect(source, target)) {
        if (!old)
            target.IOnInputRelease();
        if (source.GetOutputs().empty())
            source.IOnOutputRelease();
        return false;
    }
    if (old) {
        target.LogicalDisconnect();
        if (old->GetOutputs().empty())
            old->IOnOutputRelease();
    }
    target.LogicalConnect(source);
    return true;
}

bool Disconnect(Slot& target)
{
    Slot* const source = target.GetSource();
    if (!source)
        return true;
    const bool done = llDisconnect(target);
    target.LogicalDisconnect();
    target.IOnInputRelease();
    if (source->GetOutputs().empty())
        source->IOnOutputRelease();
    return done;
}

void DisconnectAll(Slot& slot)
{
    Disconnect(slot);
    while (!slot.GetOutputs().empty())
        Disconnect(*slot.GetOutputs().front());
}

void LeaveChannel(Slot& slot, int channel)
{
    // The joins go while the slot still names the channel, so that their
    // detach reaches the switch output it set.
    DisconnectAll(slot);
    HwMux::instance().Disable(channel);
}

bool ChannelHolder::HandedOut(std::list<Slot*> const& slots, int channel, Slot const* to)
{
    if (channel < 0)
        return false;
    for (Slot* slot : slots) {
        auto* holder = dynamic_cast<ChannelHolder*>(slot);
        if (slot == to || !holder || holder->held_channel() != channel)
            continue;
        holder->read_held_channel();
        // A read that failed again has let the channel go already.
        if (holder->held_channel() >= 0)
            holder->let_channel_go();
        return true;
    }
    return false;
}

bool llConnect(Slot& source, Slot& target)
{
    if (source.GetConnectionPriority() > target.GetConnectionPriority())
        return source.IHwConnectTransmitter(target);
    return target.IHwConnectReceiver(source);
}

bool llDisconnect(Slot& target)
{
    Slot* const source = target.GetSource();
    if (!source)
        return false;
    if (target.GetConnectionPriority() > source->GetConnectionPriority())
        return target.IHwDisconnectReceiver(*source);
    return source->IHwDisconnectTransmitter(target);
}

bool MuxConnect(Slot& source, Slot& target)
{
    const int tx = source.IGetTransmitChannel();
    const int rx = target.IGetReceiveChannel();
    if (!HwMux::instance().Connect(tx, rx))
        return false;
    std::clog << "mux: slot " << source << " [" << tx << "] -> " << target << " [" << rx << "]" << std::endl;
    return true;
}

bool MuxDisconnect(Slot& target)
{
    const int rx = target.IGetReceiveChannel();
    if (!HwMux::instance().Disconnect(rx))
        return false;
    std::clog << "mux: disconnect slot " << target << " [" << rx << "]" << std::endl;
    return true;
}
