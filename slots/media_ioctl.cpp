#include "slots/media_ioctl.hpp"

namespace MediaIoctl
{

bool Receive(Hardware::TonecReceiver& tone, Hardware::DSProcReceiver& dsp, LGCP::IoctlParams const& c,
             bool& result)
{
    if (c.echoSuppressor_isSelected())
        result = tone.echoCancel(c.get_echoSuppressor());
    else if (c.dtmf_enable_isSelected())
        result = tone.enableDTMF(c.get_dtmf_enable());
    else if (c.dtmf_reject_enable_isSelected())
        result = tone.enableDTMFReject(c.get_dtmf_reject_enable());
    else if (c.rx_gain_isSelected()) {
        dsp.configureRxGain(char(c.get_rx_gain().get_gainDB().getValue() & 0xFF));
        result = true;
    } else
        return false;
    return true;
}

bool Common(Hardware::TonecReceiver& tone, Hardware::DSProcReceiver& dsp, LGCP::IoctlParams const& c,
            bool& result)
{
    if (c.translateDTMF_isSelected()) {
        tone.translateDTMF(c.get_translateDTMF());
        result = true;
    } else if (c.dtmf_params_isSelected())
        result = tone.configureDTMF(c.get_dtmf_params());
    else if (c.vad_enable_isSelected())
        result = dsp.enableVAD(c.get_vad_enable());
    else if (c.vad_disable_isSelected())
        result = dsp.disableVAD();
    else if (c.vad_params_isSelected())
        result = dsp.configureVAD(c.get_vad_params());
    else if (c.sd_enable_isSelected())
        result = dsp.enableSD(c.get_sd_enable());
    else if (c.sd_disable_isSelected())
        result = dsp.disableSD();
    else if (c.sd_params_isSelected())
        result = dsp.configureSD();
    else if (c.tone_filter_isSelected()) {
        const LGCP::ToneFilter& f = c.get_tone_filter();
        dsp.configureToneFilter(unsigned(f.get_freq().getValue()), f.get_enable() ? 1u : 0u,
                                f.get_duration_th_msec().getValue(), f.get_det_level_dB().getValue());
        result = true;
    } else
        return false;
    return true;
}

} // namespace MediaIoctl
