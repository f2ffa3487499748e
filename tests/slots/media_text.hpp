#pragma once
// The controller's messages about controller-channel slots as short texts,
// shared by the unit and end-to-end tests: "ok #3", "connectFail #4",
// "@1 receiver 4096", "@3 transmitter off", "@4 abort 0", "@1 userData 0A 0B",
// "@4 startPlaying", "@5 stopRecording userRequest", "query mcc 32/16/32 t38 4",
// "status" for a line status report; and the create of a T.38 relay they send.
#include <string>

#include "asn1/asn1.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "tests/support/hex.hpp"

namespace mediatest
{

// Selects the create of a T.38 relay from 10.0.0.2:5000 to 10.0.0.1:4000 with
// 160-byte packets and the given thresholds, for the caller to add to.
inline LGCP::T38Soft& t38Create(LGCP::Command& c, int rxThreshold = 1, int txThreshold = 1)
{
    LGCP::T38Soft& t = c.select_create().select_t38soft();
    t.set_dhost().set_iaddr("10.0.0.1");
    t.ref_dhost().set_port(4000u);
    t.set_shost().set_iaddr("10.0.0.2");
    t.ref_shost().set_port(5000u);
    t.set_rx_packet_size(160);
    t.set_rx_threshold(rxThreshold);
    t.set_tx_threshold(txThreshold);
    return t;
}

inline std::string text(LGCP::Message const& m)
{
    const std::string seq = m.seq_isPresent() ? " #" + std::to_string(m.get_seq().getValue()) : "";
    if (m.get_pdu().response_isSelected()) {
        LGCP::Response const& r = m.get_pdu().get_response();
        return (r.success_isSelected() ? std::string("ok") : r.get_error().getName()) + seq;
    }
    if (!m.get_pdu().signal_isSelected())
        return "command";
    LGCP::Signal const& s = m.get_pdu().get_signal();
    const std::string at = m.slot_isPresent() ? "@" + std::to_string(m.get_slot().getValue()) + " " : "";
    if (s.receiver_isSelected() || s.transmitter_isSelected()) {
        LGCP::Stream const& st = s.receiver_isSelected() ? s.get_receiver() : s.get_transmitter();
        return at + (s.receiver_isSelected() ? "receiver " : "transmitter ") +
               (st.active_isSelected() ? std::to_string(st.get_active().getValue()) : "off");
    }
    if (s.abort_isSelected())
        return at + "abort " + std::to_string(s.get_abort().getValue());
    if (s.userData_isSelected())
        return at + "userData " + support::hex(std::string(s.get_userData().begin(), s.get_userData().end()));
    if (s.ioctl_isSelected() && s.get_ioctl().startPlaying_isSelected())
        return at + "startPlaying";
    if (s.ioctl_isSelected() && s.get_ioctl().stopRecording_isSelected())
        return at + "stopRecording " + s.get_ioctl().get_stopRecording().getName();
    if (s.query_isSelected()) {
        LGCP::Resources const& r = s.get_query();
        return "query mcc " + std::to_string(r.get_mcc_data().getValue()) + "/" +
               std::to_string(r.get_mcc_bri().getValue()) + "/" +
               std::to_string(r.get_mcc_trans().getValue()) + " t38 " +
               std::to_string(r.get_t38_instances().getValue());
    }
    return s.trunkStatus_isSelected() ? "status" : at + "other";
}

// The TPKT frames of `in`, each shown by `show`, " | " between them.
inline std::string frames(const std::string& in, std::string (*show)(LGCP::Message const&) = &text)
{
    std::string out;
    for (std::size_t at = 0, n; at + 4 <= in.size(); at += n) {
        n = std::size_t(static_cast<unsigned char>(in[at + 2])) << 8 | static_cast<unsigned char>(in[at + 3]);
        LGCP::Message m;
        ASN1::CoderEnv env;
        const bool decoded = ASN1::decode(in.data() + at + 4, in.data() + at + n, &env, m, true);
        out += (at ? " | " : "") + (decoded ? show(m) : std::string("undecodable"));
    }
    return out;
}

} // namespace mediatest
