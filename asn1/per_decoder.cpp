#include "asn1/per_decoder.hpp"

#include "asn1/constructed.hpp"
#include "asn1/primitives.hpp"
#include "asn1/strings.hpp"

#include <climits>
#include <cstring>
#include <string>

namespace ASN1
{

const unsigned MaximumArraySize = 128;
const unsigned MaximumStringSize = 16384;

namespace
{

const unsigned unconstrainedUpper = 2147483647u;
const int OK = 0;
const int FAILED = -1;

} // namespace

PERDecoder::PERDecoder(char const* begin, char const* end, CoderEnv* env, bool aligned)
    : Visitor(env), begin_(begin),
      size_(begin != nullptr && end > begin ? static_cast<std::size_t>(end - begin) : 0), position_(0),
      bits_(8), aligned_(aligned)
{
}

void PERDecoder::byteAlign()
{
    if (bits_ != 8) {
        ++position_;
        bits_ = 8;
    }
}

void PERDecoder::setPosition(std::size_t offset)
{
    position_ = offset < size_ ? offset : size_;
    bits_ = 8;
}

void PERDecoder::rollback(memento_type const& memento)
{
    if (!memento.valid)
        return;
    position_ = memento.position < size_ ? memento.position : size_;
    bits_ = static_cast<std::uint16_t>(memento.bits);
}

bool PERDecoder::decodeMultiBitSlow(unsigned bits, unsigned& out)
{
    if (bits > 32)
        return false;
    if (bits == 0) {
        out = 0;
        return true;
    }
    if (size_ - position_ >= 8) {
        // Eight octets from the current one in one load; the bits wanted are at the
        // top once the ones already read are shifted out.
        std::uint64_t window;
        std::memcpy(&window, begin_ + position_, sizeof window);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        window = __builtin_bswap64(window);
#endif
        unsigned consumed = 8u - bits_ + bits;
        out = static_cast<std::uint32_t>((window << (8u - bits_)) >> (64u - bits));
        position_ += consumed / 8;
        bits_ = static_cast<std::uint16_t>(8u - consumed % 8);
        return true;
    }
    if (getBitsLeft() < bits)
        return false;
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
    leaveInOctet(rest);
    return true;
}

bool PERDecoder::decodeBitMap(std::vector<char>& octets, unsigned bits)
{
    if (getBitsLeft() < bits)
        return false;
    octets.assign((std::uint64_t{bits} + 7) / 8, 0);
    return decodeBitMap(octets.data(), bits);
}

bool PERDecoder::decodeBitMap(char* octets, unsigned bits)
{
    unsigned value = 0;
    if (bits - 1 < 8) {
        if (!decodeMultiBit(bits, value))
            return false;
        octets[0] = static_cast<char>(value << (8 - bits));
        return true;
    }
    if (getBitsLeft() < bits)
        return false;
    unsigned whole = bits / 8;
    for (unsigned i = 0; i < whole; ++i) {
        decodeMultiBit(8, value);
        octets[i] = static_cast<char>(value);
    }
    unsigned rest = bits % 8;
    if (rest != 0) {
        decodeMultiBit(rest, value);
        octets[whole] = static_cast<char>(value << (8 - rest));
    }
    return true;
}

unsigned PERDecoder::decodeBlock(char* out, unsigned count)
{
    if (count == 0)
        return 0;
    byteAlign();
    std::size_t left = position_ < size_ ? size_ - position_ : 0;
    unsigned n = count < left ? count : static_cast<unsigned>(left);
    if (n != 0)
        std::memcpy(out, begin_ + position_, n);
    position_ += n;
    return n;
}

bool PERDecoder::decodeSmallUnsigned(unsigned& out)
{
    if (atEnd())
        return false;
    if (decodeSingleBit() == 0)
        return decodeMultiBit(6, out);
    // The long form: a length, then that many octets; a length of 0 gives 0.
    unsigned k = 0;
    if (decodeLength(0, unconstrainedUpper, k) != OK || k > 4)
        return false;
    byteAlign();
    return decodeMultiBit(k * 8, out);
}

int PERDecoder::decodeUnsigned(unsigned lower, unsigned upper, unsigned& out)
{
    if (lower == upper) {
        out = lower;
        return OK;
    }
    if (atEnd())
        return FAILED;
    std::uint32_t range = upper - lower + 1; // 0 stands for 2^32
    unsigned bits = CountBits(range);
    unsigned value = 0;
    if (range != 0 && range <= 255) {
        if (!decodeMultiBit(bits, value))
            return FAILED;
        out = value + lower;
        return OK;
    }
    if (bits > 16) {
        unsigned count = 0;
        if (decodeLength(1, (bits + 7) / 8, count) != OK)
            return FAILED;
        bits = count * 8;
    } else if (bits > 8) {
        bits = 16;
    }
    byteAlign();
    if (!decodeMultiBit(bits, value))
        return FAILED;
    out = value + lower; // modulo 2^32: negative lower limits work
    return OK;
}

int PERDecoder::decodeLongLength(unsigned& out)
{
    if (atEnd())
        return FAILED;
    unsigned value = 0;
    decodeSingleBit(); // 1: two octets
    if (!decodeMultiBit(1, value) || value != 0)
        return FAILED; // "11": fragmented, not supported
    return decodeMultiBit(14, out) ? OK : FAILED;
}

int PERDecoder::decodeConstrainedLength(ConstrainedObject& object, unsigned& out)
{
    ConstraintType type = object.getConstraintType();
    if (type == ExtendableConstraint && decodeSingleBit() != 0)
        return decodeLength(0, unconstrainedUpper, out);
    if (type != Unconstrained) {
        return decodeLength(static_cast<unsigned>(object.getLowerLimit()), object.getUpperLimit(), out);
    }
    return decodeLength(0, unconstrainedUpper, out);
}

bool PERDecoder::decodeOpenType(AbstractData& value, unsigned length)
{
    if (length > size_ - position_)
        return false;
    std::size_t end = position_ + length;
    std::size_t outerSize = size_;
    size_ = end; // the contents may not read past their own open type
    bool ok = decodeValue(value);
    size_ = outerSize;
    setPosition(end);
    return ok;
}

bool PERDecoder::do_visit(Null&)
{
    return true;
}

bool PERDecoder::do_visit(BOOLEAN& value)
{
    if (atEnd())
        return false;
    value = decodeSingleBit() != 0;
    return true;
}

bool PERDecoder::do_visit(INTEGER& value)
{
    return decodeInteger(value);
}

bool PERDecoder::decodeInteger(INTEGER& value)
{
    ConstrainedInfo const* ci = value.constraintInfo();
    ConstraintType type = ci->type;
    bool outside = type == Unconstrained || type == PartiallyConstrained;
    if (type == ExtendableConstraint)
        outside = decodeSingleBit() != 0;
    unsigned raw = 0;
    if (!outside) {
        if (decodeUnsigned(static_cast<unsigned>(ci->lowerLimit), ci->upperLimit, raw) != OK)
            return false;
        value.setValue(static_cast<int>(raw));
        return true;
    }
    // A length, then the octets, all from whole octets.
    unsigned n = 0;
    if (decodeLength(0, unconstrainedUpper, n) != OK || n > 4 || n > size_ - position_)
        return false; // longer than a 32-bit value, or past the input
    unsigned char const* p = reinterpret_cast<unsigned char const*>(begin_) + position_;
    position_ += n;
    for (unsigned i = 0; i < n; ++i)
        raw = (raw << 8) | p[i];
    // Two's complement as written, also with a lower limit only: a negative value
    // comes back negative instead of as a large positive one.
    if (n != 0 && n < 4 && (raw & (1u << (n * 8 - 1))) != 0)
        raw |= ~0u << (n * 8);
    value.setValue(static_cast<int>(raw));
    return true;
}

bool PERDecoder::do_visit(ENUMERATED& value)
{
    return decodeEnumerated(value);
}

bool PERDecoder::decodeEnumerated(ENUMERATED& value)
{
    unsigned raw = 0;
    if (value.extendable()) {
        if (atEnd())
            return false;
        if (decodeSingleBit() != 0) {
            unsigned n = 0;
            if (!decodeSmallUnsigned(n) || n == 0 || n - 1 > static_cast<unsigned>(INT_MAX))
                return false;
            if (decodeUnsigned(0, n - 1, raw) != OK)
                return false;
            value.setFromInt(static_cast<int>(raw));
            return true;
        }
    }
    if (decodeUnsigned(0, static_cast<unsigned>(value.getMaximum()), raw) != OK)
        return false;
    value.setFromInt(static_cast<int>(raw));
    return true;
}

bool PERDecoder::do_visit(OBJECT_IDENTIFIER& value)
{
    unsigned n = 0;
    if (decodeUnsigned(0, 255, n) != OK)
        return false;
    byteAlign();
    if (n > size_ - position_)
        return false;
    char const* contents = begin_ + position_;
    position_ += n;
    return value.decodeCommon(contents, n);
}

bool PERDecoder::do_visit(BIT_STRING& value)
{
    unsigned bits = 0;
    if (decodeConstrainedLength(value, bits) != OK || bits > MaximumStringSize)
        return false;
    value.resize(bits);
    if (bits == 0)
        return true;
    if (bits > getBitsLeft())
        return false;
    if (bits > 16) {
        unsigned octets = (bits + 7) / 8;
        if (decodeBlock(value.getData().data(), octets) != octets)
            return false;
        value.resize(bits); // clears padding bits a peer may have set
        return true;
    }
    return decodeBitMap(value.getData(), bits);
}

bool PERDecoder::do_visit(OCTET_STRING& value)
{
    return decodeOctets(value);
}

bool PERDecoder::decodeOctets(OCTET_STRING& value)
{
    unsigned n = 0;
    if (decodeConstrainedLength(value, n) != OK || n > MaximumStringSize)
        return false;
    value.resize(n);
    if (n <= 2) {
        for (unsigned i = 0; i < n; ++i) {
            unsigned octet = 0;
            if (!decodeMultiBit(8, octet))
                return false;
            value[i] = static_cast<char>(octet);
        }
        return true;
    }
    return decodeBlock(value.data(), n) == n;
}

bool PERDecoder::do_visit(AbstractString& value)
{
    return decodeString(value);
}

bool PERDecoder::decodeString(AbstractString& value)
{
    unsigned n = 0;
    if (decodeConstrainedLength(value, n) != OK || n > MaximumStringSize)
        return false;
    unsigned w = value.getNumBits(true);
    bool unalignedChars = value.constrained() && std::uint64_t{value.getUpperLimit()} * w <= 16;
    if (!unalignedChars) {
        if (w == 8) {
            value.resize(n);
            if (n == 0)
                return true;
            if (decodeBlock(&value[0], n) != n) {
                value.clear();
                return false;
            }
            return true;
        }
        byteAlign();
    }
    if (std::uint64_t{n} * w > getBitsLeft())
        return false;
    value.resize(n);
    unsigned canonical = value.getCanonicalSetBits();
    bool byCode = canonical <= w && canonical > 4;
    char const* set = value.getCharacterSet();
    unsigned setSize = value.getCharacterSetSize();
    for (unsigned i = 0; i < n; ++i) {
        unsigned bits = 0;
        if (!decodeMultiBit(w, bits))
            return false;
        if (byCode || set == nullptr) {
            value[i] = static_cast<char>(bits);
        } else {
            if (bits >= setSize)
                return false; // an index outside the character set
            value[i] = set[bits];
        }
    }
    return true;
}

bool PERDecoder::do_visit(BMPString& value)
{
    unsigned n = 0;
    if (decodeConstrainedLength(value, n) != OK || n > MaximumStringSize)
        return false;
    const unsigned w = 16;
    if (!(value.constrained() && std::uint64_t{value.getUpperLimit()} * w <= 16))
        byteAlign();
    if (std::uint64_t{n} * w > getBitsLeft())
        return false;
    value.resize(n);
    unsigned first = value.getFirstChar();
    for (unsigned i = 0; i < n; ++i) {
        unsigned bits = 0;
        if (!decodeMultiBit(w, bits))
            return false;
        value[i] = static_cast<wchar_t>(first + bits);
    }
    return true;
}

bool PERDecoder::do_visit(GeneralizedTime& value)
{
    unsigned n = 0;
    if (decodeLength(0, unconstrainedUpper, n) != OK || n == 0)
        return false;
    byteAlign();
    if (n > size_ - position_)
        return false;
    // A string of its own: the text is read with its length, never past the block.
    // Whatever the text holds, the time takes what set() reads from it.
    std::string text(begin_ + position_, n);
    position_ += n;
    value.set(text.c_str());
    return true;
}

bool PERDecoder::do_visit(CHOICE& value)
{
    return decodeChoice(value);
}

bool PERDecoder::decodeChoicePreamle(CHOICE& value, memento_type& end)
{
    end.valid = false;
    if (atEnd())
        return false;
    ChoiceInfo const* ci = value.choiceInfo();
    if (ci->extendable && decodeSingleBit() != 0) {
        unsigned n = 0;
        if (!decodeSmallUnsigned(n))
            return false;
        unsigned length = 0;
        if (decodeLength(0, unconstrainedUpper, length) != OK)
            return false;
        byteAlign();
        if (length > size_ - position_)
            return false;
        end = memento_type{position_ + length, 8, true};
        std::uint64_t addition = std::uint64_t{n} + ci->numChoices;
        if (addition < ci->totalChoices)
            return value.select(static_cast<int>(addition)) && value.getSelection() != nullptr;
        // An alternative added by a later version of the type. Only a type whose users
        // answer a value they do not take is left unrecognised; in any other the value
        // would lose what its sender meant, so the message is not decoded at all.
        if (!ci->acceptsUnknownAlternative)
            return false;
        value.setSelection(CHOICE::unknownSelection_, nullptr);
        return true;
    }
    unsigned index = 0;
    if (ci->numChoices - 2 < 254) {
        // 2..255 root alternatives: the index is a bit field.
        if (!decodeMultiBit(32u - static_cast<unsigned>(__builtin_clz(ci->numChoices - 1)), index))
            return false;
    } else if (ci->numChoices > 1 && decodeUnsigned(0, ci->numChoices - 1, index) != OK) {
        return false;
    }
    return index < ci->numChoices && value.select(static_cast<int>(index)) && value.getSelection() != nullptr;
}

bool PERDecoder::decodeChoice(CHOICE& value)
{
    memento_type end{0, 8, false};
    if (!decodeChoicePreamle(value, end))
        return false;
    if (!end.valid)
        return decodeValue(*value.getSelection());
    if (value.isUnknownSelection()) {
        rollback(end); // its octets are skipped
        return true;
    }
    return decodeOpenType(*value.getSelection(), static_cast<unsigned>(end.position - position_));
}

bool PERDecoder::do_visit(SEQUENCE_OF_Base& value)
{
    return decodeList(value);
}

bool PERDecoder::decodeList(SEQUENCE_OF_Base& value)
{
    unsigned n = 0;
    if (decodeConstrainedLength(value, n) != OK || n > MaximumArraySize)
        return false;
    value.resize(n);
    for (SEQUENCE_OF_Base::iterator it = value.begin(); it != value.end(); ++it) {
        if (*it == nullptr || !decodeValue(**it)) {
            value.erase(it, value.end());
            return false;
        }
    }
    return true;
}

bool PERDecoder::do_visit(OpenData& value)
{
    unsigned n = 0;
    if (decodeLength(0, unconstrainedUpper, n) != OK || n > MaximumStringSize)
        return false;
    byteAlign();
    if (n > size_ - position_)
        return false;
    std::unique_ptr<std::vector<char>> buffer(
        new std::vector<char>(begin_ + position_, begin_ + position_ + n));
    position_ += n;
    value.grab(buffer.release());
    return true;
}

bool PERDecoder::do_revisit(OpenData& value)
{
    if (!value.has_buf() || !value.has_data())
        return false;
    std::vector<char> const& buffer = value.get_buf();
    PERDecoder nested(buffer.data(), buffer.data() + buffer.size(), get_env(), aligned_);
    return nested.decodeValue(value.get_data());
}

bool PERDecoder::do_visit(TypeConstrainedOpenData& value)
{
    unsigned n = 0;
    if (decodeLength(0, unconstrainedUpper, n) != OK)
        return false;
    byteAlign();
    if (!value.has_data())
        return false;
    return decodeOpenType(value.get_data(), n);
}

bool PERDecoder::decodeValue(AbstractData& value)
{
    ValueKind kind = value.kind();
    if (kind == ValueKind::integer)
        return decodeInteger(static_cast<INTEGER&>(value));
    if (kind == ValueKind::sequence)
        return decodeSequence(static_cast<SEQUENCE&>(value));
    if (kind == ValueKind::choice)
        return decodeChoice(static_cast<CHOICE&>(value));
    if (kind == ValueKind::enumerated)
        return decodeEnumerated(static_cast<ENUMERATED&>(value));
    switch (kind) {
    case ValueKind::null:
        return true;
    case ValueKind::boolean:
        if (atEnd())
            return false;
        static_cast<BOOLEAN&>(value) = decodeSingleBit() != 0;
        return true;
    case ValueKind::integer:
        return decodeInteger(static_cast<INTEGER&>(value));
    case ValueKind::enumerated:
        return decodeEnumerated(static_cast<ENUMERATED&>(value));
    case ValueKind::octetString:
        return decodeOctets(static_cast<OCTET_STRING&>(value));
    case ValueKind::characterString:
        return decodeString(static_cast<AbstractString&>(value));
    case ValueKind::choice:
        return decodeChoice(static_cast<CHOICE&>(value));
    case ValueKind::sequence:
        return decodeSequence(static_cast<SEQUENCE&>(value));
    case ValueKind::sequenceOf:
        return decodeList(static_cast<SEQUENCE_OF_Base&>(value));
    default:
        return value.accept(*this);
    }
}

int PERDecoder::preVisitExtensionRoots(SEQUENCE& value)
{
    return decodeSequence(value) ? STOP : FAIL;
}

bool PERDecoder::decodeSequence(SEQUENCE& value)
{
    SequenceInfo const* si = value.sequenceInfo();
    bool extended = false;
    if (si->extendable) {
        if (atEnd())
            return false;
        extended = decodeSingleBit() != 0;
    }
    unsigned numOptional = si->numOptional;
    if (numOptional != 0) {
        SEQUENCE::BitMap& map = value.getOptionalMap();
        map.resize(numOptional);
        if (!decodeBitMap(map.bytes(), numOptional))
            return false;
    }
    for (std::uint32_t i = 0; i < si->numFields; ++i) {
        std::int32_t k = si->fieldIds[i];
        AbstractData* f = value.getField(i);
        if (k >= 0) {
            if (!value.hasOptionalField(static_cast<unsigned>(k)))
                continue;
            if (f == nullptr)
                f = &value.includeOptionalField(static_cast<unsigned>(k), i);
        } else if (f == nullptr) {
            return false;
        }
        if (!decodeValue(*f))
            return false;
    }
    return !extended || decodeExtensions(value);
}

bool PERDecoder::decodeExtensions(SEQUENCE& value)
{
    unsigned n = 0;
    if (!decodeSmallUnsigned(n))
        return false;
    if (n >= MaximumArraySize)
        return false; // n + 1 additions
    ++n;
    if (getBitsLeft() < n)
        return false;
    SEQUENCE::BitMap& map = value.getExtensionMap();
    map.resize(n);
    decodeBitMap(map.bytes(), n);
    SequenceInfo const* si = value.sequenceInfo();
    for (std::uint32_t j = 0; j < si->knownExtensions; ++j) {
        unsigned k = si->numOptional + j;
        if (!value.hasOptionalField(k))
            continue;
        unsigned length = 0;
        if (decodeLength(0, unconstrainedUpper, length) != OK)
            return false;
        byteAlign();
        AbstractData& f = value.includeOptionalField(k, si->numFields + j);
        if (!decodeOpenType(f, length))
            return false;
    }
    for (unsigned j = si->knownExtensions; j < map.size(); ++j) {
        if (!map[j])
            continue;
        unsigned length = 0;
        if (decodeLength(0, unconstrainedUpper, length) != OK)
            return false;
        byteAlign();
        if (length > size_ - position_)
            return false;
        position_ += length;
    }
    return true;
}

} // namespace ASN1
