// The value base, constant type descriptors and the helpers every coder shares.
#pragma once

#include "asn1/value_pool.hpp"

#include <cstddef>
#include <cstdint>
#include <ios>
#include <iosfwd>
#include <string>

namespace ASN1
{

static_assert(sizeof(int) == 4, "values are held in 32-bit ints on every target");

class AbstractData;
class Visitor;
class ConstVisitor;
struct TypeInfo;

// A factory takes the descriptor it is stored in and builds the class the type is
// declared as, so a value's dynamic type always matches its descriptor.
typedef AbstractData* (*CreateFun)(TypeInfo const* info);

enum ConstraintType : std::uint32_t {
    Unconstrained = 0,
    PartiallyConstrained = 1,
    FixedConstraint = 2,
    ExtendableConstraint = 3
};

// Tag words: class in bits 16..23 (BER identifier class bits), number in bits 0..15.
enum : std::uint32_t {
    UniversalTagClass = 0x000000,
    ApplicationTagClass = 0x400000,
    ContextSpecificTagClass = 0x800000,
    PrivateTagClass = 0xC00000
};
inline constexpr std::uint32_t automaticTag(std::uint32_t index)
{
    return index | ContextSpecificTagClass;
}

// Descriptor records. Every kind starts with the common head; the records are plain
// aggregates so that a module can define them as constant data.
struct TypeInfo {
    CreateFun create;
    std::uint32_t tag;
};

// INTEGER, BIT STRING, OCTET STRING: bounds of the value or of the size.
struct ConstrainedInfo : TypeInfo {
    ConstraintType type;
    std::int32_t lowerLimit;
    std::uint32_t upperLimit;
};

struct NamedNumberEntry {
    std::int32_t value;
    char const* name;
};

struct NamedNumberInfo : ConstrainedInfo {
    NamedNumberEntry const* nameEntries; // ascending by value
    std::uint32_t entryCount;
};

struct StringInfo : ConstrainedInfo {
    char const* characterSet; // ascending code order, or null
    std::uint32_t characterSetSize;
    std::uint32_t canonicalSetBits;
    std::uint32_t bitsUnaligned;
    std::uint32_t bitsAligned;
};

struct BMPStringInfo : ConstrainedInfo {
    std::uint32_t firstChar;
    std::uint32_t lastChar;
    std::uint32_t bitsUnaligned;
    std::uint32_t bitsAligned;
};

// names: "id" (previous value + 1, the first 0) or "id=value", in definition order.
struct EnumInfo : TypeInfo {
    bool extendable;
    std::int32_t maxEnumValue;
    char const* const* names;
    std::uint32_t nameCount;
};

struct ChoiceInfo : TypeInfo {
    bool extendable;
    TypeInfo const* const* selectionInfos; // root alternatives, then known additions
    std::uint32_t numChoices;              // root alternatives
    std::uint32_t totalChoices;
    std::uint32_t const* selectionTags; // null: automatic tags
    char const* const* selectionNames;
    // An extension alternative this type does not know fails the whole decoding, unless
    // this is set: the CHOICE is then left unrecognised, its octets are skipped and the
    // decoding goes on, for the types whose users answer a value they do not take.
    bool acceptsUnknownAlternative = false;
};

struct SequenceInfo : TypeInfo {
    bool extendable;
    TypeInfo const* const* fieldInfos; // root fields, then known additions
    std::int32_t const* fieldIds;      // per root field: -1 mandatory, else optional number
    std::uint32_t numFields;           // root fields
    std::uint32_t knownExtensions;
    std::uint32_t numOptional;
    unsigned char const* nonOptionalExtensions; // packed, first addition in the top bit; or null
    std::uint32_t const* fieldTags;             // null: automatic; &SEQUENCE::defaultTag: own tags
    char const* const* fieldNames;
};

struct SequenceOfInfo : ConstrainedInfo {
    TypeInfo const* elementInfo;
};

struct OpenTypeInfo : TypeInfo {
    TypeInfo const* typeInfo;
};

// How the aligned-PER coders treat a value without a virtual call: a class whose PER
// coding follows from its descriptor alone names its kind when it is built; every other
// class is `other` and is coded through accept(). A class deriving from one of these
// kinds must code exactly as its base does in aligned PER.
enum class ValueKind : std::uint8_t {
    other,
    null,
    boolean,
    integer,
    enumerated,
    octetString,
    characterString,
    choice,
    sequence,
    sequenceOf
};

class AbstractData
{
public:
    virtual ~AbstractData() = default;

    // Every value object, of whatever class, comes from the value free lists.
    static void* operator new(std::size_t size) { return detail::valueAllocate(size); }
    static void operator delete(void* block, std::size_t size) noexcept { detail::valueRelease(block, size); }

