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

// The field vector owns its values: a copy holds clones, not the same values,
// null slots stay null, and swap exchanges whole vectors (ASan checks that
// each value is destroyed once).
TEST(Constructed, FieldVectorOwnsClonesOfItsValues)
{
    ASN1::SEQUENCE::FieldVector fields(3);
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_EQ(fields[0], nullptr);
    fields[1] = new ASN1::INTEGER(7, &ASN1::INTEGER::theInfo);

    ASN1::SEQUENCE::FieldVector copy(fields);
    ASSERT_EQ(copy.size(), 3u);
    EXPECT_EQ(copy[0], nullptr);
    EXPECT_EQ(copy[2], nullptr);
    ASSERT_NE(copy[1], nullptr);
    EXPECT_NE(copy[1], fields[1]);
    static_cast<ASN1::INTEGER*>(copy[1])->setValue(8);
    EXPECT_EQ(static_cast<ASN1::INTEGER*>(fields[1])->getValue(), 7);

    ASN1::SEQUENCE::FieldVector empty;
    empty.swap(copy);
    EXPECT_EQ(copy.size(), 0u);
    ASSERT_EQ(empty.size(), 3u);
    EXPECT_EQ(static_cast<ASN1::INTEGER*>(empty[1])->getValue(), 8);

    // A SEQUENCE copied and assigned keeps values of its own.
    TM::Message a;
    a.set_slot(5);
    TM::Message b(a);
    b.set_slot(6);
    a = b;
    b.set_slot(7);
    EXPECT_EQ(a.get_slot().getValue(), 6u);
}

} // namespace
