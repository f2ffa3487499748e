// Restricted character strings, BMPString and GeneralizedTime.
#pragma once

#include "asn1/abstract_data.hpp"

#include <ctime>
#include <ostream>
#include <string>

namespace ASN1
{

extern char const NumericStringSet[];
extern char const PrintableStringSet[];
extern char const VisibleStringSet[];
extern char const IA5StringSet[];
extern char const GeneralStringSet[];

class AbstractString : public ConstrainedObject, public std::string
{
public:
    typedef StringInfo InfoType;
    static AbstractData* create(TypeInfo const* info);

    explicit AbstractString(TypeInfo const* info) : ConstrainedObject(info, ValueKind::characterString) {}
    AbstractString(TypeInfo const* info, std::string const& text)
        : ConstrainedObject(info, ValueKind::characterString), std::string(text)
    {
    }
    AbstractString(TypeInfo const* info, char const* text)
        : ConstrainedObject(info, ValueKind::characterString), std::string(text)
    {
    }
    AbstractString(AbstractString const&) = default;
    AbstractString& operator=(AbstractString const& other)
    {
        std::string::operator=(other);
        return *this;
    }
    AbstractString& assign(std::string const& text)
    {
        std::string::assign(text);
        return *this;
    }
    using std::string::assign;

    char const* getCharacterSet() const { return stringInfo()->characterSet; }
    unsigned getCharacterSetSize() const { return stringInfo()->characterSetSize; }
    unsigned getCanonicalSetBits() const { return stringInfo()->canonicalSetBits; }
    unsigned getNumBits(bool aligned) const
    {
        return aligned ? stringInfo()->bitsAligned : stringInfo()->bitsUnaligned;
    }
    // Position of the first character outside the set, or npos; no table checks nothing.
    size_type find_first_invalid() const;
    bool isValid() const;
    bool isStrictlyValid() const;
    StringInfo const* stringInfo() const { return static_cast<StringInfo const*>(info()); }

    bool operator==(AbstractString const& other) const { return AbstractData::compare(other) == 0; }
    bool operator!=(AbstractString const& other) const { return AbstractData::compare(other) != 0; }
    using AbstractData::compare;
    AbstractString* clone() const { return static_cast<AbstractString*>(AbstractData::clone()); }

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;
};

inline std::ostream& operator<<(std::ostream& stream, AbstractString const& text)
{
    return stream << static_cast<std::string const&>(text);
}

// The built-in string types: each builds itself from its descriptor, so typed access
// never meets an object of another class.
// The argument is a class name, never an expression.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define QUELVAD_ASN1_STRING_TYPE(Name)                                                                       \
    class Name : public AbstractString                                                                       \
    {                                                                                                        \
    public:                                                                                                  \
        static const InfoType theInfo;                                                                       \
        static AbstractData* create(TypeInfo const* info) { return new Name(info); }                         \
        Name() : AbstractString(&theInfo) {}                                                                 \
        explicit Name(TypeInfo const* info) : AbstractString(info) {}                                        \
        Name(std::string const& text, TypeInfo const* info = &theInfo) : AbstractString(info, text) {}       \
        Name(char const* text, TypeInfo const* info = &theInfo) : AbstractString(info, text) {}              \
        Name(Name const&) = default;                                                                         \
        Name& operator=(Name const& other)                                                                   \
        {                                                                                                    \
            AbstractString::operator=(other);                                                                \
            return *this;                                                                                    \
        }                                                                                                    \
        Name& operator=(std::string const& text)                                                             \
        {                                                                                                    \
            assign(text);                                                                                    \
            return *this;                                                                                    \
        }                                                                                                    \
        Name* clone() const { return static_cast<Name*>(AbstractData::clone()); }                            \
    }

QUELVAD_ASN1_STRING_TYPE(NumericString);
QUELVAD_ASN1_STRING_TYPE(PrintableString);
QUELVAD_ASN1_STRING_TYPE(VisibleString);
QUELVAD_ASN1_STRING_TYPE(IA5String);
QUELVAD_ASN1_STRING_TYPE(GeneralString);

#undef QUELVAD_ASN1_STRING_TYPE
// NOLINTEND(bugprone-macro-parentheses)

class BMPString : public ConstrainedObject, public std::wstring
{
public:
    typedef BMPStringInfo InfoType;
    static const InfoType theInfo;
    static AbstractData* create(TypeInfo const* info);

    BMPString() : ConstrainedObject(&theInfo) {}
    explicit BMPString(TypeInfo const* info) : ConstrainedObject(info) {}
    BMPString(std::wstring const& text, TypeInfo const* info) : ConstrainedObject(info), std::wstring(text) {}
    BMPString(wchar_t const* text, TypeInfo const* info) : ConstrainedObject(info), std::wstring(text) {}
    BMPString(BMPString const&) = default;
    BMPString& operator=(BMPString const& other)
    {
        std::wstring::operator=(other);
        return *this;
    }
    BMPString& assign(wchar_t const* text, unsigned n)
    {
        std::wstring::assign(text, n);
        return *this;
    }

    unsigned getFirstChar() const { return bmpInfo()->firstChar; }
    unsigned getLastChar() const { return bmpInfo()->lastChar; }
    unsigned getNumBits(bool aligned) const
    {
        return aligned ? bmpInfo()->bitsAligned : bmpInfo()->bitsUnaligned;
    }
    BMPStringInfo const* bmpInfo() const { return static_cast<BMPStringInfo const*>(info()); }
    bool legalCharacter(wchar_t c) const;
    // Index of the first character outside first..last, or the length.
    size_type first_illegal_at() const;
    bool isValid() const;
    bool isStrictlyValid() const;

    bool operator==(BMPString const& other) const { return AbstractData::compare(other) == 0; }
    bool operator!=(BMPString const& other) const { return AbstractData::compare(other) != 0; }
    using AbstractData::compare;
    BMPString* clone() const { return static_cast<BMPString*>(AbstractData::clone()); }

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;
};

class GeneralizedTime : public AbstractData
{
public:
    typedef TypeInfo InfoType;
    static const InfoType theInfo;
    static AbstractData* create(TypeInfo const* info);

    GeneralizedTime() : GeneralizedTime(&theInfo) {}
    explicit GeneralizedTime(TypeInfo const* info) : AbstractData(info) {}
    explicit GeneralizedTime(char const* text) : GeneralizedTime(&theInfo) { set(text); }
    GeneralizedTime(int year, int month, int day, int hour, int minute, int second, int millisec, int mindiff,
                    bool utc);
    GeneralizedTime(GeneralizedTime const&) = default;
    GeneralizedTime& operator=(GeneralizedTime const& other);
    void swap(GeneralizedTime& other);

    void set(char const* text);
    std::string get() const;
    std::time_t get_time_t() const;
    void set_time_t(long t);

    int year = 1;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisec = 0;
    int mindiff = 0; // minutes east of UTC; 0 when none
    bool utc = false;

    bool isValid() const;
    bool isStrictlyValid() const;

    GeneralizedTime* clone() const { return static_cast<GeneralizedTime*>(AbstractData::clone()); }

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;
};

} // namespace ASN1
