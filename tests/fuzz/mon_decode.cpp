// Decodes arbitrary octets as a MON::Message (an SNMP agent link's frame payload).
// Whatever decodes must print, and when it encodes again the octets must decode to
// an equal message that encodes to the same octets.
#include "asn1/asn1.hpp"
#include "messages/mon/MON.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char const* begin = reinterpret_cast<char const*>(data);
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    MON::Message first;
    if (!ASN1::decode(begin, begin + size, &env, first, true))
        return 0;
    std::ostringstream text;
    text << first;
    std::vector<char> octets;
    if (!ASN1::encode(first, &env, std::back_inserter(octets)))
        return 0;
    MON::Message second;
    if (!ASN1::decode(octets.data(), octets.data() + octets.size(), &env, second, true))
        std::abort();
    if (first.compare(second) != 0)
        std::abort();
    std::vector<char> again;
    if (!ASN1::encode(second, &env, std::back_inserter(again)) || again != octets)
        std::abort();
    return 0;
}
