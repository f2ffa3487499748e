// The round trip every decoder fuzz target runs: whatever decodes as the type must
// print; when it encodes again, those octets must decode to an equal value that
// encodes to the same octets. A value read from the wire may lie outside its type
// (a slot above 1023): the encoder refuses it, which is not a fault.
#pragma once

#include "asn1/asn1.hpp"

#include <cstdlib>
#include <memory>
#include <vector>

namespace support
{

inline void roundTrip(ASN1::TypeInfo const* info, char const* begin, char const* end,
                      ASN1::CoderEnv::EncodingRules rule = ASN1::CoderEnv::per_Aligned)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(rule);
    std::unique_ptr<ASN1::AbstractData> first(ASN1::AbstractData::create(info));
    if (!ASN1::decode(begin, end, &env, *first, true))
        return;
    (void)first->asValueNotation();
    std::vector<char> once;
    if (!ASN1::encode(*first, &env, std::back_inserter(once)))
        return;
    std::unique_ptr<ASN1::AbstractData> second(ASN1::AbstractData::create(info));
    if (!ASN1::decode(once.data(), once.data() + once.size(), &env, *second, true) ||
        second->compare(*first) != 0)
        std::abort();
    std::vector<char> twice;
    if (!ASN1::encode(*second, &env, std::back_inserter(twice)) || twice != once)
        std::abort();
}

} // namespace support
