#include "asn1/ber_encoder.hpp"

#include "asn1/constructed.hpp"
#include "asn1/data_length_counter.hpp"
#include "asn1/primitives.hpp"
#include "asn1/strings.hpp"

#include <string>

namespace ASN1
{

BEREncoder::BEREncoder(std::vector<char>& buffer) : buffer_(buffer)
{
    buffer_.clear();
    buffer_.reserve(256);
}

void BEREncoder::encodeByte(unsigned value)
{
    buffer_.push_back(static_cast<char>(value & 0xFF));
}

void BEREncoder::encodeBlock(char const* data, unsigned count)
{
    buffer_.insert(buffer_.end(), data, data + count);
}

unsigned BEREncoder::getIntegerDataLength(int value)
{
    std::int64_t v = value;
    unsigned n = 1;
    while (n < 4 && (v < -(std::int64_t{1} << (8 * n - 1)) || v >= (std::int64_t{1} << (8 * n - 1))))
        ++n;
    return n;
}

unsigned BEREncoder::getDataLength(AbstractData const& value)
{
    DataLengthCounter counter;
    value.accept(counter);
    return counter.getDataLen();
}

unsigned BEREncoder::getObjectLength(AbstractData const& value, std::int32_t tag)
{
    std::uint32_t word = tag < 0 ? value.getTag() : static_cast<std::uint32_t>(tag);
    DataLengthCounter counter;
    value.accept(counter);
    return word == 0 ? counter.getDataLen() : counter.getObjectLen(word);
}

void BEREncoder::encodeHeader(AbstractData const& value)
{
    std::uint32_t tag = tag_ < 0 ? value.getTag() : static_cast<std::uint32_t>(tag_);
    PrimitiveChecker checker;
    unsigned first = (tag >> 16) & 0xC0;
    if (!value.accept(checker))
        first |= 0x20;
    unsigned number = tag & 0xFFFF;
    if (number < 31) {
        encodeByte(first | number);
    } else {
        encodeByte(first | 31);
        int shift = 14;
        while (shift > 0 && (number >> shift) == 0)
            shift -= 7;
        for (; shift > 0; shift -= 7)
            encodeByte(0x80 | ((number >> shift) & 0x7F));
        encodeByte(number & 0x7F);
    }
    unsigned length = getDataLength(value);
    if (length <= 127) {
        encodeByte(length);
        return;
    }
    unsigned octets = 0;
    for (unsigned rest = length; rest != 0; rest >>= 8)
        ++octets;
    encodeByte(0x80 | octets);
    for (unsigned i = octets; i > 0; --i)
        encodeByte(length >> (8 * (i - 1)));
}

void BEREncoder::encodeInteger(int value)
{
    unsigned n = getIntegerDataLength(value);
    std::uint32_t bits = static_cast<std::uint32_t>(value);
    for (unsigned i = n; i > 0; --i)
        encodeByte(bits >> (8 * (i - 1)));
}

bool BEREncoder::encodeChild(AbstractData const& value, std::int32_t tag)
{
    tag_ = tag;
    return value.accept(*this);
}

bool BEREncoder::do_visit(Null const& value)
{
    encodeHeader(value);
    return true;
}

bool BEREncoder::do_visit(BOOLEAN const& value)
{
    encodeHeader(value);
    encodeByte(value ? 0xFF : 0x00);
    return true;
}

bool BEREncoder::do_visit(INTEGER const& value)
{
    encodeHeader(value);
    encodeInteger(value.getValue());
    return true;
}

bool BEREncoder::do_visit(ENUMERATED const& value)
{
    encodeHeader(value);
    encodeInteger(value.asInt());
    return true;
}

bool BEREncoder::do_visit(OBJECT_IDENTIFIER const& value)
{
    encodeHeader(value);
    std::vector<char> octets;
    value.encodeCommon(octets);
    encodeBlock(octets.data(), static_cast<unsigned>(octets.size()));
    return true;
}

bool BEREncoder::do_visit(BIT_STRING const& value)
{
    encodeHeader(value);
    unsigned bits = value.size();
    encodeByte((8 - bits % 8) % 8);
    encodeBlock(value.getData().data(), (bits + 7) / 8);
    return true;
}

bool BEREncoder::do_visit(OCTET_STRING const& value)
{
    encodeHeader(value);
    encodeBlock(value.data(), static_cast<unsigned>(value.size()));
    return true;
}

bool BEREncoder::do_visit(AbstractString const& value)
{
    encodeHeader(value);
    encodeBlock(value.data(), static_cast<unsigned>(value.size()));
    return true;
}

bool BEREncoder::do_visit(BMPString const& value)
{
    encodeHeader(value);
    for (wchar_t c : value) {
        std::int64_t code = std::char_traits<wchar_t>::to_int_type(c);
        encodeByte(static_cast<unsigned>(code >> 8));
        encodeByte(static_cast<unsigned>(code));
    }
    return true;
}

bool BEREncoder::do_visit(GeneralizedTime const& value)
{
    encodeHeader(value);
    std::string text = value.get();
    encodeBlock(text.data(), static_cast<unsigned>(text.size()));
    return true;
}

bool BEREncoder::do_visit(CHOICE const& value)
{
    AbstractData const* selection = value.getSelection();
    if (value.currentSelection() < 0 || selection == nullptr)
        return false;
    // Tagged (a field, an alternative, or a CHOICE type with a tag of its own): the
    // alternative goes inside a header of the CHOICE's own.
    if (tag_ != 0 && (tag_ != -1 || value.getTag() != 0))
        encodeHeader(value);
    return encodeChild(*selection, static_cast<std::int32_t>(value.getSelectionTag()));
}

bool BEREncoder::do_visit(OpenData const& value)
{
    if (tag_ == -1)
        tag_ = static_cast<std::int32_t>(value.getTag());
    if (tag_ != 0) {
        if (value.isEmpty())
            return false;
        encodeHeader(value);
    }
    if (value.has_data())
        return encodeChild(value.get_data(), -1);
    if (value.has_buf()) {
        encodeBlock(value.get_buf().data(), static_cast<unsigned>(value.get_buf().size()));
        return true;
    }
    return false;
}

bool BEREncoder::do_visit(SEQUENCE_OF_Base const& value)
{
    encodeHeader(value);
    for (AbstractData const* element : value) {
        if (!encodeChild(*element, -1))
            return false;
    }
    return true;
}

bool BEREncoder::preVisitExtensionRoots(SEQUENCE const& value)
{
    encodeHeader(value);
    return true;
}

bool BEREncoder::visitExtensionRoot(SEQUENCE const& value, int field)
{
    AbstractData const* f = value.getField(static_cast<unsigned>(field));
    return f != nullptr && encodeChild(*f, static_cast<std::int32_t>(value.getFieldTag(field)));
}

bool BEREncoder::visitKnownExtension(SEQUENCE const& value, int field)
{
    return visitExtensionRoot(value, field);
}

} // namespace ASN1
