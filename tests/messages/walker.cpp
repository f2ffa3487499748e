#include "tests/messages/walker.hpp"

#include <cstdlib>
#include <string>

namespace msgwalk
{

using ASN1::AbstractData;

std::vector<int> enumValues(ASN1::EnumInfo const* info)
{
    std::vector<int> values;
    int value = -1;
    for (std::uint32_t i = 0; i < info->nameCount; ++i) {
        std::string entry = info->names[i];
        std::string::size_type eq = entry.find('=');
        value = eq == std::string::npos ? value + 1 : std::atoi(entry.c_str() + eq + 1);
        values.push_back(value);
    }
    return values;
}

void Filler::fill(AbstractData& value, Plan const& plan)
{
    if (auto* seq = dynamic_cast<ASN1::SEQUENCE*>(&value))
        return fillSequence(*seq, plan);
    if (auto* choice = dynamic_cast<ASN1::CHOICE*>(&value))
        return fillChoice(*choice, plan);
    if (auto* list = dynamic_cast<ASN1::SEQUENCE_OF_Base*>(&value))
        return fillList(*list);
    if (auto* e = dynamic_cast<ASN1::ENUMERATED*>(&value)) {
        // A value below 0 has no aligned-PER form (the range starts at 0); skip it.
        std::vector<int> values;
        for (int v : enumValues(e->enumInfo()))
            if (v >= 0)
                values.push_back(v);
        return e->setFromInt(values[static_cast<std::size_t>(
            random_.between(0, static_cast<std::int64_t>(values.size()) - 1))]);
    }
    if (auto* i = dynamic_cast<ASN1::INTEGER*>(&value))
        return i->setValue(static_cast<int>(
            i->constrained() ? random_.between(i->getLowerLimit(), i->getUpperLimit()) : random_.next()));
    if (auto* b = dynamic_cast<ASN1::BOOLEAN*>(&value))
        return void(*b = random_.coin());
    if (auto* s = dynamic_cast<ASN1::AbstractString*>(&value)) {
        std::int64_t lo = s->constrained() ? s->getLowerLimit() : 0;
        std::int64_t hi = s->constrained() ? s->getUpperLimit() : 12;
        std::string text;
        for (std::int64_t n = random_.between(lo, hi); n > 0; --n)
            text += static_cast<char>(random_.between(0, 127));
        s->assign(text);
        return;
    }
    if (auto* o = dynamic_cast<ASN1::OCTET_STRING*>(&value)) {
        o->clear();
        for (std::int64_t n = random_.between(0, 12); n > 0; --n)
            o->push_back(static_cast<char>(random_.next()));
        return;
    }
    if (auto* oid = dynamic_cast<ASN1::OBJECT_IDENTIFIER*>(&value)) {
        oid->append(static_cast<unsigned>(random_.between(0, 2)));
        oid->append(static_cast<unsigned>(random_.between(0, 39)));
        for (std::int64_t n = random_.between(0, 4); n > 0; --n)
            oid->append(random_.next());
        return;
    }
    // NULL has no content.
}

void Filler::fillSequence(ASN1::SEQUENCE& seq, Plan const& plan)
{
    ASN1::SequenceInfo const* info = seq.sequenceInfo();
    for (std::uint32_t i = 0; i < info->numFields; ++i) {
        int k = info->fieldIds[i];
        if (k < 0) {
            fill(*seq.getField(i));
        } else if (plan.optionals == 1 || (plan.optionals < 0 && random_.coin())) {
            fill(seq.includeOptionalField(static_cast<unsigned>(k), i));
        }
    }
    for (std::uint32_t j = 0; j < info->knownExtensions; ++j)
        if (plan.optionals == 1 || (plan.optionals < 0 && random_.coin()))
            fill(seq.includeOptionalField(info->numOptional + j, info->numFields + j));
}

void Filler::fillChoice(ASN1::CHOICE& choice, Plan const& plan)
{
    ASN1::ChoiceInfo const* info = choice.choiceInfo();
    int index = plan.alternative >= 0 ? plan.alternative
                                      : static_cast<int>(random_.between(0, info->totalChoices - 1));
    fill(*choice.setSelection(index, AbstractData::create(info->selectionInfos[index])));
}

void Filler::fillList(ASN1::SEQUENCE_OF_Base& list)
{
    list.clear();
    for (std::int64_t n = random_.between(0, 3); n > 0; --n) {
        AbstractData* element = list.createElement();
        fill(*element);
        list.push_back(element);
    }
}

} // namespace msgwalk
