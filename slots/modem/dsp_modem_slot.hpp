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
    // The fax sender's command line, and the receiver's for its file.
    static std::vector<std::string> fax_sender_args(TERM::ModemParams const& params, int modem);
    static std::vector<std::string> fax_receiver_args(int modem, std::string const& file);
    // The fax receiver's file for a time of day, "/var/fax-HH-MM-SS.g3", or,
    // when a running receiver holds that name or a file of that name exists,
    // the same with the first free "-N" before ".g3".
    static std::string fax_receiver_file(std::tm const& now);

private:
    void RunFaxSender();
    // Tells the controller both streams active with the modem's channel.
    void AnnounceStreams();
    // The receiver's file is free for another receiver again.
    void release_fax_file();

    Fd mControl;
    int mChannel = -1;
    int mModem = -1;
    // Holds one byte when the fax program could not be run.
    Fd mExecFailed;
    // The fixed name of the file this slot's running fax receiver writes.
    std::string mFaxFile;
};
