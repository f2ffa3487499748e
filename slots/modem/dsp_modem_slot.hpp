#pragma once
// A modem slot on one of the board's DSP modems ("dsp-modem"), driven through
// "/dev/mctl". The first stream start allocates a modem and learns its switch
// channel, applies the controller's digital data modes and modem parameters,
// then answers or originates a data call with the PPP daemon on "/dev/mdm<N>",
// or runs a fax sender or receiver.
//
// The driver may take the modem back (the control descriptor hangs up), or
// hand it to another slot's allocation before this slot has heard of that:
// the slot then leaves the modem's channel and its call ends with its abort.
#include "runtime/event.hpp"
#include "slots/modem/modem_slot.hpp"

class DspModemSlot : public ModemSlot
{
public:
    DspModemSlot(TERM::ModemParams const& params, ModemOwner& owner);
    ~DspModemSlot() override;

    void IAfterCreate() override {}
    bool IOnOutputStream() override { return StartStream(); }
    bool IOnInputStream() override { return StartStream(); }
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
    // A stream start: the set-up, which the first one runs; false once the
    // modem is lost, so that no join reaches the channel again.
    bool StartStream();
    // The control descriptor's hang-up: the driver has taken the modem back.
    void OnControlEvent(int fd, short revents);
    // The slot no longer uses its modem, which the driver may give to the
    // next call: it leaves the modem's channel as a stream that lost its
    // channel does (its joins both ways, the switch output), and its call
    // ends as one whose modem failed. `why` is logged.
    void LetGoModem(char const* why);
    // The call failed once the modem was allocated (its answer, originate or
    // daemon's start): its abort has been sent. The slot keeps the modem, but
    // no longer watches its control descriptor, whose hang-up would abort the
    // call again; a modem let go later (handed to another call) leaves its
    // channel without a second abort.
    void CallFailed();
    // The driver has handed `modem` to this slot: a slot that still holds it
    // (its hang-up came in this loop turn, unseen yet) lets it go first.
    void ModemHandedOut(int modem);
    void RunFaxSender();
    // Tells the controller both streams active with the modem's channel.
    void AnnounceStreams();
    // The receiver's file is free for another receiver again.
    void release_fax_file();

    // The slot's own descriptor of "/dev/mctl", which holds its modem: the
    // only one (no duplicate), watched for its hang-up alone.
    Event mControl;
    int mChannel = -1;
    int mModem = -1;
    bool mModemLost = false;
    // Holds one byte when the fax program could not be run.
    Fd mExecFailed;
    // The fixed name of the file this slot's running fax receiver writes.
    std::string mFaxFile;
};
