// Aligned PER encode and decode on the ASN.1 test module: a 4-byte command (ping) and
// a larger create-like message (a mixer with inputs), plus printing.
#include "tests/asn1/test_module.hpp"

#include <benchmark/benchmark.h>

#include <iterator>
#include <vector>

namespace
{

TM::Message ping()
{
    TM::Message m;
    m.set_seq(5);
    m.set_pdu().select_command().select_ping();
    return m;
}

TM::Message mixer()
{
    TM::Message m;
    m.set_seq(7);
    m.set_slot(12);
    TM::MixerOutParams& p = m.set_pdu().select_command().select_create().select_mixerOut();
    p.set_unit(1);
    p.set_channel().select_tdm(40);
    for (int i = 0; i < 8; ++i) {
        TM::MixerInput input;
        input.set_channel().select_rtp(100 + i);
        input.set_gain(-6 * i);
        p.set_inputs().push_back(input);
    }
    return m;
}

std::vector<char> encoded(TM::Message const& m)
{
    ASN1::CoderEnv env;
    std::vector<char> out;
    ASN1::encode(m, &env, std::back_inserter(out));
    return out;
}

void encodeBench(benchmark::State& state, TM::Message const& m)
{
    std::vector<char> out;
    out.reserve(200);
    for (auto _ : state) {
        out.clear();
        ASN1::CoderEnv env;
        env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
        bool ok = ASN1::encode(m, &env, std::back_inserter(out));
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["octets"] = static_cast<double>(out.size());
}

void decodeBench(benchmark::State& state, std::vector<char> const& octets)
{
    for (auto _ : state) {
        TM::Message m; // construction and destruction included, as on the link
        ASN1::CoderEnv env;
        env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
        bool ok = ASN1::decode(octets.data(), octets.data() + octets.size(), &env, m, true);
        benchmark::DoNotOptimize(ok);
    }
    state.counters["octets"] = static_cast<double>(octets.size());
}

void BM_EncodePing(benchmark::State& state)
{
    encodeBench(state, ping());
}
void BM_DecodePing(benchmark::State& state)
{
    decodeBench(state, encoded(ping()));
}
void BM_EncodeMixer(benchmark::State& state)
{
    encodeBench(state, mixer());
}
void BM_DecodeMixer(benchmark::State& state)
{
    decodeBench(state, encoded(mixer()));
}

void BM_BuildEncodeResponse(benchmark::State& state)
{
    std::vector<char> out;
    out.reserve(200);
    for (auto _ : state) {
        TM::Message m;
        m.set_seq(5);
        m.set_slot(3);
        m.set_pdu().select_response().select_success();
        out.clear();
        ASN1::CoderEnv env;
        bool ok = ASN1::encode(m, &env, std::back_inserter(out));
        benchmark::DoNotOptimize(ok);
    }
}

void BM_PrintMixer(benchmark::State& state)
{
    TM::Message m = mixer();
    for (auto _ : state) {
        std::string text = m.asValueNotation();
        benchmark::DoNotOptimize(text.data());
    }
}

BENCHMARK(BM_EncodePing);
BENCHMARK(BM_DecodePing);
BENCHMARK(BM_EncodeMixer);
BENCHMARK(BM_DecodeMixer);
BENCHMARK(BM_BuildEncodeResponse);
BENCHMARK(BM_PrintMixer);

} // namespace
