#include "asn1/constructed.hpp"

#include "asn1/visitor.hpp"

#include <algorithm>
#include <cstring>

namespace ASN1
{

// CHOICE

AbstractData* CHOICE::create(TypeInfo const* info)
{
    return new CHOICE(info);
}

CHOICE::CHOICE(CHOICE const& other)
    : AbstractData(other), value_(other.value_ ? other.value_->clone() : nullptr), index_(other.index_)
{
}

CHOICE& CHOICE::operator=(CHOICE const& other)
{
    std::unique_ptr<AbstractData, detail::ValueDeleter> copy(other.value_ ? other.value_->clone() : nullptr);
    value_.swap(copy);
    index_ = other.index_;
    return *this;
}

void CHOICE::swap(CHOICE& other)
{
    value_.swap(other.value_);
    std::swap(index_, other.index_);
}

AbstractData* CHOICE::setSelection(int index, AbstractData* value)
{
    value_.reset(value);
    index_ = index;
    return value;
}

bool CHOICE::createSelection()
{
    ChoiceInfo const* ci = choiceInfo();
    if (index_ >= 0 && static_cast<std::uint32_t>(index_) < ci->totalChoices &&
        ci->selectionInfos[index_] != nullptr) {
        value_.reset(AbstractData::create(ci->selectionInfos[index_]));
        return true;
    }
    index_ = unknownSelection_;
    value_.reset();
    return false;
}

bool CHOICE::setID(unsigned number, unsigned classBits)
{
    ChoiceInfo const* ci = choiceInfo();
    std::uint32_t tag = classBits | number;
    if (ci->selectionTags == nullptr) {
        // Automatic tags: the tag number is the position, whatever its class.
        if (number < ci->totalChoices)
            return select(static_cast<int>(number));
    } else {
        // Only the root alternatives carry tags to search.
        for (std::uint32_t i = 0; i < ci->numChoices; ++i) {
            if (ci->selectionTags[i] == tag)
                return select(static_cast<int>(i));
        }
        // An untagged CHOICE as first alternative: the tag may name one of its own.
        if (ci->totalChoices != 0 && ci->selectionTags[0] == 0 && select(0)) {
            CHOICE* inner = dynamic_cast<CHOICE*>(getSelection());
            if (inner != nullptr && inner->setID(number, classBits))
                return true;
        }
    }
    setSelection(unknownSelection_, nullptr);
    return false;
}

char const* CHOICE::getSelectionName() const
{
    if (index_ < 0 || static_cast<std::uint32_t>(index_) >= choiceInfo()->totalChoices)
        return nullptr;
    return choiceInfo()->selectionNames[index_];
}

std::uint32_t CHOICE::getSelectionTag() const
{
    if (choiceInfo()->selectionTags != nullptr && index_ >= 0)
        return choiceInfo()->selectionTags[index_];
    return automaticTag(static_cast<std::uint32_t>(index_));
}

int CHOICE::do_compare(AbstractData const& other) const
{
    CHOICE const& that = static_cast<CHOICE const&>(other);
    if (index_ < 0 || index_ != that.index_)
        return index_ - that.index_;
    if (!value_ || !that.value_)
        return static_cast<int>(value_ != nullptr) - static_cast<int>(that.value_ != nullptr);
    return value_->compare(*that.value_);
}
AbstractData* CHOICE::do_clone() const
{
    CHOICE* copy = createSame<CHOICE>();
    *copy = *this;
    return copy;
}
bool CHOICE::do_accept(Visitor& visitor)
{
    return visitor.visit(*this);
}
bool CHOICE::do_accept(ConstVisitor& visitor) const
{
    return visitor.visit(*this);
}

// SEQUENCE

const std::uint32_t SEQUENCE::defaultTag = 0;

SEQUENCE::BitMap::BitMap(BitMap const& other)
{
    *this = other;
}

SEQUENCE::BitMap& SEQUENCE::BitMap::operator=(BitMap const& other)
{
    if (this == &other)
        return *this;
    resize(0);
    resize(other.bits_);
    std::memcpy(bytes_, other.bytes_, (std::size_t{other.bits_} + 7) / 8);
    return *this;
}

SEQUENCE::BitMap::~BitMap()
{
    if (onHeap())
        delete[] bytes_;
}

void SEQUENCE::BitMap::resizeSlow(unsigned bits)
{
    std::size_t octets = (std::uint64_t{bits} + 7) / 8;
    std::size_t used = (std::uint64_t{bits_} + 7) / 8;
    if (octets > capacity_) {
        char* bigger = new char[octets]();
        std::memcpy(bigger, bytes_, used);
        if (onHeap())
            delete[] bytes_;
        bytes_ = bigger;
        capacity_ = static_cast<unsigned>(octets);
    } else if (octets < used) {
        std::memset(bytes_ + octets, 0, used - octets);
    }
    if (bits < bits_ && bits % 8 != 0)
        bytes_[octets - 1] = static_cast<char>(bytes_[octets - 1] & (0xFF00u >> (bits % 8)));
    bits_ = bits;
}

bool SEQUENCE::BitMap::any() const
{
    for (std::size_t i = 0, n = (std::size_t{bits_} + 7) / 8; i < n; ++i) {
        if (bytes_[i] != 0)
            return true;
    }
    return false;
}

void SEQUENCE::BitMap::swap(BitMap& other)
{
    if (onHeap() && other.onHeap()) {
        std::swap(bytes_, other.bytes_);
    } else {
        BitMap copy(other);
        other = *this;
        *this = copy;
        return;
    }
    std::swap(bits_, other.bits_);
    std::swap(capacity_, other.capacity_);
}

AbstractData* SEQUENCE::create(TypeInfo const* info)
{
    return new SEQUENCE(info);
}

namespace
{

// One field slot: an owned pointer.
const std::size_t slotSize = sizeof(void*);

} // namespace

SEQUENCE::FieldVector::FieldVector(unsigned size) : size_(size)
{
    if (size == 0)
        return;
    void* block = detail::valueAllocate(size * slotSize);
    slots_ = static_cast<AbstractData**>(std::memset(block, 0, size * slotSize));
}

SEQUENCE::FieldVector::FieldVector(FieldVector const& other) : FieldVector(other.size_)
{
    // A clone that fails leaves the slots made so far to the destructor.
    for (unsigned i = 0; i < size_; ++i) {
        if (other.slots_[i])
            slots_[i] = other.slots_[i]->clone();
    }
}

SEQUENCE::FieldVector::~FieldVector()
{
    for (unsigned i = 0; i < size_; ++i)
        destroyValue(slots_[i]);
    if (slots_ != nullptr)
        detail::valueRelease(slots_, size_ * slotSize);
}

SEQUENCE::SEQUENCE(TypeInfo const* info)
    : AbstractData(info, ValueKind::sequence),
      fields_(static_cast<SequenceInfo const*>(info)->numFields +
              static_cast<SequenceInfo const*>(info)->knownExtensions)
{
    // Each slot is set as it is reached (a mandatory field's value, else none); when
    // a value cannot be made, the field vector destroys the ones made before it.
    SequenceInfo const* si = sequenceInfo();
    optionalMap_.resize(si->numOptional);
    if (si->nonOptionalExtensions != nullptr)
        extensionMap_.resize(si->knownExtensions);
    for (unsigned i = 0; i < si->numFields; ++i) {
        if (si->fieldIds[i] < 0)
            fields_[i] = AbstractData::create(si->fieldInfos[i]);
    }
    if (si->nonOptionalExtensions == nullptr)
        return;
    for (unsigned j = 0; j < si->knownExtensions; ++j) {
        if (si->nonOptionalExtensions[j / 8] & (0x80u >> (j % 8))) {
            extensionMap_.set(j);
            fields_[si->numFields + j] = AbstractData::create(si->fieldInfos[si->numFields + j]);
        }
    }
}

SEQUENCE::SEQUENCE(SEQUENCE const& other)
    : AbstractData(other), fields_(other.fields_), optionalMap_(other.optionalMap_),
      extensionMap_(other.extensionMap_)
{
}

SEQUENCE::~SEQUENCE() = default;

SEQUENCE& SEQUENCE::operator=(SEQUENCE const& other)
{
    // Copies first, then exchange: a failure leaves the target as it was. The old
    // fields go with the copies at the end.
    if (this == &other)
        return *this;
    BitMap optionalMap(other.optionalMap_);
    BitMap extensionMap(other.extensionMap_);
    FieldVector fields(other.fields_);
    fields_.swap(fields);
    optionalMap_.swap(optionalMap);
    extensionMap_.swap(extensionMap);
    return *this;
}

void SEQUENCE::swap(SEQUENCE& other)
{
    fields_.swap(other.fields_);
    optionalMap_.swap(other.optionalMap_);
    extensionMap_.swap(other.extensionMap_);
}

AbstractData& SEQUENCE::includeOptionalField(unsigned k, unsigned slot)
{
    std::uint32_t numOptional = sequenceInfo()->numOptional;
    if (k < numOptional) {
        optionalMap_.set(k);
    } else {
        unsigned j = k - numOptional;
        if (j >= extensionMap_.size())
            extensionMap_.resize(j + 1);
        extensionMap_.set(j);
    }
    if (!fields_[slot])
        fields_[slot] = AbstractData::create(sequenceInfo()->fieldInfos[slot]);
    return *fields_[slot];
}

void SEQUENCE::removeOptionalField(unsigned k)
{
    std::uint32_t numOptional = sequenceInfo()->numOptional;
    if (k < numOptional) {
        optionalMap_.clear(k);
    } else {
        extensionMap_.clear(k - numOptional);
    }
}

int SEQUENCE::tagMode() const
{
    if (sequenceInfo()->fieldTags == nullptr)
        return 0;
    return sequenceInfo()->fieldTags == &defaultTag ? 2 : 1;
}

std::uint32_t SEQUENCE::getFieldTag(int i) const
{
    switch (tagMode()) {
    case 0:
        return automaticTag(static_cast<std::uint32_t>(i));
    case 1:
        return sequenceInfo()->fieldTags[i];
    default:
        return sequenceInfo()->fieldInfos[i]->tag;
    }
}

namespace
{

int comparePresent(AbstractData const* a, AbstractData const* b)
{
    if (a == nullptr || b == nullptr)
        return static_cast<int>(a != nullptr) - static_cast<int>(b != nullptr);
    return a->compare(*b);
}

} // namespace

int SEQUENCE::do_compare(AbstractData const& other) const
{
    SEQUENCE const& that = static_cast<SEQUENCE const&>(other);
    SequenceInfo const* si = sequenceInfo();
    for (std::uint32_t i = 0; i < si->numFields; ++i) {
        int k = si->fieldIds[i];
        int result;
        if (k < 0) {
            result = comparePresent(fields_[i], that.fields_[i]);
        } else {
            bool mine = hasOptionalField(static_cast<unsigned>(k));
            bool theirs = that.hasOptionalField(static_cast<unsigned>(k));
            result = mine && theirs ? comparePresent(fields_[i], that.fields_[i])
                                    : static_cast<int>(mine) - static_cast<int>(theirs);
        }
        if (result != 0)
            return result;
    }
    for (std::uint32_t j = 0; j < si->knownExtensions; ++j) {
        unsigned k = si->numOptional + j;
        bool mine = hasOptionalField(k);
        bool theirs = that.hasOptionalField(k);
        std::uint32_t slot = si->numFields + j;
        int result = mine && theirs ? comparePresent(fields_[slot], that.fields_[slot])
                                    : static_cast<int>(mine) - static_cast<int>(theirs);
        if (result != 0)
            return result;
    }
    return 0;
}
AbstractData* SEQUENCE::do_clone() const
{
    SEQUENCE* copy = createSame<SEQUENCE>();
    *copy = *this;
    return copy;
}
bool SEQUENCE::do_accept(Visitor& visitor)
{
    return visitor.visit(*this);
}
bool SEQUENCE::do_accept(ConstVisitor& visitor) const
{
    return visitor.visit(*this);
}

// SEQUENCE OF

AbstractData* SEQUENCE_OF_Base::create(TypeInfo const* info)
{
    return new SEQUENCE_OF_Base(info);
}

SEQUENCE_OF_Base::SEQUENCE_OF_Base(SEQUENCE_OF_Base const& other) : ConstrainedObject(other)
{
    container_.reserve(other.container_.size());
    for (AbstractData const* element : other.container_)
        container_.push_back(element->clone());
}

SEQUENCE_OF_Base& SEQUENCE_OF_Base::operator=(SEQUENCE_OF_Base const& other)
{
    SEQUENCE_OF_Base copy(other);
    container_.swap(copy.container_);
    return *this;
}

SEQUENCE_OF_Base::~SEQUENCE_OF_Base()
{
    clear();
}

void SEQUENCE_OF_Base::push_back(AbstractData* element)
{
    std::unique_ptr<AbstractData> owned(element);
    container_.push_back(element);
    static_cast<void>(owned.release()); // the container owns it now
}

void SEQUENCE_OF_Base::insert(iterator position, unsigned n, AbstractData const& x)
{
    std::size_t offset = static_cast<std::size_t>(position - container_.begin());
    container_.reserve(container_.size() + n);
    for (unsigned i = 0; i < n; ++i) {
        std::unique_ptr<AbstractData> copy(x.clone());
        container_.insert(container_.begin() + static_cast<std::ptrdiff_t>(offset + i), copy.get());
        static_cast<void>(copy.release()); // the container owns it now
    }
}

void SEQUENCE_OF_Base::insert(iterator position, const_iterator first, const_iterator last)
{
    std::size_t offset = static_cast<std::size_t>(position - container_.begin());
    container_.reserve(container_.size() + static_cast<std::size_t>(last - first));
    for (; first != last; ++first, ++offset) {
        std::unique_ptr<AbstractData> copy((*first)->clone());
        container_.insert(container_.begin() + static_cast<std::ptrdiff_t>(offset), copy.get());
        static_cast<void>(copy.release()); // the container owns it now
    }
}

SEQUENCE_OF_Base::iterator SEQUENCE_OF_Base::erase(iterator first, iterator last)
{
    for (iterator it = first; it != last; ++it)
        destroyValue(*it);
    return container_.erase(first, last);
}

void SEQUENCE_OF_Base::clear()
{
    for (AbstractData* element : container_)
        destroyValue(element);
    container_.clear();
}

void SEQUENCE_OF_Base::resize(unsigned n)
{
    if (n < container_.size()) {
        erase(container_.begin() + n, container_.end());
        return;
    }
    container_.reserve(n);
    while (container_.size() < n)
        push_back(createElement());
}

AbstractData* SEQUENCE_OF_Base::createElement() const
{
    return AbstractData::create(sequenceOfInfo()->elementInfo);
}

int SEQUENCE_OF_Base::do_compare(AbstractData const& other) const
{
    SEQUENCE_OF_Base const& that = static_cast<SEQUENCE_OF_Base const&>(other);
    std::size_t common = std::min(container_.size(), that.container_.size());
    for (std::size_t i = 0; i < common; ++i) {
        int result = container_[i]->compare(*that.container_[i]);
        if (result != 0)
            return result;
    }
    return static_cast<int>(container_.size()) - static_cast<int>(that.container_.size());
}
AbstractData* SEQUENCE_OF_Base::do_clone() const
{
    SEQUENCE_OF_Base* copy = createSame<SEQUENCE_OF_Base>();
    *copy = *this;
    return copy;
}
bool SEQUENCE_OF_Base::do_accept(Visitor& visitor)
{
    return visitor.visit(*this);
}
bool SEQUENCE_OF_Base::do_accept(ConstVisitor& visitor) const
{
    return visitor.visit(*this);
}

// Open types

const OpenData::InfoType OpenData::theInfo = {&OpenData::create, 0};

AbstractData* OpenData::create(TypeInfo const* info)
{
    return new OpenData(info);
}

OpenData::OpenData(OpenData const& other)
    : AbstractData(other), data_(other.data_ ? other.data_->clone() : nullptr),
      buf_(other.buf_ ? new std::vector<char>(*other.buf_) : nullptr)
{
}

OpenData& OpenData::operator=(OpenData const& other)
{
    OpenData copy(other);
    swap(copy);
    return *this;
}

void OpenData::swap(OpenData& other)
{
    data_.swap(other.data_);
    buf_.swap(other.buf_);
}

int OpenData::do_compare(AbstractData const& other) const
{
    OpenData const& that = static_cast<OpenData const&>(other);
    if (data_ && that.data_)
        return data_->compare(*that.data_);
    if (buf_ && that.buf_) {
        return lexicographic_compare_bytes(buf_->data(), buf_->data() + buf_->size(), that.buf_->data(),
                                           that.buf_->data() + that.buf_->size());
    }
    if (isEmpty() && that.isEmpty())
        return 0;
    return data_ ? 1 : -1;
}
AbstractData* OpenData::do_clone() const
{
    OpenData* copy = createSame<OpenData>();
    *copy = *this;
    return copy;
}
bool OpenData::do_accept(Visitor& visitor)
{
    return visitor.visit(*this);
}
bool OpenData::do_accept(ConstVisitor& visitor) const
{
    return visitor.visit(*this);
}

AbstractData* TypeConstrainedOpenData::create(TypeInfo const* info)
{
    std::unique_ptr<AbstractData> data(
        AbstractData::create(static_cast<OpenTypeInfo const*>(info)->typeInfo));
    TypeConstrainedOpenData* result = new TypeConstrainedOpenData(data.get(), info);
    static_cast<void>(data.release()); // the result owns it now
    return result;
}
AbstractData* TypeConstrainedOpenData::do_clone() const
{
    return new TypeConstrainedOpenData(*this);
}
bool TypeConstrainedOpenData::do_accept(Visitor& visitor)
{
    return visitor.visit(*this);
}

} // namespace ASN1
