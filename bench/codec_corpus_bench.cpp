// Aligned-PER decode and encode over a corpus of seeded random LGCP messages of every
// kind (every command, response and signal alternative, 64 messages each), built by the
// message tests' value walker. Each benchmark cycles through the messages of one kind;
// "all" cycles through the whole corpus. Decoding builds and destroys the message, as
// the controller link does for every payload; encoding appends to a vector, as it does
// for every answer.
#include "asn1/asn1.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "tests/messages/walker.hpp"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{

const unsigned kPerAlternative = 64;

struct Sample {
    std::unique_ptr<LGCP::Message> message;
    std::vector<char> octets;
};

// Kind name -> its samples: "command.ping", "signal.rtpExt", ...; "all" holds every one.
std::map<std::string, std::vector<Sample const*>>& kinds()
{
    static std::map<std::string, std::vector<Sample const*>> table;
    return table;
}

std::vector<std::unique_ptr<Sample>>& corpus()
{
    static std::vector<std::unique_ptr<Sample>> samples;
    return samples;
}

void buildCorpus()
{
    ASN1::ChoiceInfo const& pdu = LGCP::PDU::theInfo;
    std::uint32_t seed = 1;
    for (std::uint32_t p = 0; p < pdu.totalChoices; ++p) {
        auto const* inner = static_cast<ASN1::ChoiceInfo const*>(pdu.selectionInfos[p]);
        for (std::uint32_t a = 0; a < inner->totalChoices; ++a) {
            std::string kind = std::string(pdu.selectionNames[p]) + "." + inner->selectionNames[a];
            for (unsigned n = 0; n < kPerAlternative; ++n) {
                msgwalk::Random random(seed++);
                msgwalk::Filler filler(random);
                std::unique_ptr<Sample> sample(new Sample);
                sample->message.reset(new LGCP::Message);
                LGCP::Message& m = *sample->message;
                if (random.coin())
                    m.set_seq(static_cast<int>(random.next()));
                if (random.coin())
                    m.set_slot(static_cast<unsigned>(random.between(0, 1023)));
                ASN1::CHOICE& top = m.set_pdu();
                ASN1::AbstractData* value =
                    top.setSelection(static_cast<int>(p), ASN1::AbstractData::create(inner));
                msgwalk::Plan plan;
                plan.alternative = static_cast<int>(a);
                filler.fill(*value, plan);
                ASN1::CoderEnv env;
                if (!ASN1::encode(m, &env, std::back_inserter(sample->octets))) {
                    std::fprintf(stderr, "corpus: %s seed %u does not encode\n", kind.c_str(), seed - 1);
                    continue;
                }
                kinds()[kind].push_back(sample.get());
                kinds()["all"].push_back(sample.get());
                corpus().push_back(std::move(sample));
            }
        }
    }
}

void decode(benchmark::State& state, std::string const& kind)
{
    std::vector<Sample const*> const& samples = kinds()[kind];
    std::size_t i = 0, octets = 0;
    for (auto _ : state) {
        Sample const& s = *samples[i];
        if (++i == samples.size())
            i = 0;
        LGCP::Message m;
        ASN1::CoderEnv env;
        env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
        if (!ASN1::decode(s.octets.data(), s.octets.data() + s.octets.size(), &env, m, true)) {
            state.SkipWithError("decode failed");
            break;
        }
        octets += s.octets.size();
        benchmark::DoNotOptimize(m);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<std::int64_t>(octets));
}

void encode(benchmark::State& state, std::string const& kind)
{
    std::vector<Sample const*> const& samples = kinds()[kind];
    std::size_t i = 0, octets = 0;
    std::vector<char> out;
    for (auto _ : state) {
        Sample const& s = *samples[i];
        if (++i == samples.size())
            i = 0;
        out.clear();
        out.reserve(200);
        ASN1::CoderEnv env;
        env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
        if (!ASN1::encode(*s.message, &env, std::back_inserter(out))) {
            state.SkipWithError("encode failed");
            break;
        }
        octets += out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<std::int64_t>(octets));
}

} // namespace

int main(int argc, char** argv)
{
    buildCorpus();
    std::fprintf(stderr, "corpus: %zu messages, %zu kinds\n", corpus().size(), kinds().size() - 1);
    for (char const* kind : {"all", "command.ping", "command.create", "command.ioctl", "signal.rtpExt"}) {
        benchmark::RegisterBenchmark((std::string("decode/") + kind).c_str(), decode, std::string(kind));
        benchmark::RegisterBenchmark((std::string("encode/") + kind).c_str(), encode, std::string(kind));
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
