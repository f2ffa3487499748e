#pragma once
// A modem slot on one of the board's DSP modems ("dsp-modem"), driven through
// "/dev/mctl". The first stream start allocates a modem and learns its switch
// channel, applies the controller's digital data modes and modem parameters,
// then answers or originates a data call with the PPP daemon on "/dev/mdm<N>",
// or runs a fax sender or receiver.
#include "runtime/fd.hpp"
#include "slots/modem/modem_slot.hpp"

class DspModemSlot : public ModemSlot
{
public:
    DspModemSlot(TERM::ModemParams const& params, ModemOwner& owner);
    ~DspModemSlot() override;

    void IAfterCreate() override {}
    bool IOnOutputStream() override { return InitModem(), true; }
    bool IOnInputStream() override { return InitModem(), true; }
    int IGetTransmitChannel() override { return mChannel; }
    int IGetReceiveChannel() override { return mChannel; }
    char const* GetName() const override { return "dsp-modem"; }
    int modem_id() const override { return mModem; }
    void unbind() override;

    void InitModem();
    void RunFaxReceiver();
    void on_fax_terminate(int status);

    // The digital data mode mask of a `ddm` list.
    static int ddm_mask(TERM::ModemParams const& params);
    // The fax sender's command line, and the receiver's for a time of day.
    static std::vector<std::string> fax_sender_args(TERM::ModemParams const& params, int modem);
    static std::vector<std::string> fax_receiver_args(int modem, std::tm const& now);

private:
    void RunFaxSender();
    // Tells the controller both streams active with the modem's channel.
    void AnnounceStreams();

    Fd mControl;
    int mChannel = -1;
    int mModem = -1;
    // Holds one byte when the fax program could not be run.
    Fd mExecFailed;
};
