#pragma once
// Commands of the hardware services, and what the controller receives summed
// up in one line ("success", "error 10", "trunkStatus trunk=3 state=2 slips=0
// type=1"); shared by the unit and the end-to-end tests.
#include <string>

#include "asn1/asn1.hpp"
#include "messages/lgcp/LGCP.hpp"

namespace hwtest
{

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
    if (mode == Mode::read)
        p.set_mode().select_read();
    else if (mode == Mode::write)
        p.set_mode().select_write();
    else
        p.set_mode().select_disconnect();
    return command;
}

inline std::string summary(const char* data, std::size_t size)
{
    LGCP::Message m;
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    if (!ASN1::decode(data, data + size, &env, m, true))
        return "undecodable";
    const LGCP::PDU& pdu = m.get_pdu();
    if (pdu.response_isSelected()) {
        const LGCP::Response& r = pdu.get_response();
        return r.success_isSelected() ? "success" : "error " + std::to_string(int(r.get_error()));
    }
    if (pdu.signal_isSelected() && pdu.get_signal().trunkStatus_isSelected()) {
        const ACP::TrunkStatus& s = pdu.get_signal().get_trunkStatus();
        return "trunkStatus trunk=" + std::to_string(s.get_trunk().getValue()) +
               " state=" + std::to_string(int(s.get_state())) +
               " slips=" + std::to_string(s.get_slips().getValue()) +
               " type=" + std::to_string(int(s.get_type()));
    }
    return "other";
}

} // namespace hwtest
