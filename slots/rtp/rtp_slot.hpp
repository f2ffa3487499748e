#pragma once
// One RTP media stream. The board's RTP driver packs and unpacks the media
// between a switch channel and the network; the slot owns one driver session
// ("/dev/rtp") with one channel, which is the channel other slots are joined
// to, drives the tone and DSP functions of that channel, turns the driver's
// event records into controller signals, and sends RTCP source-description
// and goodbye packets from a UDP socket bound to the RTP port + 1.
//
// Built by RtpFactory (slots/rtp_factory.hpp). The radio slots derive from it:
// they override IAfterCreate, IBeforeDestroy, Ioctl and GetName, call this
// class's versions from theirs, and drive the protected members themselves.
#include <netinet/in.h>

#include "hardware/dsp.hpp"
#include "hardware/tone.hpp"
#include "platform/devices.hpp"
#include "runtime/event.hpp"
#include "runtime/fd.hpp"
#include "slots/join.hpp"
#include "slots/rtp/rtcp.hpp"
#include "slots/slot.hpp"

class RtpSlot : public Slot,
                public ChannelHolder,
                private Hardware::TonecReceiver,
                private Hardware::DSProcReceiver
{
public:
    using rtp_connection_params = platform::rtp::rtp_connection_params;

    // The SDES items every stream announces.
    static const char kCname[];
    static const char kEmail[];
    static const char kPhone[];
    static const char kByeReason[]; // "session end"

    // Keeps its own duplicate of the session's descriptor, and the read event
    // another; device_open() is false, or the event is not armed, when the
    // process had no descriptor left for them (errno says why).
    RtpSlot(int channel, Fd const& device, rtp_connection_params const& params);
    ~RtpSlot() override;

    // Keeps its own duplicate of the bound RTCP socket (none when the process
    // had no descriptor left) and announces the stream's source description.
    void startRTPC(Fd& rtcpSocket, sockaddr_in const& peer);
    void send(RTPC::Msg const& message);
    void OnRtpEvent(int fd, short revents);
    bool enablePD(LGCP::PDParams const& pd);
    bool disablePD();
    // A new driver session with the current `params` and the channel, asked
    // again for what the slot had asked of the old one: its input, when
    // started, and the PD event with its timeout, when set.
    bool restart();
    int translate_payload(LGCP::CodecMode const& mode) const;
    void setTransmissionDependOnSQU(bool on) { transmissionDependOnSQU = on; }

    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool Ioctl(LGCP::IoctlParams const& c) override;
    bool IOnOutputStream() override { return channel >= 0; }
    bool IOnInputStream() override;
    void IOnOutputRelease() override {}
    void IOnInputRelease() override;
    int IGetTransmitChannel() override { return channel; }
    int IGetReceiveChannel() override { return channel; }
    char const* GetName() const override { return "rtp"; }

    // The stream's state, for its factory and for tests.
    int get_channel() const { return channel; }

    // The driver has handed the channel to a new session (a create's, or
    // another stream's restart) before this stream heard of its session's
    // hang-up (both came in this loop turn): the records the session queued
    // become signals, then the stream lets the channel go as at the hang-up.
    int held_channel() const override { return channel; }
    void read_held_channel() override { readRtpEvents(); }
    void let_channel_go() override { session_lost(); }
    rtp_connection_params const& get_params() const { return params; }
    bool is_input_started() const { return inputStarted; }
    bool device_open() const { return device.is_valid(); }

protected:
    // Writes "rtp[<channel>]: ".
    std::ostream& header(std::ostream& os) const;
    // Turns the session's queued event records into signals until none is
    // left. A read that fails ends the pass; failing again in the next pass
    // (no good read between), it lets the session and its channel go.
    void readRtpEvents();
    // A codec change of the receive or transmit payload type.
    bool change_codec(LGCP::IoctlParams const& c, LGCP::CodecMode const& mode,
                      std::uint16_t rtp_connection_params::*field);
    // After a failed restart, a hang-up or reads that fail in two passes in a
    // row: the driver has freed the channel with the session and may give it
    // to the next stream, so the slot drops the session (descriptor and
    // watch) and leaves the channel (joins both ways, switch output, tone and
    // DSP functions), takes no channel request from then on, and its destroy
    // touches neither.
    void release_channel();
    // The session hung up or failed: logged, and the channel let go.
    void session_lost();

    // -1 once the slot has given the channel back.
    int channel;
    Fd device;
    Event deviceEvent;
    rtp_connection_params params;
    sockaddr_in rtcpPeer{};
    Fd rtcpSocket;
    int initialPayload;
    bool inputStarted = false;
    bool transmissionDependOnSQU = false;
    // The session has the PD event, set with this timeout.
    bool pdEnabled = false;
    int pdTimeout = 0;
    // The last read of the session failed (the pass before this one); a
    // new session starts afresh.
    bool readFailed = false;

private:
    // The start-input and set-event requests on the current session; false
    // when the driver refused them.
    bool startInput();
    bool setPdEvent(int timeout);

    // The factory switches the echo canceller on at creation.
    friend class RtpFactory;

    void tonec_event(Hardware::TonecReceiver::Params const& p) override { processTonecEvent(p); }
    unsigned tonec_timeslot() const override { return unsigned(channel); }
    void dsproc_vad_event(Hardware::DSProcVADEvent const& e) override { processVADEvent(e); }
    void dsproc_bss_event(struct dsproc_bss_event const* e) override { processBSSEvent(e); }
    void dsproc_sd_event(Hardware::DSProcSDEvent const& e) override { processSDEvent(e); }
    void dsproc_tone_flt_event(struct dsproc_tone_event const* e) override { processToneFltEvent(e); }
    void dsproc_flags_event(struct dsproc_flags_event const* e) override { processFlagsEvent(e); }
    unsigned dsproc_timeslot() const override { return unsigned(channel); }
};

// The text of an RTP stream error code; an unlisted code is formatted into
// one static buffer that the next such call overwrites.
const char* RTPStrError(unsigned code);
