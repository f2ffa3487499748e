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
        if (bits > 32 || getBitsLeft() < bits)
            return false;
        if (bits == 0) {
            out = 0;
            return true;
        }
        // The unread bits of the current octet, then whole octets, in one 64-bit window.
        unsigned char const* p = reinterpret_cast<unsigned char const*>(begin_) + position_;
        std::uint64_t window = *p & ((1u << bits_) - 1);
        unsigned have = bits_;
        while (have < bits) {
            window = (window << 8) | *++p;
            have += 8;
        }
        unsigned rest = have - bits;
        out = static_cast<std::uint32_t>(window >> rest);
        position_ = static_cast<std::size_t>(p - reinterpret_cast<unsigned char const*>(begin_));
        if (rest == 0) {
            ++position_;
            bits_ = 8;
        } else {
            bits_ = static_cast<std::uint16_t>(rest);
        }
        return true;
    }
    bool decodeBitMap(std::vector<char>& octets, unsigned bits);
    // Into (bits + 7) / 8 octets, the last one's unused bits cleared.
    bool decodeBitMap(char* octets, unsigned bits);
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
