#pragma once
// The root of every channel endpoint that the controller addresses by a slot
// number. A slot has a transmit side (its output stream, feeding any number of
// other slots) and a receive side (its input stream, fed by at most one
// source). The base keeps the number, the join bookkeeping, the stream flags
// and the release state; each kind overrides the hooks it needs. A slot's
// events reach the controller as LGCP signals through the slot manager.
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "hardware/dsp.hpp"
#include "hardware/tone.hpp"
#include "messages/lgcp/LGCP.hpp"

class SlotFactory;

class Slot
{
public:
    // The number of a slot not yet entered in the manager's table.
    static constexpr unsigned kUnassigned = 0xFFFFFFFFu;

    Slot() = default;
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    // Frees only the bookkeeping: the manager disconnects before it deletes.
    virtual ~Slot() = default;

    virtual int GetTrunk() { return -1; }
    virtual int GetTrunkTimeSlot() { return -1; }
    virtual void OnTrunkStatus(unsigned, ACP::TrunkState::NamedNumber const&) {}
    // Runs after the create command was answered.
    virtual void IAfterCreate() {}
    // False defers the end of the destroy until the slot calls on_release().
    virtual bool IBeforeDestroy() { return true; }
    virtual bool IActivate(TERM::TermActivateParams const&) { return false; }
    virtual bool IDeactivate() { return false; }
    virtual bool IUserData(std::vector<char> const&) { return false; }
    virtual bool Ioctl(LGCP::IoctlParams const&) { return false; }
    // The side with the higher priority makes and breaks the hardware join.
    virtual int GetConnectionPriority() { return 0; }
    virtual bool IHwConnectTransmitter(Slot& receiver);
    virtual bool IHwConnectReceiver(Slot& transmitter);
    virtual bool IHwDisconnectTransmitter(Slot& receiver);
    virtual bool IHwDisconnectReceiver(Slot& transmitter);
    virtual bool IOnOutputStream() { return false; }
    virtual bool IOnInputStream() { return false; }
    virtual void IOnOutputRelease() {}
    virtual void IOnInputRelease() {}
    virtual int IGetTransmitChannel() { return -1; }
    virtual int IGetReceiveChannel() { return -1; }
    virtual char const* GetName() const = 0;

    unsigned GetId() const { return mId; }
    SlotFactory* GetSlotFactory() const { return mFactory; }
    bool GetInputStream() const { return mInputStream; }
    bool GetOutputStream() const { return mOutputStream; }
    bool is_releasing() const { return mReleasing; }
    Slot* GetSource() const { return mSource; }
    // Ordered by address, free of duplicates.
    std::vector<Slot*> const& GetOutputs() const { return mOutputs; }

    int GetTransmitChannel() { return IGetTransmitChannel(); }
    int GetReceiveChannel() { return IGetReceiveChannel(); }

    // "07:trunk", "i1024:trunk", "na:trunk".
    void Put(std::ostream& os) const;

    void SendSignal(LGCP::Signal const& signal);
    void OnTonecEvent(LGCP::TonecEvent const& event);
    void OnNumber(std::string const& number);
    void OnModem(TERM::ModemProceeding const& record);
    void OnModem(TERM::ModemInformation const& record);
    void OnActivated();
    void OnDeactivated();
    void OnAbort(int code);
    void OnUserData(std::vector<char> const& data);
    void OnChangeInputStream(bool active);
    void OnChangeOutputStream(bool active);
    void OnIoctlResponse(LGCP::IoctlResponse const& response);
    void OnRtpRadioEvent(TERM::RtpRadioRequest const& request);
    void OnVADEvent(LGCP::VADEvent const& event);
    void OnProtoLemzEvent(LEMZGW::ProtoLemzPackets const& packets);
    void OnSDEvent(LGCP::SDEvent const& event);
    void OnRtpEvent(LGCP::RtpEvent const& event);

    // The event decoders of media slots (slots/events.cpp): each turns one
    // record of the tone service, the DSP service or the RTP driver into the
    // controller's signal, or logs why it cannot.
    void processTonecEvent(Hardware::TonecReceiver::Params const& params);
    void processToneGenEvent();
    void processVADEvent(Hardware::DSProcVADEvent const& event);
    void processToneFltEvent(dsproc_tone_event const* event);
    void processFlagsEvent(dsproc_flags_event const* event);
    void processBSSEvent(dsproc_bss_event const* event);
    void processSDEvent(Hardware::DSProcSDEvent const& event);
    void processRtpEvent(platform::rtp::rtp_event const& event);

    void LogicalConnect(Slot& source);
    void LogicalDisconnect();

    bool BeforeDestroy();
    // A kind whose release was pending reports here that it has finished;
    // the slot is deleted, so the caller must not touch it afterwards.
    void on_release();

private:
    friend class Slots;
    friend class SlotFactory;
    // Tests give numbers that the manager never hands out (1024 and above).
    friend struct SlotTestAccess;

    unsigned mId = kUnassigned;
    std::vector<Slot*> mOutputs;
    Slot* mSource = nullptr;
    SlotFactory* mFactory = nullptr;
    bool mInputStream = false;
    bool mOutputStream = false;
    bool mReleasing = false;
    // The seq of a destroy whose answer waits for on_release() (none when
    // the destroy carried none).
    bool mDestroyPending = false;
    std::optional<unsigned> mDestroySeq;
};

std::ostream& operator<<(std::ostream& os, Slot const& slot);
