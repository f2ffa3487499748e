#include "asn1/coder.hpp"

#include "asn1/avn_decoder.hpp"
#include "asn1/avn_encoder.hpp"
#include "asn1/ber_decoder.hpp"
#include "asn1/ber_encoder.hpp"
#include "asn1/per_decoder.hpp"
#include "asn1/per_encoder.hpp"

#include <sstream>

namespace ASN1
{

namespace
{

// Never freed: an encoding during the process's exit still finds it.
thread_local std::vector<char>* sharedOctets = nullptr;
thread_local bool sharedInUse = false;

} // namespace

ScratchOctets::ScratchOctets() : octets_(&own_), borrowed_(false)
{
    if (sharedInUse)
        return;
    if (sharedOctets == nullptr)
        sharedOctets = new std::vector<char>;
    sharedInUse = true;
    borrowed_ = true;
    octets_ = sharedOctets;
    octets_->clear();
}

ScratchOctets::~ScratchOctets()
{
    if (borrowed_)
        sharedInUse = false;
}

namespace
{

// The vector a back-insert iterator appends to (its protected member).
struct AppendTarget : std::back_insert_iterator<std::vector<char>> {
    static std::vector<char>& of(std::back_insert_iterator<std::vector<char>> const& out)
    {
        return *(out.*(&AppendTarget::container));
    }
};

} // namespace

bool CoderEnv::encode(AbstractData const& value, std::back_insert_iterator<std::vector<char>> out)
{
    if (encodingRule_ != per_Aligned) {
        ScratchOctets octets;
        if (!encodeInto(value, octets.get()))
            return false;
        std::copy(octets.get().begin(), octets.get().end(), out);
        return true;
    }
    std::vector<char>& target = AppendTarget::of(out);
    const std::size_t before = target.size();
    bool ok = false;
    try {
        ok = PEREncoder::append(value, target);
    } catch (...) {
        target.resize(before);
        throw;
    }
    if (!ok)
        target.resize(before); // nothing of a failed encoding stays
    return ok;
}

bool CoderEnv::encodeInto(AbstractData const& value, std::vector<char>& octets)
{
    switch (encodingRule_) {
    case per_Aligned:
        return encodePERInto(value, octets);
    case ber:
        return encodeBERInto(value, octets);
    case avn:
        return encodeAVNInto(value, octets);
    default:
        return false;
    }
}

bool CoderEnv::encodeBERInto(AbstractData const& value, std::vector<char>& octets)
{
    BEREncoder encoder(octets);
    return value.accept(encoder);
}

bool CoderEnv::encodePERInto(AbstractData const& value, std::vector<char>& octets)
{
    PEREncoder encoder(octets, true);
    bool ok = encoder.encodeValue(value);
    encoder.finish();
    return ok;
}

bool CoderEnv::encodeAVNInto(AbstractData const& value, std::vector<char>& text)
{
    std::ostringstream stream;
    AVNEncoder printer(stream);
    if (!value.accept(printer))
        return false;
    std::string printed = stream.str();
    text.assign(printed.begin(), printed.end());
    return true;
}

bool CoderEnv::decode(char const* begin, char const* end, AbstractData& value, bool noEnv)
{
    CoderEnv* env = noEnv ? nullptr : this;
    switch (encodingRule_) {
    case per_Aligned: {
        PERDecoder decoder(begin, end, env, true);
        return decoder.decodeValue(value);
    }
    case ber: {
        BERDecoder decoder(begin, end, env);
        return value.accept(decoder);
    }
    case avn: {
        std::istringstream text(begin != nullptr && end > begin ? std::string(begin, end) : std::string());
        AVNDecoder reader(text);
        return value.accept(reader);
    }
    default:
        return false;
    }
}

} // namespace ASN1
