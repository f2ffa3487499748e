// Decoder fuzz target on the ASN.1 test module. The first octet picks the type, the
// rest is aligned PER.
#include "tests/asn1/test_module.hpp"
#include "tests/support/fuzz_round_trip.hpp"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Every kind of the module, and the constrained kinds it holds no field of.
    static ASN1::TypeInfo const* const types[] = {
        &TM::Message::theInfo,
        &TM::Kinds::theInfo,
        &TM::TermParams::theInfo,
        &TM::MixerOutParams::theInfo,
        &TM::IntLowerOnlyInfo,
        &TM::IntExtSignedInfo,
        &TM::NamedIntInfo,
        &TM::OctetsExtInfo,
        &TM::Octets20000Info,
        &TM::Digits2Info,
        &TM::Bmp1Info,
        &TM::TypedOpenInfo,
    };
    if (size == 0)
        return 0;
    char const* begin = reinterpret_cast<char const*>(data);
    support::roundTrip(types[data[0] % (sizeof types / sizeof types[0])], begin + 1, begin + size);
    return 0;
}
