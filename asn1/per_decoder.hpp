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
    std::uint64_t getBitsLeft() const
    {
        return position_ >= size_ ? 0 : std::uint64_t{size_ - position_} * 8 + bits_ - 8;
    }
    void byteAlign();
    // Byte offsets, clamped to the end of the input.
    void setPosition(std::size_t offset);
    std::size_t getPosition() const { return position_; }
    void rollback(memento_type const& memento);
    bool aligned() const { return aligned_; }

    // 0 at the end of the input; callers that must tell the end from 0 test atEnd first.
    unsigned decodeSingleBit()
    {
        if (position_ >= size_)
            return 0;
        --bits_;
        unsigned bit = (static_cast<unsigned char>(begin_[position_]) >> bits_) & 1u;
        if (bits_ == 0) {
            ++position_;
            bits_ = 8;
        }
        return bit;
    }
    bool decodeMultiBit(unsigned bits, unsigned& out)
    {
        // Bits within the current octet: most fields, every preamble and bit map.
        if (bits - 1 < bits_ && position_ < size_) {
            unsigned rest = bits_ - bits;
            out = (static_cast<unsigned char>(begin_[position_]) >> rest) & ((1u << bits) - 1);
            leaveInOctet(rest);
            return true;
        }
        return decodeMultiBitSlow(bits, out);
    }
    bool decodeBitMap(std::vector<char>& octets, unsigned bits);
    // Into (bits + 7) / 8 octets, the last one's unused bits cleared.
    bool decodeBitMap(char* octets, unsigned bits);
    // Copies what is left, at most count octets; returns the number copied.
    unsigned decodeBlock(char* out, unsigned count);
    bool decodeSmallUnsigned(unsigned& out);
    // 0 on success, -1 on failure.
    int decodeUnsigned(unsigned lower, unsigned upper, unsigned& out);
    int decodeLength(unsigned lower, unsigned upper, unsigned& out)
    {
        if (upper <= 65535)
            return decodeUnsigned(lower, upper, out);
        // Unconstrained: octet-aligned, one octet below 128.
        byteAlign();
        if (position_ < size_ && static_cast<unsigned char>(begin_[position_]) < 0x80) {
            out = static_cast<unsigned char>(begin_[position_++]);
            return 0;
        }
        return decodeLongLength(out);
    }
    int decodeConstrainedLength(ConstrainedObject& object, unsigned& out);
    // Reads the index part of a CHOICE and selects the alternative it names. For an
    // extension alternative `end` is set to the end of its open type, else made invalid.
    // False for an index naming no alternative, unless the type accepts unknown ones.
    bool decodeChoicePreamle(CHOICE& value, memento_type& end);

    // Decodes value at the current position. Values whose kind the decoder knows are
    // decoded directly; others through accept().
    bool decodeValue(AbstractData& value);

    // The whole SEQUENCE is decoded here (then STOP), not field by field through the hooks.
    int preVisitExtensionRoots(SEQUENCE& value) override;

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
    // `rest` bits of the current octet are still unread; none: on to the next octet.
    void leaveInOctet(unsigned rest)
    {
        if (rest == 0) {
            ++position_;
            bits_ = 8;
        } else {
            bits_ = static_cast<std::uint16_t>(rest);
        }
    }
    bool decodeMultiBitSlow(unsigned bits, unsigned& out);
    int decodeLongLength(unsigned& out);
    bool decodeSequence(SEQUENCE& value);
    bool decodeExtensions(SEQUENCE& value);
    bool decodeChoice(CHOICE& value);
    bool decodeInteger(INTEGER& value);
    bool decodeEnumerated(ENUMERATED& value);
    bool decodeOctets(OCTET_STRING& value);
    bool decodeString(AbstractString& value);
    bool decodeList(SEQUENCE_OF_Base& value);
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
