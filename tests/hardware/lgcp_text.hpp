#pragma once
// The commands of the hardware services, and the LGCP messages the controller
// receives as short texts for test tables: "success", "error 10",
// "cas 1/5 rx=9 tx=6", "status 2 e1 state=3 slips=36 bf=40 carrier=44 ais=48
// rai=52" (with " name=..." or " master" when set). Shared by the unit and the
// end-to-end tests.
#include <cstdio>
#include <string>

#include "asn1/asn1.hpp"
#include "messages/lgcp/LGCP.hpp"

namespace hwtest
{

inline std::string text(LGCP::Message const& m)
{
    LGCP::PDU const& pdu = m.get_pdu();
    if (pdu.response_isSelected()) {
        LGCP::Response const& r = pdu.get_response();
        return r.success_isSelected() ? "success" : "error " + std::to_string(int(r.get_error()));
    }
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

// One aligned-PER payload as text.
inline std::string text(const char* payload, std::size_t n)
{
    LGCP::Message m;
    ASN1::CoderEnv env;
    return ASN1::decode(payload, payload + n, &env, m, true) ? text(m) : "undecodable";
}

inline bool isAnswer(const std::string& text)
{
    return text == "success" || text.compare(0, 6, "error ") == 0;
}

inline LGCP::Command clockCfg(bool internal, bool extEnabled, int source)
{
    LGCP::Command command;
    LGCP::ClockCfg& cfg = command.select_clockCfg();
    cfg.set_clkSel0(internal ? LGCP::ClkSel0::internal : LGCP::ClkSel0::external);
    cfg.set_bextEn(extEnabled ? LGCP::BExtEn::enabled : LGCP::BExtEn::disabled);
    cfg.set_source(source);
    return command;
}

enum class Mode { read, write, disconnect };

// Bus 1 from timeslot 10.
inline LGCP::Command testBpc(unsigned seed, unsigned length, Mode mode)
{
    LGCP::Command command;
    LGCP::BpcTestParams& p = command.select_testBpc();
    p.set_bus(1);
    p.set_seed(int(seed));
    p.set_timeslot_start(10);
    p.set_timeslot_length(length);
    mode == Mode::read    ? void(p.set_mode().select_read())
    : mode == Mode::write ? void(p.set_mode().select_write())
                          : void(p.set_mode().select_disconnect());
    return command;
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

// A slotless ioctl: CAS "open 1 5 9", "set 2 7 6", "close 1 0", "get 2 7";
// anything else is not a CAS command (deactivateRecord).
inline LGCP::Message casCommand(int seq, const std::string& command)
{
    LGCP::Message m;
    m.set_seq(seq);
    LGCP::IoctlParams& ioctl = m.set_pdu().select_command().select_ioctl();
    char verb = 0;
    int path = 0, timeslot = 0, bits = 0;
    if (std::sscanf(command.c_str(), "%c%*s %d %d %d", &verb, &path, &timeslot, &bits) < 3)
        return ioctl.select_deactivateRecord(), m;
    LGCP::CasCommand& cas = ioctl.select_cas();
    cas.set_channel().set_path(path);
    cas.set_channel().set_timeslot(timeslot);
    LGCP::CasCommandSignal& cmd = cas.set_cmd();
    verb == 'o'   ? cmd.select_open(bits)
    : verb == 's' ? cmd.select_set(bits)
    : verb == 'c' ? void(cmd.select_close())
                  : void(cmd.select_get());
    return m;
}

} // namespace hwtest
