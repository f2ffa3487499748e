// Every generated type, walked through its descriptor: a default value and seeded
// pseudo-random values within the constraints encode (aligned PER and BER), decode to
// an equal value, print, and read back from their printed text. Over the runs of one type every optional
// field, every extension addition and every alternative is exercised at the top level; nested types get
// theirs when they are walked themselves.
#include "asn1/asn1.hpp"
#include "tests/asn1/helpers.hpp"
#include "tests/messages/registry.hpp"
#include "tests/messages/walker.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace
{

using ASN1::AbstractData;
using asn1test::hex;
using msgwalk::enumValues;
using msgwalk::Filler;
using msgwalk::Plan;
using msgwalk::Random;

// Why the reader cannot take back what the printer wrote, or "" when it can: a value
// without a name prints as a number where a word is read; a character string has no
// escape for its own double quote.
std::string unreadable(AbstractData const& value)
{
    std::vector<AbstractData const*> parts;
    if (auto* seq = dynamic_cast<ASN1::SEQUENCE const*>(&value)) {
        ASN1::SequenceInfo const* info = seq->sequenceInfo();
        for (std::uint32_t i = 0; i < info->numFields; ++i)
            if (info->fieldIds[i] < 0 || seq->hasOptionalField(static_cast<unsigned>(info->fieldIds[i])))
                parts.push_back(seq->getField(i));
        for (std::uint32_t j = 0; j < info->knownExtensions; ++j)
            if (seq->hasOptionalField(info->numOptional + j))
                parts.push_back(seq->getField(info->numFields + j));
    } else if (auto* list = dynamic_cast<ASN1::SEQUENCE_OF_Base const*>(&value)) {
        parts.assign(list->begin(), list->end());
    } else if (auto* choice = dynamic_cast<ASN1::CHOICE const*>(&value)) {
        return unreadable(*choice->getSelection());
    } else if (auto* e = dynamic_cast<ASN1::ENUMERATED const*>(&value)) {
        return e->getName().empty() ? "an enumeration value without a name, printed as a number" : "";
    } else if (auto* s = dynamic_cast<ASN1::AbstractString const*>(&value)) {
        return s->find('"') != std::string::npos ? "a string holding a double quote" : "";
    }
    for (AbstractData const* part : parts) {
        std::string reason = unreadable(*part);
        if (!reason.empty())
            return reason;
    }
    return "";
}

// Encode, decode into a fresh value of the same type, compare, re-encode, print; the
// same through BER with every proper prefix refused; read back what was printed.
void roundTrip(messages::RegistryEntry const& entry, AbstractData const& value, std::string const& what)
{
    SCOPED_TRACE(std::string(entry.module) + "::" + entry.name + " " + what);
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    std::vector<char> octets;
    ASSERT_TRUE(env.encodeInto(value, octets)) << value.asValueNotation();
    std::unique_ptr<AbstractData> decoded(AbstractData::create(entry.info));
    ASSERT_TRUE(env.decode(octets.data(), octets.data() + octets.size(), *decoded, true)) << hex(octets);
    EXPECT_EQ(0, value.compare(*decoded)) << hex(octets) << "\n"
                                          << value.asValueNotation() << "\n"
                                          << decoded->asValueNotation();
    std::vector<char> again;
    ASSERT_TRUE(env.encodeInto(*decoded, again));
    EXPECT_EQ(hex(octets), hex(again));
    std::ostringstream text;
    text << value;
    EXPECT_TRUE(text.good());
    EXPECT_FALSE(text.str().empty());

    std::vector<char> ber;
    env.set_encodingRule(ASN1::CoderEnv::ber);
    ASSERT_TRUE(env.encodeInto(value, ber));
    std::unique_ptr<AbstractData> fromBer(AbstractData::create(entry.info));
    ASSERT_TRUE(env.decode(ber.data(), ber.data() + ber.size(), *fromBer, true)) << hex(ber);
    EXPECT_EQ(0, value.compare(*fromBer)) << hex(ber);
    ASSERT_TRUE(env.encodeInto(*fromBer, again));
    EXPECT_EQ(hex(ber), hex(again));
    for (std::size_t n = 0; n < ber.size(); ++n) {
        std::unique_ptr<AbstractData> cut(AbstractData::create(entry.info));
        EXPECT_FALSE(env.decode(ber.data(), ber.data() + n, *cut, true)) << hex(ber) << " cut at " << n;
    }

    std::unique_ptr<AbstractData> read(AbstractData::create(entry.info));
    std::string reason = unreadable(value);
    bool ok = read->setFromValueNotation(text.str());
    if (reason.empty()) {
        EXPECT_TRUE(ok) << text.str();
        EXPECT_EQ(0, value.compare(*read)) << text.str() << "\n" << read->asValueNotation();
    } else {
        // Refused, or (text after the value being ignored) read as another value.
        EXPECT_FALSE(ok && value.compare(*read) == 0) << reason << "\n" << text.str();
    }
    // A clone is a separate, equal value of the same type.
    std::unique_ptr<AbstractData> copy(value.clone());
    EXPECT_EQ(value.info(), copy->info());
    EXPECT_EQ(0, value.compare(*copy));
}

// A default value leaves every CHOICE without an alternative, which has no encoding;
// the smallest complete value takes alternative 0 wherever nothing is selected and
// brings integers and string sizes up to their lower bounds.
void completeDefaults(AbstractData& value)
{
    if (auto* seq = dynamic_cast<ASN1::SEQUENCE*>(&value)) {
        for (unsigned i = 0; i < seq->fieldCount(); ++i)
            if (seq->getField(i))
                completeDefaults(*seq->getField(i));
    } else if (auto* choice = dynamic_cast<ASN1::CHOICE*>(&value)) {
        if (choice->currentSelection() < 0)
            choice->setSelection(0, AbstractData::create(choice->choiceInfo()->selectionInfos[0]));
        completeDefaults(*choice->getSelection());
    } else if (auto* i = dynamic_cast<ASN1::INTEGER*>(&value)) {
        if (i->constrained() && i->getValue() < i->getLowerLimit())
            i->setValue(i->getLowerLimit());
    } else if (auto* s = dynamic_cast<ASN1::AbstractString*>(&value)) {
        if (s->constrained() && s->size() < static_cast<unsigned>(s->getLowerLimit()))
            s->assign(std::string(static_cast<unsigned>(s->getLowerLimit()), 'a'));
    }
}

TEST(AllTypes, DefaultValueRoundTrips)
{
    for (unsigned t = 0; t < messages::registrySize; ++t) {
        messages::RegistryEntry const& entry = messages::registry[t];
        std::unique_ptr<AbstractData> value(AbstractData::create(entry.info));
        ASSERT_NE(nullptr, value);
        completeDefaults(*value);
        roundTrip(entry, *value, "default");
    }
}

TEST(AllTypes, RandomValuesRoundTrip)
{
    for (unsigned t = 0; t < messages::registrySize; ++t) {
        messages::RegistryEntry const& entry = messages::registry[t];
        const std::string kind = entry.kind;
        const int choices =
            kind == "CHOICE"
                ? static_cast<int>(static_cast<ASN1::ChoiceInfo const*>(entry.info)->totalChoices)
                : 0;
        for (int run = 0; run < (choices ? 2 * choices : 12); ++run) {
            Random random(t * 1000u + static_cast<unsigned>(run));
            Filler filler(random);
            Plan plan;
            plan.alternative = choices ? run % choices : -1;
            if (kind == "SEQUENCE")
                plan.optionals = run < 2 ? run : -1;
            std::unique_ptr<AbstractData> value(AbstractData::create(entry.info));
            filler.fill(*value, plan);
            roundTrip(entry, *value, "seed " + std::to_string(t * 1000u + static_cast<unsigned>(run)));
            if (HasFatalFailure())
                return;
        }
    }
}

TEST(AllTypes, EveryEnumeratorRoundTrips)
{
    for (unsigned t = 0; t < messages::registrySize; ++t) {
        messages::RegistryEntry const& entry = messages::registry[t];
        if (std::string(entry.kind) != "ENUMERATED")
            continue;
        for (int v : enumValues(static_cast<ASN1::EnumInfo const*>(entry.info))) {
            if (v < 0)
                continue;
            std::unique_ptr<AbstractData> value(AbstractData::create(entry.info));
            static_cast<ASN1::ENUMERATED&>(*value).setFromInt(v);
            roundTrip(entry, *value, "value " + std::to_string(v));
        }
    }
}

} // namespace
