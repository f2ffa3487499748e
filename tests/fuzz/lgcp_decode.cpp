// Decodes arbitrary octets as an LGCP::Message (the controller link's frame payload).
#include "messages/lgcp/LGCP.hpp"
#include "tests/support/fuzz_round_trip.hpp"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char const* begin = reinterpret_cast<char const*>(data);
    support::roundTrip(&LGCP::Message::theInfo, begin, begin + size);
    return 0;
}
