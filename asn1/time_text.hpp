// The GeneralizedTime texts a decoder accepts from the wire.
#pragma once

#include <string>

namespace ASN1
{

// Fourteen digits, an optional fraction, then nothing, "Z" or an offset [+-]hhmm with
// mm below 60: exactly the texts that read back to the fields they print as.
bool wellFormedTimeText(std::string const& text);

} // namespace ASN1
