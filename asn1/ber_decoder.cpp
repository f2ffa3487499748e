#include "asn1/ber_decoder.hpp"

#include "asn1/constructed.hpp"
#include "asn1/primitives.hpp"
#include "asn1/strings.hpp"

#include <cstring>
#include <limits>
#include <memory>
#include <string>

namespace ASN1
{

BERDecoder::BERDecoder(char const* begin, char const* end, CoderEnv* env)
    : Visitor(env), position_(begin), limit_(begin != nullptr && end > begin ? end : begin)
{
}

unsigned BERDecoder::decodeByte()
{
    if (atEnd())
        return 0;
    return static_cast<unsigned char>(*position_++);
}

unsigned BERDecoder::decodeBlock(char* out, unsigned n)
{
    std::size_t left = static_cast<std::size_t>(limit_ - position_);
    unsigned count = n < left ? n : static_cast<unsigned>(left);
    if (count != 0)
        std::memcpy(out, position_, count);
    position_ += count;
    return count;
}

bool BERDecoder::decodeHeader(unsigned& tag, bool& primitive, unsigned& length)
{
    if (atEnd())
        return false;
    unsigned first = decodeByte();
    primitive = (first & 0x20) == 0;
    std::uint32_t number = first & 0x1F;
    if (number == 0x1F) {
        number = 0;
        unsigned octet = 0;
        do {
            if (atEnd())
                return false;
            octet = decodeByte();
            number = (number << 7) | (octet & 0x7F);
            if (number > 0xFFFF)
                return false; // beyond the 16 bits of a tag word's number
        } while ((octet & 0x80) != 0);
    }
    tag = ((first & 0xC0u) << 16) | number;

    if (atEnd())
        return false;
    unsigned octet = decodeByte();
    std::uint64_t value = octet;
    if (octet >= 0x80) {
        if (octet == 0xFF)
            return false; // reserved
        value = 0;
        for (unsigned n = octet & 0x7F; n > 0; --n) {
            if (atEnd())
                return false;
            value = (value << 8) | decodeByte();
            if (value > 0xFFFFFFFFu)
                return false;
        }
        // 0x80 alone gives 0: the indefinite form is not taken.
    }
    if (value > static_cast<std::uint64_t>(limit_ - position_))
        return false; // past the enclosing value or the input
    length = static_cast<unsigned>(value);
    return true;
}

bool BERDecoder::decodeHeader(AbstractData& value, unsigned& length)
{
    char const* start = position_;
    unsigned tag = 0;
    bool primitive = true; // either form is taken
    if (!decodeHeader(tag, primitive, length)) {
        position_ = start;
        return false;
    }
    if (tag == value.getTag() || tagWaiver_ > 0) {
        tagWaiver_ = 0;
        return true;
    }
    position_ = start;
    return false;
}

bool BERDecoder::decodeSigned(unsigned length, std::int64_t lowest, std::int64_t highest, std::int64_t& out)
{
    if (length == 0)
        return false;
    unsigned first = decodeByte();
    std::int64_t v = first >= 0x80 ? std::int64_t{first} - 256 : std::int64_t{first}; // the sign
    for (unsigned i = 1; i < length; ++i) {
        v = v * 256 + static_cast<std::int64_t>(decodeByte());
        // Further octets only move a value outside the range further away.
        if (v < lowest || v > highest)
            return false;
    }
    if (v < lowest || v > highest)
        return false;
    out = v;
    return true;
}

bool BERDecoder::do_visit(Null& value)
{
    unsigned length = 0;
    if (!decodeHeader(value, length))
        return false;
    position_ += length;
    return true;
}

bool BERDecoder::do_visit(BOOLEAN& value)
{
    unsigned length = 0;
    if (!decodeHeader(value, length))
        return false;
    // Each octet sets the value in turn; no octet leaves it as it was.
    for (; length > 0; --length)
        value = decodeByte() != 0;
    return true;
}

bool BERDecoder::do_visit(INTEGER& value)
{
    unsigned length = 0;
    std::int64_t v = 0;
    if (!decodeHeader(value, length))
        return false;
    // The encoder writes the 32-bit word in at most 4 octets, also for the types that
    // view it as unsigned. A longer form comes from another sender: leading octets that
    // only extend the sign, and for a type without negative values a value above
    // 2^31 - 1 as X.690 writes it, after a leading zero octet (4294967295 is
    // 00 FF FF FF FF). Such a value is read into the same word when the type, as it
    // views the word, can hold it; any other is refused.
    std::int64_t lowest = std::numeric_limits<std::int32_t>::min();
    std::int64_t highest = std::numeric_limits<std::int32_t>::max();
    ConstrainedInfo const* ci = value.constraintInfo();
    if (length > 4 && ci->type != Unconstrained && ci->lowerLimit >= 0) {
        lowest = 0;
        highest = std::numeric_limits<std::uint32_t>::max();
    }
    if (!decodeSigned(length, lowest, highest, v))
        return false;
    value.setValue(static_cast<int>(static_cast<std::uint32_t>(v)));
    return true;
}

bool BERDecoder::do_visit(ENUMERATED& value)
{
    unsigned length = 0;
    std::int64_t v = 0;
    if (!decodeHeader(value, length) || !decodeSigned(length, std::numeric_limits<std::int32_t>::min(),
                                                      std::numeric_limits<std::int32_t>::max(), v))
        return false;
    value.setFromInt(static_cast<int>(v));
    return true;
}

bool BERDecoder::do_visit(OBJECT_IDENTIFIER& value)
{
    unsigned length = 0;
    if (!decodeHeader(value, length))
        return false;
    char const* contents = position_;
    position_ += length;
    return value.decodeCommon(contents, length);
}

bool BERDecoder::do_visit(BIT_STRING& value)
{
    unsigned length = 0;
    if (!decodeHeader(value, length) || length == 0)
        return false;
    // Up to 7 unused bits in the last octet; 8 leave the whole last octet unused.
    unsigned unused = decodeByte();
    unsigned octets = length - 1;
    if (unused > 8 || std::uint64_t{octets} * 8 < unused)
        return false;
    std::uint64_t bits = std::uint64_t{octets} * 8 - unused;
    if (bits > std::numeric_limits<unsigned>::max())
        return false;
    value.resize(static_cast<unsigned>(bits));
    unsigned used = static_cast<unsigned>((bits + 7) / 8);
    decodeBlock(value.getData().data(), used);
    position_ += octets - used;
    value.resize(static_cast<unsigned>(bits)); // clears padding bits a peer may have set
    return true;
}

bool BERDecoder::do_visit(OCTET_STRING& value)
{
    unsigned length = 0;
    if (!decodeHeader(value, length))
        return false;
    value.assign(position_, position_ + length);
    position_ += length;
    return true;
}

bool BERDecoder::do_visit(AbstractString& value)
{
    unsigned length = 0;
    if (!decodeHeader(value, length))
        return false;
    value.std::string::assign(position_, length);
    position_ += length;
    return true;
}

bool BERDecoder::do_visit(BMPString& value)
{
    unsigned length = 0;
    if (!decodeHeader(value, length))
        return false;
    value.resize(length / 2);
    for (unsigned i = 0; i < length / 2; ++i) {
        unsigned high = decodeByte();
        value[i] = static_cast<wchar_t>((high << 8) | decodeByte());
    }
    position_ += length % 2; // an odd last octet holds no character
    return true;
}

bool BERDecoder::do_visit(GeneralizedTime& value)
{
    unsigned length = 0;
    if (!decodeHeader(value, length))
        return false;
    // A string of its own: the text is read with its length, never past the contents.
    std::string text(position_, length);
    position_ += length;
    // The time takes what its text form gives; fields the text does not reach keep
    // their values.
    value.set(text.c_str());
    return true;
}

bool BERDecoder::decodeChoicePreamle(CHOICE& value, char const*& end)
{
    unsigned tag = 0;
    unsigned length = 0;
    bool primitive = true;
    if (tagWaiver_ > 0 || value.getTag() != 0) {
        bool waived = tagWaiver_ > 0;
        tagWaiver_ = 0;
        if (!decodeHeader(tag, primitive, length) || (!waived && tag != value.getTag()))
            return false;
        limit_ = position_ + length; // the alternative lies inside the CHOICE's header
    }
    char const* start = position_;
    if (!decodeHeader(tag, primitive, length))
        return false;
    end = position_ + length;
    position_ = start;
    // A tag no alternative carries leaves the CHOICE unrecognised; the alternative's
    // octets are passed over.
    value.setID(tag & 0xFFFF, tag & 0xFF0000);
    return true;
}

bool BERDecoder::do_visit(CHOICE& value)
{
    char const* outerLimit = limit_;
    char const* end = nullptr;
    bool ok = decodeChoicePreamle(value, end);
    if (ok && !value.isUnknownSelection()) {
        AbstractData* selection = value.getSelection();
        tagWaiver_ = value.getSelectionTag() != 0 ? 1 : 0;
        ok = selection != nullptr && selection->accept(*this);
    }
    // The reading goes on at the alternative's end, whatever the alternative
    // consumed; what follows it inside the CHOICE's own header is left to the
    // enclosing value.
    if (ok)
        position_ = end;
    limit_ = outerLimit;
    return ok;
}

bool BERDecoder::do_visit(SEQUENCE_OF_Base& value)
{
    unsigned length = 0;
    if (!decodeHeader(value, length))
        return false;
    value.clear();
    char const* outerLimit = limit_;
    limit_ = position_ + length;
    bool ok = true;
    while (ok && position_ < limit_) {
        std::unique_ptr<AbstractData> element(value.createElement());
        tagWaiver_ = 0;
        ok = element != nullptr && element->accept(*this);
        if (ok)
            value.push_back(element.release());
    }
    limit_ = outerLimit;
    return ok;
}

bool BERDecoder::openTypeHeader(OpenData& value, char const*& start, char const*& end)
{
    start = position_;
    unsigned length = 0;
    if (value.getTag() == 0 && tagWaiver_ == 0) {
        // Untagged: the header is the contained value's own and belongs to its octets.
        unsigned tag = 0;
        bool primitive = true;
        if (!decodeHeader(tag, primitive, length))
            return false;
        end = position_ + length;
        position_ = start;
        return true;
    }
    if (!decodeHeader(value, length))
        return false;
    start = position_;
    end = position_ + length;
    return true;
}

bool BERDecoder::do_visit(OpenData& value)
{
    char const* start = nullptr;
    char const* end = nullptr;
    if (!openTypeHeader(value, start, end))
        return false;
    value.grab(new std::vector<char>(start, end));
    position_ = end;
    return true;
}

bool BERDecoder::do_revisit(OpenData& value)
{
    if (!value.has_buf() || !value.has_data())
        return false;
    std::vector<char> const& buffer = value.get_buf();
    BERDecoder nested(buffer.data(), buffer.data() + buffer.size(), get_env());
    return value.get_data().accept(nested);
}

bool BERDecoder::do_visit(TypeConstrainedOpenData& value)
{
    char const* start = nullptr;
    char const* end = nullptr;
    if (!value.has_data() || !openTypeHeader(value, start, end))
        return false;
    char const* outerLimit = limit_;
    limit_ = end;
    tagWaiver_ = 0;
    bool ok = value.get_data().accept(*this) && position_ == end;
    limit_ = outerLimit;
    return ok;
}

int BERDecoder::preVisitExtensionRoots(SEQUENCE& value)
{
    unsigned length = 0;
    if (!decodeHeader(value, length))
        return FAIL;
    sequences_.push_back(Enclosing{position_ + length, limit_});
    limit_ = position_ + length;
    return CONTINUE;
}

int BERDecoder::decodeField(SEQUENCE& value, int field, int optionalId)
{
    bool optional = optionalId >= 0;
    unsigned k = static_cast<unsigned>(optionalId);
    if (atEnd()) {
        if (!optional)
            return FAIL;
        value.removeOptionalField(k);
        return CONTINUE;
    }
    char const* start = position_;
    unsigned tag = 0;
    unsigned length = 0;
    bool primitive = true;
    if (!decodeHeader(tag, primitive, length))
        return FAIL;
    position_ = start;
    std::uint32_t fieldTag = value.getFieldTag(field);
    if (fieldTag != 0 && fieldTag != tag) {
        // Passed over: an optional field is absent, a mandatory one keeps its value.
        if (optional)
            value.removeOptionalField(k);
        return CONTINUE;
    }
    unsigned slot = static_cast<unsigned>(field);
    AbstractData* f = optional ? &value.includeOptionalField(k, slot) : value.getField(slot);
    if (f == nullptr)
        return FAIL;
    char const* limit = limit_;
    std::size_t depth = sequences_.size();
    tagWaiver_ = fieldTag != 0 && value.tagMode() != 2 ? 1 : 0;
    if (f->accept(*this))
        return CONTINUE;
    if (!optional)
        return FAIL;
    value.removeOptionalField(k);
    if (fieldTag != 0)
        return FAIL;
    // An untagged optional field cannot be told by its tag: what failed belongs to the
    // fields after it.
    position_ = start;
    limit_ = limit;
    sequences_.resize(depth);
    tagWaiver_ = 0;
    return CONTINUE;
}

int BERDecoder::visitExtensionRoot(SEQUENCE& value, int field, int optionalId)
{
    return decodeField(value, field, optionalId);
}

int BERDecoder::visitKnownExtension(SEQUENCE& value, int field, int optionalId)
{
    return decodeField(value, field, optionalId);
}

int BERDecoder::visitUnknownExtensions(SEQUENCE&)
{
    if (sequences_.empty())
        return FAIL;
    Enclosing enclosing = sequences_.back();
    sequences_.pop_back();
    // Octets left over (additions of a later version, fields the type does not have)
    // are skipped.
    position_ = enclosing.end;
    limit_ = enclosing.outerLimit;
    return STOP;
}

} // namespace ASN1
