#include "asn1/per_encoder.hpp"

#include "asn1/constructed.hpp"
#include "asn1/primitives.hpp"
#include "asn1/strings.hpp"

#include <cstring>

namespace ASN1
{

namespace
{

// The four octets of word, most significant first.
inline void storeBigEndian(char* p, std::uint32_t word)
{
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    word = __builtin_bswap32(word);
#endif
    std::memcpy(p, &word, sizeof word);
}

const unsigned unconstrainedUpper = 2147483647u;

// Octets needed for an unsigned offset; 1 for 0.
unsigned octetsFor(std::uint32_t value)
{
    unsigned n = 1;
    while (n < 4 && (value >> (8 * n)) != 0)
        ++n;
    return n;
}

// Fewest two's-complement octets for a signed value.
unsigned signedOctetsFor(std::int64_t value)
{
    // Significant bits besides the sign: those of the value, or of its complement.
    std::uint32_t u = static_cast<std::uint32_t>(value < 0 ? ~value : value);
    unsigned bits = u == 0 ? 0 : 32u - static_cast<unsigned>(__builtin_clz(u));
    return bits / 8 + 1 > 4 ? 4 : bits / 8 + 1;
}

} // namespace

PEREncoder::PEREncoder(std::vector<char>& buffer, bool aligned)
    : buffer_(buffer), base_(0), data_(local_), end_(0), capacity_(localOctets), acc_(0), accBits_(0),
      nested_(0), aligned_(aligned)
{
    buffer_.clear();
}

PEREncoder::PEREncoder(std::vector<char>& buffer, bool aligned, Continue)
    : buffer_(buffer), base_(buffer.size()), data_(local_), end_(0), capacity_(localOctets), acc_(0),
      accBits_(0), nested_(0), aligned_(aligned)
{
}

PEREncoder::~PEREncoder()
{
    // Without finish() (an exception cut the encoding short) octets still in local_
    // are dropped; a buffer that took them over gives back its unused room.
    if (data_ != local_)
        buffer_.resize(base_ + end_);
}

void PEREncoder::finish()
{
    byteAlign(); // the last octet, padded with zeros
    putIntoBuffer();
}

void PEREncoder::publish()
{
    // Whole octets of the gathered bits go with the rest; the bits of an octet not yet
    // filled stay gathered, and the buffer gets that octet padded with zeros.
    unsigned whole = accBits_ / 8;
    if (whole != 0) {
        unsigned rest = accBits_ % 8;
        storeBigEndian(room(4), static_cast<std::uint32_t>(acc_ << (32 - accBits_)));
        end_ += whole;
        acc_ &= (std::uint64_t{1} << rest) - 1;
        accBits_ = rest;
    }
    putIntoBuffer();
    if (accBits_ != 0)
        buffer_.push_back(static_cast<char>(acc_ << (8 - accBits_)));
}

void PEREncoder::putIntoBuffer()
{
    // The buffer may end in the padded copy of the octet still being filled: the
    // octets written since replace it.
    if (data_ == local_) {
        buffer_.resize(base_);
        buffer_.insert(buffer_.end(), local_, local_ + end_);
    } else {
        buffer_.resize(base_ + end_);
    }
    base_ = buffer_.size();
    data_ = local_;
    end_ = 0;
    capacity_ = localOctets;
}

void PEREncoder::grow(std::size_t n)
{
    std::size_t size = 2 * (end_ + n);
    buffer_.resize(base_ + size);
    if (data_ == local_)
        std::memcpy(buffer_.data() + base_, local_, end_);
    data_ = buffer_.data() + base_;
    capacity_ = size;
}

bool PEREncoder::append(AbstractData const& value, std::vector<char>& buffer)
{
    PEREncoder encoder(buffer, true, Continue());
    bool ok = encoder.encodeValue(value);
    encoder.finish();
    return ok;
}

void PEREncoder::flushWord()
{
    accBits_ -= 32;
    std::uint32_t word = static_cast<std::uint32_t>(acc_ >> accBits_);
    acc_ &= (std::uint64_t{1} << accBits_) - 1;
    storeBigEndian(room(4), word);
    end_ += 4;
}

void PEREncoder::encodeBitMap(std::vector<char> const& octets, unsigned bits)
{
    encodeBitMap(octets.data(), bits);
}

void PEREncoder::encodeBitMap(char const* octets, unsigned bits)
{
    unsigned whole = bits / 8;
    unsigned i = 0;
    // Up to four octets of the map at once.
    for (; i + 4 <= whole; i += 4) {
        unsigned char const* p = reinterpret_cast<unsigned char const*>(octets) + i;
        put(std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3], 32);
    }
    for (; i < whole; ++i)
        put(static_cast<unsigned char>(octets[i]), 8);
    unsigned rest = bits % 8;
    if (rest != 0)
        put(static_cast<unsigned char>(octets[whole]) >> (8 - rest), rest);
}

