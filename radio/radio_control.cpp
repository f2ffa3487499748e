#include "radio/radio_control.hpp"

#include <tuple>

namespace RTPSignalling
{

namespace
{

using Params = TERM::LemzRadioModifierParams;

std::string text(ASN1::IA5String const& s)
{
    return static_cast<std::string const&>(s);
}

void put(LemzRadioFlags const& f, TERM::RadioFlags& out)
{
    out.set_prio(f.prio);
    out.set_ptt(f.ptt);
    out.set_bss(f.bss);
    out.set_vad_rx(f.vadRx);
    out.set_vad_tx(f.vadTx);
    out.set_sql(f.sql);
    out.set_sh(f.sh);
    out.set_pwr(f.pwr);
    out.set_rv(f.rv);
    out.set_resv(f.resv);
    out.set_selcall(f.selcall);
    out.set_li(f.li);
}

void get(TERM::RadioFlags const& in, LemzRadioFlags& f)
{
    f.prio = in.get_prio().getValue();
    f.ptt = in.get_ptt();
    f.bss = in.get_bss();
    f.vadRx = in.get_vad_rx();
    f.vadTx = in.get_vad_tx();
    f.sql = in.get_sql();
    f.sh = in.get_sh();
    f.pwr = in.get_pwr();
    f.rv = in.get_rv();
    f.resv = in.get_resv();
    f.selcall = in.get_selcall().getValue();
    f.li = in.get_li().getValue();
}

void put(LemzRadioState const& s, TERM::RadioFrequency& out)
{
    out.set_channel(s.channel);
    out.set_frequency(s.frequency);
}

void get(TERM::RadioFrequency const& in, LemzRadioState& s)
{
    s.channel = in.get_channel().getValue();
    s.frequency = text(in.get_frequency());
}

void put(LemzRadioState const& s, TERM::RadioRemote& out)
{
    out.set_no(s.remoteNo);
    out.set_ch(s.remoteCh);
}

void get(TERM::RadioRemote const& in, LemzRadioState& s)
{
    s.remoteNo = in.get_no().getValue();
    s.remoteCh = in.get_ch().getValue();
}

// The fields shared by the selective-call and transmission commands.
template <class T> void put_call(LemzRadioState const& s, T& out)
{
    put(s.flags, out.set_flags());
    out.set_ip(s.ip);
    out.set_ssrc(s.ssrc);
}

template <class T> void get_call(T const& in, LemzRadioState& s)
{
    get(in.get_flags(), s.flags);
    s.ip = text(in.get_ip());
    s.ssrc = in.get_ssrc().getValue();
}

void put(ED137RadioState const& s, TERM::ED137RadioHeader& h)
{
    h.set_ptt(s.ptt);
    h.set_squ(s.squ);
    h.set_ptt_id(s.pttId);
    h.set_ptt_mute(s.pttMute);
    h.set_ptt_summation(s.pttSummation);
    h.set_sct(s.sct);
}

void get(TERM::ED137RadioHeader const& h, ED137RadioState& s)
{
    s.ptt = h.get_ptt();
    s.squ = h.get_squ();
    s.pttId = h.get_ptt_id().getValue();
    s.pttMute = h.get_ptt_mute();
    s.pttSummation = h.get_ptt_summation();
    s.sct = h.get_sct();
}

void put(ED137RadioState const& s, TERM::ED137RadioExtensionSQI& q)
{
    q.set_bss_method(s.bssMethod);
    q.set_bss_quality(s.bssQuality);
}

void get(TERM::ED137RadioExtensionSQI const& q, ED137RadioState& s)
{
    s.sqiValid = true;
    s.bssMethod = q.get_bss_method();
    s.bssQuality = q.get_bss_quality().getValue();
}

void get(TERM::RadioModifierAddr const& a, std::string& addr, std::uint32_t& ssrc)
{
    addr = text(a.get_session_addr());
    ssrc = a.get_session_ssrc().getValue();
}

} // namespace

bool LemzRadioFlags::operator==(LemzRadioFlags const& o) const
{
    return std::tie(prio, ptt, bss, vadRx, vadTx, sql, sh, pwr, rv, resv, selcall, li) ==
           std::tie(o.prio, o.ptt, o.bss, o.vadRx, o.vadTx, o.sql, o.sh, o.pwr, o.rv, o.resv, o.selcall,
                    o.li);
}

bool LemzRadioState::operator==(LemzRadioState const& o) const
{
    return std::tie(sessionAddr, sessionSsrc, flags, channel, frequency, remoteNo, remoteCh, squelshe, rte,
                    standbyChannel, standbyGroup, standbyReceiver, ip, ssrc, cid,
                    bssVal) == std::tie(o.sessionAddr, o.sessionSsrc, o.flags, o.channel, o.frequency,
                                        o.remoteNo, o.remoteCh, o.squelshe, o.rte, o.standbyChannel,
                                        o.standbyGroup, o.standbyReceiver, o.ip, o.ssrc, o.cid, o.bssVal);
}

void LemzRadioControl::EncodeStatusASN(LemzRadioState const& state, TERM::RtpRadioRequest& request)
{
    TERM::LemzRadioStatus& status = request.set_status().select_lemz();
    put(state.flags, status.set_flags());
    put(state, status.set_freq());
    put(state, status.set_remote());
    status.set_squelshe(state.squelshe);
    status.set_rte(state.rte);
    status.set_standby_state_channel(state.standbyChannel);
    status.set_standby_group(state.standbyGroup);
    status.set_standby_state_receiver(state.standbyReceiver);
}

bool LemzRadioControl::EncodeASN(LemzRadioState const& from, LemzRadioState const& to,
                                 TERM::RtpRadioRequest& request)
{
    Params params;
    if (from.channel != to.channel || from.frequency != to.frequency || from.squelshe != to.squelshe ||
        from.rte != to.rte) {
        TERM::RadioCommandWMChan c;
        put(to, c.set_freq());
        c.set_squelshe(to.squelshe);
        c.set_rte(to.rte);
        params = Params(Params::wm_chan::value, c);
    } else if (from.remoteNo != to.remoteNo || from.remoteCh != to.remoteCh) {
        TERM::RadioCommandWMRemote c;
        put(to, c.set_remote());
        params = Params(Params::wm_remote::value, c);
    } else if (from.standbyChannel != to.standbyChannel || from.standbyGroup != to.standbyGroup ||
               from.standbyReceiver != to.standbyReceiver) {
        TERM::RadioCommandWMStandby c;
        c.set_state_channel(to.standbyChannel);
        c.set_group(to.standbyGroup);
        c.set_state_receiver(to.standbyReceiver);
        params = Params(Params::wm_standby::value, c);
    } else if (from.flags.selcall != to.flags.selcall || from.cid != to.cid) {
        TERM::RadioCommandWMSelCall c;
        put_call(to, c);
        c.set_cid(to.cid);
        params = Params(Params::wm_selcall::value, c);
    } else if (from.flags.ptt != to.flags.ptt || from.ip != to.ip || from.ssrc != to.ssrc) {
        TERM::RadioCommandWMTrans c;
        put_call(to, c);
        params = Params(Params::wm_trans::value, c);
    } else if (from.bssVal != to.bssVal) {
        TERM::RadioCommandWMQuality c;
        c.set_bss_val(to.bssVal);
        params = Params(Params::wm_quality::value, c);
    } else if (from.flags != to.flags) {
        TERM::RadioCommandWMFlags c;
        put(to.flags, c.set_flags());
        params = Params(Params::wm_flags::value, c);
    } else {
        return false;
    }
    TERM::LemzRadioModifier& modifier = request.set_request().select_lemz();
    modifier.set_addr().set_session_addr(to.sessionAddr);
    modifier.set_addr().set_session_ssrc(to.sessionSsrc);
    modifier.set_params(params);
    return true;
}

void LemzRadioControl::DecodeASN(TERM::LemzRadioModifier const& modifier, LemzRadioState& s)
{
    get(modifier.get_addr(), s.sessionAddr, s.sessionSsrc);
    Params const& p = modifier.get_params();
    if (p.gw_set_flags_isSelected())
        get(p.get_gw_set_flags().get_flags(), s.flags);
    else if (p.gw_set_ptt_isSelected())
        get(p.get_gw_set_ptt().get_flags(), s.flags);
    else if (p.gw_set_bss_isSelected())
        get(p.get_gw_set_bss().get_flags(), s.flags);
    else if (p.gw_set_sh_isSelected())
        get(p.get_gw_set_sh().get_flags(), s.flags);
    else if (p.gw_set_pwr_isSelected())
        get(p.get_gw_set_pwr().get_flags(), s.flags);
    else if (p.gw_set_rv_isSelected())
        get(p.get_gw_set_rv().get_flags(), s.flags);
    else if (p.gw_set_resv_isSelected())
        get(p.get_gw_set_resv().get_flags(), s.flags);
    else if (p.gw_set_freq_isSelected())
        get(p.get_gw_set_freq().get_freq(), s);
    else if (p.gw_set_selcall_isSelected()) {
        get_call(p.get_gw_set_selcall(), s);
        s.cid = text(p.get_gw_set_selcall().get_cid());
    } else if (p.gw_set_remote_isSelected())
        get(p.get_gw_set_remote().get_remote(), s);
    else if (p.gw_set_squelshe_isSelected())
        s.squelshe = p.get_gw_set_squelshe().get_squelshe();
    else if (p.gw_set_rte_isSelected())
        s.rte = p.get_gw_set_rte().get_rte();
    else if (p.gw_set_standby_isSelected())
        s.standbyChannel = p.get_gw_set_standby().get_state();
    else if (p.wm_flags_isSelected())
        get(p.get_wm_flags().get_flags(), s.flags);
    else if (p.wm_trans_isSelected())
        get_call(p.get_wm_trans(), s);
    else if (p.wm_quality_isSelected())
        s.bssVal = text(p.get_wm_quality().get_bss_val());
    else if (p.wm_chan_isSelected()) {
        get(p.get_wm_chan().get_freq(), s);
        s.squelshe = p.get_wm_chan().get_squelshe();
        s.rte = p.get_wm_chan().get_rte();
    } else if (p.wm_selcall_isSelected()) {
        get_call(p.get_wm_selcall(), s);
        s.cid = text(p.get_wm_selcall().get_cid());
    } else if (p.wm_remote_isSelected())
        get(p.get_wm_remote().get_remote(), s);
    else if (p.wm_standby_isSelected()) {
        s.standbyChannel = p.get_wm_standby().get_state_channel();
        s.standbyGroup = p.get_wm_standby().get_group().getValue();
        s.standbyReceiver = p.get_wm_standby().get_state_receiver();
    }
}

void LemzRadioControl::DecodeASN(TERM::LemzRadioStatus const& status, LemzRadioState& s)
{
    get(status.get_flags(), s.flags);
    get(status.get_freq(), s);
    get(status.get_remote(), s);
    s.squelshe = status.get_squelshe();
    s.rte = status.get_rte();
    s.standbyChannel = status.get_standby_state_channel();
    s.standbyGroup = status.get_standby_group().getValue();
    s.standbyReceiver = status.get_standby_state_receiver();
}

bool ED137RadioState::operator==(ED137RadioState const& o) const
{
    return std::tie(sessionAddr, sessionSsrc, ptt, squ, pttId, pttMute, pttSummation, sct, sqiValid,
                    bssMethod, bssQuality) == std::tie(o.sessionAddr, o.sessionSsrc, o.ptt, o.squ, o.pttId,
                                                       o.pttMute, o.pttSummation, o.sct, o.sqiValid,
                                                       o.bssMethod, o.bssQuality);
}

void ED137RadioState::EncodeASN(TERM::ED137RadioModifierParams& params) const
{
    if (ptt != TERM::ED137RadioPTT::ptt_off) {
        put(*this, params.select_tx().set_header());
        return;
    }
    TERM::ED137RadioRxCommand& rx = params.select_rx();
    put(*this, rx.set_header());
    if (sqiValid)
        put(*this, rx.set_sqi());
    else
        rx.omit_sqi();
}

void ED137RadioState::DecodeASN(TERM::ED137RadioModifier const& modifier)
{
    get(modifier.get_addr(), sessionAddr, sessionSsrc);
    TERM::ED137RadioModifierParams const& p = modifier.get_params();
    if (p.tx_isSelected()) {
        get(p.get_tx().get_header(), *this);
    } else if (p.rx_isSelected()) {
        get(p.get_rx().get_header(), *this);
        sqiValid = false;
        if (p.get_rx().sqi_isPresent())
            get(p.get_rx().get_sqi(), *this);
    }
}

void ED137RadioState::DecodeASN(TERM::ED137RadioStatus const& status)
{
    get(status.get_header(), *this);
    sqiValid = false;
    if (status.sqi_isPresent())
        get(status.get_sqi(), *this);
}

void ED137RadioControl::EncodeStatusASN(ED137RadioState const& state, TERM::RtpRadioRequest& request)
{
    TERM::ED137RadioStatus& status = request.set_status().select_ed_137();
    put(state, status.set_header());
    put(state, status.set_sqi());
    status.omit_radio_response();
}

void ED137RadioControl::EncodeASN(ED137RadioState const&, ED137RadioState const& to,
                                  TERM::RtpRadioRequest& request)
{
    TERM::ED137RadioModifier& modifier = request.set_request().select_ed_137();
    modifier.set_addr().set_session_addr(to.sessionAddr);
    modifier.set_addr().set_session_ssrc(to.sessionSsrc);
    to.EncodeASN(modifier.set_params());
}

void ED137RadioParams::Init(TERM::ED137RadioResponse const& r)
{
    type = r.get_type();
    txrxmode = r.get_txrxmode();
    if (r.sigtime_isPresent())
        sigtime = static_cast<int>(r.get_sigtime().getValue());
    if (r.r2s_keepalive_period_isPresent())
        keepalivePeriod = static_cast<int>(r.get_r2s_keepalive_period().getValue());
    if (r.r2s_keepalive_multiplier_isPresent())
        keepaliveMultiplier = static_cast<int>(r.get_r2s_keepalive_multiplier().getValue());
    if (r.transmission_depend_on_squ_isPresent())
        transmissionDependOnSQU = r.get_transmission_depend_on_squ();
}

} // namespace RTPSignalling
