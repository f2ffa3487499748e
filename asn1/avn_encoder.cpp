#include "asn1/avn_encoder.hpp"
#include "asn1/io_wrapper.hpp"

#include "asn1/constructed.hpp"
#include "asn1/primitives.hpp"
#include "asn1/strings.hpp"

#include <boost/scoped_array.hpp>

#include <cstdlib>
#include <iomanip>
#include <new>
#include <sstream>
#include <string>

namespace ASN1
{

void AVNEncoder::indent(int spaces)
{
    if (spaces > 0)
        stream_ << std::setw(spaces) << "";
}

bool AVNEncoder::do_visit(Null const&)
{
    stream_ << "NULL";
    return stream_.good();
}

bool AVNEncoder::do_visit(BOOLEAN const& value)
{
    stream_ << (value ? "TRUE" : "FALSE");
    return stream_.good();
}

bool AVNEncoder::do_visit(INTEGER const& value)
{
    if (value.constrained() && value.getLowerLimit() >= 0) {
        stream_ << static_cast<unsigned>(value.getValue());
    } else {
        stream_ << value.getValue();
    }
    return stream_.good();
}

bool AVNEncoder::do_visit(IntegerWithNamedNumber const& value)
{
    std::string name;
    if (!value.getName(name))
        return do_visit(static_cast<INTEGER const&>(value));
    stream_ << name;
    return stream_.good();
}

bool AVNEncoder::do_visit(ENUMERATED const& value)
{
    std::string name = value.getName();
    if (name.empty()) {
        stream_ << value.asInt();
    } else {
        stream_ << name;
    }
    return stream_.good();
}

bool AVNEncoder::do_visit(OBJECT_IDENTIFIER const& value)
{
    stream_ << "{ ";
    for (unsigned i = 0; i < value.levels() && stream_.good(); ++i)
        stream_ << value[i] << ' ';
    stream_ << "}";
    return stream_.good();
}

bool AVNEncoder::do_visit(BIT_STRING const& value)
{
    stream_ << '\'';
    for (unsigned i = 0; i < value.size() && stream_.good(); ++i)
        stream_ << (value[i] ? '1' : '0');
    stream_ << "'B";
    return stream_.good();
}

bool AVNEncoder::do_visit(OCTET_STRING const& value)
{
    // The digits are written as characters, so the stream's base, case and prefix flags
    // (a caller may leave uppercase or showbase on) never reach them.
    static char const digits[] = "0123456789abcdef";
    std::ios_base::fmtflags flags = stream_.flags();
    stream_ << '\'';
    for (std::size_t i = 0; i < value.size() && stream_.good(); ++i) {
        unsigned octet = static_cast<unsigned char>(value[i]);
        char const pair[] = {' ', digits[octet >> 4], digits[octet & 0x0F]};
        stream_.write(i != 0 ? pair : pair + 1, i != 0 ? 3 : 2);
    }
    stream_.flags(flags);
    stream_.fill(' ');
    stream_ << "'H";
    return stream_.good();
}

bool AVNEncoder::do_visit(AbstractString const& value)
{
    stream_ << '"' << static_cast<std::string const&>(value) << '"';
    return stream_.good();
}

bool AVNEncoder::do_visit(BMPString const& value)
{
    std::size_t capacity = value.size() * 2 + 1;
    boost::scoped_array<char> text(new char[capacity]);
    std::size_t length = std::wcstombs(text.get(), value.c_str(), capacity);
    // The returned length bounds the text: a full buffer carries no terminator.
    if (length != static_cast<std::size_t>(-1) && length < capacity) {
        stream_ << '"';
        stream_.write(text.get(), static_cast<std::streamsize>(length));
        stream_ << '"';
        return stream_.good();
    }
    stream_ << '{';
    for (std::size_t i = 0; i < value.size() && stream_.good(); ++i) {
        const unsigned code = static_cast<unsigned>(std::char_traits<wchar_t>::to_int_type(value[i]));
        if (i != 0)
            stream_ << ", ";
        stream_ << "{ 0, 0, " << ((code >> 8) & 0xFF) << ", " << (code & 0xFF) << '}';
    }
    stream_ << '}';
    return stream_.good();
}

bool AVNEncoder::do_visit(GeneralizedTime const& value)
{
    stream_ << '"' << value.get() << '"';
    return stream_.good();
}

bool AVNEncoder::do_visit(CHOICE const& value)
{
    AbstractData const* selection = value.getSelection();
    char const* name = value.getSelectionName();
    if (value.currentSelection() < 0 || selection == nullptr || name == nullptr)
        return false;
    stream_ << name << " : ";
    return stream_.good() && selection->accept(*this);
}

bool AVNEncoder::do_visit(OpenData const& value)
{
    if (value.has_data())
        return value.get_data().accept(*this);
    if (value.has_buf()) {
        OCTET_STRING octets(value.get_buf(), &OCTET_STRING::theInfo);
        return do_visit(octets);
    }
    return false;
}

bool AVNEncoder::do_visit(SEQUENCE_OF_Base const& value)
{
    int level = indent_;
    stream_ << "{\n";
    indent_ = level + 2;
    for (SEQUENCE_OF_Base::const_iterator it = value.begin(); it != value.end(); ++it) {
        if (!stream_.good())
            return false;
        indent(indent_);
        if (!(*it)->accept(*this))
            return false;
        if (it + 1 != value.end())
            stream_ << ",\n";
    }
    indent_ = level;
    if (!value.empty())
        stream_ << '\n';
    indent(indent_);
    stream_ << '}';
    return stream_.good();
}

bool AVNEncoder::preVisitExtensionRoots(SEQUENCE const&)
{
    printed_.push_back(false);
    stream_ << "{\n";
    return stream_.good();
}

bool AVNEncoder::printField(SEQUENCE const& value, int field)
{
    AbstractData const* f = value.getField(static_cast<unsigned>(field));
    if (f == nullptr)
        return false;
    if (printed_.back())
        stream_ << ",\n";
    int level = indent_;
    indent(level + 2);
    stream_ << value.getFieldName(field) << ' ';
    indent_ = level + 2;
    if (!stream_.good() || !f->accept(*this))
        return false;
    indent_ = level;
    printed_.back() = true;
    return stream_.good();
}

bool AVNEncoder::visitExtensionRoot(SEQUENCE const& value, int field)
{
    return printField(value, field);
}
bool AVNEncoder::visitKnownExtension(SEQUENCE const& value, int field)
{
    return printField(value, field);
}

bool AVNEncoder::afterVisitSequence(SEQUENCE const&)
{
    if (printed_.back())
        stream_ << '\n';
    printed_.pop_back();
    indent(indent_);
    stream_ << '}';
    return stream_.good();
}

std::ios_base::iostate AbstractData::print_on(std::ostream& stream) const
{
    AVNEncoder printer(stream);
    return accept(printer) ? std::ios_base::goodbit : std::ios_base::failbit;
}

std::string AbstractData::asValueNotation() const
{
    std::ostringstream text;
    AVNEncoder printer(text);
    accept(printer);
    return text.str();
}

std::ostream& operator<<(std::ostream& stream, AbstractData const& value)
{
    if (stream.good())
        g_inserter(stream, value);
    return stream;
}

std::string logText(AbstractData const& value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}

} // namespace ASN1
