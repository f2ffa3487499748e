#pragma once
// What a modem slot needs of the factory that built it, given to the slot at
// creation: the authentication link, which carries the slot's records to the
// plugin connection that speaks for the slot, and the bookkeeping the slot
// leaves through its unbind(). The slot kinds include this, never the factory.
namespace auth
{
struct attr;
}
class ModemSlot;
class DspModemSlot;
class HdlcModemSlot;

class ModemOwner
{
public:
    virtual ~ModemOwner() = default;
    // Sends `slot`'s record to the open plugin connection that speaks for the
    // slot (the latest one to do so); false when there is none or the write
    // failed.
    virtual bool SendAuth(ModemSlot const* slot, auth::attr const* record) = 0;
    // Reads now what the plugin connections already hold (and takes those
    // waiting to be accepted), routing their records as they come: a slot
    // whose child has ended calls it before it lets go of the child, so that
    // what the child's plugin wrote before its end still reaches the slot.
    virtual void ReadPendingAuth() = 0;
    // Both may be called again for a slot already released; a connection
    // that spoke for the slot speaks for none from then on.
    virtual void ReleaseModemSlot(DspModemSlot* slot) = 0;
    virtual void ReleaseModemSlot(HdlcModemSlot* slot) = 0;
};
