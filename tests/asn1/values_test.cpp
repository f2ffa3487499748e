// Value classes: creation from descriptors, deep copy, three-way order, names, maps.
#include "tests/asn1/helpers.hpp"
#include "tests/asn1/test_module.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <typeinfo>

namespace
{

using Value = std::unique_ptr<ASN1::AbstractData>;

TEST(Values, CountBits)
{
    struct Row {
        unsigned n;
        unsigned bits;
    } const table[] = {{0, 32},
                       {1, 0},
                       {2, 1},
                       {3, 2},
                       {4, 2},
                       {5, 3},
                       {128, 7},
                       {129, 8},
                       {256, 8},
                       {257, 9},
                       {65536, 16},
                       {65537, 17},
                       {0x80000000u, 31},
                       {0x80000001u, 32},
                       {0xFFFFFFFFu, 32}};
    for (Row const& row : table)
        EXPECT_EQ(ASN1::CountBits(row.n), row.bits) << row.n;
}

TEST(Values, LexicographicCompareBytes)
{
    struct Row {
        std::string a, b;
        int result;
    } const table[] = {{"ab", "abc", -1},   {"abc", "ab", 1},       {"b", "a", 1},      {"", "", 0},
                       {"\x80", "\x7f", 1}, {"\x01", "\xff", -254}, {"same", "same", 0}};
    for (Row const& row : table) {
        EXPECT_EQ(ASN1::lexicographic_compare_bytes(row.a.data(), row.a.data() + row.a.size(), row.b.data(),
                                                    row.b.data() + row.b.size()),
                  row.result)
            << row.a << " / " << row.b;
    }
}

TEST(Values, CreateBuildsTheDescriptorsOwnClass)
{
    EXPECT_EQ(ASN1::AbstractData::create(nullptr), nullptr);
    Value integer(ASN1::AbstractData::create(&ASN1::INTEGER::theInfo));
    EXPECT_EQ(static_cast<ASN1::INTEGER&>(*integer).getValue(), 0);
    EXPECT_EQ(integer->getTag(), 2u);

    // Typed access may rely on the dynamic type: every factory builds its own class.
    struct Row {
        ASN1::TypeInfo const* info;
        std::type_info const& type;
    } const table[] = {
        {&ASN1::IA5String::theInfo, typeid(ASN1::IA5String)},
        {&TM::DnameInfo, typeid(ASN1::IA5String)},
        {&ASN1::NumericString::theInfo, typeid(ASN1::NumericString)},
        {&TM::Int0_1023::theInfo, typeid(TM::Int0_1023)},
        {&TM::Message::theInfo, typeid(TM::Message)},
        {&TM::PDU::theInfo, typeid(TM::PDU)},
        {&TM::ErrorCause::theInfo, typeid(TM::ErrorCause)},
        {&ASN1::SEQUENCE_OF<TM::MixerInput>::theInfo, typeid(ASN1::SEQUENCE_OF<TM::MixerInput>)},
        {&ASN1::SET_OF<TM::Int0_127>::theInfo, typeid(ASN1::SET_OF<TM::Int0_127>)},
        {&TM::NamedIntInfo, typeid(ASN1::IntegerWithNamedNumber)},
        {&TM::TypedOpenInfo, typeid(ASN1::TypeConstrainedOpenData)},
    };
    for (auto const& row : table) {
        Value v(ASN1::AbstractData::create(row.info));
        EXPECT_EQ(typeid(*v), row.type) << row.type.name();
        Value copy(v->clone());
        EXPECT_EQ(typeid(*copy), row.type) << row.type.name();
        EXPECT_EQ(copy->info(), row.info);
    }

    // Fields and alternatives built by the runtime are of their declared classes too.
    TM::Message m;
    TM::MixerOutParams& params = m.set_pdu().select_command().select_create().select_mixerOut();
    params.set_inputs().resize(2);
    EXPECT_EQ(typeid(m.get_pdu()), typeid(TM::PDU));
    EXPECT_EQ(typeid(*params.get_inputs().SEQUENCE_OF_Base::begin()[1]), typeid(TM::MixerInput));
    std::unique_ptr<TM::Message> clone(m.clone());
    EXPECT_EQ(typeid(clone->get_pdu().get_command()), typeid(TM::Command));
}

struct CompareRow {
    char const* name;
    std::function<Value()> a;
    std::function<Value()> b;
    int sign;
};

Value integer(int v)
{
    return Value(new ASN1::INTEGER(v, &ASN1::INTEGER::theInfo));
}

Value bitString(std::string const& octets, unsigned n)
{
    ASN1::BIT_STRING* b = new ASN1::BIT_STRING;
    b->resize(n);
    for (std::size_t i = 0; i < octets.size(); ++i)
        b->getData()[i] = octets[i];
    return Value(b);
}

Value message(std::function<void(TM::Message&)> build)
{
    TM::Message* m = new TM::Message;
    build(*m);
    return Value(m);
}

Value termParams(std::function<void(TM::TermParams&)> build)
{
    TM::TermParams* t = new TM::TermParams;
    build(*t);
    return Value(t);
}

Value open(ASN1::AbstractData* data, char const* buffer)
{
    ASN1::OpenData* o = new ASN1::OpenData(data, &ASN1::OpenData::theInfo);
    if (buffer != nullptr)
        o->grab(new std::vector<char>(buffer, buffer + std::char_traits<char>::length(buffer)));
    return Value(o);
}

int sign(int v)
{
    return v < 0 ? -1 : v > 0 ? 1 : 0;
}

TEST(Values, ThreeWayOrder)
{
    CompareRow const table[] = {
        {"INTEGER 5 < 7", [] { return integer(5); }, [] { return integer(7); }, -1},
        {"INTEGER equal", [] { return integer(-3); }, [] { return integer(-3); }, 0},
        {"BOOLEAN false < true", [] { return Value(new ASN1::BOOLEAN(false)); },
         [] { return Value(new ASN1::BOOLEAN(true)); }, -1},
        {"NULL == NULL", [] { return Value(new ASN1::Null); }, [] { return Value(new ASN1::Null); }, 0},
        {"BIT STRING 1 bit < 9 bits", [] { return bitString("\x80", 1); },
         [] { return bitString(std::string("\x80\x00", 2), 9); }, -1},
        {"BIT STRING 0x80 > 0x7f", [] { return bitString("\x80", 8); }, [] { return bitString("\x7f", 8); },
         1},
        {"OCTET STRING ab < abc",
         [] {
             return Value(new ASN1::OCTET_STRING(std::vector<char>{'a', 'b'}, &ASN1::OCTET_STRING::theInfo));
         },
         [] {
             return Value(
                 new ASN1::OCTET_STRING(std::vector<char>{'a', 'b', 'c'}, &ASN1::OCTET_STRING::theInfo));
         },
         -1},
        {"OCTET STRING 0x80 > 0x7f",
         [] { return Value(new ASN1::OCTET_STRING(1, '\x80', &ASN1::OCTET_STRING::theInfo)); },
         [] { return Value(new ASN1::OCTET_STRING(1, '\x7f', &ASN1::OCTET_STRING::theInfo)); }, 1},
        {"IA5String", [] { return Value(new ASN1::IA5String("abc")); },
         [] { return Value(new ASN1::IA5String("abd")); }, -1},
        {"OID shorter first",
         [] {
             ASN1::OBJECT_IDENTIFIER* o = new ASN1::OBJECT_IDENTIFIER;
             o->append(1);
             return Value(o);
         },
         [] {
             ASN1::OBJECT_IDENTIFIER* o = new ASN1::OBJECT_IDENTIFIER;
             o->append(1);
             o->append(0);
             return Value(o);
         },
         -1},
        {"GeneralizedTime by second", [] { return Value(new ASN1::GeneralizedTime("20070305143000Z")); },
         [] { return Value(new ASN1::GeneralizedTime("20070305143001")); }, -1},
        {"GeneralizedTime utc last", [] { return Value(new ASN1::GeneralizedTime("20070305143000")); },
         [] { return Value(new ASN1::GeneralizedTime("20070305143000Z")); }, -1},
        {"CHOICE -1 < 0", [] { return Value(new TM::PDU); },
         [] {
             TM::PDU* p = new TM::PDU;
             p->select_command();
             return Value(p);
         },
         -1},
        {"CHOICE same index compares the alternatives",
         [] { return message([](TM::Message& m) { m.set_pdu().select_command().select_connect(3); }); },
         [] { return message([](TM::Message& m) { m.set_pdu().select_command().select_connect(2); }); }, 1},
        {"SEQUENCE absent optional field first",
         [] { return message([](TM::Message& m) { m.set_pdu().select_command().select_ping(); }); },
         [] {
             return message([](TM::Message& m) {
                 m.set_slot(0);
                 m.set_pdu().select_command().select_ping();
             });
         },
         -1},
        {"SEQUENCE removed field counts as absent",
         [] {
             return message([](TM::Message& m) {
                 m.set_slot(9);
                 m.omit_slot();
                 m.set_pdu().select_command().select_ping();
             });
         },
         [] { return message([](TM::Message& m) { m.set_pdu().select_command().select_ping(); }); }, 0},
        {"SEQUENCE early addition decides",
         [] {
             return termParams([](TM::TermParams& t) {
                 t.set_traceLevel(1);
                 t.set_flag();
             });
         },
         [] {
             return termParams([](TM::TermParams& t) {
                 t.set_traceLevel(2);
                 t.set_flag();
             });
         },
         -1},
        {"SEQUENCE addition absent first", [] { return termParams([](TM::TermParams&) {}); },
         [] { return termParams([](TM::TermParams& t) { t.set_name(""); }); }, -1},
        {"SEQUENCE OF by size",
         [] {
             ASN1::SEQUENCE_OF<ASN1::INTEGER>* l = new ASN1::SEQUENCE_OF<ASN1::INTEGER>;
             l->resize(2);
             return Value(l);
         },
         [] {
             ASN1::SEQUENCE_OF<ASN1::INTEGER>* l = new ASN1::SEQUENCE_OF<ASN1::INTEGER>;
             l->resize(1);
             return Value(l);
         },
         1},
        {"open type buffer only < value", [] { return open(nullptr, "x"); },
         [] { return open(new ASN1::Null, nullptr); }, -1},
        {"open types empty", [] { return open(nullptr, nullptr); }, [] { return open(nullptr, nullptr); }, 0},
        {"open type buffers", [] { return open(nullptr, "ab"); }, [] { return open(nullptr, "abc"); }, -1},
    };
    for (CompareRow const& row : table) {
        SCOPED_TRACE(row.name);
        Value a = row.a();
        Value b = row.b();
        EXPECT_EQ(sign(a->compare(*b)), row.sign);
        EXPECT_EQ(sign(b->compare(*a)), -row.sign);
        EXPECT_EQ(*a == *b, row.sign == 0);
        EXPECT_EQ(*a != *b, row.sign != 0);
        // A clone is equal, independent and of the same descriptor.
        Value copy(a->clone());
        EXPECT_TRUE(*copy == *a);
        EXPECT_EQ(copy->info(), a->info());
    }
}

TEST(Values, ClonesAreDeepAndAssignmentKeepsTheDescriptor)
{
    TM::Message m;
    m.set_slot(5);
    m.set_pdu().select_command().select_connect(3);
    std::unique_ptr<TM::Message> copy(m.clone());
    copy->set_slot(6);
    copy->set_pdu().select_response().select_success();
    EXPECT_EQ(m.get_slot().getValue(), 5u);
    EXPECT_TRUE(m.get_pdu().command_isSelected());

    TM::Int0_1023 bounded(7);
    ASN1::INTEGER plain(9, &ASN1::INTEGER::theInfo);
    static_cast<ASN1::INTEGER&>(bounded) = plain;
    EXPECT_EQ(bounded.getValue(), 9u);
    EXPECT_EQ(bounded.info(), &TM::Int0_1023::theInfo);
}

TEST(Values, EnumerationNames)
{
    struct Row {
        ASN1::EnumInfo const* info;
        int value;
        char const* name; // "" when the value has none
    } const table[] = {
        {&TM::ErrorCause::theInfo, 12, "destroyInProgress"},
        {&TM::ErrorCause::theInfo, 0, "invalidParams"},
        {&TM::ErrorCause::theInfo, 13, ""},
        {&TM::ErrorCause::theInfo, -1, ""},
        {&TM::StandbyCommand::theInfo, 0, "none"},
        {&TM::StandbyCommand::theInfo, 8, "standby"}, // "sleep=8" comes later and loses
        {&TM::StandbyCommand::theInfo, 16, "active"},
        {&TM::StandbyCommand::theInfo, 4, ""},
        {&TM::StandbyCommand::theInfo, 9, ""},
        {&TM::Payload::theInfo, 1, "ptG711-Ulaw"},
        {&TM::Payload::theInfo, 19, "ptG729a"}, // unnumbered: the previous value plus one
        {&TM::Payload::theInfo, 123, "ptR2S"},
        {&TM::Payload::theInfo, 2, ""},
        {&TM::Payload::theInfo, 124, ""},
    };
    for (auto const& row : table) {
        Value v(ASN1::AbstractData::create(row.info));
        ASN1::ENUMERATED& e = static_cast<ASN1::ENUMERATED&>(*v);
        e.setFromInt(row.value);
        EXPECT_EQ(e.getName(), row.name) << row.value;
    }

    struct NameRow {
        ASN1::EnumInfo const* info;
        char const* name;
        bool found;
        int value;
    } const byName[] = {
        {&TM::StandbyCommand::theInfo, "sleep", true, 8},
        {&TM::StandbyCommand::theInfo, "active", true, 16},
        {&TM::StandbyCommand::theInfo, "Active", false, 17},
        {&TM::Payload::theInfo, "ptDyn", true, 96},
        {&TM::Payload::theInfo, "ptDyn=96", false, 124},
        {&TM::ErrorCause::theInfo, "internal", true, 5},
        {&TM::ErrorCause::theInfo, "", false, 13},
    };
    for (auto const& row : byName) {
        Value v(ASN1::AbstractData::create(row.info));
        ASN1::ENUMERATED& e = static_cast<ASN1::ENUMERATED&>(*v);
        EXPECT_EQ(e.setFromName(row.name), row.found) << row.name;
        EXPECT_EQ(e.asInt(), row.value) << row.name;
    }
}

TEST(Values, NamedNumbers)
{
    ASN1::IntegerWithNamedNumber n(2, &TM::NamedIntInfo);
    std::string name = "unchanged";
    EXPECT_TRUE(n.getName(name));
    EXPECT_EQ(name, "two");
    n.setValue(3);
    EXPECT_FALSE(n.getName(name));
    EXPECT_EQ(name, "two");
    EXPECT_TRUE(n.setFromName("ten"));
    EXPECT_EQ(n.getValue(), 10);
    EXPECT_FALSE(n.setFromName("eleven"));
    EXPECT_EQ(n.getValue(), 10);
}

TEST(Values, ObjectIdentifierContents)
{
    struct Row {
        std::vector<unsigned> arcs;
        char const* octets;
    } const table[] = {
        {{1, 2, 840, 113549}, "2A 86 48 86 F7 0D"}, {{2, 100}, "81 34"}, {{0, 39}, "27"}, {{1, 0}, "28"},
        {{2, 0xFFFFFFFFu}, "90 80 80 80 4F"},
    };
    for (auto const& row : table) {
        ASN1::OBJECT_IDENTIFIER o;
        for (unsigned a : row.arcs)
            o.append(a);
        std::vector<char> out;
        o.encodeCommon(out);
        EXPECT_EQ(asn1test::hex(out), row.octets);
        ASN1::OBJECT_IDENTIFIER back;
        ASSERT_TRUE(back.decodeCommon(out.data(), static_cast<unsigned>(out.size())));
        EXPECT_TRUE(back == o);
    }
    ASN1::OBJECT_IDENTIFIER one;
    one.append(1);
    std::vector<char> none{'x'};
    one.encodeCommon(none);
    EXPECT_TRUE(none.empty());
    std::vector<char> cut = asn1test::bytes("2A 86");
    EXPECT_FALSE(one.decodeCommon(cut.data(), 2));
    std::vector<char> huge = asn1test::bytes("8F FF FF FF FF 7F");
    EXPECT_FALSE(one.decodeCommon(huge.data(), 6));
    EXPECT_TRUE(one.decodeCommon(nullptr, 0));
    EXPECT_EQ(one.levels(), 0u);
}

TEST(Values, BitStringLayout)
{
    ASN1::BIT_STRING b;
    b.resize(10);
    EXPECT_EQ(b.getData().size(), 2u);
    b.getData()[0] = '\x80';
    b.getData()[1] = '\x40';
    EXPECT_TRUE(b[0]);
    EXPECT_TRUE(b[9]);
    EXPECT_FALSE(b[1]);
    EXPECT_FALSE(b[10]);
    b.resize(9); // bit 9 is cut off and cleared
    EXPECT_EQ(b.getData()[1], 0);
}

TEST(Values, GeneralizedTimeText)
{
    struct Row {
        char const* text;
        int millisec, mindiff;
        bool utc;
        char const* back;
    } const table[] = {
        {"20070305143000.250+0130", 250, 90, false, "20070305143000.250+0130"},
        {"20070305143000Z", 0, 0, true, "20070305143000Z"},
        {"20070305143000.5-0030", 500, -30, false, "20070305143000.500-0030"},
        {"20070305143000.1239Z", 123, 0, true, "20070305143000.123Z"},
        {"20070305143000", 0, 0, false, "20070305143000"},
    };
    for (auto const& row : table) {
        ASN1::GeneralizedTime t(row.text);
        EXPECT_EQ(t.year, 2007);
        EXPECT_EQ(t.minute, 30);
        EXPECT_EQ(t.millisec, row.millisec) << row.text;
        EXPECT_EQ(t.mindiff, row.mindiff) << row.text;
        EXPECT_EQ(t.utc, row.utc) << row.text;
        EXPECT_EQ(t.get(), row.back);
    }
    EXPECT_EQ(ASN1::GeneralizedTime().get(), "00010101000000");
    ASN1::GeneralizedTime epoch;
    epoch.set_time_t(86400 + 3661);
    EXPECT_EQ(epoch.get(), "19700102010101");
}

TEST(Values, SequenceFields)
{
    TM::Message m;
    EXPECT_EQ(m.getField(0), nullptr);
    EXPECT_EQ(m.getField(1), nullptr);
    ASSERT_NE(m.getField(2), nullptr);
    EXPECT_EQ(m.get_pdu().currentSelection(), -1);
    EXPECT_FALSE(m.slot_isPresent());

    m.set_slot(5);
    EXPECT_TRUE(m.slot_isPresent());
    ASN1::AbstractData const* kept = m.getField(1);
    m.omit_slot();
    EXPECT_FALSE(m.slot_isPresent());
    EXPECT_EQ(m.getField(1), kept);
    m.includeOptionalField(1, 1);
    EXPECT_EQ(m.get_slot().getValue(), 5u); // the old value comes back
    m.set_slot(2000);                       // no bound is checked when storing
    EXPECT_EQ(m.get_slot().getValue(), 2000u);

    EXPECT_EQ(m.getFieldTag(2), 0x800002u);
    EXPECT_EQ(m.tagMode(), 0);
    EXPECT_STREQ(m.getFieldName(1), "slot");

    // An addition beyond the extension map grows it and marks only that addition.
    TM::TermParams t;
    EXPECT_EQ(t.getExtensionMap().size(), 0u);
    t.set_flag(); // addition 2, optional number 3
    EXPECT_EQ(t.getExtensionMap().size(), 3u);
    EXPECT_FALSE(t.hasOptionalField(1));
    EXPECT_FALSE(t.hasOptionalField(2));
    EXPECT_TRUE(t.hasOptionalField(3));
    EXPECT_FALSE(t.hasOptionalField(40));
    t.removeOptionalField(40); // beyond every map: nothing happens
}

TEST(Values, ChoiceSelection)
{
    TM::Response r;
    EXPECT_TRUE(r.select(-1)); // already -1
    EXPECT_TRUE(r.select(0));
    ASN1::AbstractData const* value = r.getSelection();
    EXPECT_TRUE(r.select(0));
    EXPECT_EQ(r.getSelection(), value); // the same index keeps the value
    EXPECT_STREQ(r.getSelectionName(), "success");
    EXPECT_EQ(r.getSelectionTag(), 0x800000u);

    r.select_error(TM::ErrorCause::slotIdBusy);
    EXPECT_EQ(r.currentSelection(), 1);
    EXPECT_EQ(static_cast<TM::ErrorCause::NamedNumber>(r.get_error()), TM::ErrorCause::slotIdBusy);

    EXPECT_FALSE(r.select(2));
    EXPECT_TRUE(r.isUnknownSelection());
    EXPECT_EQ(r.getSelection(), nullptr);
    EXPECT_EQ(r.getSelectionName(), nullptr);

    TM::TonecEvent ev;
    ev.set_timestamp(5);
    ev.set_event().select_dtmf(3);
    TM::Signal s(TM::Signal::tonec::value, ev);
    EXPECT_EQ(s.currentSelection(), 1);
    EXPECT_TRUE(*s.getSelection() == ev);
    EXPECT_NE(s.getSelection(), static_cast<ASN1::AbstractData const*>(&ev));
}

TEST(Values, SequenceOfOwnership)
{
    ASN1::SEQUENCE_OF<ASN1::INTEGER> source;
    for (int i = 1; i <= 3; ++i)
        source.push_back(ASN1::INTEGER(i, &ASN1::INTEGER::theInfo));
    ASN1::SEQUENCE_OF<ASN1::INTEGER> target;
    target.resize(5);
    target = source;
    ASSERT_EQ(target.size(), 3u);
    target[0] = 10;
    EXPECT_EQ(source[0].getValue(), 1);
    EXPECT_EQ(target[2].getValue(), 3);

    ASN1::SEQUENCE_OF<ASN1::INTEGER> grown;
    grown.resize(2);
    ASSERT_EQ(grown.size(), 2u);
    EXPECT_EQ(grown[1].getValue(), 0);
    grown.resize(0);
    EXPECT_TRUE(grown.empty());

    int sum = 0;
    for (ASN1::INTEGER const& i : source)
        sum += i.getValue();
    EXPECT_EQ(sum, 6);
    auto after = source.erase(source.begin());
    EXPECT_EQ(after->getValue(), 2);
    EXPECT_EQ(source.size(), 2u);
    source.insert(source.SEQUENCE_OF_Base::begin(), 2, ASN1::INTEGER(7, &ASN1::INTEGER::theInfo));
    EXPECT_EQ(source.size(), 4u);
    EXPECT_EQ(source[1].getValue(), 7);
    EXPECT_EQ(source[2].getValue(), 2);
}

// Records which hooks a walk calls.
class Recorder : public ASN1::ConstVisitor
{
public:
    std::vector<int> roots;
    std::vector<int> additions;
    int preExtensions = 0;
    bool visitExtensionRoot(ASN1::SEQUENCE const&, int field) override
    {
        roots.push_back(field);
        return true;
    }
    bool preVisitExtensions(ASN1::SEQUENCE const&) override
    {
        ++preExtensions;
        return true;
    }
    bool visitKnownExtension(ASN1::SEQUENCE const&, int field) override
    {
        additions.push_back(field);
        return true;
    }
    int integers = 0;

protected:
    bool do_visit(ASN1::INTEGER const&) override
    {
        ++integers;
        return true;
    }
};

class MutableRecorder : public ASN1::Visitor
{
public:
    std::vector<int> roots;
    int integers = 0;
    int visitExtensionRoot(ASN1::SEQUENCE&, int field, int) override
    {
        roots.push_back(field);
        return CONTINUE;
    }

protected:
    bool do_visit(ASN1::Null&) override { return true; }
    bool do_visit(ASN1::BOOLEAN&) override { return true; }
    bool do_visit(ASN1::INTEGER&) override
    {
        ++integers;
        return true;
    }
    bool do_visit(ASN1::ENUMERATED&) override { return true; }
    bool do_visit(ASN1::OBJECT_IDENTIFIER&) override { return true; }
    bool do_visit(ASN1::OCTET_STRING&) override { return true; }
    bool do_visit(ASN1::BIT_STRING&) override { return true; }
    bool do_visit(ASN1::AbstractString&) override { return true; }
    bool do_visit(ASN1::BMPString&) override { return true; }
    bool do_visit(ASN1::CHOICE&) override { return true; }
    bool do_visit(ASN1::SEQUENCE_OF_Base&) override { return true; }
    bool do_visit(ASN1::OpenData&) override { return true; }
    bool do_revisit(ASN1::OpenData&) override { return true; }
    bool do_visit(ASN1::TypeConstrainedOpenData&) override { return true; }
    bool do_visit(ASN1::GeneralizedTime&) override { return true; }
};

TEST(Values, Walks)
{
    TM::Message m;
    Recorder constant;
    EXPECT_TRUE(m.accept(constant));
    EXPECT_EQ(constant.roots, std::vector<int>{2}); // absent optional fields are not visited
    MutableRecorder mutating;
    EXPECT_TRUE(m.accept(mutating));
    EXPECT_EQ(mutating.roots, (std::vector<int>{0, 1, 2}));

    // A map with bits but none set: preVisitExtensions, no addition.
    TM::TermParams t;
    t.set_name("x");
    t.removeOptionalField(2);
    Recorder walk;
    EXPECT_TRUE(t.accept(walk));
    EXPECT_EQ(walk.preExtensions, 1);
    EXPECT_TRUE(walk.additions.empty());
    t.set_traceLevel(1);
    Recorder again;
    EXPECT_TRUE(t.accept(again));
    EXPECT_EQ(again.additions, std::vector<int>{2});

    // Named numbers reach the INTEGER operation of visitors that do not override theirs.
    ASN1::IntegerWithNamedNumber n(2, &TM::NamedIntInfo);
    Recorder forConst;
    EXPECT_TRUE(n.accept(forConst));
    EXPECT_EQ(forConst.integers, 1);
    MutableRecorder forMutable;
    EXPECT_TRUE(n.accept(forMutable));
    EXPECT_EQ(forMutable.integers, 1);
}

} // namespace
