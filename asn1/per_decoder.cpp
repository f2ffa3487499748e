#include "asn1/per_decoder.hpp"

#include "asn1/constructed.hpp"
#include "asn1/primitives.hpp"
#include "asn1/strings.hpp"
#include "asn1/time_text.hpp"

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

bool PERDecoder::decodeBitMap(std::vector<char>& octets, unsigned bits)
{
    if (getBitsLeft() < bits)
        return false;
    octets.assign((std::uint64_t{bits} + 7) / 8, 0);
    return decodeBitMap(octets.data(), bits);
}

bool PERDecoder::decodeBitMap(char* octets, unsigned bits)
{
    if (getBitsLeft() < bits)
        return false;
    unsigned whole = bits / 8;
    unsigned value = 0;
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
    unsigned k = 0;
    if (decodeLength(0, unconstrainedUpper, k) != OK || k == 0 || k > 4)
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

int PERDecoder::decodeLength(unsigned lower, unsigned upper, unsigned& out)
{
    if (upper <= 65535)
        return decodeUnsigned(lower, upper, out);
    byteAlign();
    if (atEnd())
        return FAILED;
    unsigned value = 0;
    if (decodeSingleBit() == 0)
        return decodeMultiBit(7, out) ? OK : FAILED;
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
    bool ok = value.accept(*this);
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
    ConstraintType type = value.getConstraintType();
    bool outside = type == Unconstrained || type == PartiallyConstrained;
    if (type == ExtendableConstraint)
        outside = decodeSingleBit() != 0;
    if (outside) {
        unsigned n = 0;
        if (decodeLength(0, unconstrainedUpper, n) != OK || n > 4)
            return false;
        if (n == 0) {
            value.setValue(0);
            return true;
        }
        byteAlign();
        unsigned raw = 0;
        if (!decodeMultiBit(n * 8, raw))
            return false;
        // Two's complement as written, also with a lower limit only: a negative value
        // comes back negative instead of as a large positive one.
        if (n < 4 && (raw & (1u << (n * 8 - 1))) != 0)
            raw |= ~0u << (n * 8);
        value.setValue(static_cast<int>(raw));
        return true;
    }
    unsigned raw = 0;
    if (decodeUnsigned(static_cast<unsigned>(value.getLowerLimit()), value.getUpperLimit(), raw) != OK)
        return false;
    value.setValue(static_cast<int>(raw));
    return true;
}

bool PERDecoder::do_visit(ENUMERATED& value)
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
    std::string text(begin_ + position_, n);
    position_ += n;
    if (!wellFormedTimeText(text))
        return false;
    value.set(text.c_str());
    return true;
}

bool PERDecoder::decodeChoicePreamle(CHOICE& value, memento_type& memento)
{
    memento.valid = false;
    if (atEnd())
        return false;
    ChoiceInfo const* ci = value.choiceInfo();
    if (ci->extendable && decodeSingleBit() != 0) {
        unsigned n = 0;
        if (!decodeSmallUnsigned(n))
            return false;
        std::uint64_t index = std::uint64_t{n} + ci->numChoices;
        if (index >= ci->totalChoices)
            return false; // an alternative this type does not know
        return value.select(static_cast<int>(index));
    }
    unsigned index = 0;
    if (ci->numChoices > 1 && decodeUnsigned(0, ci->numChoices - 1, index) != OK)
        return false;
    if (index >= ci->numChoices)
        return false;
    return value.select(static_cast<int>(index));
}

bool PERDecoder::do_visit(CHOICE& value)
{
    memento_type memento{0, 8, false};
    if (!decodeChoicePreamle(value, memento))
        return false;
    AbstractData* selection = value.getSelection();
    if (selection == nullptr)
        return false;
    if (static_cast<std::uint32_t>(value.currentSelection()) >= value.choiceInfo()->numChoices) {
        unsigned length = 0;
        if (decodeLength(0, unconstrainedUpper, length) != OK)
            return false;
        byteAlign();
        return decodeOpenType(*selection, length);
    }
    return selection->accept(*this);
}

bool PERDecoder::do_visit(SEQUENCE_OF_Base& value)
{
    unsigned n = 0;
    if (decodeConstrainedLength(value, n) != OK || n > MaximumArraySize)
        return false;
    value.resize(n);
    for (SEQUENCE_OF_Base::iterator it = value.begin(); it != value.end(); ++it) {
        if (*it == nullptr || !(*it)->accept(*this)) {
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
    return value.get_data().accept(nested);
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

int PERDecoder::preVisitExtensionRoots(SEQUENCE& value)
{
    int result = NO_EXTENSIONS;
    if (value.extendable()) {
        if (atEnd())
            return FAIL;
        if (decodeSingleBit() != 0)
            result = CONTINUE;
    }
    SEQUENCE::BitMap& map = value.getOptionalMap();
    unsigned numOptional = value.sequenceInfo()->numOptional;
    if (numOptional == 0)
        return result;
    if (getBitsLeft() < numOptional)
        return FAIL;
    map.resize(numOptional);
    decodeBitMap(map.bytes(), numOptional);
    return result;
}

int PERDecoder::visitExtensionRoot(SEQUENCE& value, int field, int optionalId)
{
    if (optionalId >= 0 && !value.hasOptionalField(static_cast<unsigned>(optionalId)))
        return CONTINUE;
    unsigned slot = static_cast<unsigned>(field);
    AbstractData* f = value.getField(slot);
    if (f == nullptr) {
        if (optionalId < 0)
            return FAIL;
        f = &value.includeOptionalField(static_cast<unsigned>(optionalId), slot);
    }
    return f->accept(*this) ? CONTINUE : FAIL;
}

int PERDecoder::preVisitExtensions(SEQUENCE& value)
{
    unsigned n = 0;
    if (!decodeSmallUnsigned(n))
        return FAIL;
    if (n >= MaximumArraySize)
        return FAIL; // n + 1 additions
    ++n;
    if (getBitsLeft() < n)
        return FAIL;
    SEQUENCE::BitMap& map = value.getExtensionMap();
    map.resize(n);
    decodeBitMap(map.bytes(), n);
    return CONTINUE;
}

int PERDecoder::visitKnownExtension(SEQUENCE& value, int field, int optionalId)
{
    unsigned k = static_cast<unsigned>(optionalId);
    if (!value.hasOptionalField(k))
        return CONTINUE;
    unsigned length = 0;
    if (decodeLength(0, unconstrainedUpper, length) != OK)
        return FAIL;
    byteAlign();
    AbstractData& f = value.includeOptionalField(k, static_cast<unsigned>(field));
    return decodeOpenType(f, length) ? CONTINUE : FAIL;
}

int PERDecoder::visitUnknownExtensions(SEQUENCE& value)
{
    SEQUENCE::BitMap const& map = value.getExtensionMap();
    for (unsigned j = value.sequenceInfo()->knownExtensions; j < map.size(); ++j) {
        if (!map[j])
            continue;
        unsigned length = 0;
        if (decodeLength(0, unconstrainedUpper, length) != OK)
            return FAIL;
        byteAlign();
        if (length > size_ - position_)
            return FAIL;
        position_ += length;
    }
    return STOP;
}

} // namespace ASN1
