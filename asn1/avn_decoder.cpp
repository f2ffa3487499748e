#include "asn1/avn_decoder.hpp"
#include "asn1/io_wrapper.hpp"

#include "asn1/constructed.hpp"
#include "asn1/primitives.hpp"
#include "asn1/strings.hpp"

#include <boost/scoped_array.hpp>

#include <cctype>
#include <cstdlib>
#include <locale>
#include <new>
#include <sstream>

namespace ASN1
{

bool input_success(std::istream& stream)
{
    return (stream.rdstate() & (std::ios_base::failbit | std::ios_base::badbit)) == 0;
}

bool is_space_or_newline(char c)
{
    return c == ' ' || c == '\n';
}

namespace
{

// Reaching the end of the text after what was read is no failure of that read.
void forgiveEnd(std::istream& stream)
{
    if (stream.eof() && !stream.bad())
        stream.clear(std::ios_base::eofbit);
}

// A value word (an enumerator, a named number): from the next non-white character to
// the next white space, "," or "}", which stays in the stream.
bool readWord(std::istream& stream, std::string& word)
{
    word.clear();
    if (!(stream >> std::ws))
        return false;
    std::ctype<char> const& ctype = std::use_facet<std::ctype<char>>(stream.getloc());
    for (int next = stream.peek(); next != std::char_traits<char>::eof(); next = stream.peek()) {
        char c = std::char_traits<char>::to_char_type(next);
        if (c == ',' || c == '}' || ctype.is(std::ctype_base::space, c))
            break;
        word += c;
        stream.get();
    }
    return !word.empty() && input_success(stream);
}

bool expect(std::istream& stream, char wanted)
{
    char c = 0;
    return static_cast<bool>(stream >> c) && c == wanted;
}

int digitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

// A decimal arc that fits in 32 bits.
bool parseArc(std::string const& digits, unsigned& arc)
{
    if (digits.empty() || digits.size() > 10)
        return false;
    std::uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 0xFFFFFFFFu)
        return false;
    arc = static_cast<unsigned>(value);
    return true;
}

} // namespace

bool get_string(std::istream& stream, std::string& text)
{
    if (!expect(stream, '"'))
        return false;
    std::getline(stream, text, '"');
    // Without a closing quote the text ran into the end.
    return input_success(stream) && !stream.eof();
}

bool get_from_string(std::string& digits, std::vector<char>& octets, unsigned& bits, int base)
{
    std::string kept;
    for (char c : digits) {
        if (!is_space_or_newline(c))
            kept += c;
    }
    digits.swap(kept);
    unsigned group = base == 2 ? 8 : 2;
    std::uint64_t count = base == 2 ? digits.size() : std::uint64_t{digits.size()} * 4;
    if (count > 0xFFFFFFFFu)
        return false;
    bits = static_cast<unsigned>(count);
    if (digits.size() % group != 0)
        digits.append(group - digits.size() % group, '0');
    octets.clear();
    for (std::size_t i = 0; i < digits.size(); i += group) {
        unsigned octet = 0;
        for (std::size_t j = i; j < i + group; ++j) {
            int d = digitValue(digits[j]);
            if (d >= base)
                return false;
            octet = octet * static_cast<unsigned>(base) + static_cast<unsigned>(d);
        }
        octets.push_back(static_cast<char>(octet));
    }
    return true;
}

bool get_value_from(std::istream& stream, std::vector<char>& octets, unsigned& bits)
{
    if (!expect(stream, '\''))
        return false;
    std::string digits;
    std::getline(stream, digits, '\'');
    if (!input_success(stream) || stream.eof())
        return false;
    char kind = 0;
    if (!(stream >> kind))
        return false;
    if (kind == 'B')
        return get_from_string(digits, octets, bits, 2);
    if (kind == 'H')
        return get_from_string(digits, octets, bits, 16);
    return false;
}

bool get_id(char const* const* names, unsigned count, std::string const& id, int& index)
{
    for (unsigned i = 0; i < count; ++i) {
        if (names[i] != nullptr && id == names[i]) {
            index = static_cast<int>(i);
            return true;
        }
    }
    return false;
}

