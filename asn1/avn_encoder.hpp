// Value-notation printer: indented ASN.1 value notation for logs and status-file names.
#pragma once

#include "asn1/visitor.hpp"

#include <ostream>
#include <string>
#include <vector>

namespace ASN1
{

class AVNEncoder : public ConstVisitor
{
public:
    explicit AVNEncoder(std::ostream& stream) : stream_(stream) {}

    bool preVisitExtensionRoots(SEQUENCE const& value) override;
    bool visitExtensionRoot(SEQUENCE const& value, int field) override;
    bool visitKnownExtension(SEQUENCE const& value, int field) override;
    bool afterVisitSequence(SEQUENCE const& value) override;

protected:
    bool do_visit(Null const& value) override;
    bool do_visit(BOOLEAN const& value) override;
    bool do_visit(INTEGER const& value) override;
    bool do_visit(IntegerWithNamedNumber const& value) override;
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
    bool printField(SEQUENCE const& value, int field);
    void indent(int spaces);

    std::ostream& stream_;
    int indent_ = 0;
    std::vector<bool> printed_; // per open SEQUENCE: a field has been printed
};

// Leaves a stream that is not good untouched; a value that cannot be printed sets failbit.
std::ostream& operator<<(std::ostream& stream, AbstractData const& value);

// A value for a log line: its text as far as it can be printed. A received value may
// hold what cannot be printed (an alternative of a later version); printed straight
// into a long-lived log stream, it would leave that stream failed and every later
// line would be lost.
std::string logText(AbstractData const& value);

} // namespace ASN1
