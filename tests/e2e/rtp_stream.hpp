#pragma once
// The RTP stream the end-to-end tests create: G.711 A-law both ways towards a
// peer on the loopback, from a free local port, without an SSRC.
#include "messages/lgcp/LGCP.hpp"
#include "tests/slots/udp_peer.hpp"

namespace e2etest
{

inline void g711Stream(LGCP::Command& command, const slotstest::UdpPeer& peer)
{
    LGCP::CreateRtpParams& rtp = command.select_create().select_rtp();
    TERM::RtpParams& codec = rtp.set_codecRTP();
    codec.set_payload(TERM::Payload::ptG711_Alaw);
    codec.set_dhost().set_iaddr("127.0.0.1");
    codec.ref_dhost().set_port(peer.port - 1);
    codec.set_shost().set_iaddr("0.0.0.0");
    codec.ref_shost().set_port(slotstest::UdpPeer::free_port() - 1);
    rtp.set_rxPayload(TERM::Payload::ptG711_Alaw);
    rtp.set_txPayload(TERM::Payload::ptG711_Alaw);
}

} // namespace e2etest
