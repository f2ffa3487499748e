// Decodes arbitrary octets as a BER-encoded LGCP::Message. Besides the round trip,
// whatever decodes goes through the validity checks and its printed text through the
// value-notation reader, which must take or refuse it without harm.
#include "messages/lgcp/LGCP.hpp"
#include "tests/support/fuzz_round_trip.hpp"

#include <cstddef>
#include <cstdint>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char const* begin = reinterpret_cast<char const*>(data);
    support::roundTrip(&LGCP::Message::theInfo, begin, begin + size, ASN1::CoderEnv::ber);
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::ber);
    LGCP::Message message;
    if (!ASN1::decode(begin, begin + size, &env, message, true))
        return 0;
    (void)message.isStrictlyValid();
    std::ostringstream trace;
    ASN1::trace_invalid(trace, "", message);
    LGCP::Message read;
    (void)read.setFromValueNotation(message.asValueNotation());
    return 0;
}
