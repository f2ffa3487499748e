// Aligned PER encoder.
#pragma once

#include "asn1/visitor.hpp"

#include <cstdint>
#include <vector>

namespace ASN1
{

class ConstrainedObject;

class PEREncoder : public ConstVisitor
{
public:
    // Clears buffer; writing appends to it. Octets gather in the encoder's own storage
    // while it works; when the outermost value's accept(encoder) returns true, the buffer
    // holds every octet written so far, the last one padded with zeros. A next outermost
    // accept continues in the free bits of that last octet.
    PEREncoder(std::vector<char>& buffer, bool aligned = true);
    ~PEREncoder() override;
    PEREncoder(PEREncoder const&) = delete;
    PEREncoder& operator=(PEREncoder const&) = delete;

    // Appends the aligned-PER octets of value to buffer (its octets stay); false when
    // the value has no encoding, with buffer then holding a partial encoding.
    static bool append(AbstractData const& value, std::vector<char>& buffer);
    // Pads the last octet and puts what was encoded into the buffer; encoding may go
    // on after it, from an octet boundary. A caller of encodeValue() does this itself.
    void finish();

    void encodeSingleBit(bool bit) { put(bit ? 1u : 0u, 1); }
    // The low `bits` bits of value (all 32 when bits is 32), most significant first.
    void encodeMultiBit(unsigned value, unsigned bits)
    {
        if (bits - 1 < 32)
            put(bits < 32 ? value & ((1u << bits) - 1) : value, bits);
    }
    void encodeBitMap(std::vector<char> const& octets, unsigned bits);
    void encodeBitMap(char const* octets, unsigned bits);
    void byteAlign();
    bool aligned() const { return aligned_; }
    void encodeByte(unsigned value);
    void encodeBlock(char const* data, unsigned count);
    void encodeSmallUnsigned(unsigned n);
    bool encodeUnsigned(unsigned value, unsigned lower, unsigned upper);
    bool encodeLength(unsigned n, unsigned lower, unsigned upper);
    // Writes the extension bit of an extensible constraint; true when the value must be
    // coded as if unconstrained.
    bool encodeConstraint(ConstrainedObject const& object, unsigned value);
    bool encodeConstrainedLength(ConstrainedObject const& object, unsigned n);
    bool encodeAnyType(AbstractData const* value);

    // Encodes value at the current position. Values whose kind the encoder knows are
    // encoded directly; others through accept().
    bool encodeValue(AbstractData const& value);

    bool preVisitExtensionRoots(SEQUENCE const& value) override;
    bool visitExtensionRoot(SEQUENCE const& value, int field) override;
    bool preVisitExtensions(SEQUENCE const& value) override;
    bool visitKnownExtension(SEQUENCE const& value, int field) override;
    bool afterVisitSequence(SEQUENCE const& value) override;

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
    struct Continue {
    };
    // Goes on at the end of buffer (octet-aligned), keeping what it holds.
    PEREncoder(std::vector<char>& buffer, bool aligned, Continue);

    // Bits gather in acc_ and go to the buffer 32 at a time, or when the encoding
    // aligns: value holds exactly `bits` (1..32) bits.
    void put(std::uint32_t value, unsigned bits)
    {
        acc_ = (acc_ << bits) | value;
        accBits_ += bits;
        if (accBits_ >= 32)
            flushWord();
    }
    void flushWord();
    // Room for n more octets at end_.
    char* room(std::size_t n)
    {
        if (capacity_ - end_ < n)
            grow(n);
        return data_ + end_;
    }
    void grow(std::size_t n);
    // The end of a value reached through accept(): the outermost one puts its octets
    // into the buffer (publish()).
    bool ended(bool ok)
    {
        if (ok && nested_ == 0)
            publish();
        return ok;
    }
    // Puts the octets written so far into the buffer, the last one padded, and keeps
    // the free bits of that octet for what is written next.
    void publish();
    // Moves the octets written at data_ into the buffer, in place of what it holds
    // past base_.
    void putIntoBuffer();
    // A value of a kind encodeValue() does not know: through accept(), as a value
    // inside another one. Kept out of line, so that encodeValue() keeps its tail calls.
    [[gnu::noinline]] bool encodeThroughAccept(AbstractData const& value);
    bool encodeSequence(SEQUENCE const& value);
    bool encodeChoice(CHOICE const& value);
    bool encodeInteger(INTEGER const& value);
    bool encodeEnumerated(ENUMERATED const& value);
    bool encodeOctets(OCTET_STRING const& value);
    bool encodeString(AbstractString const& value);
    bool encodeList(SEQUENCE_OF_Base const& value);

    // A message's octets gather in local_ and go to the buffer in one copy when the
    // value ends (finish()); a longer one moves to the buffer's end and grows there.
    static const std::size_t localOctets = 256;
    std::vector<char>& buffer_;
    std::size_t base_;     // octets of the buffer before those at data_ (past them it may
                           // hold a padded copy of the octet still being filled)
    char* data_;           // this encoding's octets: local_, or the buffer past base_
    std::size_t end_;      // octets written at data_
    std::size_t capacity_; // room at data_, written or not
    std::uint64_t acc_;    // bits not yet written, the last one lowest
    unsigned accBits_;     // how many: fewer than 32 between calls
    unsigned nested_;      // accept() calls of the encoder's own that have not returned
    bool aligned_;
    char local_[localOctets];
};

} // namespace ASN1
