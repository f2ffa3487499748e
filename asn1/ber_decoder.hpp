// BER decoder (definite lengths). Every failure fails the whole decoding; nothing is
// logged. Each length is checked against the value that encloses it before anything
// is read, so no read goes past the input or past the enclosing value.
#pragma once

#include "asn1/visitor.hpp"

#include <cstdint>
#include <vector>

namespace ASN1
{

class BERDecoder : public Visitor
{
public:
    BERDecoder(char const* begin, char const* end, CoderEnv* env = nullptr);

    // 0 at the end of the enclosing value.
    unsigned decodeByte();
    bool atEnd() const { return position_ >= limit_; }
    char const* position() const { return position_; }
    void rollback(char const* position) { position_ = position; }
    // Copies at most n octets of what is left; returns the number copied.
    unsigned decodeBlock(char* out, unsigned n);
    // One identifier and length; false for a form this decoder does not take (a tag
    // number beyond 16 bits, a length beyond 32 bits or past the enclosing value).
    bool decodeHeader(unsigned& tag, bool& primitive, unsigned& length);
    // A header carrying value's own tag, or any tag while a waiver is pending (the
    // parent has checked the tag it expects). A tag is its class and number: either
    // form, primitive or constructed, is taken, and the contents are read as the
    // value's kind reads them. A refused header is not consumed.
    bool decodeHeader(AbstractData& value, unsigned& length);
    // Reads the CHOICE's own header if it has one, selects the alternative the next
    // header names and leaves the position on that header; end: the alternative's end.
    bool decodeChoicePreamle(CHOICE& value, char const*& end);

    int preVisitExtensionRoots(SEQUENCE& value) override;
    int visitExtensionRoot(SEQUENCE& value, int field, int optionalId) override;
    int visitKnownExtension(SEQUENCE& value, int field, int optionalId) override;
    int visitUnknownExtensions(SEQUENCE& value) override;

protected:
    bool do_visit(Null& value) override;
    bool do_visit(BOOLEAN& value) override;
    bool do_visit(INTEGER& value) override;
    bool do_visit(ENUMERATED& value) override;
    bool do_visit(OBJECT_IDENTIFIER& value) override;
    bool do_visit(OCTET_STRING& value) override;
    bool do_visit(BIT_STRING& value) override;
    bool do_visit(AbstractString& value) override;
    bool do_visit(BMPString& value) override;
    bool do_visit(CHOICE& value) override;
    bool do_visit(SEQUENCE_OF_Base& value) override;
    bool do_visit(OpenData& value) override;
    bool do_revisit(OpenData& value) override;
    bool do_visit(TypeConstrainedOpenData& value) override;
    bool do_visit(GeneralizedTime& value) override;

private:
    // A signed big-endian number of `length` octets that fits in [lowest, highest].
    bool decodeSigned(unsigned length, std::int64_t lowest, std::int64_t highest, std::int64_t& out);
    int decodeField(SEQUENCE& value, int field, int optionalId);
    bool openTypeHeader(OpenData& value, char const*& start, char const*& end);

    struct Enclosing {
        char const* end;        // end of the SEQUENCE's contents
        char const* outerLimit; // the limit to restore after it
    };

    char const* position_;
    char const* limit_; // end of the innermost enclosing value (the input at the top)
    std::vector<Enclosing> sequences_;
    unsigned tagWaiver_ = 0;
};

} // namespace ASN1
