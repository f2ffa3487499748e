#include "asn1/visitor.hpp"

#include "asn1/constructed.hpp"
#include "asn1/primitives.hpp"
#include "asn1/strings.hpp"

namespace ASN1
{

bool Visitor::do_visit(IntegerWithNamedNumber& value)
{
    return do_visit(static_cast<INTEGER&>(value));
}

bool Visitor::visit(SEQUENCE& value)
{
    int first = preVisitExtensionRoots(value);
    if (first < NO_EXTENSIONS)
        return first != FAIL;
    SequenceInfo const* si = value.sequenceInfo();
    for (std::uint32_t i = 0; i < si->numFields; ++i) {
        int result = visitExtensionRoot(value, static_cast<int>(i), si->fieldIds[i]);
        if (result < NO_EXTENSIONS)
            return result != FAIL;
    }
    if (first != CONTINUE)
        return true;
    int result = preVisitExtensions(value);
    if (result != CONTINUE)
        return result != FAIL;
    for (std::uint32_t j = 0; j < si->knownExtensions; ++j) {
        result = visitKnownExtension(value, static_cast<int>(si->numFields + j),
                                     static_cast<int>(si->numOptional + j));
        if (result != CONTINUE)
            return result != FAIL;
    }
    return visitUnknownExtensions(value) != FAIL;
}

bool ConstVisitor::visit(SEQUENCE const& value)
{
    if (!preVisitExtensionRoots(value))
        return false;
    SequenceInfo const* si = value.sequenceInfo();
    for (std::uint32_t i = 0; i < si->numFields; ++i) {
        int k = si->fieldIds[i];
        if (k >= 0 && !value.hasOptionalField(static_cast<unsigned>(k)))
            continue;
        if (!visitExtensionRoot(value, static_cast<int>(i)))
            return false;
    }
    if (value.getExtensionMap().size() != 0) {
        if (!preVisitExtensions(value))
            return false;
        for (std::uint32_t j = 0; j < si->knownExtensions; ++j) {
            if (!value.hasOptionalField(si->numOptional + j))
                continue;
            if (!visitKnownExtension(value, static_cast<int>(si->numFields + j)))
                return false;
        }
    }
    return afterVisitSequence(value);
}

bool ConstVisitor::preVisitExtensionRoots(SEQUENCE const& value)
{
    return do_visit(static_cast<AbstractData const&>(value));
}
bool ConstVisitor::do_visit(Null const& value)
{
    return do_visit(static_cast<AbstractData const&>(value));
}
bool ConstVisitor::do_visit(BOOLEAN const& value)
{
    return do_visit(static_cast<AbstractData const&>(value));
}
bool ConstVisitor::do_visit(INTEGER const& value)
{
    return do_visit(static_cast<AbstractData const&>(value));
}
bool ConstVisitor::do_visit(IntegerWithNamedNumber const& value)
{
    return do_visit(static_cast<INTEGER const&>(value));
}
bool ConstVisitor::do_visit(ENUMERATED const& value)
{
    return do_visit(static_cast<AbstractData const&>(value));
}
bool ConstVisitor::do_visit(OBJECT_IDENTIFIER const& value)
{
    return do_visit(static_cast<AbstractData const&>(value));
}
bool ConstVisitor::do_visit(BIT_STRING const& value)
{
    return do_visit(static_cast<AbstractData const&>(value));
}
bool ConstVisitor::do_visit(OCTET_STRING const& value)
{
    return do_visit(static_cast<AbstractData const&>(value));
}
bool ConstVisitor::do_visit(AbstractString const& value)
{
    return do_visit(static_cast<AbstractData const&>(value));
}
bool ConstVisitor::do_visit(BMPString const& value)
{
    return do_visit(static_cast<AbstractData const&>(value));
}
bool ConstVisitor::do_visit(CHOICE const& value)
{
    return do_visit(static_cast<AbstractData const&>(value));
}
bool ConstVisitor::do_visit(OpenData const& value)
{
    return do_visit(static_cast<AbstractData const&>(value));
}
bool ConstVisitor::do_visit(GeneralizedTime const& value)
{
    return do_visit(static_cast<AbstractData const&>(value));
}
bool ConstVisitor::do_visit(SEQUENCE_OF_Base const& value)
{
    return do_visit(static_cast<AbstractData const&>(value));
}

} // namespace ASN1
