#pragma once
// The TPKT frames a controller read, each as the short text of media_text.hpp
// with the slot of an answer added ("ok #7 @5", "slotNotExists #60 @9") and
// the modem signals spelt out ("@2 auth alice/secret", "@2 acct 0:1 0:2 0:3
// 0:4 0:5"), " | " between frames.
#include <string>

#include "tests/slots/media_text.hpp"

namespace slotstest
{

inline std::string text(LGCP::Message const& m)
{
    LGCP::PDU const& pdu = m.get_pdu();
    const std::string at = m.slot_isPresent() ? "@" + std::to_string(m.get_slot().getValue()) : "";
    if (pdu.response_isSelected() && m.slot_isPresent())
        return mediatest::text(m) + " " + at;
    if (!pdu.signal_isSelected() || !pdu.get_signal().modemProceeding_isSelected())
        return mediatest::text(m);
    TERM::ModemProceeding const& p = pdu.get_signal().get_modemProceeding();
    if (p.auth_isSelected())
        return at + " auth " + std::string(p.get_auth().get_username()) + "/" +
               std::string(p.get_auth().get_password());
    std::string out = at + " acct";
    auto const& a = p.get_acct();
    for (auto const* v :
         {&a.get_octetsOut(), &a.get_octetsIn(), &a.get_packetsOut(), &a.get_packetsIn(), &a.get_time()})
        out += " " + std::to_string(v->get_high().getValue()) + ":" + std::to_string(v->get_low().getValue());
    return out;
}

inline std::string frames(const std::string& in)
{
    return mediatest::frames(in, &text);
}

} // namespace slotstest
