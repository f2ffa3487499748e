// SEQUENCE fields, extension additions, CHOICE selection and list assignment.
#include "tests/asn1/helpers.hpp"
#include "tests/asn1/test_module.hpp"

#include <gtest/gtest.h>

namespace
{

TEST(Constructed, SequenceFieldsAndChoiceSelection)
{
    TM::Message m;
    EXPECT_EQ(m.getField(0), nullptr);
    ASSERT_NE(m.getField(2), nullptr);
    m.set_slot(5);
    m.omit_slot();
    m.set_slot();
    EXPECT_EQ(m.get_slot().getValue(), 5u); // the old value comes back

    // An addition beyond the extension map grows it and marks only that addition.
    TM::TermParams t;
    t.set_flag(); // addition 2, optional number 3
    EXPECT_EQ(t.getExtensionMap().size(), 3u);
    EXPECT_FALSE(t.hasOptionalField(1) || t.hasOptionalField(2) || t.hasOptionalField(40));
    EXPECT_TRUE(t.hasOptionalField(3));
    t.removeOptionalField(40); // beyond every map: nothing happens

    TM::Response r;
    EXPECT_TRUE(r.select(-1));
    EXPECT_TRUE(r.select(0));
    ASN1::AbstractData const* value = r.getSelection();
    EXPECT_TRUE(r.select(0));
    EXPECT_EQ(r.getSelection(), value); // the same index keeps the value
    EXPECT_FALSE(r.select(2));
    EXPECT_TRUE(r.isUnknownSelection());
    EXPECT_EQ(r.getSelection(), nullptr);
    EXPECT_EQ(r.getSelectionName(), nullptr);

    // List assignment copies the elements.
    ASN1::SEQUENCE_OF<ASN1::INTEGER> source, target;
    source.push_back(ASN1::INTEGER(1, &ASN1::INTEGER::theInfo));
    target.resize(5);
    target = source;
    ASSERT_EQ(target.size(), 1u);
    target[0] = 10;
    EXPECT_EQ(source[0].getValue(), 1);
}

} // namespace
