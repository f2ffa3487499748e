#pragma once
// A digital modem slot ("digital-modem"): PPP over one of the board's
// synchronous HDLC network interfaces "hdlc<N>". The first stream start reads
// the interface's switch channel, switches it to PPP framing and runs the PPP
// daemon on it; the deleted slot takes the interface down and back to raw
// HDLC. Its records on the authentication link use session -1.
#include <string>

#include "slots/modem/modem_slot.hpp"

class HdlcModemSlot : public ModemSlot
{
public:
    HdlcModemSlot(TERM::ModemParams const& params, std::string const& interface, ModemOwner& owner);
    ~HdlcModemSlot() override;

    void IAfterCreate() override {}
    bool IOnOutputStream() override { return initModem(), true; }
    bool IOnInputStream() override { return initModem(), true; }
    int IGetTransmitChannel() override { return mChannel; }
    int IGetReceiveChannel() override { return mChannel; }
    char const* GetName() const override { return "digital-modem"; }
    int modem_id() const override { return -1; }
    void unbind() override;

    void initModem();
    std::string const& deviceName() const { return mInterface; }

private:
    int mChannel = -1;
    std::string mInterface;
};
