#include "asn1/primitives.hpp"

#include "asn1/visitor.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace ASN1
{

namespace
{

// Three-way result of a 32-bit difference, wrapping as the ordering is defined.
int wrappedDifference(int a, int b)
{
    return static_cast<int>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

} // namespace

// Null

const Null::InfoType Null::theInfo = {&Null::create, 5};

AbstractData* Null::create(TypeInfo const* info)
{
    return new Null(info);
}
int Null::do_compare(AbstractData const&) const
{
    return 0;
}
AbstractData* Null::do_clone() const
{
    return createSame<Null>();
}
bool Null::do_accept(Visitor& visitor)
{
    return visitor.visit(*this);
}
bool Null::do_accept(ConstVisitor& visitor) const
{
    return visitor.visit(*this);
}

// BOOLEAN

const BOOLEAN::InfoType BOOLEAN::theInfo = {&BOOLEAN::create, 1};

AbstractData* BOOLEAN::create(TypeInfo const* info)
{
    return new BOOLEAN(info);
}
int BOOLEAN::do_compare(AbstractData const& other) const
{
    return static_cast<int>(value_) - static_cast<int>(static_cast<BOOLEAN const&>(other).value_);
}
AbstractData* BOOLEAN::do_clone() const
{
    BOOLEAN* copy = createSame<BOOLEAN>();
    *copy = *this;
    return copy;
}
bool BOOLEAN::do_accept(Visitor& visitor)
{
    return visitor.visit(*this);
}
bool BOOLEAN::do_accept(ConstVisitor& visitor) const
{
    return visitor.visit(*this);
}

// INTEGER

const INTEGER::InfoType INTEGER::theInfo = {{&INTEGER::create, 2}, Unconstrained, 0, 0xFFFFFFFFu};

AbstractData* INTEGER::create(TypeInfo const* info)
{
    return new INTEGER(info);
}
int INTEGER::do_compare(AbstractData const& other) const
{
    return wrappedDifference(value_, static_cast<INTEGER const&>(other).value_);
}
AbstractData* INTEGER::do_clone() const
{
    // The descriptor's factory builds the copy's class, except for an INTEGER with named
    // numbers: that kind adds no copy of its own, and its copy is a plain INTEGER with
    // the same descriptor.
    INTEGER* copy =
        info()->create == &IntegerWithNamedNumber::create ? new INTEGER(info()) : createSame<INTEGER>();
    copy->value_ = value_;
    return copy;
}
bool INTEGER::do_accept(Visitor& visitor)
{
    return visitor.visit(*this);
}
bool INTEGER::do_accept(ConstVisitor& visitor) const
{
    return visitor.visit(*this);
}

// IntegerWithNamedNumber

AbstractData* IntegerWithNamedNumber::create(TypeInfo const* info)
{
    return new IntegerWithNamedNumber(info);
}

bool IntegerWithNamedNumber::getName(std::string& name) const
{
    NamedNumberEntry const* first = namedInfo()->nameEntries;
    NamedNumberEntry const* last = first + namedInfo()->entryCount;
    int value = getValue();
    NamedNumberEntry const* found = std::lower_bound(
        first, last, value, [](NamedNumberEntry const& entry, int v) { return entry.value < v; });
    if (found == last || found->value != value)
        return false;
    name = found->name;
    return true;
}

bool IntegerWithNamedNumber::setFromName(std::string const& name)
{
    for (std::uint32_t i = 0; i < namedInfo()->entryCount; ++i) {
        if (name == namedInfo()->nameEntries[i].name) {
            setValue(namedInfo()->nameEntries[i].value);
            return true;
        }
    }
    return false;
}

bool IntegerWithNamedNumber::do_accept(Visitor& visitor)
{
    return visitor.visit(*this);
}
bool IntegerWithNamedNumber::do_accept(ConstVisitor& visitor) const
{
    return visitor.visit(*this);
}

// ENUMERATED

namespace
{

// Walks the names table in order, giving each entry's identifier length and value.
template <class F> void forEachEnumerator(EnumInfo const* info, F f)
{
    std::int64_t value = -1;
    for (std::uint32_t i = 0; i < info->nameCount; ++i) {
        char const* entry = info->names[i];
        char const* equals = std::strchr(entry, '=');
        if (equals != nullptr) {
            value = std::strtol(equals + 1, nullptr, 10);
        } else {
            ++value;
        }
        std::size_t length =
            equals != nullptr ? static_cast<std::size_t>(equals - entry) : std::strlen(entry);
        if (f(entry, length, value))
            return;
    }
}

} // namespace

AbstractData* ENUMERATED::create(TypeInfo const* info)
{
    return new ENUMERATED(info);
}

std::string ENUMERATED::getName() const
{
    std::string name;
    if (value_ < 0 || value_ > getMaximum())
        return name;
    forEachEnumerator(enumInfo(), [&](char const* entry, std::size_t length, std::int64_t value) {
        if (value != value_)
            return false;
        name.assign(entry, length);
        return true;
    });
    return name;
}

bool ENUMERATED::setFromName(std::string const& name)
{
    bool found = false;
    forEachEnumerator(enumInfo(), [&](char const* entry, std::size_t length, std::int64_t value) {
        if (length != name.size() || name.compare(0, length, entry, length) != 0)
            return false;
        value_ = static_cast<int>(value);
        found = true;
        return true;
    });
    if (!found)
        value_ = getMaximum() + 1;
    return found;
}

int ENUMERATED::do_compare(AbstractData const& other) const
{
    return wrappedDifference(value_, static_cast<ENUMERATED const&>(other).value_);
}
AbstractData* ENUMERATED::do_clone() const
{
    ENUMERATED* copy = createSame<ENUMERATED>();
    copy->value_ = value_;
    return copy;
}
bool ENUMERATED::do_accept(Visitor& visitor)
{
    return visitor.visit(*this);
}
bool ENUMERATED::do_accept(ConstVisitor& visitor) const
{
    return visitor.visit(*this);
}

// OBJECT IDENTIFIER

const OBJECT_IDENTIFIER::InfoType OBJECT_IDENTIFIER::theInfo = {&OBJECT_IDENTIFIER::create, 6};

AbstractData* OBJECT_IDENTIFIER::create(TypeInfo const* info)
{
    return new OBJECT_IDENTIFIER(info);
}

namespace
{

void appendSubidentifier(std::vector<char>& out, std::uint64_t value)
{
    char groups[10];
    int count = 0;
    do {
        groups[count++] = static_cast<char>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count > 1)
        out.push_back(static_cast<char>(groups[--count] | 0x80));
    out.push_back(groups[0]);
}

} // namespace

void OBJECT_IDENTIFIER::encodeCommon(std::vector<char>& out) const
{
    out.clear();
    if (arcs_.size() < 2)
        return;
    // 64 bits: 40 * arc0 + arc1 may exceed 32.
    appendSubidentifier(out, std::uint64_t{40} * arcs_[0] + arcs_[1]);
    for (std::size_t i = 2; i < arcs_.size(); ++i)
        appendSubidentifier(out, arcs_[i]);
}

bool OBJECT_IDENTIFIER::decodeCommon(char const* data, unsigned length)
{
    arcs_.clear();
    unsigned i = 0;
    bool first = true;
    while (i < length) {
        std::uint64_t value = 0;
        unsigned char octet;
        do {
            if (i == length)
                return false;
            octet = static_cast<unsigned char>(data[i++]);
            value = (value << 7) | (octet & 0x7F);
            if (value > 0xFFFFFFFFull + 80)
                return false; // an arc must fit in 32 bits
        } while (octet & 0x80);
        if (first) {
            first = false;
            unsigned top = value < 40 ? 0 : value < 80 ? 1 : 2;
            std::uint64_t second = value - std::uint64_t{40} * top;
            if (second > 0xFFFFFFFFull)
                return false;
            arcs_.push_back(top);
            arcs_.push_back(static_cast<unsigned>(second));
        } else {
            if (value > 0xFFFFFFFFull)
                return false;
            arcs_.push_back(static_cast<unsigned>(value));
        }
    }
    return true;
}

int OBJECT_IDENTIFIER::do_compare(AbstractData const& other) const
{
    OBJECT_IDENTIFIER const& that = static_cast<OBJECT_IDENTIFIER const&>(other);
    std::size_t common = std::min(arcs_.size(), that.arcs_.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (arcs_[i] != that.arcs_[i])
            return arcs_[i] < that.arcs_[i] ? -1 : 1;
    }
    return static_cast<int>(arcs_.size()) - static_cast<int>(that.arcs_.size());
}
AbstractData* OBJECT_IDENTIFIER::do_clone() const
{
    OBJECT_IDENTIFIER* copy = createSame<OBJECT_IDENTIFIER>();
    copy->arcs_ = arcs_;
    return copy;
}
bool OBJECT_IDENTIFIER::do_accept(Visitor& visitor)
{
    return visitor.visit(*this);
}
bool OBJECT_IDENTIFIER::do_accept(ConstVisitor& visitor) const
{
    return visitor.visit(*this);
}

// BIT STRING

const BIT_STRING::InfoType BIT_STRING::theInfo = {{&BIT_STRING::create, 3}, Unconstrained, 0, 0xFFFFFFFFu};

AbstractData* BIT_STRING::create(TypeInfo const* info)
{
    return new BIT_STRING(info);
}

void BIT_STRING::resize(unsigned bits)
{
    bytes_.resize((std::uint64_t{bits} + 7) / 8, 0);
    bits_ = bits;
    if (bits % 8 != 0)
        bytes_.back() = static_cast<char>(bytes_.back() & (0xFF00u >> (bits % 8)));
}

int BIT_STRING::do_compare(AbstractData const& other) const
{
    BIT_STRING const& that = static_cast<BIT_STRING const&>(other);
    std::size_t common = std::min(bytes_.size(), that.bytes_.size());
    for (std::size_t i = 0; i < common; ++i) {
        unsigned a = static_cast<unsigned char>(bytes_[i]);
        unsigned b = static_cast<unsigned char>(that.bytes_[i]);
        unsigned d = a ^ b;
        if (d != 0)
            return static_cast<int>(a & d) - static_cast<int>(b & d);
    }
    return bits_ == that.bits_ ? 0 : bits_ < that.bits_ ? -1 : 1;
}
AbstractData* BIT_STRING::do_clone() const
{
    BIT_STRING* copy = createSame<BIT_STRING>();
    *copy = *this;
    return copy;
}
bool BIT_STRING::do_accept(Visitor& visitor)
{
    return visitor.visit(*this);
}
bool BIT_STRING::do_accept(ConstVisitor& visitor) const
{
    return visitor.visit(*this);
}

// OCTET STRING

const OCTET_STRING::InfoType OCTET_STRING::theInfo = {
    {&OCTET_STRING::create, 4}, Unconstrained, 0, 0xFFFFFFFFu};

AbstractData* OCTET_STRING::create(TypeInfo const* info)
{
    return new OCTET_STRING(info);
}
int OCTET_STRING::do_compare(AbstractData const& other) const
{
    OCTET_STRING const& that = static_cast<OCTET_STRING const&>(other);
    return lexicographic_compare_bytes(data(), data() + size(), that.data(), that.data() + that.size());
}
AbstractData* OCTET_STRING::do_clone() const
{
    OCTET_STRING* copy = createSame<OCTET_STRING>();
    *copy = *this;
    return copy;
}
bool OCTET_STRING::do_accept(Visitor& visitor)
{
    return visitor.visit(*this);
}
bool OCTET_STRING::do_accept(ConstVisitor& visitor) const
{
    return visitor.visit(*this);
}

} // namespace ASN1
