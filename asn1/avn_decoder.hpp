// Value-notation reader: fills a value from ASN.1 value notation. Characters are read
// with formatted extraction (white space skipped). Identifiers run to the next white
// space; a value word (an enumerator, a named number) also ends at "," or "}", so
// an enumerator the printer writes before "," reads back.
#pragma once

#include "asn1/visitor.hpp"

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace ASN1
{

class AVNDecoder : public Visitor
{
public:
    explicit AVNDecoder(std::istream& stream) : Visitor(nullptr), stream_(stream) {}

    int preVisitExtensionRoots(SEQUENCE& value) override;
    int visitExtensionRoot(SEQUENCE& value, int field, int optionalId) override;
    int visitKnownExtension(SEQUENCE& value, int field, int optionalId) override;
    int visitUnknownExtensions(SEQUENCE& value) override;

protected:
    bool do_visit(Null& value) override;
    bool do_visit(BOOLEAN& value) override;
    bool do_visit(INTEGER& value) override;
    bool do_visit(IntegerWithNamedNumber& value) override;
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
    // Letters read one at a time while alphabetic; the first other character is put back.
    bool readLetters(std::string& letters);
    int readField(SEQUENCE& value, int field, int optionalId);

    std::istream& stream_;
    // Per SEQUENCE being read: the identifier read last, which names the next field.
    std::vector<std::string> identifiers_;
};

// Neither failbit nor badbit.
bool input_success(std::istream& stream);
// The space and the line feed only.
bool is_space_or_newline(char c);
// A double quote, then every character up to the next one (no escape).
bool get_string(std::istream& stream, std::string& text);
// An apostrophe, digits up to the next one, then "B" or "H": octets and bit count.
bool get_value_from(std::istream& stream, std::vector<char>& octets, unsigned& bits);
// Digits of base 2 or 16 (spaces and line feeds removed), padded on the right to whole
// octets.
bool get_from_string(std::string& digits, std::vector<char>& octets, unsigned& bits, int base);
// Index of id among the first count names.
bool get_id(char const* const* names, unsigned count, std::string const& id, int& index);

// Leaves a stream that is not good untouched; a failed read sets failbit.
std::istream& operator>>(std::istream& stream, AbstractData& value);

} // namespace ASN1
