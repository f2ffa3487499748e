// Aligned PER decoder. Every failure fails the whole decoding; nothing is logged.
#pragma once

#include "asn1/visitor.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ASN1
{

class ConstrainedObject;

// Receiving limits: they bound what one message can make the gateway allocate.
extern const unsigned MaximumArraySize;  // elements per list, additions per extension map
extern const unsigned MaximumStringSize; // octets, characters or bits per string

class PERDecoder : public Visitor
{
public:
    // A saved read state; the position is a byte offset from the start of the input.
    struct memento_type {
        std::size_t position;
        unsigned bits;
        bool valid;
    };

    PERDecoder(char const* begin, char const* end, CoderEnv* env = nullptr, bool aligned = true);

    bool atEnd() const { return position_ >= size_; }
    // Unread bits of the whole input.
    std::uint64_t getBitsLeft() const;
    void byteAlign();
    // Byte offsets, clamped to the end of the input.
    void setPosition(std::size_t offset);
    std::size_t getPosition() const { return position_; }
    void rollback(memento_type const& memento);
    bool aligned() const { return aligned_; }

    // 0 at the end of the input; callers that must tell the end from 0 test atEnd first.
    unsigned decodeSingleBit();
    bool decodeMultiBit(unsigned bits, unsigned& out);
    bool decodeBitMap(std::vector<char>& octets, unsigned bits);
    // Copies what is left, at most count octets; returns the number copied.
    unsigned decodeBlock(char* out, unsigned count);
    bool decodeSmallUnsigned(unsigned& out);
    // 0 on success, -1 on failure.
    int decodeUnsigned(unsigned lower, unsigned upper, unsigned& out);
    int decodeLength(unsigned lower, unsigned upper, unsigned& out);
    int decodeConstrainedLength(ConstrainedObject& object, unsigned& out);
    bool decodeChoicePreamle(CHOICE& value, memento_type& memento);

    int preVisitExtensionRoots(SEQUENCE& value) override;
    int visitExtensionRoot(SEQUENCE& value, int field, int optionalId) override;
    int preVisitExtensions(SEQUENCE& value) override;
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
    // Decodes value from the open type of `length` octets at the current position, never
    // reading past it, then moves to its end. False when it runs past the input.
    bool decodeOpenType(AbstractData& value, unsigned length);

    char const* begin_;
    std::size_t size_;     // end of the readable input; narrowed inside an open type
    std::size_t position_; // byte offset of the current octet
    std::uint16_t bits_;   // unread bits of the current octet; 8 at an octet boundary
    bool aligned_;
};

} // namespace ASN1
