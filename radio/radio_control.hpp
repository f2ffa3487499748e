#pragma once
// The radio controllers' view of a radio and its conversions to and from the
// TERM radio types that travel to the controller: the LEMZ radio state with
// its status and change requests, and the ED-137 (R2S) state with its header
// and signal-quality extension.
//
// RadioStandby `not_use` (-1) is kept as it stands in both directions; it
// lies outside the range in which aligned PER carries the enumeration, so a
// message holding it is refused whole by the encoder (and logged by its
// sender) rather than sent with another value.
#include <cstdint>
#include <string>

#include "messages/term/TERM.hpp"

namespace RTPSignalling
{

struct LemzRadioFlags {
    int prio = 0;
    bool ptt = false, bss = false, vadRx = false, vadTx = false, sql = false, sh = false, pwr = false,
         rv = false, resv = false;
    unsigned selcall = 0; // 0..3
    unsigned li = 0;      // 0..511

    bool operator==(LemzRadioFlags const& o) const;
    bool operator!=(LemzRadioFlags const& o) const { return !(*this == o); }
};

struct LemzRadioState {
    // The RTP session the radio is reached through.
    std::string sessionAddr;
    std::uint32_t sessionSsrc = 0;

    LemzRadioFlags flags;
    int channel = 0;
    std::string frequency;
    unsigned remoteNo = 0, remoteCh = 0; // 0..255
    TERM::RadioSquelshe::NamedNumber squelshe = TERM::RadioSquelshe::no_config;
    TERM::RadioRTE::NamedNumber rte = TERM::RadioRTE::no_config;
    TERM::RadioStandby::NamedNumber standbyChannel = TERM::RadioStandby::active;
    unsigned standbyGroup = 0; // 0..255
    TERM::RadioStandby::NamedNumber standbyReceiver = TERM::RadioStandby::active;
    // Selective call and transmission: the calling party.
    std::string ip;
    std::uint32_t ssrc = 0;
    std::string cid;
    std::string bssVal;

    bool operator==(LemzRadioState const& o) const;
    bool operator!=(LemzRadioState const& o) const { return !(*this == o); }
};

class LemzRadioControl
{
public:
    // `status` := lemz, every field from the state.
    static void EncodeStatusASN(LemzRadioState const& state, TERM::RtpRadioRequest& request);
    // `request` := lemz with the session address and the one change that
    // leads from `from` to `to` (the first in the order: channel, remote,
    // standby, selective call, transmission, quality, other flags). False,
    // with the request untouched, when the states do not differ.
    static bool EncodeASN(LemzRadioState const& from, LemzRadioState const& to,
                          TERM::RtpRadioRequest& request);
    // Every field of the selected alternative into the state.
    static void DecodeASN(TERM::LemzRadioModifier const& modifier, LemzRadioState& state);
    static void DecodeASN(TERM::LemzRadioStatus const& status, LemzRadioState& state);
};

struct ED137RadioState {
    std::string sessionAddr;
    std::uint32_t sessionSsrc = 0;

    TERM::ED137RadioPTT::NamedNumber ptt = TERM::ED137RadioPTT::ptt_off;
    TERM::ED137RadioSQU::NamedNumber squ = TERM::ED137RadioSQU::squ_off;
    unsigned pttId = 0; // 0..63
    bool pttMute = false, pttSummation = false, sct = false;
    bool sqiValid = false;
    TERM::ED137RadioBSSMethod::NamedNumber bssMethod = TERM::ED137RadioBSSMethod::rssi;
    unsigned bssQuality = 0; // 0..31

    // `params`: tx with the header while the push-to-talk is on, else rx
    // with the header and, when known, the signal quality.
    void EncodeASN(TERM::ED137RadioModifierParams& params) const;
    void DecodeASN(TERM::ED137RadioModifier const& modifier);
    void DecodeASN(TERM::ED137RadioStatus const& status);

    bool operator==(ED137RadioState const& o) const;
    bool operator!=(ED137RadioState const& o) const { return !(*this == o); }
};

class ED137RadioControl
{
public:
    // `status` := ed-137 with header and signal quality, no radio-response.
    static void EncodeStatusASN(ED137RadioState const& state, TERM::RtpRadioRequest& request);
    static void EncodeASN(ED137RadioState const& from, ED137RadioState const& to,
                          TERM::RtpRadioRequest& request);
};

// The session parameters of an ED-137 radio, from the radio's response.
struct ED137RadioParams {
    TERM::ED137RadioType::NamedNumber type = TERM::ED137RadioType::radio_idle;
    TERM::ED137RadioTxRxMode::NamedNumber txrxmode = TERM::ED137RadioTxRxMode::txrx;
    int sigtime = -1;         // -1: not given
    int keepalivePeriod = -1; // ms
    int keepaliveMultiplier = -1;
    bool transmissionDependOnSQU = false;

    // The optional fields keep their values when the response leaves them out.
    void Init(TERM::ED137RadioResponse const& response);
};

} // namespace RTPSignalling