    // Null for no descriptor; otherwise a new value owned by the caller.
    static AbstractData* create(TypeInfo const* info)
    {
        return info == nullptr ? nullptr : info->create(info);
    }

    AbstractData* clone() const { return do_clone(); }
    int compare(AbstractData const& other) const { return do_compare(other); }
    bool operator==(AbstractData const& other) const { return compare(other) == 0; }
    bool operator!=(AbstractData const& other) const { return compare(other) != 0; }

    bool accept(Visitor& visitor) { return do_accept(visitor); }
    bool accept(ConstVisitor& visitor) const { return do_accept(visitor); }

    TypeInfo const* info() const { return info_; }
    std::uint32_t getTag() const { return info_->tag; }
    ValueKind kind() const { return kind_; }

    // Value notation (printer): the text written up to a failure.
    std::string asValueNotation() const;
    std::ios_base::iostate print_on(std::ostream& stream) const;
    // Value notation (reader): true, or false with the value filled up to the failure.
    bool setFromValueNotation(std::string const& text);
    // goodbit on success, failbit when the text could not be read.
    std::ios_base::iostate get_from(std::istream& stream);

    // Constraints of the type: isValid accepts what an extensible type may carry beyond
    // its root, isStrictlyValid demands the root.
    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    explicit AbstractData(TypeInfo const* info, ValueKind kind = ValueKind::other) : info_(info), kind_(kind)
    {
    }
    AbstractData(AbstractData const&) = default;
    // Assignment copies content only: a value never changes its descriptor.
    // It copies nothing, so self-assignment is harmless.
    // NOLINTNEXTLINE(bugprone-unhandled-self-assignment)
    AbstractData& operator=(AbstractData const&) { return *this; }

    virtual int do_compare(AbstractData const& other) const = 0;
    virtual AbstractData* do_clone() const = 0;
    virtual bool do_accept(Visitor& visitor) = 0;
    virtual bool do_accept(ConstVisitor& visitor) const = 0;

    // A fresh value of this value's own type, built by the descriptor's factory.
    template <class T> T* createSame() const { return static_cast<T*>(info_->create(info_)); }

private:
    TypeInfo const* info_;
    ValueKind kind_;
};

// Kinds whose descriptor carries a constraint (value bounds or size bounds).
class ConstrainedObject : public AbstractData
{
public:
    bool constrained() const { return getConstraintType() != Unconstrained; }
    bool extendable() const { return getConstraintType() == ExtendableConstraint; }
    ConstraintType getConstraintType() const { return constraintInfo()->type; }
    int getLowerLimit() const { return constraintInfo()->lowerLimit; }
    unsigned getUpperLimit() const { return constraintInfo()->upperLimit; }
    ConstrainedInfo const* constraintInfo() const { return static_cast<ConstrainedInfo const*>(info()); }

protected:
    explicit ConstrainedObject(TypeInfo const* info, ValueKind kind = ValueKind::other)
        : AbstractData(info, kind)
    {
    }
    ConstrainedObject(ConstrainedObject const&) = default;
    ConstrainedObject& operator=(ConstrainedObject const&) { return *this; }
};

namespace detail
{

// Blocks of the leaf kinds (NULL, BOOLEAN, INTEGER, ENUMERATED) are all of one size
// class: the value head and at most an int (primitives.hpp checks each class).
const std::size_t leafValueSize = sizeof(AbstractData) + sizeof(int);

} // namespace detail

// Ends a value owned through a pointer (null does nothing). A leaf kind holds no
// resource and its classes declare no member and no destructor: its block goes back to
// the free lists without the virtual destructor's call; every other value is deleted.
inline void destroyValue(AbstractData* value) noexcept
{
    if (value == nullptr)
        return;
    switch (value->kind()) {
    case ValueKind::null:
    case ValueKind::boolean:
    case ValueKind::integer:
    case ValueKind::enumerated:
        detail::valueRelease(value, detail::leafValueSize);
        return;
    default:
        delete value;
    }
}

namespace detail
{

// Owning pointers to values end them with destroyValue.
struct ValueDeleter {
    void operator()(AbstractData* value) const noexcept { destroyValue(value); }
};

} // namespace detail

// Bits needed for the values 0..n-1; 0 stands for 2^32 values and gives 32.
inline unsigned CountBits(unsigned n)
{
    if (n <= 1)
        return n == 0 ? 32 : 0;
    return 32u - static_cast<unsigned>(__builtin_clz(n - 1));
}

// Unsigned byte order; a proper prefix orders first (-1 / 1).
int lexicographic_compare_bytes(char const* first1, char const* last1, char const* first2, char const* last2);

} // namespace ASN1
