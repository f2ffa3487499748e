// Measures and classifies values for a BER encoder: the length of a value's contents
// octets, and whether it is encoded primitive or constructed.
#pragma once

#include "asn1/visitor.hpp"

#include <cstdint>

namespace ASN1
{

class DataLengthCounter : public ConstVisitor
{
public:
    DataLengthCounter() = default;

    // The running total of contents octets.
    unsigned getDataLen() const { return length_; }
    // The whole encoding of what was counted under `tag`: identifier, length and contents.
    unsigned getObjectLen(unsigned tag) const;

    bool preVisitExtensionRoots(SEQUENCE const& value) override;
    bool visitExtensionRoot(SEQUENCE const& value, int field) override;
    bool visitKnownExtension(SEQUENCE const& value, int field) override;

protected:
    bool do_visit(Null const& value) override;
    bool do_visit(BOOLEAN const& value) override;
    bool do_visit(INTEGER const& value) override;
    bool do_visit(ENUMERATED const& value) override;
    bool do_visit(OBJECT_IDENTIFIER const& value) override;
    bool do_visit(BIT_STRING const& value) override;
    bool do_visit(OCTET_STRING const& value) override;
    bool do_visit(AbstractString const& value) override;
    bool do_visit(BMPString const& value) override;
    bool do_visit(CHOICE const& value) override;
    bool do_visit(OpenData const& value) override;
    bool do_visit(GeneralizedTime const& value) override;
    bool do_visit(SEQUENCE_OF_Base const& value) override;

private:
    bool addObject(AbstractData const& value, unsigned tag);

    unsigned length_ = 0;
};

// True: primitive. A CHOICE without a selection and an open type without a value have
// nothing to look into and count as primitive.
class PrimitiveChecker : public ConstVisitor
{
public:
    PrimitiveChecker() = default;
    bool preVisitExtensionRoots(SEQUENCE const&) override { return false; }

protected:
    bool do_visit(CHOICE const& value) override;
    bool do_visit(OpenData const& value) override;
    bool do_visit(SEQUENCE_OF_Base const&) override { return false; }
};

} // namespace ASN1
