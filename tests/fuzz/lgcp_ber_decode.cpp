// Decodes arbitrary octets as a BER-encoded LGCP::Message. Whatever decodes must print,
// pass through the validity checks and the value-notation reader without harm, and
// when it encodes again the octets must decode to an equal message that encodes to the
// same octets.
#include "asn1/asn1.hpp"
#include "messages/lgcp/LGCP.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char const* begin = reinterpret_cast<char const*>(data);
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::ber);
    LGCP::Message first;
    if (!ASN1::decode(begin, begin + size, &env, first, true))
        return 0;
    std::ostringstream text;
    text << first;
    first.isValid();
    std::ostringstream trace;
    ASN1::trace_invalid(trace, "", first);
    LGCP::Message read;
    read.setFromValueNotation(text.str());
    std::vector<char> octets;
    if (!ASN1::encode(first, &env, std::back_inserter(octets)))
        return 0;
    LGCP::Message second;
    if (!ASN1::decode(octets.data(), octets.data() + octets.size(), &env, second, true))
        std::abort();
    if (first.compare(second) != 0)
        std::abort();
    std::vector<char> again;
    if (!ASN1::encode(second, &env, std::back_inserter(again)) || again != octets)
        std::abort();
    return 0;
}