void PEREncoder::byteAlign()
{
    // Pad the gathered bits (fewer than 32) to whole octets and write them with one
    // four-octet store; octets past the padded ones are room, overwritten later.
    if (accBits_ == 0)
        return;
    unsigned octets = (accBits_ + 7) / 8;
    std::uint32_t word = static_cast<std::uint32_t>(acc_ << (32 - accBits_));
    storeBigEndian(room(4), word);
    end_ += octets;
    acc_ = 0;
    accBits_ = 0;
}

void PEREncoder::encodeByte(unsigned value)
{
    byteAlign();
    *room(1) = static_cast<char>(value);
    ++end_;
}

void PEREncoder::encodeBlock(char const* data, unsigned count)
{
    if (count == 0)
        return;
    byteAlign();
    std::memcpy(room(count), data, count);
    end_ += count;
}

void PEREncoder::encodeSmallUnsigned(unsigned n)
{
    if (n <= 63) {
        encodeMultiBit(n, 7);
        return;
    }
    encodeSingleBit(true);
    unsigned k = n < 256 ? 1 : n < 65536 ? 2 : n <= 16777215 ? 3 : 4;
    encodeLength(k, 0, unconstrainedUpper);
    byteAlign();
    encodeMultiBit(n, k * 8);
}

bool PEREncoder::encodeUnsigned(unsigned value, unsigned lower, unsigned upper)
{
    std::uint32_t offset = value - lower;
    std::uint32_t span = upper - lower;
    if (offset > span)
        return false;
    if (span == 0)
        return true;
    unsigned bits = 32u - static_cast<unsigned>(__builtin_clz(span)); // of the range span + 1
    if (span < 255) {
        encodeMultiBit(offset, bits);
    } else if (bits > 16) {
        unsigned n = octetsFor(offset);
        encodeUnsigned(n, 1, (bits + 7) / 8);
        byteAlign();
        encodeMultiBit(offset, n * 8);
    } else {
        byteAlign();
        encodeMultiBit(offset, bits > 8 ? 16 : 8);
    }
    return true;
}

bool PEREncoder::encodeLength(unsigned n, unsigned lower, unsigned upper)
{
    if (n < lower || n > upper)
        return false;
    if (upper <= 65535)
        return encodeUnsigned(n, lower, upper);
    byteAlign();
    if (n <= 127) {
        encodeMultiBit(n, 8);
    } else if (n <= 16383) {
        encodeMultiBit(0x8000u | n, 16);
    } else {
        return false; // fragmentation is not supported
    }
    return true;
}

bool PEREncoder::encodeConstraint(ConstrainedObject const& object, unsigned value)
{
    switch (object.getConstraintType()) {
    case ExtendableConstraint: {
        // Compared in 64 bits: a value viewed unsigned when the lower limit is not negative.
        std::int64_t lower = object.getLowerLimit();
        std::int64_t v = lower < 0 ? std::int64_t{static_cast<std::int32_t>(value)} : std::int64_t{value};
        bool outside = v < lower || v > std::int64_t{object.getUpperLimit()};
        encodeSingleBit(outside);
        return outside;
    }
    case FixedConstraint:
        return false;
    default:
        return true;
    }
}

bool PEREncoder::encodeConstrainedLength(ConstrainedObject const& object, unsigned n)
{
    if (encodeConstraint(object, n))
        return encodeLength(n, 0, unconstrainedUpper);
    return encodeLength(n, static_cast<unsigned>(object.getLowerLimit()), object.getUpperLimit());
}

