#include "asn1/data_length_counter.hpp"

#include "asn1/constructed.hpp"
#include "asn1/primitives.hpp"
#include "asn1/strings.hpp"

#include <vector>

namespace ASN1
{

namespace
{

// Contents octets of a two's-complement integer: the fewest that keep the sign.
unsigned integerLength(int value)
{
    std::int64_t v = value;
    unsigned n = 1;
    while (n < 4 && (v < -(std::int64_t{1} << (8 * n - 1)) || v >= (std::int64_t{1} << (8 * n - 1))))
        ++n;
    return n;
}

unsigned octetsToHold(unsigned value)
{
    unsigned n = 0;
    for (; value != 0; value >>= 8)
        ++n;
    return n;
}

} // namespace

unsigned DataLengthCounter::getObjectLen(unsigned tag) const
{
    unsigned number = tag & 0xFFFF;
    unsigned tagLength = 1;
    if (number >= 31) {
        for (; number != 0; number >>= 7)
            ++tagLength;
    }
    return length_ + 1 + (length_ < 128 ? 0 : octetsToHold(length_)) + tagLength;
}

bool DataLengthCounter::addObject(AbstractData const& value, unsigned tag)
{
    DataLengthCounter inner;
    if (!value.accept(inner))
        return false;
    // An untagged value (a CHOICE or an open type) writes no header of its own.
    length_ += tag == 0 ? inner.getDataLen() : inner.getObjectLen(tag);
    return true;
}

bool DataLengthCounter::do_visit(Null const&)
{
    return true;
}

bool DataLengthCounter::do_visit(BOOLEAN const&)
{
    length_ += 1;
    return true;
}

bool DataLengthCounter::do_visit(INTEGER const& value)
{
    length_ += integerLength(value.getValue());
    return true;
}

bool DataLengthCounter::do_visit(ENUMERATED const& value)
{
    length_ += integerLength(value.asInt());
    return true;
}

bool DataLengthCounter::do_visit(OBJECT_IDENTIFIER const& value)
{
    std::vector<char> octets;
    value.encodeCommon(octets);
    length_ += static_cast<unsigned>(octets.size());
    return true;
}

bool DataLengthCounter::do_visit(BIT_STRING const& value)
{
    length_ += (value.size() + 7) / 8 + 1; // with the octet that counts the padding bits
    return true;
}

bool DataLengthCounter::do_visit(OCTET_STRING const& value)
{
    length_ += static_cast<unsigned>(value.size());
    return true;
}

bool DataLengthCounter::do_visit(AbstractString const& value)
{
    length_ += static_cast<unsigned>(value.size());
    return true;
}

bool DataLengthCounter::do_visit(BMPString const& value)
{
    length_ += 2 * static_cast<unsigned>(value.size());
    return true;
}

bool DataLengthCounter::do_visit(GeneralizedTime const& value)
{
    length_ += static_cast<unsigned>(value.get().size());
    return true;
}

bool DataLengthCounter::do_visit(CHOICE const& value)
{
    if (value.getSelection() == nullptr)
        return true;
    return addObject(*value.getSelection(), value.getSelectionTag());
}

bool DataLengthCounter::do_visit(OpenData const& value)
{
    // The contained value keeps its own header inside the open type's; received octets
    // that were never decoded are written as they came.
    if (value.has_data())
        return addObject(value.get_data(), value.get_data().getTag());
    if (value.has_buf())
        length_ += static_cast<unsigned>(value.get_buf().size());
    return true;
}

bool DataLengthCounter::do_visit(SEQUENCE_OF_Base const& value)
{
    for (AbstractData const* element : value) {
        if (!addObject(*element, element->getTag()))
            return false;
    }
    return true;
}

bool DataLengthCounter::preVisitExtensionRoots(SEQUENCE const&)
{
    return true;
}

bool DataLengthCounter::visitExtensionRoot(SEQUENCE const& value, int field)
{
    AbstractData const* f = value.getField(static_cast<unsigned>(field));
    return f != nullptr && addObject(*f, value.getFieldTag(field));
}

bool DataLengthCounter::visitKnownExtension(SEQUENCE const& value, int field)
{
    return visitExtensionRoot(value, field);
}

bool PrimitiveChecker::do_visit(CHOICE const& value)
{
    return value.getSelection() == nullptr || value.getSelection()->accept(*this);
}

bool PrimitiveChecker::do_visit(OpenData const& value)
{
    return !value.has_data() || value.get_data().accept(*this);
}

} // namespace ASN1
