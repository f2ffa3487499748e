// Enumerations in value notation, as operators read them in the logs.
#include "asn1/asn1.hpp"
#include "messages/lgcp/LGCP.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace
{

TEST(Print, EnumerationsNameTheirValue)
{
    struct Row {
        ASN1::EnumInfo const* info;
        int value;
        char const* text;
    };
    // Named values print as their name and read back (AllTypes.EveryEnumeratorRoundTrips); these
    // are values without a name of their own, and an alias that prints as its first name.
    // Below 0 nothing is looked up, so the one negative enumerator prints as its number.
    Row const table[] = {
        {&LGCP::ErrorCause::theInfo, 13, "13"},
        {&TERM::IpQoSDSCP::theInfo, 9, "9"},
        {&LEMZGW::ProtoLemzAnalogGainIDV1::theInfo, 10, "rsh"},
        {&HSP::StandbyCommand::theInfo, 4, "4"},
        {&TERM::RadioStandby::theInfo, -1, "-1"},
    };
    for (Row const& row : table) {
        std::unique_ptr<ASN1::AbstractData> v(ASN1::AbstractData::create(row.info));
        static_cast<ASN1::ENUMERATED&>(*v).setFromInt(row.value);
        std::ostringstream out;
        out << *v;
        EXPECT_EQ(row.text, out.str()) << row.value;
    }
}

} // namespace