bool PEREncoder::encodeAnyType(AbstractData const* value)
{
    // The contents are encoded in place, from an octet boundary, then their length is
    // put in front of them; what follows starts on the next octet.
    byteAlign();
    std::size_t start = end_;
    if (value != nullptr && !encodeValue(*value))
        return false;
    byteAlign();
    std::size_t n = end_ - start;
    if (n == 0) {
        *room(1) = 0;
        ++end_;
        n = 1;
    }
    char length[2] = {static_cast<char>(0x80u | (n >> 8)), static_cast<char>(n & 0xFF)};
    std::size_t prefix = 2;
    if (n <= 127) {
        length[0] = static_cast<char>(n);
        prefix = 1;
    } else if (n > 16383) {
        return false; // fragmentation is not supported
    }
    room(prefix);
    char* contents = data_ + start;
    std::memmove(contents + prefix, contents, n);
    std::memcpy(contents, length, prefix);
    end_ += prefix;
    return true;
}

bool PEREncoder::do_visit(Null const&)
{
    return ended(true);
}

bool PEREncoder::do_visit(BOOLEAN const& value)
{
    encodeSingleBit(value);
    return ended(true);
}

bool PEREncoder::do_visit(INTEGER const& value)
{
    return ended(encodeInteger(value));
}

bool PEREncoder::encodeInteger(INTEGER const& value)
{
    int v = value.getValue();
    ConstrainedInfo const* ci = value.constraintInfo();
    if (ci->type == FixedConstraint) {
        // Most fields: a value in a small fixed range, a bit field of its offset.
        std::uint32_t lower = static_cast<std::uint32_t>(ci->lowerLimit);
        std::uint32_t offset = static_cast<std::uint32_t>(v) - lower;
        std::uint32_t span = ci->upperLimit - lower;
        if (span - 1 < 254 && offset <= span) {
            put(offset, 32u - static_cast<unsigned>(__builtin_clz(span)));
            return true;
        }
        return encodeUnsigned(static_cast<unsigned>(v), lower, ci->upperLimit);
    }
    if (encodeConstraint(value, static_cast<unsigned>(v))) {
        // The value itself, not its offset from a lower limit: a one-octet length,
        // then the octets.
        unsigned n = signedOctetsFor(v);
        byteAlign();
        char* p = room(n + 1);
        p[0] = static_cast<char>(n);
        for (unsigned i = n, u = static_cast<unsigned>(v); i != 0; --i, u >>= 8)
            p[i] = static_cast<char>(u & 0xFF);
        end_ += n + 1;
        return true;
    }
    return encodeUnsigned(static_cast<unsigned>(v), static_cast<unsigned>(value.getLowerLimit()),
                          value.getUpperLimit());
}

bool PEREncoder::do_visit(ENUMERATED const& value)
{
    return ended(encodeEnumerated(value));
}

bool PEREncoder::encodeEnumerated(ENUMERATED const& value)
{
    int v = value.asInt();
    if (v < 0)
        return false;
    if (value.extendable()) {
        bool outside = v > value.getMaximum();
        encodeSingleBit(outside);
        if (outside) {
            encodeSmallUnsigned(static_cast<unsigned>(v) + 1);
            return encodeUnsigned(static_cast<unsigned>(v), 0, static_cast<unsigned>(v));
        }
    }
    return encodeUnsigned(static_cast<unsigned>(v), 0, static_cast<unsigned>(value.getMaximum()));
}

bool PEREncoder::do_visit(OBJECT_IDENTIFIER const& value)
{
    std::vector<char> octets;
    value.encodeCommon(octets);
    if (!encodeLength(static_cast<unsigned>(octets.size()), 0, 255))
        return false;
    encodeBlock(octets.data(), static_cast<unsigned>(octets.size()));
    return ended(true);
}

bool PEREncoder::do_visit(BIT_STRING const& value)
{
    unsigned bits = value.size();
    if (!encodeConstrainedLength(value, bits))
        return false;
    if (bits > 16) {
        encodeBlock(value.getData().data(), (bits + 7) / 8);
    } else if (bits != 0) {
        encodeBitMap(value.getData(), bits);
    }
    return ended(true);
}

bool PEREncoder::do_visit(OCTET_STRING const& value)
{
    return ended(encodeOctets(value));
}

bool PEREncoder::encodeOctets(OCTET_STRING const& value)
{
    unsigned n = static_cast<unsigned>(value.size());
    if (!encodeConstrainedLength(value, n))
        return false;
    if (n <= 2) {
        for (unsigned i = 0; i < n; ++i)
            encodeMultiBit(static_cast<unsigned char>(value[i]), 8);
    } else {
        encodeBlock(value.data(), n);
    }
    return true;
}

bool PEREncoder::do_visit(AbstractString const& value)
{
    return ended(encodeString(value));
}

