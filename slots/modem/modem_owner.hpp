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
    // A slot whose PPP daemon has ended (reaped, or killed at the time-out)
    // calls this once, before it handles the end (its abort, or its destroy's
    // answer). What the plugin connections already hold is read now (and
    // those waiting to be accepted are taken), routing their records as they
    // come, so that what the daemon's plugin wrote before its end still
    // reaches the slot; then a waiting accounting record that can be this
    // call's alone is signalled on it, and the call leaves every other.
    virtual void OnPppdEnd(ModemSlot* slot) = 0;
    // Both may be called again for a slot already released; a connection
    // that spoke for the slot speaks for none from then on.
    virtual void ReleaseModemSlot(DspModemSlot* slot) = 0;
    virtual void ReleaseModemSlot(HdlcModemSlot* slot) = 0;
};
