#pragma once
// What a modem slot needs of the factory that built it, given to the slot at
// creation: the authentication link, which carries the slot's records to the
// plugin connection of their session, and the bookkeeping the slot leaves
// through its unbind(). The slot kinds include this, never the factory.
namespace auth
{
struct attr;
}
class DspModemSlot;
class HdlcModemSlot;

class ModemOwner
{
public:
    virtual ~ModemOwner() = default;
    // Sends a slot's record to the plugin connection of the record's session;
    // false when it could not go.
    virtual bool SendAuth(auth::attr const* record) = 0;
    // Both may be called again for a slot already released.
    virtual void ReleaseModemSlot(DspModemSlot* slot) = 0;
    virtual void ReleaseModemSlot(HdlcModemSlot* slot) = 0;
};
