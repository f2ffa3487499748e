#pragma once
// LGCP messages of the hardware services as short texts for test tables, and
// the commands those tests send.
#include <cstdio>
#include <string>

#include "messages/lgcp/LGCP.hpp"

namespace hwtest
{

// "success", "cas 1/5 rx=9 tx=6", "status 2 e1 state=3 slips=36 bf=40
// carrier=44 ais=48 rai=52" (with " name=..." or " master" when set).
inline std::string text(LGCP::Message const& m)
{
    LGCP::PDU const& pdu = m.get_pdu();
    if (pdu.response_isSelected())
        return pdu.get_response().success_isSelected() ? "success" : "error";
    if (!pdu.signal_isSelected())
        return "command";
    LGCP::Signal const& s = pdu.get_signal();
    if (s.cas_isSelected()) {
        LGCP::CasSignalling const& c = s.get_cas();
        return "cas " + std::to_string(c.get_channel().get_path().getValue()) + "/" +
               std::to_string(c.get_channel().get_timeslot().getValue()) +
               " rx=" + std::to_string(c.get_rx().getValue()) +
               " tx=" + std::to_string(c.get_tx().getValue());
    }
    if (s.trunkStatus_isSelected()) {
        ACP::TrunkStatus const& t = s.get_trunkStatus();
        return "status " + std::to_string(t.get_trunk().getValue()) +
               (t.get_type() == ACP::TrunkType::e1 ? " e1" : " bri") +
               " state=" + std::to_string(int(ACP::TrunkState::NamedNumber(t.get_state()))) +
               " slips=" + std::to_string(t.get_slips().getValue()) +
               " bf=" + std::to_string(t.get_lossBF().getValue()) +
               " carrier=" + std::to_string(t.get_lossCarrier().getValue()) +
               " ais=" + std::to_string(t.get_lossAIS().getValue()) +
               " rai=" + std::to_string(t.get_lossRAI().getValue()) +
               (t.get_name().empty() ? std::string() : " name=" + std::string(t.get_name())) +
               (bool(t.get_clockMaster()) ? " master" : "");
    }
    return "signal";
}

inline LGCP::Message trunkCfg(int seq, int trunk, bool slave)
{
    LGCP::Message m;
    m.set_seq(seq);
    LGCP::TrunkCfg& cfg = m.set_pdu().select_command().select_trunkCfg();
    cfg.set_trunk(trunk);
    cfg.set_mode(slave ? LGCP::TrunkMode::slave : LGCP::TrunkMode::master);
    return m;
}

// A slotless CAS ioctl from "open 1 5 9", "set 2 7 6", "close 1 0", "get 2 7";
// anything else is another ioctl (deactivateRecord).
inline LGCP::Message casCommand(int seq, const std::string& command)
{
    LGCP::Message m;
    m.set_seq(seq);
    LGCP::IoctlParams& ioctl = m.set_pdu().select_command().select_ioctl();
    char verb[8] = "";
    int path = 0, timeslot = 0, bits = 0;
    if (std::sscanf(command.c_str(), "%7s %d %d %d", verb, &path, &timeslot, &bits) < 3) {
        ioctl.select_deactivateRecord();
        return m;
    }
    LGCP::CasCommand& cas = ioctl.select_cas();
    cas.set_channel().set_path(path);
    cas.set_channel().set_timeslot(timeslot);
    const std::string v = verb;
    if (v == "open")
        cas.set_cmd().select_open(bits);
    else if (v == "set")
        cas.set_cmd().select_set(bits);
    else if (v == "close")
        cas.set_cmd().select_close();
    else
        cas.set_cmd().select_get();
    return m;
}

} // namespace hwtest