bool AVNDecoder::readLetters(std::string& letters)
{
    letters.clear();
    char c = 0;
    while (stream_ >> c) {
        if (!std::isalpha(static_cast<unsigned char>(c))) {
            stream_.putback(c);
            break;
        }
        letters += c;
    }
    forgiveEnd(stream_);
    return !letters.empty() && input_success(stream_);
}

bool AVNDecoder::do_visit(Null&)
{
    std::string letters;
    return readLetters(letters) && letters == "NULL";
}

bool AVNDecoder::do_visit(BOOLEAN& value)
{
    std::string letters;
    if (!readLetters(letters))
        return false;
    if (letters == "TRUE")
        value = true;
    else if (letters == "FALSE")
        value = false;
    else
        return false;
    return true;
}

bool AVNDecoder::do_visit(INTEGER& value)
{
    // The number is stored as the extraction leaves it, also when the extraction fails
    // (0 for no digits, the extreme for one out of range). The unsigned extraction takes
    // a leading "-" and wraps the number, as the unsigned view of the word does.
    if (value.constrained() && value.getLowerLimit() >= 0) {
        unsigned v = 0;
        stream_ >> v;
        value.setValue(static_cast<int>(v));
    } else {
        int v = 0;
        stream_ >> v;
        value.setValue(v);
    }
    return input_success(stream_);
}

bool AVNDecoder::do_visit(IntegerWithNamedNumber& value)
{
    char c = 0;
    if (!(stream_ >> c))
        return false;
    stream_.putback(c);
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '-')
        return do_visit(static_cast<INTEGER&>(value));
    std::string word;
    return readWord(stream_, word) && value.setFromName(word);
}

bool AVNDecoder::do_visit(ENUMERATED& value)
{
    std::string word;
    return readWord(stream_, word) && value.setFromName(word);
}

bool AVNDecoder::do_visit(OBJECT_IDENTIFIER& value)
{
    if (!expect(stream_, '{'))
        return false;
    std::string text;
    std::getline(stream_, text, '}');
    if (!input_success(stream_) || stream_.eof())
        return false; // no closing brace
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        unsigned arc = 0;
        std::string::size_type open = word.find('(');
        if (open == std::string::npos) {
            if (!parseArc(word, arc))
                return false;
        } else {
            // name(number): the name is only a reminder for the reader.
            if (open == 0 || !std::isalpha(static_cast<unsigned char>(word[0])) || word.back() != ')' ||
                !parseArc(word.substr(open + 1, word.size() - open - 2), arc))
                return false;
        }
        value.append(arc);
    }
    return true;
}

bool AVNDecoder::do_visit(OCTET_STRING& value)
{
    std::vector<char> octets;
    unsigned bits = 0;
    if (!get_value_from(stream_, octets, bits))
        return false;
    value.assign(octets.begin(), octets.end());
    return true;
}

bool AVNDecoder::do_visit(BIT_STRING& value)
{
    std::vector<char> octets;
    unsigned bits = 0;
    if (!get_value_from(stream_, octets, bits))
        return false;
    value.resize(bits);
    std::copy(octets.begin(), octets.begin() + static_cast<std::ptrdiff_t>(value.getData().size()),
              value.getData().begin());
    value.resize(bits); // padding digits of a hexadecimal text are not bits of the string
    return true;
}

bool AVNDecoder::do_visit(AbstractString& value)
{
    std::string text;
    if (!get_string(stream_, text))
        return false;
    value.assign(text);
    return true;
}

bool AVNDecoder::do_visit(BMPString& value)
{
    std::string text;
    if (!get_string(stream_, text))
        return false;
    boost::scoped_array<wchar_t> wide(new wchar_t[text.size() + 1]);
    std::size_t n = std::mbstowcs(wide.get(), text.c_str(), text.size() + 1);
    if (n == static_cast<std::size_t>(-1) || n > text.size())
        return false;
    value.assign(wide.get(), static_cast<unsigned>(n));
    return true;
}

bool AVNDecoder::do_visit(GeneralizedTime& value)
{
    std::string text;
    if (!get_string(stream_, text))
        return false;
    // The time takes what its text form gives; fields the text does not reach keep
    // their values.
    value.set(text.c_str());
    return true;
}

