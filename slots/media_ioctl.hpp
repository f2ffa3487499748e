#pragma once
// The ioctl rows that media slots with a tone receiver and a DSP receiver on
// their channel answer alike (RTP streams and the mixer channels), so that a
// row means the same on every kind that takes it. Each function returns true
// when the command is one of its rows, with the row's answer in `result`;
// false leaves the command to the caller's own rows.
#include "hardware/dsp.hpp"
#include "hardware/tone.hpp"
#include "messages/lgcp/LGCP.hpp"

namespace MediaIoctl
{

// The detection rows of a channel the slot receives: echoSuppressor,
// dtmf-enable, dtmf-reject-enable and rx-gain.
bool Receive(Hardware::TonecReceiver& tone, Hardware::DSProcReceiver& dsp, LGCP::IoctlParams const& c,
             bool& result);

// The rows every media channel takes: translateDTMF, dtmf-params,
// vad-enable, vad-disable, vad-params, sd-enable, sd-disable, sd-params and
// tone-filter.
bool Common(Hardware::TonecReceiver& tone, Hardware::DSProcReceiver& dsp, LGCP::IoctlParams const& c,
            bool& result);

} // namespace MediaIoctl
