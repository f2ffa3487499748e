// Leaf kinds: NULL, BOOLEAN, INTEGER, ENUMERATED, OBJECT IDENTIFIER, BIT STRING,
// OCTET STRING. Character strings and time are in strings.hpp.
#pragma once

#include "asn1/abstract_data.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace ASN1
{

class Null : public AbstractData
{
public:
    typedef TypeInfo InfoType;
    static const InfoType theInfo;
    static AbstractData* create(TypeInfo const* info);

    Null() : AbstractData(&theInfo, ValueKind::null) {}
    explicit Null(TypeInfo const* info) : AbstractData(info, ValueKind::null) {}
    Null(Null const&) = default;
    Null& operator=(Null const&) { return *this; }
    Null* clone() const { return static_cast<Null*>(AbstractData::clone()); }

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;
};

class BOOLEAN : public AbstractData
{
public:
    typedef TypeInfo InfoType;
    static const InfoType theInfo;
    static AbstractData* create(TypeInfo const* info);

    BOOLEAN() : AbstractData(&theInfo, ValueKind::boolean), value_(false) {}
    explicit BOOLEAN(TypeInfo const* info) : AbstractData(info, ValueKind::boolean), value_(false) {}
    BOOLEAN(bool value, TypeInfo const* info = &theInfo)
        : AbstractData(info, ValueKind::boolean), value_(value)
    {
    }
    BOOLEAN(BOOLEAN const&) = default;
    BOOLEAN& operator=(BOOLEAN const& other)
    {
        value_ = other.value_;
        return *this;
    }
    BOOLEAN& operator=(bool value)
    {
        value_ = value;
        return *this;
    }
    operator bool() const { return value_; }
    BOOLEAN* clone() const { return static_cast<BOOLEAN*>(AbstractData::clone()); }

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

private:
    bool value_;
};

class INTEGER : public ConstrainedObject
{
public:
    typedef ConstrainedInfo InfoType;
    static const InfoType theInfo; // unconstrained
    static AbstractData* create(TypeInfo const* info);

    INTEGER() : ConstrainedObject(&theInfo, ValueKind::integer), value_(0) {}
    explicit INTEGER(TypeInfo const* info) : ConstrainedObject(info, ValueKind::integer), value_(0) {}
    INTEGER(int value, TypeInfo const* info = &theInfo)
        : ConstrainedObject(info, ValueKind::integer), value_(value)
    {
    }
    INTEGER(INTEGER const&) = default;
    INTEGER& operator=(INTEGER const& other)
    {
        value_ = other.value_;
        return *this;
    }
    INTEGER& operator=(int value)
    {
        value_ = value;
        return *this;
    }
    int getValue() const { return value_; }
    void setValue(int value) { value_ = value; }
    bool operator==(INTEGER const& other) const { return value_ == other.value_; }
    bool operator!=(INTEGER const& other) const { return value_ != other.value_; }
    bool isValid() const;
    bool isStrictValid() const;
    INTEGER* clone() const { return static_cast<INTEGER*>(AbstractData::clone()); }

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

private:
    int value_;
};

// An INTEGER whose bounds are fixed in its type; one constant descriptor per bound pair.
template <ConstraintType Type, std::int32_t Lower, std::uint32_t Upper>
class Constrained_INTEGER : public INTEGER
{
public:
    static AbstractData* create(TypeInfo const* info) { return new Constrained_INTEGER(info); }
    static constexpr InfoType theInfo = {{&Constrained_INTEGER::create, 2}, Type, Lower, Upper};

    Constrained_INTEGER() : INTEGER(&theInfo) {}
    explicit Constrained_INTEGER(TypeInfo const* info) : INTEGER(info) {}
    Constrained_INTEGER(unsigned value, TypeInfo const* info = &theInfo)
        : INTEGER(static_cast<int>(value), info)
    {
    }
    Constrained_INTEGER(Constrained_INTEGER const&) = default;
    Constrained_INTEGER& operator=(Constrained_INTEGER const& other)
    {
        INTEGER::operator=(other);
        return *this;
    }
    Constrained_INTEGER& operator=(unsigned value)
    {
        setValue(static_cast<int>(value));
        return *this;
    }
    unsigned getValue() const { return static_cast<unsigned>(INTEGER::getValue()); }
    Constrained_INTEGER* clone() const { return static_cast<Constrained_INTEGER*>(AbstractData::clone()); }
};

inline unsigned operator+(unsigned lhs, Constrained_INTEGER<FixedConstraint, 0, 127> const& rhs)
{
    return lhs + rhs.getValue();
}

class IntegerWithNamedNumber : public INTEGER
{
public:
    typedef NamedNumberInfo InfoType;
    static AbstractData* create(TypeInfo const* info);

    explicit IntegerWithNamedNumber(TypeInfo const* info) : INTEGER(info) {}
    IntegerWithNamedNumber(int value, TypeInfo const* info) : INTEGER(value, info) {}
    IntegerWithNamedNumber(IntegerWithNamedNumber const&) = default;
    IntegerWithNamedNumber& operator=(int value)
    {
        setValue(value);
        return *this;
    }

    bool getName(std::string& name) const;
    bool setFromName(std::string const& name);

protected:
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

private:
    NamedNumberInfo const* namedInfo() const { return static_cast<NamedNumberInfo const*>(info()); }
};

class ENUMERATED : public AbstractData
{
public:
    typedef EnumInfo InfoType;
    static AbstractData* create(TypeInfo const* info);

    explicit ENUMERATED(TypeInfo const* info) : AbstractData(info, ValueKind::enumerated), value_(0) {}
    ENUMERATED(ENUMERATED const&) = default;
    ENUMERATED& operator=(ENUMERATED const& other)
    {
        value_ = other.value_;
        return *this;
    }

    int asInt() const { return value_; }
    void setFromInt(int value) { value_ = value; }
    int getMaximum() const { return enumInfo()->maxEnumValue; }
    bool extendable() const { return enumInfo()->extendable; }
    // The identifier of the first entry carrying the value; empty when none does.
    std::string getName() const;
    // Miss: the value becomes the maximum + 1 and the result is false.
    bool setFromName(std::string const& name);
    EnumInfo const* enumInfo() const { return static_cast<EnumInfo const*>(info()); }
    bool isValid() const;
    bool isStrictlyValid() const;
    ENUMERATED* clone() const { return static_cast<ENUMERATED*>(AbstractData::clone()); }

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

private:
    int value_;
};

class OBJECT_IDENTIFIER : public AbstractData
{
public:
    typedef TypeInfo InfoType;
    static const InfoType theInfo;
    static AbstractData* create(TypeInfo const* info);

    OBJECT_IDENTIFIER() : AbstractData(&theInfo) {}
    explicit OBJECT_IDENTIFIER(TypeInfo const* info) : AbstractData(info) {}
    OBJECT_IDENTIFIER(OBJECT_IDENTIFIER const&) = default;
    OBJECT_IDENTIFIER& operator=(OBJECT_IDENTIFIER const& other)
    {
        arcs_ = other.arcs_;
        return *this;
    }

    unsigned levels() const { return static_cast<unsigned>(arcs_.size()); }
    unsigned operator[](unsigned i) const { return arcs_[i]; }
    void append(unsigned arc) { arcs_.push_back(arc); }
    // Contents octets of the sub-identifiers; fewer than two arcs give none.
    void encodeCommon(std::vector<char>& out) const;
    // False when the data end inside a sub-identifier.
    bool decodeCommon(char const* data, unsigned length);
    bool isValid() const;
    bool isStrictlyValid() const;
    OBJECT_IDENTIFIER* clone() const { return static_cast<OBJECT_IDENTIFIER*>(AbstractData::clone()); }

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

private:
    std::vector<unsigned> arcs_;
};

class BIT_STRING : public ConstrainedObject
{
public:
    typedef ConstrainedInfo InfoType;
    static const InfoType theInfo;
    static AbstractData* create(TypeInfo const* info);

    BIT_STRING() : ConstrainedObject(&theInfo), bits_(0) {}
    explicit BIT_STRING(TypeInfo const* info) : ConstrainedObject(info), bits_(0) {}
    BIT_STRING(BIT_STRING const&) = default;
    BIT_STRING& operator=(BIT_STRING const& other)
    {
        bits_ = other.bits_;
        bytes_ = other.bytes_;
        return *this;
    }

    unsigned size() const { return bits_; }
    bool operator[](unsigned i) const
    {
        return i < bits_ && (static_cast<unsigned char>(bytes_[i / 8]) & (0x80u >> (i % 8))) != 0;
    }
    // New bits are 0; bits cut off are cleared, so the bytes always hold zero padding.
    void resize(unsigned bits);
    std::vector<char>& getData() { return bytes_; }
    std::vector<char> const& getData() const { return bytes_; }
    bool isValid() const;
    bool isStrictlyValid() const;
    BIT_STRING* clone() const { return static_cast<BIT_STRING*>(AbstractData::clone()); }

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

private:
    unsigned bits_;
    std::vector<char> bytes_;
};

class OCTET_STRING : public ConstrainedObject, public std::vector<char>
{
public:
    typedef ConstrainedInfo InfoType;
    static const InfoType theInfo;
    static AbstractData* create(TypeInfo const* info);

    OCTET_STRING() : ConstrainedObject(&theInfo, ValueKind::octetString) {}
    explicit OCTET_STRING(TypeInfo const* info) : ConstrainedObject(info, ValueKind::octetString) {}
    OCTET_STRING(size_type n, char c, TypeInfo const* info)
        : ConstrainedObject(info, ValueKind::octetString), std::vector<char>(n, c)
    {
    }
    OCTET_STRING(std::vector<char> const& octets, TypeInfo const* info)
        : ConstrainedObject(info, ValueKind::octetString), std::vector<char>(octets)
    {
    }
    OCTET_STRING(OCTET_STRING const&) = default;
    OCTET_STRING& operator=(OCTET_STRING const& other)
    {
        std::vector<char>::operator=(other);
        return *this;
    }
    OCTET_STRING& operator=(std::vector<char> const& octets)
    {
        std::vector<char>::operator=(octets);
        return *this;
    }
    operator std::string() const { return std::string(begin(), end()); }
    bool operator==(OCTET_STRING const& other) const { return compare(other) == 0; }
    bool operator!=(OCTET_STRING const& other) const { return compare(other) != 0; }
    using AbstractData::compare;
    bool isValid() const;
    bool isStrictlyValid() const;
    OCTET_STRING* clone() const { return static_cast<OCTET_STRING*>(AbstractData::clone()); }

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;
};

static_assert(detail::valueClassOf(sizeof(Null)) == detail::valueClassOf(detail::leafValueSize) &&
                  detail::valueClassOf(sizeof(BOOLEAN)) == detail::valueClassOf(detail::leafValueSize) &&
                  detail::valueClassOf(sizeof(INTEGER)) == detail::valueClassOf(detail::leafValueSize) &&
                  detail::valueClassOf(sizeof(ENUMERATED)) == detail::valueClassOf(detail::leafValueSize),
              "the leaf kinds share one block size class");

} // namespace ASN1
