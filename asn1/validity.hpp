// Validity checks against the constraints of a value's type, and the tracer that
// names the first offending part.
#pragma once

#include "asn1/abstract_data.hpp"
#include "asn1/visitor.hpp"

#include <iosfwd>
#include <sstream>
#include <string>

namespace ASN1
{

// isValid of every part: what an extensible type may carry beyond its root passes.
class ValidChecker : public ConstVisitor
{
public:
    bool visitExtensionRoot(SEQUENCE const& value, int field) override;
    bool visitKnownExtension(SEQUENCE const& value, int field) override;

protected:
    bool do_visit(INTEGER const& value) override;
    bool do_visit(ENUMERATED const& value) override;
    bool do_visit(OBJECT_IDENTIFIER const& value) override;
    bool do_visit(BIT_STRING const& value) override;
    bool do_visit(OCTET_STRING const& value) override;
    bool do_visit(AbstractString const& value) override;
    bool do_visit(BMPString const& value) override;
    bool do_visit(CHOICE const& value) override;
    bool do_visit(OpenData const& value) override;
    bool do_visit(GeneralizedTime const& value) override;
    bool do_visit(SEQUENCE_OF_Base const& value) override;
};

// isStrictlyValid of every part: the root constraints.
class StrictlyValidChecker : public ConstVisitor
{
public:
    bool visitExtensionRoot(SEQUENCE const& value, int field) override;
    bool visitKnownExtension(SEQUENCE const& value, int field) override;

protected:
    bool do_visit(INTEGER const& value) override;
    bool do_visit(ENUMERATED const& value) override;
    bool do_visit(OBJECT_IDENTIFIER const& value) override;
    bool do_visit(BIT_STRING const& value) override;
    bool do_visit(OCTET_STRING const& value) override;
    bool do_visit(AbstractString const& value) override;
    bool do_visit(BMPString const& value) override;
    bool do_visit(CHOICE const& value) override;
    bool do_visit(OpenData const& value) override;
    bool do_visit(GeneralizedTime const& value) override;
    bool do_visit(SEQUENCE_OF_Base const& value) override;
};

// Writes the path to the first failure (".field", "[index]", ".alternative") and one
// reason, each reason starting with a space.
class InvalidTracer : public ConstVisitor
{
public:
    InvalidTracer() : strm_(std::ios_base::in | std::ios_base::out) {}
    std::string text() const { return strm_.str(); }

    bool visitExtensionRoot(SEQUENCE const& value, int field) override;
    bool visitKnownExtension(SEQUENCE const& value, int field) override;

protected:
    bool do_visit(INTEGER const& value) override;
    bool do_visit(ENUMERATED const& value) override;
    bool do_visit(OBJECT_IDENTIFIER const& value) override;
    bool do_visit(BIT_STRING const& value) override;
    bool do_visit(OCTET_STRING const& value) override;
    bool do_visit(AbstractString const& value) override;
    bool do_visit(BMPString const& value) override;
    bool do_visit(CHOICE const& value) override;
    bool do_visit(OpenData const& value) override;
    bool do_visit(GeneralizedTime const& value) override;
    bool do_visit(SEQUENCE_OF_Base const& value) override;

private:
    // Checks part with a fresh tracer; on failure writes path and its text.
    template <class Path> bool traceChild(AbstractData const& part, Path const& path);
    bool traceSize(char const* what, unsigned size, ConstrainedObject const& value);

    std::stringstream strm_;
};

std::ostream& operator<<(std::ostream& stream, InvalidTracer const& tracer);

// True when value passes; otherwise writes prefix, the tracer's text and a line end.
bool trace_invalid(std::ostream& stream, char const* prefix, AbstractData const& value);

} // namespace ASN1