bool PEREncoder::encodeString(AbstractString const& value)
{
    unsigned n = static_cast<unsigned>(value.size());
    if (!encodeConstrainedLength(value, n))
        return false;
    unsigned w = value.getNumBits(true);
    bool unalignedChars = value.constrained() && std::uint64_t{value.getUpperLimit()} * w <= 16;
    if (!unalignedChars) {
        if (w == 8) {
            encodeBlock(value.data(), n);
            return true;
        }
        byteAlign();
    }
    unsigned canonical = value.getCanonicalSetBits();
    bool byCode = canonical <= w && canonical > 4;
    char const* set = value.getCharacterSet();
    unsigned setSize = value.getCharacterSetSize();
    for (unsigned i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(value[i]);
        if (byCode || set == nullptr) {
            encodeMultiBit(c, w);
            continue;
        }
        void const* found = std::memchr(set, value[i], setSize);
        if (found == nullptr)
            return false;
        encodeMultiBit(static_cast<unsigned>(static_cast<char const*>(found) - set), w);
    }
    return true;
}

bool PEREncoder::do_visit(BMPString const& value)
{
    unsigned n = static_cast<unsigned>(value.size());
    if (!encodeConstrainedLength(value, n))
        return false;
    const unsigned w = 16;
    if (!(value.constrained() && std::uint64_t{value.getUpperLimit()} * w <= 16))
        byteAlign();
    unsigned first = value.getFirstChar();
    for (unsigned i = 0; i < n; ++i)
        encodeMultiBit(static_cast<unsigned>(value[i]) - first, w);
    return ended(true);
}

bool PEREncoder::do_visit(GeneralizedTime const& value)
{
    std::string text = value.get();
    if (!encodeLength(static_cast<unsigned>(text.size()), 0, unconstrainedUpper))
        return false;
    encodeBlock(text.data(), static_cast<unsigned>(text.size()));
    return ended(true);
}

bool PEREncoder::do_visit(CHOICE const& value)
{
    return ended(encodeChoice(value));
}

bool PEREncoder::encodeChoice(CHOICE const& value)
{
    int index = value.currentSelection();
    AbstractData const* selection = value.getSelection();
    ChoiceInfo const* ci = value.choiceInfo();
    if (index < 0 || selection == nullptr || static_cast<std::uint32_t>(index) >= ci->totalChoices)
        return false;
    unsigned u = static_cast<unsigned>(index);
    if (u < ci->numChoices && ci->numChoices - 1 < 255) {
        // A root alternative of a small choice: the extension bit (0) and the index
        // in one bit field.
        unsigned bits =
            ci->numChoices > 1 ? 32u - static_cast<unsigned>(__builtin_clz(ci->numChoices - 1)) : 0;
        bits += ci->extendable ? 1 : 0;
        if (bits != 0)
            encodeMultiBit(u, bits);
        return encodeValue(*selection);
    }
    if (ci->extendable) {
        bool outside = u >= ci->numChoices;
        encodeSingleBit(outside);
        if (outside) {
            encodeSmallUnsigned(u - ci->numChoices);
            return encodeAnyType(selection);
        }
    }
    if (ci->numChoices > 1 && !encodeUnsigned(u, 0, ci->numChoices - 1))
        return false;
    return encodeValue(*selection);
}

bool PEREncoder::do_visit(OpenData const& value)
{
    // Only a decoded value is sent: received octets that were never decoded are not,
    // and without a value the open type goes out empty.
    return ended(encodeAnyType(value.has_data() ? &value.get_data() : nullptr));
}

bool PEREncoder::do_visit(SEQUENCE_OF_Base const& value)
{
    return ended(encodeList(value));
}

bool PEREncoder::encodeList(SEQUENCE_OF_Base const& value)
{
    if (!encodeConstrainedLength(value, value.size()))
        return false;
    for (AbstractData const* element : value) {
        if (!encodeValue(*element))
            return false;
    }
    return true;
}

namespace
{

// Extension additions this type knows: bits for unknown ones (kept from a received
// value) have no contents to send and are never re-encoded.
unsigned knownMapSize(SEQUENCE const& value)
{
    unsigned size = value.getExtensionMap().size();
    unsigned known = value.sequenceInfo()->knownExtensions;
    return size < known ? size : known;
}

bool anyKnownAddition(SEQUENCE const& value)
{
    unsigned size = knownMapSize(value);
    for (unsigned j = 0; j < size; ++j) {
        if (value.getExtensionMap()[j])
            return true;
    }
    return false;
}

} // namespace

