// Decodes arbitrary octets as a MON::Message (an SNMP agent link's frame payload).
#include "messages/mon/MON.hpp"
#include "tests/support/fuzz_round_trip.hpp"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char const* begin = reinterpret_cast<char const*>(data);
    support::roundTrip(&MON::Message::theInfo, begin, begin + size);
    return 0;
}