bool AVNDecoder::do_visit(CHOICE& value)
{
    std::string word;
    int index = -1;
    ChoiceInfo const* ci = value.choiceInfo();
    if (!(stream_ >> word) || !expect(stream_, ':') ||
        !get_id(ci->selectionNames, ci->totalChoices, word, index) || !value.select(index))
        return false;
    AbstractData* selection = value.getSelection();
    return selection != nullptr && selection->accept(*this);
}

bool AVNDecoder::do_visit(SEQUENCE_OF_Base& value)
{
    if (!expect(stream_, '{'))
        return false;
    char c = 0;
    if (!(stream_ >> c))
        return false;
    value.clear();
    if (c == '}')
        return true;
    stream_.putback(c);
    for (;;) {
        std::unique_ptr<AbstractData> element(value.createElement());
        if (element == nullptr || !element->accept(*this) || !(stream_ >> c))
            return false;
        value.push_back(element.release());
        if (c == '}')
            return true;
        if (c != ',')
            return false;
    }
}

bool AVNDecoder::do_visit(OpenData&)
{
    return false;
}

bool AVNDecoder::do_revisit(OpenData&)
{
    return false;
}

bool AVNDecoder::do_visit(TypeConstrainedOpenData& value)
{
    return value.has_data() && value.get_data().accept(*this);
}

int AVNDecoder::preVisitExtensionRoots(SEQUENCE& value)
{
    if (!expect(stream_, '{'))
        return FAIL;
    // Presence comes from the text alone.
    SequenceInfo const* si = value.sequenceInfo();
    for (std::uint32_t k = 0; k < si->numOptional + si->knownExtensions; ++k)
        value.removeOptionalField(k);
    char c = 0;
    if (!(stream_ >> c))
        return FAIL;
    if (c == '}')
        return STOP; // nothing given: optional fields absent, mandatory ones as they were
    stream_.putback(c);
    std::string identifier;
    if (!(stream_ >> identifier))
        return FAIL;
    identifiers_.push_back(identifier);
    return CONTINUE;
}

int AVNDecoder::readField(SEQUENCE& value, int field, int optionalId)
{
    std::size_t top = identifiers_.size() - 1;
    bool optional = optionalId >= 0;
    if (identifiers_[top] != value.getFieldName(field))
        return optional ? CONTINUE : FAIL;
    unsigned slot = static_cast<unsigned>(field);
    AbstractData* f = optional ? &value.includeOptionalField(static_cast<unsigned>(optionalId), slot)
                               : value.getField(slot);
    char c = 0;
    if (f == nullptr || !f->accept(*this) || !(stream_ >> c))
        return FAIL;
    if (c == ',')
        return stream_ >> identifiers_[top] ? CONTINUE : FAIL;
    if (c != '}')
        return FAIL;
    // A text may stop early: the fields not reached are left unread.
    identifiers_.pop_back();
    return STOP;
}

int AVNDecoder::visitExtensionRoot(SEQUENCE& value, int field, int optionalId)
{
    return readField(value, field, optionalId);
}

int AVNDecoder::visitKnownExtension(SEQUENCE& value, int field, int optionalId)
{
    return readField(value, field, optionalId);
}

int AVNDecoder::visitUnknownExtensions(SEQUENCE&)
{
    // After a trailing comma only the closing brace may follow: any other word names
    // no field, or one out of declaration order.
    if (identifiers_.empty() || identifiers_.back() != "}")
        return FAIL;
    identifiers_.pop_back();
    return STOP;
}

bool AbstractData::setFromValueNotation(std::string const& text)
{
    std::istringstream stream(text);
    AVNDecoder reader(stream);
    return accept(reader);
}

std::ios_base::iostate AbstractData::get_from(std::istream& stream)
{
    AVNDecoder reader(stream);
    return accept(reader) ? std::ios_base::goodbit : std::ios_base::failbit;
}

std::istream& operator>>(std::istream& stream, AbstractData& value)
{
    if (stream.good())
        ExtractorWrapper<char, std::char_traits<char>, AbstractData>(stream, value).do_it(stream);
    return stream;
}

} // namespace ASN1
