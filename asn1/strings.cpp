#include "asn1/strings.hpp"

#include "asn1/visitor.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ASN1
{

// Each set is followed by a terminating zero byte that is not part of it.
char const NumericStringSet[] = " 0123456789";
char const PrintableStringSet[] =
    " '()+,-./0123456789:=?ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
char const VisibleStringSet[] =
    " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~";

// Sets holding every code from 0: the code is its own index.
char const IA5StringSet[129] = {
#define QUELVAD_ROW(b)                                                                                       \
    char((b) + 0), char((b) + 1), char((b) + 2), char((b) + 3), char((b) + 4), char((b) + 5), char((b) + 6), \
        char((b) + 7), char((b) + 8), char((b) + 9), char((b) + 10), char((b) + 11), char((b) + 12),         \
        char((b) + 13), char((b) + 14), char((b) + 15)
    QUELVAD_ROW(0),  QUELVAD_ROW(16),  QUELVAD_ROW(32),
    QUELVAD_ROW(48), QUELVAD_ROW(64),  QUELVAD_ROW(80),
    QUELVAD_ROW(96), QUELVAD_ROW(112), 0};
char const GeneralStringSet[257] = {QUELVAD_ROW(0),
                                    QUELVAD_ROW(16),
                                    QUELVAD_ROW(32),
                                    QUELVAD_ROW(48),
                                    QUELVAD_ROW(64),
                                    QUELVAD_ROW(80),
                                    QUELVAD_ROW(96),
                                    QUELVAD_ROW(112),
                                    QUELVAD_ROW(128),
                                    QUELVAD_ROW(144),
                                    QUELVAD_ROW(160),
                                    QUELVAD_ROW(176),
                                    QUELVAD_ROW(192),
                                    QUELVAD_ROW(208),
                                    QUELVAD_ROW(224),
                                    QUELVAD_ROW(240),
                                    0};
#undef QUELVAD_ROW

const StringInfo NumericString::theInfo = {
    {{&NumericString::create, 18}, Unconstrained, 0, 0xFFFFFFFFu}, NumericStringSet, 11, 4, 4, 4};
const StringInfo PrintableString::theInfo = {
    {{&PrintableString::create, 19}, Unconstrained, 0, 0xFFFFFFFFu}, PrintableStringSet, 74, 7, 7, 8};
const StringInfo VisibleString::theInfo = {
    {{&VisibleString::create, 26}, Unconstrained, 0, 0xFFFFFFFFu}, VisibleStringSet, 95, 7, 7, 8};
const StringInfo IA5String::theInfo = {
    {{&IA5String::create, 22}, Unconstrained, 0, 0xFFFFFFFFu}, IA5StringSet, 128, 7, 7, 8};
const StringInfo GeneralString::theInfo = {
    {{&GeneralString::create, 27}, Unconstrained, 0, 0xFFFFFFFFu}, GeneralStringSet, 256, 8, 8, 8};

// AbstractString

AbstractData* AbstractString::create(TypeInfo const* info)
{
    return new AbstractString(info);
}

std::string::size_type AbstractString::find_first_invalid() const
{
    char const* set = getCharacterSet();
    unsigned count = getCharacterSetSize();
    if (set == nullptr || count == 0)
        return npos;
    for (size_type i = 0; i < size(); ++i) {
        if (std::memchr(set, (*this)[i], count) == nullptr)
            return i;
    }
    return npos;
}

int AbstractString::do_compare(AbstractData const& other) const
{
    return std::string::compare(static_cast<AbstractString const&>(other));
}
AbstractData* AbstractString::do_clone() const
{
    AbstractString* copy = createSame<AbstractString>();
    *copy = *this;
    return copy;
}
bool AbstractString::do_accept(Visitor& visitor)
{
    return visitor.visit(*this);
}
bool AbstractString::do_accept(ConstVisitor& visitor) const
{
    return visitor.visit(*this);
}

// BMPString

const BMPString::InfoType BMPString::theInfo = {
    {{&BMPString::create, 30}, Unconstrained, 0, 0xFFFFFFFFu}, 0, 65535, 16, 16};

AbstractData* BMPString::create(TypeInfo const* info)
{
    return new BMPString(info);
}
int BMPString::do_compare(AbstractData const& other) const
{
    return std::wstring::compare(static_cast<BMPString const&>(other));
}
AbstractData* BMPString::do_clone() const
{
    BMPString* copy = createSame<BMPString>();
    *copy = *this;
    return copy;
}
bool BMPString::do_accept(Visitor& visitor)
{
    return visitor.visit(*this);
}
bool BMPString::do_accept(ConstVisitor& visitor) const
{
    return visitor.visit(*this);
}

// GeneralizedTime

const GeneralizedTime::InfoType GeneralizedTime::theInfo = {&GeneralizedTime::create, 24};

AbstractData* GeneralizedTime::create(TypeInfo const* info)
{
    return new GeneralizedTime(info);
}

GeneralizedTime::GeneralizedTime(int year_, int month_, int day_, int hour_, int minute_, int second_,
                                 int millisec_, int mindiff_, bool utc_)
    : AbstractData(&theInfo), year(year_), month(month_), day(day_), hour(hour_), minute(minute_),
      second(second_), millisec(millisec_), mindiff(mindiff_), utc(utc_)
{
}

GeneralizedTime& GeneralizedTime::operator=(GeneralizedTime const& other)
{
    GeneralizedTime copy(other);
    swap(copy);
    return *this;
}

void GeneralizedTime::swap(GeneralizedTime& other)
{
    std::swap(year, other.year);
    std::swap(month, other.month);
    std::swap(day, other.day);
    std::swap(hour, other.hour);
    std::swap(minute, other.minute);
    std::swap(second, other.second);
    std::swap(millisec, other.millisec);
    std::swap(mindiff, other.mindiff);
    std::swap(utc, other.utc);
}

void GeneralizedTime::set(char const* text)
{
    std::sscanf(text, "%4d%2d%2d%2d%2d%2d", &year, &month, &day, &hour, &minute, &second);
    std::size_t length = std::strlen(text);
    if (length > 14 && text[14] == '.') {
        // Decimal digits, truncated to milliseconds; read as digits to avoid rounding.
        int value = 0;
        int digits = 0;
        for (char const* p = text + 15; *p >= '0' && *p <= '9'; ++p) {
            if (digits < 3)
                value = value * 10 + (*p - '0');
            ++digits;
        }
        for (; digits < 3; ++digits)
            value *= 10;
        millisec = value;
    }
    if (length > 0 && text[length - 1] == 'Z') {
        utc = true;
    } else if (length >= 5 && (text[length - 5] == '+' || text[length - 5] == '-')) {
        int hours = 0;
        int minutes = 0;
        if (std::sscanf(text + length - 4, "%2d%2d", &hours, &minutes) == 2) {
            mindiff = (text[length - 5] == '-' ? -1 : 1) * (hours * 60 + minutes);
        }
    }
}

std::string GeneralizedTime::get() const
{
    char text[80];
    int length =
        std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", year, month, day, hour, minute, second);
    if (millisec != 0)
        length += std::snprintf(text + length, sizeof text - length, ".%03d", millisec);
    if (utc) {
        std::snprintf(text + length, sizeof text - length, "Z");
    } else if (mindiff != 0) {
        // Two digits of hours, two of minutes, as set() reads them back. An offset set()
        // reads can reach 99 hours 99 minutes ("-9999"): from 100 hours on the hours stay
        // at 99 and the minutes take the rest (60 to 99), so the text keeps its width.
        int offset = mindiff < 0 ? -mindiff : mindiff;
        int hours = offset / 60 < 99 ? offset / 60 : 99;
        std::snprintf(text + length, sizeof text - length, "%c%02d%02d", mindiff < 0 ? '-' : '+', hours,
                      offset - hours * 60);
    }
    return text;
}

std::time_t GeneralizedTime::get_time_t() const
{
    std::tm broken{};
    broken.tm_year = year - 1900;
    broken.tm_mon = month - 1;
    broken.tm_mday = day;
    broken.tm_hour = hour;
    broken.tm_min = minute;
    broken.tm_sec = second;
    broken.tm_isdst = -1; // let the library decide daylight saving
    return std::mktime(&broken);
}

void GeneralizedTime::set_time_t(long t)
{
    std::time_t when = static_cast<std::time_t>(t);
    std::tm broken{};
    if (gmtime_r(&when, &broken) == nullptr)
        return;
    year = broken.tm_year + 1900;
    month = broken.tm_mon + 1;
    day = broken.tm_mday;
    hour = broken.tm_hour;
    minute = broken.tm_min;
    second = broken.tm_sec;
}

int GeneralizedTime::do_compare(AbstractData const& other) const
{
    GeneralizedTime const& that = static_cast<GeneralizedTime const&>(other);
    int const mine[] = {year, month, day, hour, minute, second, millisec};
    int const theirs[] = {that.year,   that.month,  that.day,     that.hour,
                          that.minute, that.second, that.millisec};
    for (int i = 0; i < 7; ++i) {
        if (mine[i] != theirs[i])
            return mine[i] < theirs[i] ? -1 : 1;
    }
    return static_cast<int>(utc) - static_cast<int>(that.utc);
}
AbstractData* GeneralizedTime::do_clone() const
{
    GeneralizedTime* copy = createSame<GeneralizedTime>();
    *copy = *this;
    return copy;
}
bool GeneralizedTime::do_accept(Visitor& visitor)
{
    return visitor.visit(*this);
}
bool GeneralizedTime::do_accept(ConstVisitor& visitor) const
{
    return visitor.visit(*this);
}

} // namespace ASN1
