// BER encoder (definite lengths). Each header's length is measured beforehand with
// the DataLengthCounter, so the contents are written once, front to back.
#pragma once

#include "asn1/visitor.hpp"

#include <cstdint>
#include <vector>

namespace ASN1
{

class BEREncoder : public ConstVisitor
{
public:
    // Clears buffer; octets are appended to it.
    explicit BEREncoder(std::vector<char>& buffer);

    void encodeByte(unsigned value);
    void encodeBlock(char const* data, unsigned count);
    // Identifier and length octets of value under the pending tag.
    void encodeHeader(AbstractData const& value);

    // Octets of the shortest two's-complement form, 1 to 4.
    static unsigned getIntegerDataLength(int value);
    // Contents octets of value.
    static unsigned getDataLength(AbstractData const& value);
    // The whole encoding under tag (-1: the value's own); the contents alone when that
    // tag is 0, since an untagged value writes no header of its own.
    static unsigned getObjectLength(AbstractData const& value, std::int32_t tag);

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
    void encodeInteger(int value);
    bool encodeChild(AbstractData const& value, std::int32_t tag);

    std::vector<char>& buffer_;
    std::int32_t tag_ = -1; // pending tag of the next header; -1: the value's own
};

} // namespace ASN1
