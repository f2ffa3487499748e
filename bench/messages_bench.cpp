// Encode and decode of the controller link's most frequent messages (a ping command, a
// success response, a create with RTP parameters and a tonec signal) in aligned PER,
// the links' rule, and in BER.
#include "asn1/asn1.hpp"
#include "messages/lgcp/LGCP.hpp"

#include <benchmark/benchmark.h>

#include <functional>
#include <vector>

namespace
{

LGCP::Message ping()
{
    LGCP::Message m;
    m.set_seq(5);
    m.set_pdu().select_command().select_ping();
    return m;
}

LGCP::Message success()
{
    LGCP::Message m;
    m.set_seq(5);
    m.set_slot(3);
    m.set_pdu().select_response().select_success();
    return m;
}

LGCP::Message createRtp()
{
    LGCP::Message m;
    m.set_seq(1234);
    m.set_slot(100);
    LGCP::CreateRtpParams& p = m.set_pdu().select_command().select_create().select_rtp();
    TERM::RtpParams& rtp = p.set_codecRTP();
    rtp.set_payload(TERM::Payload::ptG711_Alaw);
    rtp.set_dhost().set_iaddr("192.0.2.17");
    rtp.ref_dhost().set_port(40000);
    rtp.set_shost().set_iaddr("192.0.2.1");
    rtp.ref_shost().set_port(40002);
    rtp.set_pfactor(2);
    rtp.set_vad(false);
    rtp.set_echo().set_suppressor(true);
    rtp.ref_echo().set_canceller(true);
    rtp.set_ssrc(0x12345678u);
    rtp.set_ttl(64);
    rtp.set_qos_dscp(TERM::IpQoSDSCP::ef);
    p.set_txPayload(TERM::Payload::ptG711_Alaw);
    p.set_rxPayload(TERM::Payload::ptG711_Alaw);
    return m;
}

LGCP::Message tonec()
{
    LGCP::TonecEvent ev;
    ev.set_timestamp(123456);
    ev.set_event().select_dtmf(5);
    LGCP::Message m;
    m.set_slot(9);
    m.set_pdu().select_signal(LGCP::Signal(LGCP::Signal::tonec::value, ev));
    return m;
}

void encode(benchmark::State& state, const std::function<LGCP::Message()>& build,
            ASN1::CoderEnv::EncodingRules rule = ASN1::CoderEnv::per_Aligned)
{
    LGCP::Message m = build();
    std::vector<char> out;
    out.reserve(200);
    for (auto _ : state) {
        out.clear();
        ASN1::CoderEnv env;
        env.set_encodingRule(rule);
        if (!ASN1::encode(m, &env, std::back_inserter(out)))
            state.SkipWithError("encode failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetLabel(std::to_string(out.size()) + " octets");
}

void decode(benchmark::State& state, const std::function<LGCP::Message()>& build,
            ASN1::CoderEnv::EncodingRules rule = ASN1::CoderEnv::per_Aligned)
{
    std::vector<char> in;
    ASN1::CoderEnv env;
    env.set_encodingRule(rule);
    ASN1::encode(build(), &env, std::back_inserter(in));
    for (auto _ : state) {
        LGCP::Message m;
        ASN1::CoderEnv e;
        e.set_encodingRule(rule);
        if (!ASN1::decode(in.data(), in.data() + in.size(), &e, m, true))
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(m);
    }
}

BENCHMARK_CAPTURE(encode, ping, ping);
BENCHMARK_CAPTURE(decode, ping, ping);
BENCHMARK_CAPTURE(encode, success, success);
BENCHMARK_CAPTURE(decode, success, success);
BENCHMARK_CAPTURE(encode, create_rtp, createRtp);
BENCHMARK_CAPTURE(decode, create_rtp, createRtp);
BENCHMARK_CAPTURE(encode, tonec, tonec);
BENCHMARK_CAPTURE(decode, tonec, tonec);

const ASN1::CoderEnv::EncodingRules ber = ASN1::CoderEnv::ber;
BENCHMARK_CAPTURE(encode, ping_ber, ping, ber);
BENCHMARK_CAPTURE(decode, ping_ber, ping, ber);
BENCHMARK_CAPTURE(encode, success_ber, success, ber);
BENCHMARK_CAPTURE(decode, success_ber, success, ber);
BENCHMARK_CAPTURE(encode, create_rtp_ber, createRtp, ber);
BENCHMARK_CAPTURE(decode, create_rtp_ber, createRtp, ber);
BENCHMARK_CAPTURE(encode, tonec_ber, tonec, ber);
BENCHMARK_CAPTURE(decode, tonec_ber, tonec, ber);

} // namespace
