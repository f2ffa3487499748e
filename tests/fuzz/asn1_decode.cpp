// Decoder fuzz target on the ASN.1 test module. The first octet picks the type, the rest
// is aligned PER. Whatever decodes must re-encode, decode again to an equal value, and
// encode again to the same octets; printing it must not fail.
#include "tests/asn1/test_module.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace
{

bool decode(char const* begin, char const* end, ASN1::AbstractData& value)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    return ASN1::decode(begin, end, &env, value, true);
}

bool encode(ASN1::AbstractData const& value, std::vector<char>& out)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    return ASN1::encode(value, &env, std::back_inserter(out));
}

void require(bool condition)
{
    if (!condition)
        std::abort();
}

template <class T> void roundTrip(char const* begin, char const* end)
{
    T first;
    if (!decode(begin, end, first))
        return;
    (void)first.asValueNotation();
    std::vector<char> once;
    // A value read from the wire may lie outside its type (a slot above 1023): the
    // encoder refuses it, which is not a fault.
    if (!encode(first, once))
        return;
    T second;
    require(decode(once.data(), once.data() + once.size(), second));
    require(second.compare(first) == 0);
    std::vector<char> twice;
    require(encode(second, twice));
    require(twice == once);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    char const* begin = reinterpret_cast<char const*>(data) + 1;
    char const* end = reinterpret_cast<char const*>(data) + size;
    switch (data[0] % 4) {
    case 0:
        roundTrip<TM::Message>(begin, end);
        break;
    case 1:
        roundTrip<TM::Kinds>(begin, end);
        break;
    case 2:
        roundTrip<TM::TermParams>(begin, end);
        break;
    default:
        roundTrip<TM::MixerOutParams>(begin, end);
        break;
    }
    return 0;
}
