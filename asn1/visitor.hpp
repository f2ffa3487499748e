// The two visitor interfaces every coder, printer and checker implements, and the
// walks over a SEQUENCE that decide which fields a visitor sees.
#pragma once

namespace ASN1
{

class AbstractData;
class Null;
class BOOLEAN;
class INTEGER;
class IntegerWithNamedNumber;
class ENUMERATED;
class OBJECT_IDENTIFIER;
class BIT_STRING;
class OCTET_STRING;
class AbstractString;
class BMPString;
class GeneralizedTime;
class CHOICE;
class SEQUENCE;
class SEQUENCE_OF_Base;
class OpenData;
class TypeConstrainedOpenData;
class CoderEnv;

// Over mutable values: decoders and readers.
class Visitor
{
public:
    explicit Visitor(CoderEnv* env = nullptr) : env_(env) {}
    virtual ~Visitor() = default;
    CoderEnv* get_env() const { return env_; }

    bool visit(Null& value) { return do_visit(value); }
    bool visit(BOOLEAN& value) { return do_visit(value); }
    bool visit(INTEGER& value) { return do_visit(value); }
    bool visit(IntegerWithNamedNumber& value) { return do_visit(value); }
    bool visit(ENUMERATED& value) { return do_visit(value); }
    bool visit(OBJECT_IDENTIFIER& value) { return do_visit(value); }
    bool visit(OCTET_STRING& value) { return do_visit(value); }
    bool visit(BIT_STRING& value) { return do_visit(value); }
    bool visit(AbstractString& value) { return do_visit(value); }
    bool visit(BMPString& value) { return do_visit(value); }
    bool visit(CHOICE& value) { return do_visit(value); }
    bool visit(SEQUENCE_OF_Base& value) { return do_visit(value); }
    bool visit(OpenData& value) { return do_visit(value); }
    bool revisit(OpenData& value) { return do_revisit(value); }
    bool visit(TypeConstrainedOpenData& value) { return do_visit(value); }
    bool visit(GeneralizedTime& value) { return do_visit(value); }
    // Root fields in order (the visitor decides presence), then the known additions.
    bool visit(SEQUENCE& value);

    // Walk codes of the SEQUENCE hooks.
    enum { FAIL = 0, STOP = 1, NO_EXTENSIONS = 2, CONTINUE = 3 };

    virtual int preVisitExtensionRoots(SEQUENCE&) { return CONTINUE; }
    virtual int visitExtensionRoot(SEQUENCE&, int /*field*/, int /*optionalId*/) { return FAIL; }
    virtual int preVisitExtensions(SEQUENCE&) { return CONTINUE; }
    virtual int visitKnownExtension(SEQUENCE&, int /*field*/, int /*optionalId*/) { return FAIL; }
    virtual int visitUnknownExtensions(SEQUENCE&) { return STOP; }

protected:
    virtual bool do_visit(Null&) = 0;
    virtual bool do_visit(BOOLEAN&) = 0;
    virtual bool do_visit(INTEGER&) = 0;
    virtual bool do_visit(IntegerWithNamedNumber& value);
    virtual bool do_visit(ENUMERATED&) = 0;
    virtual bool do_visit(OBJECT_IDENTIFIER&) = 0;
    virtual bool do_visit(OCTET_STRING&) = 0;
    virtual bool do_visit(BIT_STRING&) = 0;
    virtual bool do_visit(AbstractString&) = 0;
    virtual bool do_visit(BMPString&) = 0;
    virtual bool do_visit(CHOICE&) = 0;
    virtual bool do_visit(SEQUENCE_OF_Base&) = 0;
    virtual bool do_visit(OpenData&) = 0;
    virtual bool do_revisit(OpenData&) = 0;
    virtual bool do_visit(TypeConstrainedOpenData&) = 0;
    virtual bool do_visit(GeneralizedTime&) = 0;

private:
    CoderEnv* env_;
};

// Over constant values: encoders, printers, checkers. Every operation returns true to go on.
class ConstVisitor
{
public:
    virtual ~ConstVisitor() = default;

    bool visit(Null const& value) { return do_visit(value); }
    bool visit(BOOLEAN const& value) { return do_visit(value); }
    bool visit(INTEGER const& value) { return do_visit(value); }
    bool visit(IntegerWithNamedNumber const& value) { return do_visit(value); }
    bool visit(ENUMERATED const& value) { return do_visit(value); }
    bool visit(OBJECT_IDENTIFIER const& value) { return do_visit(value); }
    bool visit(BIT_STRING const& value) { return do_visit(value); }
    bool visit(OCTET_STRING const& value) { return do_visit(value); }
    bool visit(AbstractString const& value) { return do_visit(value); }
    bool visit(BMPString const& value) { return do_visit(value); }
    bool visit(CHOICE const& value) { return do_visit(value); }
    bool visit(OpenData const& value) { return do_visit(value); }
    bool visit(GeneralizedTime const& value) { return do_visit(value); }
    bool visit(SEQUENCE_OF_Base const& value) { return do_visit(value); }
    // Present root fields in order, then the present known additions.
    bool visit(SEQUENCE const& value);

    virtual bool preVisitExtensionRoots(SEQUENCE const& value);
    virtual bool visitExtensionRoot(SEQUENCE const&, int /*field*/) { return false; }
    virtual bool preVisitExtensions(SEQUENCE const&) { return true; }
    virtual bool visitKnownExtension(SEQUENCE const&, int /*field*/) { return false; }
    virtual bool afterVisitSequence(SEQUENCE const&) { return true; }

protected:
    virtual bool do_visit(AbstractData const&) { return true; }
    virtual bool do_visit(Null const& value);
    virtual bool do_visit(BOOLEAN const& value);
    virtual bool do_visit(INTEGER const& value);
    virtual bool do_visit(IntegerWithNamedNumber const& value);
    virtual bool do_visit(ENUMERATED const& value);
    virtual bool do_visit(OBJECT_IDENTIFIER const& value);
    virtual bool do_visit(BIT_STRING const& value);
    virtual bool do_visit(OCTET_STRING const& value);
    virtual bool do_visit(AbstractString const& value);
    virtual bool do_visit(BMPString const& value);
    virtual bool do_visit(CHOICE const& value);
    virtual bool do_visit(OpenData const& value);
    virtual bool do_visit(GeneralizedTime const& value);
    virtual bool do_visit(SEQUENCE_OF_Base const& value);
};

} // namespace ASN1