bool PEREncoder::preVisitExtensionRoots(SEQUENCE const& value)
{
    if (value.extendable())
        encodeSingleBit(anyKnownAddition(value));
    encodeBitMap(value.getOptionalMap().bytes(), value.sequenceInfo()->numOptional);
    return true;
}

bool PEREncoder::visitExtensionRoot(SEQUENCE const& value, int field)
{
    AbstractData const* f = value.getField(static_cast<unsigned>(field));
    return f != nullptr && encodeValue(*f);
}

bool PEREncoder::preVisitExtensions(SEQUENCE const& value)
{
    if (!value.extendable() || !anyKnownAddition(value))
        return true;
    unsigned n = knownMapSize(value);
    encodeSmallUnsigned(n - 1);
    encodeBitMap(value.getExtensionMap().bytes(), n);
    return true;
}

bool PEREncoder::visitKnownExtension(SEQUENCE const& value, int field)
{
    if (!value.extendable() || !anyKnownAddition(value))
        return true;
    AbstractData const* f = value.getField(static_cast<unsigned>(field));
    return f != nullptr && encodeAnyType(f);
}

bool PEREncoder::afterVisitSequence(SEQUENCE const&)
{
    return ended(true);
}

bool PEREncoder::encodeValue(AbstractData const& value)
{
    ValueKind kind = value.kind();
    if (kind == ValueKind::integer)
        return encodeInteger(static_cast<INTEGER const&>(value));
    if (kind == ValueKind::sequence)
        return encodeSequence(static_cast<SEQUENCE const&>(value));
    if (kind == ValueKind::choice)
        return encodeChoice(static_cast<CHOICE const&>(value));
    if (kind == ValueKind::enumerated)
        return encodeEnumerated(static_cast<ENUMERATED const&>(value));
    switch (kind) {
    case ValueKind::null:
        return true;
    case ValueKind::boolean:
        encodeSingleBit(static_cast<BOOLEAN const&>(value));
        return true;
    case ValueKind::integer:
        return encodeInteger(static_cast<INTEGER const&>(value));
    case ValueKind::enumerated:
        return encodeEnumerated(static_cast<ENUMERATED const&>(value));
    case ValueKind::octetString:
        return encodeOctets(static_cast<OCTET_STRING const&>(value));
    case ValueKind::characterString:
        return encodeString(static_cast<AbstractString const&>(value));
    case ValueKind::choice:
        return encodeChoice(static_cast<CHOICE const&>(value));
    case ValueKind::sequence:
        return encodeSequence(static_cast<SEQUENCE const&>(value));
    case ValueKind::sequenceOf:
        return encodeList(static_cast<SEQUENCE_OF_Base const&>(value));
    default:
        return encodeThroughAccept(value);
    }
}

bool PEREncoder::encodeThroughAccept(AbstractData const& value)
{
    ++nested_;
    bool ok = value.accept(*this);
    --nested_;
    return ok;
}

// The walk of ConstVisitor::visit(SEQUENCE const&) with the hooks above, in one loop.
bool PEREncoder::encodeSequence(SEQUENCE const& value)
{
    SequenceInfo const* si = value.sequenceInfo();
    bool additions = si->extendable && anyKnownAddition(value);
    if (si->extendable)
        encodeSingleBit(additions);
    if (si->numOptional != 0)
        encodeBitMap(value.getOptionalMap().bytes(), si->numOptional);
    for (std::uint32_t i = 0; i < si->numFields; ++i) {
        std::int32_t k = si->fieldIds[i];
        if (k >= 0 && !value.hasOptionalField(static_cast<unsigned>(k)))
            continue;
        AbstractData const* f = value.getField(i);
        if (f == nullptr || !encodeValue(*f))
            return false;
    }
    if (!additions)
        return true;
    unsigned n = knownMapSize(value);
    encodeSmallUnsigned(n - 1);
    encodeBitMap(value.getExtensionMap().bytes(), n);
    for (std::uint32_t j = 0; j < si->knownExtensions; ++j) {
        if (!value.hasOptionalField(si->numOptional + j))
            continue;
        AbstractData const* f = value.getField(si->numFields + j);
        if (f == nullptr || !encodeAnyType(f))
            return false;
    }
    return true;
}

} // namespace ASN1
