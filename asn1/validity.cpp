#include "asn1/validity.hpp"

#include "asn1/constructed.hpp"
#include "asn1/primitives.hpp"
#include "asn1/strings.hpp"

#include <cstdint>
#include <ostream>

#include <string>

namespace ASN1
{

namespace
{

// Value bounds: compared as unsigned numbers when the lower bound is 0 or more, as
// signed ones otherwise. A type with a lower bound only has no upper one to pass.
bool belowLower(ConstrainedObject const& c, int value)
{
    if (!c.constrained())
        return false;
    if (c.getLowerLimit() >= 0)
        return static_cast<unsigned>(value) < static_cast<unsigned>(c.getLowerLimit());
    return value < c.getLowerLimit();
}

bool aboveUpper(ConstrainedObject const& c, int value)
{
    ConstraintType type = c.getConstraintType();
    if (type == Unconstrained || type == PartiallyConstrained)
        return false;
    if (c.getLowerLimit() >= 0)
        return static_cast<unsigned>(value) > c.getUpperLimit();
    return std::int64_t{value} > static_cast<std::int64_t>(static_cast<std::int32_t>(c.getUpperLimit()));
}

// Sizes: the lower bound compared as an unsigned number.
bool sizeBelow(ConstrainedObject const& c, std::uint64_t size)
{
    return size < static_cast<unsigned>(c.getLowerLimit());
}

bool sizeAbove(ConstrainedObject const& c, std::uint64_t size)
{
    return size > c.getUpperLimit();
}

// isValid's size rule: the upper bound binds only a type without extension marker.
bool sizeValid(ConstrainedObject const& c, std::uint64_t size, bool upperUnlessExtendable)
{
    if (sizeBelow(c, size))
        return false;
    if (upperUnlessExtendable)
        return c.extendable() || !sizeAbove(c, size);
    return c.getConstraintType() != FixedConstraint || !sizeAbove(c, size);
}

bool sizeStrictlyValid(ConstrainedObject const& c, std::uint64_t size)
{
    return !sizeBelow(c, size) && !sizeAbove(c, size);
}

} // namespace

bool AbstractData::isValid() const
{
    ValidChecker checker;
    return accept(checker);
}

bool AbstractData::isStrictlyValid() const
{
    StrictlyValidChecker checker;
    return accept(checker);
}

bool INTEGER::isStrictValid() const
{
    return !belowLower(*this, getValue()) && !aboveUpper(*this, getValue());
}

bool INTEGER::isValid() const
{
    return isStrictValid() || extendable();
}

bool ENUMERATED::isStrictlyValid() const
{
    return asInt() <= getMaximum();
}

bool ENUMERATED::isValid() const
{
    return extendable() || isStrictlyValid();
}

bool OBJECT_IDENTIFIER::isValid() const
{
    return levels() != 0;
}

bool OBJECT_IDENTIFIER::isStrictlyValid() const
{
    return levels() != 0;
}

bool BIT_STRING::isValid() const
{
    return sizeValid(*this, size(), false);
}

bool BIT_STRING::isStrictlyValid() const
{
    return sizeStrictlyValid(*this, size());
}

bool OCTET_STRING::isValid() const
{
    return sizeValid(*this, size(), false);
}

bool OCTET_STRING::isStrictlyValid() const
{
    return sizeStrictlyValid(*this, size());
}

bool AbstractString::isValid() const
{
    return sizeValid(*this, size(), true) && find_first_invalid() == npos;
}

bool AbstractString::isStrictlyValid() const
{
    return sizeStrictlyValid(*this, size()) && find_first_invalid() == npos;
}

bool BMPString::legalCharacter(wchar_t c) const
{
    std::int64_t code = std::char_traits<wchar_t>::to_int_type(c);
    return code >= std::int64_t{getFirstChar()} && code <= std::int64_t{getLastChar()};
}

BMPString::size_type BMPString::first_illegal_at() const
{
    size_type i = 0;
    while (i < size() && legalCharacter((*this)[i]))
        ++i;
    return i;
}

bool BMPString::isValid() const
{
    return sizeValid(*this, size(), true) && first_illegal_at() == size();
}

bool BMPString::isStrictlyValid() const
{
    return sizeStrictlyValid(*this, size()) && first_illegal_at() == size();
}

bool GeneralizedTime::isStrictlyValid() const
{
    return year > 0 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour >= 0 && hour <= 24 &&
           minute >= 0 && minute <= 59 && second >= 0 && second <= 59 && mindiff >= -720 && mindiff <= 720;
}

bool GeneralizedTime::isValid() const
{
    return isStrictlyValid();
}

bool CHOICE::isValid() const
{
    int index = currentSelection();
    if (index < 0 || getSelection() == nullptr)
        return false;
    if (static_cast<unsigned>(index) >= getNumChoices() && !extendable())
        return false;
    return getSelection()->isValid();
}

bool CHOICE::isStrictlyValid() const
{
    int index = currentSelection();
    return index >= 0 && static_cast<unsigned>(index) < getNumChoices() && getSelection() != nullptr &&
           getSelection()->isStrictlyValid();
}

bool SEQUENCE_OF_Base::isValid() const
{
    if (!sizeValid(*this, size(), true))
        return false;
    for (AbstractData const* element : *this) {
        if (!element->isValid())
            return false;
    }
    return true;
}

bool SEQUENCE_OF_Base::isStrictlyValid() const
{
    if (!sizeStrictlyValid(*this, size()))
        return false;
    for (AbstractData const* element : *this) {
        if (!element->isStrictlyValid())
            return false;
    }
    return true;
}

bool OpenData::isValid() const
{
    return has_data() ? get_data().isValid() : has_buf();
}

bool OpenData::isStrictlyValid() const
{
    return has_data() ? get_data().isStrictlyValid() : has_buf();
}

// The checkers hand each kind to its own check; a SEQUENCE passes when every present
// field does.

bool ValidChecker::visitExtensionRoot(SEQUENCE const& value, int field)
{
    AbstractData const* f = value.getField(static_cast<unsigned>(field));
    return f != nullptr && f->accept(*this);
}

bool ValidChecker::visitKnownExtension(SEQUENCE const& value, int field)
{
    return visitExtensionRoot(value, field);
}

bool ValidChecker::do_visit(INTEGER const& value)
{
    return value.isValid();
}

bool ValidChecker::do_visit(ENUMERATED const& value)
{
    return value.isValid();
}

bool ValidChecker::do_visit(OBJECT_IDENTIFIER const& value)
{
    return value.isValid();
}

bool ValidChecker::do_visit(BIT_STRING const& value)
{
    return value.isValid();
}

bool ValidChecker::do_visit(OCTET_STRING const& value)
{
    return value.isValid();
}

bool ValidChecker::do_visit(AbstractString const& value)
{
    return value.isValid();
}

bool ValidChecker::do_visit(BMPString const& value)
{
    return value.isValid();
}

bool ValidChecker::do_visit(CHOICE const& value)
{
    return value.isValid();
}

bool ValidChecker::do_visit(OpenData const& value)
{
    return value.isValid();
}

bool ValidChecker::do_visit(GeneralizedTime const& value)
{
    return value.isValid();
}

bool ValidChecker::do_visit(SEQUENCE_OF_Base const& value)
{
    return value.isValid();
}

bool StrictlyValidChecker::visitExtensionRoot(SEQUENCE const& value, int field)
{
    AbstractData const* f = value.getField(static_cast<unsigned>(field));
    return f != nullptr && f->accept(*this);
}

bool StrictlyValidChecker::visitKnownExtension(SEQUENCE const& value, int field)
{
    return visitExtensionRoot(value, field);
}

bool StrictlyValidChecker::do_visit(INTEGER const& value)
{
    return value.isStrictValid();
}

bool StrictlyValidChecker::do_visit(ENUMERATED const& value)
{
    return value.isStrictlyValid();
}

bool StrictlyValidChecker::do_visit(OBJECT_IDENTIFIER const& value)
{
    return value.isStrictlyValid();
}

bool StrictlyValidChecker::do_visit(BIT_STRING const& value)
{
    return value.isStrictlyValid();
}

bool StrictlyValidChecker::do_visit(OCTET_STRING const& value)
{
    return value.isStrictlyValid();
}

bool StrictlyValidChecker::do_visit(AbstractString const& value)
{
    return value.isStrictlyValid();
}

bool StrictlyValidChecker::do_visit(BMPString const& value)
{
    return value.isStrictlyValid();
}

bool StrictlyValidChecker::do_visit(CHOICE const& value)
{
    return value.isStrictlyValid();
}

bool StrictlyValidChecker::do_visit(OpenData const& value)
{
    return value.isStrictlyValid();
}

bool StrictlyValidChecker::do_visit(GeneralizedTime const& value)
{
    return value.isStrictlyValid();
}

bool StrictlyValidChecker::do_visit(SEQUENCE_OF_Base const& value)
{
    return value.isStrictlyValid();
}

// The tracer.

std::ostream& operator<<(std::ostream& stream, InvalidTracer const& tracer)
{
    return stream << tracer.text();
}

bool trace_invalid(std::ostream& stream, char const* prefix, AbstractData const& value)
{
    InvalidTracer tracer;
    if (value.accept(tracer))
        return true;
    stream << prefix << tracer << '\n';
    return false;
}

template <class Path> bool InvalidTracer::traceChild(AbstractData const& part, Path const& path)
{
    InvalidTracer inner;
    if (part.accept(inner))
        return true;
    strm_ << path << inner.text();
    return false;
}

bool InvalidTracer::visitExtensionRoot(SEQUENCE const& value, int field)
{
    AbstractData const* f = value.getField(static_cast<unsigned>(field));
    return f != nullptr && traceChild(*f, std::string(".") + value.getFieldName(field));
}

bool InvalidTracer::visitKnownExtension(SEQUENCE const& value, int field)
{
    return visitExtensionRoot(value, field);
}

bool InvalidTracer::do_visit(INTEGER const& value)
{
    int v = value.getValue();
    bool failsLow = belowLower(value, v);
    bool failsHigh = !failsLow && !value.extendable() && aboveUpper(value, v);
    if (!failsLow && !failsHigh)
        return true;
    strm_ << " The INTEGER value ";
    if (value.getLowerLimit() >= 0)
        strm_ << static_cast<unsigned>(v);
    else
        strm_ << v;
    if (failsLow)
        strm_ << " is smaller than lower bound " << value.getLowerLimit();
    else
        strm_ << " is greater than upper bound " << value.getUpperLimit();
    return false;
}

bool InvalidTracer::do_visit(ENUMERATED const& value)
{
    if (value.asInt() <= value.getMaximum())
        return true;
    strm_ << " This ENUMERATED has invalid value " << value.asInt();
    return false;
}

bool InvalidTracer::do_visit(OBJECT_IDENTIFIER const& value)
{
    if (value.levels() != 0)
        return true;
    strm_ << " This OBJECT IDENTIFIER is not assigned";
    return false;
}

bool InvalidTracer::traceSize(char const* what, unsigned size, ConstrainedObject const& value)
{
    if (sizeBelow(value, size)) {
        strm_ << " This " << what << " has size " << size << " smaller than its lower bound "
              << value.getLowerLimit();
        return false;
    }
    if (value.getConstraintType() == FixedConstraint && sizeAbove(value, size)) {
        strm_ << " This " << what << " has size " << size << " greater than its upper bound "
              << value.getUpperLimit();
        return false;
    }
    return true;
}

bool InvalidTracer::do_visit(BIT_STRING const& value)
{
    return traceSize("BIT STRING", value.size(), value);
}

bool InvalidTracer::do_visit(OCTET_STRING const& value)
{
    return traceSize("OCTET STRING", static_cast<unsigned>(value.size()), value);
}

bool InvalidTracer::do_visit(AbstractString const& value)
{
    if (!traceSize("AbstractString", static_cast<unsigned>(value.size()), value))
        return false;
    std::string::size_type at = value.find_first_invalid();
    if (at == std::string::npos)
        return true;
    strm_ << " The character '" << value[at] << "' is not valid for the string";
    return false;
}

bool InvalidTracer::do_visit(BMPString const& value)
{
    if (!traceSize("BMPString", static_cast<unsigned>(value.size()), value))
        return false;
    std::wstring::size_type at = value.first_illegal_at();
    if (at == value.size())
        return true;
    strm_ << " The character '" << static_cast<std::uint32_t>(value[at]) << "' is not valid for the string";
    return false;
}

bool InvalidTracer::do_visit(CHOICE const& value)
{
    if (value.isUnknownSelection()) {
        strm_ << " This selection is not understood by this decoder";
        return false;
    }
    AbstractData const* selection = value.getSelection();
    char const* name = value.getSelectionName();
    if (value.currentSelection() < 0 || selection == nullptr) {
        strm_ << " This CHOICE is not selected";
        return false;
    }
    strm_ << '.' << (name != nullptr ? name : "");
    return selection->accept(*this);
}

bool InvalidTracer::do_visit(OpenData const& value)
{
    if (value.has_data())
        return value.get_data().accept(*this);
    if (value.has_buf())
        return true;
    strm_ << " This Open Type does not contain any valid data";
    return false;
}

bool InvalidTracer::do_visit(GeneralizedTime const& value)
{
    if (value.isStrictlyValid())
        return true;
    strm_ << " This GeneralizedTime is not valid";
    return false;
}

bool InvalidTracer::do_visit(SEQUENCE_OF_Base const& value)
{
    if (!traceSize("SEQUENCE OF", value.size(), value))
        return false;
    unsigned index = 0;
    for (AbstractData const* element : value) {
        if (!traceChild(*element, "[" + std::to_string(index) + "]"))
            return false;
        ++index;
    }
    return true;
}

} // namespace ASN1
