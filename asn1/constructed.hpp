// Constructed kinds: CHOICE, SEQUENCE, SEQUENCE OF / SET OF and the open types.
#pragma once

#include "asn1/abstract_data.hpp"

#include <boost/iterator/iterator_adaptor.hpp>

#include <cassert>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace ASN1
{

class CHOICE : public AbstractData
{
public:
    typedef ChoiceInfo InfoType;
    enum { unselected_ = -1, unknownSelection_ = -2 };
    static AbstractData* create(TypeInfo const* info);

    // Takes over value.
    explicit CHOICE(TypeInfo const* info, int index = unselected_, AbstractData* value = nullptr)
        : AbstractData(info, ValueKind::choice), value_(value), index_(index)
    {
    }
    CHOICE(CHOICE const& other);
    CHOICE& operator=(CHOICE const& other);
    void swap(CHOICE& other);

    // Destroys the current value, takes over value, returns it.
    AbstractData* setSelection(int index, AbstractData* value);
    bool select(int index) { return index == index_ || (index_ = index, createSelection()); }
    bool createSelection();
    // Selects the alternative a received tag names; false leaves the unrecognised state.
    bool setID(unsigned number, unsigned classBits);

    AbstractData* getSelection() { return value_.get(); }
    AbstractData const* getSelection() const { return value_.get(); }
    int currentSelection() const { return index_; }
    bool isUnknownSelection() const { return index_ == unknownSelection_; }
    char const* getSelectionName() const;
    std::uint32_t getSelectionTag() const;
    unsigned getNumChoices() const { return choiceInfo()->numChoices; }
    bool extendable() const { return choiceInfo()->extendable; }
    ChoiceInfo const* choiceInfo() const { return static_cast<ChoiceInfo const*>(info()); }
    bool isValid() const;
    bool isStrictlyValid() const;
    CHOICE* clone() const { return static_cast<CHOICE*>(AbstractData::clone()); }

protected:
    // Typed access for generated classes. The alternative's descriptor builds T itself.
    template <class T> T& select_as(int index)
    {
        return static_cast<T&>(
            *setSelection(index, AbstractData::create(choiceInfo()->selectionInfos[index])));
    }
    template <class T> T const& alternative_as(int index) const
    {
        assert(index_ == index && value_);
        (void)index;
        return static_cast<T const&>(*value_);
    }
    template <class T> T& alternative_ref(int index)
    {
        assert(index_ == index && value_);
        (void)index;
        return static_cast<T&>(*value_);
    }

    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

private:
    std::unique_ptr<AbstractData, detail::ValueDeleter> value_;
    int index_;
};

class SEQUENCE : public AbstractData
{
public:
    typedef SequenceInfo InfoType;

    // Bit i at weight 2^(7 - i mod 8) of byte i / 8, the order of the PER bit maps.
    // Up to 128 bits (every map a received message can bring) live in the map itself.
    class BitMap
    {
    public:
        BitMap() = default;
        BitMap(BitMap const& other);
        BitMap& operator=(BitMap const& other);
        ~BitMap();

        unsigned size() const { return bits_; }
        // New bits are 0; bits cut off are cleared.
        void resize(unsigned bits)
        {
            // Every stored bit past size() is 0, so a map that grows within its room
            // only changes its size.
            if (bits > bits_ && (std::uint64_t{bits} + 7) / 8 <= capacity_)
                bits_ = bits;
            else if (bits != bits_)
                resizeSlow(bits);
        }
        bool operator[](unsigned i) const
        {
            return i < bits_ && (static_cast<unsigned char>(bytes_[i / 8]) & (0x80u >> (i % 8))) != 0;
        }
        void set(unsigned i)
        {
            if (i < bits_)
                bytes_[i / 8] = static_cast<char>(bytes_[i / 8] | (0x80u >> (i % 8)));
        }
        void clear(unsigned i)
        {
            if (i < bits_)
                bytes_[i / 8] = static_cast<char>(bytes_[i / 8] & ~(0x80u >> (i % 8)));
        }
        bool any() const;
        void swap(BitMap& other);
        // (size() + 7) / 8 octets.
        char* bytes() { return bytes_; }
        char const* bytes() const { return bytes_; }

    private:
        static const unsigned inlineOctets = 16;
        bool onHeap() const { return bytes_ != inline_; }
        void resizeSlow(unsigned bits);

        unsigned bits_ = 0;
        unsigned capacity_ = inlineOctets; // octets
        char* bytes_ = inline_;
        char inline_[inlineOctets] = {};
    };

    // One owned value pointer per root field and per known extension addition, in
    // descriptor order; a slot is null while its field has no value object. The slots
    // live in one value block, and the vector destroys every value it holds.
    class FieldVector
    {
    public:
        FieldVector() = default;
        explicit FieldVector(unsigned size);   // every slot null
        FieldVector(FieldVector const& other); // a clone of each value; null slots stay null
        FieldVector& operator=(FieldVector const&) = delete;
        ~FieldVector();

        unsigned size() const { return size_; }
        AbstractData*& operator[](unsigned i) { return slots_[i]; }
        AbstractData* operator[](unsigned i) const { return slots_[i]; }
        void swap(FieldVector& other)
        {
            std::swap(slots_, other.slots_);
            std::swap(size_, other.size_);
        }

    private:
        AbstractData** slots_ = nullptr;
        unsigned size_ = 0;
    };

    // Marker for fieldTags: each field carries the tag of its own descriptor.
    static const std::uint32_t defaultTag;
    static AbstractData* create(TypeInfo const* info);

    explicit SEQUENCE(TypeInfo const* info);
    SEQUENCE(SEQUENCE const& other);
    ~SEQUENCE() override;
    SEQUENCE& operator=(SEQUENCE const& other);
    void swap(SEQUENCE& other);

    AbstractData* getField(unsigned i) { return fields_[i]; }
    AbstractData const* getField(unsigned i) const { return fields_[i]; }
    unsigned fieldCount() const { return fields_.size(); }
    char const* getFieldName(int i) const { return sequenceInfo()->fieldNames[i]; }

    // k below numOptional: the optional-field map; numOptional + j: extension addition j.
    bool hasOptionalField(unsigned k) const
    {
        std::uint32_t numOptional = sequenceInfo()->numOptional;
        return k < numOptional ? optionalMap_[k] : extensionMap_[k - numOptional];
    }
    // Marks k present (growing the extension map when needed), creates the slot's value
    // when missing and returns it.
    AbstractData& includeOptionalField(unsigned k, unsigned slot);
    void removeOptionalField(unsigned k);

    bool extendable() const { return sequenceInfo()->extendable; }
    int tagMode() const;
    std::uint32_t getFieldTag(int i) const;

    BitMap& getOptionalMap() { return optionalMap_; }
    BitMap const& getOptionalMap() const { return optionalMap_; }
    BitMap& getExtensionMap() { return extensionMap_; }
    BitMap const& getExtensionMap() const { return extensionMap_; }
    SequenceInfo const* sequenceInfo() const { return static_cast<SequenceInfo const*>(info()); }
    SEQUENCE* clone() const { return static_cast<SEQUENCE*>(AbstractData::clone()); }

protected:
    // Typed access for generated classes. Field values are built by their own
    // descriptors, so T is the value's class.
    template <class T> T const& field_as(unsigned slot) const
    {
        assert(fields_[slot]);
        return static_cast<T const&>(*fields_[slot]);
    }
    template <class T> T& field_ref(unsigned slot)
    {
        assert(fields_[slot]);
        return static_cast<T&>(*fields_[slot]);
    }
    template <class T> T& optional_ref(unsigned k, unsigned slot)
    {
        return static_cast<T&>(includeOptionalField(k, slot));
    }

    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

private:
    FieldVector fields_;
    BitMap optionalMap_;
    BitMap extensionMap_;
};

class SEQUENCE_OF_Base : public ConstrainedObject
{
public:
    typedef SequenceOfInfo InfoType;
    typedef std::vector<AbstractData*, detail::ValueAllocator<AbstractData*>> Container;
    typedef Container::iterator iterator;
    typedef Container::const_iterator const_iterator;
    static AbstractData* create(TypeInfo const* info);

    explicit SEQUENCE_OF_Base(TypeInfo const* info) : ConstrainedObject(info, ValueKind::sequenceOf) {}
    SEQUENCE_OF_Base(SEQUENCE_OF_Base const& other);
    SEQUENCE_OF_Base& operator=(SEQUENCE_OF_Base const& other);
    ~SEQUENCE_OF_Base() override;
    void swap(SEQUENCE_OF_Base& other) { container_.swap(other.container_); }

    unsigned size() const { return static_cast<unsigned>(container_.size()); }
    bool empty() const { return container_.empty(); }
    iterator begin() { return container_.begin(); }
    iterator end() { return container_.end(); }
    const_iterator begin() const { return container_.begin(); }
    const_iterator end() const { return container_.end(); }
    void reserve(unsigned n) { container_.reserve(n); }

    void push_back(AbstractData* element); // takes over element
    void insert(iterator position, unsigned n, AbstractData const& x);
    void insert(iterator position, const_iterator first, const_iterator last);
    iterator erase(iterator first, iterator last);
    void clear();
    void resize(unsigned n);
    AbstractData* createElement() const;

    SequenceOfInfo const* sequenceOfInfo() const { return static_cast<SequenceOfInfo const*>(info()); }
    bool isValid() const;
    bool isStrictlyValid() const;

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

private:
    Container container_;
};

struct EmptyConstraint {
};

namespace detail
{

// Typed view of a list whose elements were built by T's descriptor.
template <class T, class Base>
class TypedIterator : public boost::iterator_adaptor<TypedIterator<T, Base>, Base, T>
{
public:
    TypedIterator() = default;
    explicit TypedIterator(Base position) : TypedIterator::iterator_adaptor_(position) {}

private:
    friend class boost::iterator_core_access;
    T& dereference() const { return static_cast<T&>(**this->base()); }
};

template <class T, std::uint32_t Tag, class Derived> class ListOf : public SEQUENCE_OF_Base
{
public:
    typedef T value_type;
    typedef TypedIterator<T, SEQUENCE_OF_Base::iterator> iterator;
    typedef TypedIterator<T const, SEQUENCE_OF_Base::const_iterator> const_iterator;

    static AbstractData* create(TypeInfo const* info) { return new Derived(info); }
    static constexpr InfoType theInfo = {{{&ListOf::create, Tag}, Unconstrained, 0, 0xFFFFFFFFu},
                                         &T::theInfo};

    ListOf() : SEQUENCE_OF_Base(&theInfo) {}
    explicit ListOf(TypeInfo const* info) : SEQUENCE_OF_Base(info) {}

    void push_back(T const& x) { SEQUENCE_OF_Base::push_back(x.clone()); }
    T& operator[](unsigned i) { return static_cast<T&>(**(SEQUENCE_OF_Base::begin() + i)); }
    T const& operator[](unsigned i) const { return static_cast<T const&>(**(SEQUENCE_OF_Base::begin() + i)); }
    iterator begin() { return iterator(SEQUENCE_OF_Base::begin()); }
    iterator end() { return iterator(SEQUENCE_OF_Base::end()); }
    const_iterator begin() const { return const_iterator(SEQUENCE_OF_Base::begin()); }
    const_iterator end() const { return const_iterator(SEQUENCE_OF_Base::end()); }
    iterator erase(iterator position)
    {
        return iterator(SEQUENCE_OF_Base::erase(position.base(), position.base() + 1));
    }
    using SEQUENCE_OF_Base::erase;
};

} // namespace detail

template <class T, class Constraint = EmptyConstraint>
class SEQUENCE_OF : public detail::ListOf<T, 16, SEQUENCE_OF<T, Constraint>>
{
public:
    using detail::ListOf<T, 16, SEQUENCE_OF<T, Constraint>>::ListOf;
    SEQUENCE_OF* clone() const { return static_cast<SEQUENCE_OF*>(AbstractData::clone()); }
};

template <class T, class Constraint = EmptyConstraint>
class SET_OF : public detail::ListOf<T, 17, SET_OF<T, Constraint>>
{
public:
    using detail::ListOf<T, 17, SET_OF<T, Constraint>>::ListOf;
    SET_OF* clone() const { return static_cast<SET_OF*>(AbstractData::clone()); }
};

class OpenData : public AbstractData
{
public:
    typedef TypeInfo InfoType;
    static const InfoType theInfo;
    static AbstractData* create(TypeInfo const* info);

    OpenData() : AbstractData(&theInfo) {}
    explicit OpenData(TypeInfo const* info) : AbstractData(info) {}
    OpenData(AbstractData* data, TypeInfo const* info) : AbstractData(info), data_(data) {} // takes over data
    OpenData(OpenData const& other);
    OpenData& operator=(OpenData const& other);
    void swap(OpenData& other);

    bool has_data() const { return data_ != nullptr; }
    AbstractData& get_data() { return *data_; }
    AbstractData const& get_data() const { return *data_; }
    void set_data(AbstractData* data) { data_.reset(data); } // takes over data
    bool has_buf() const { return buf_ != nullptr; }
    std::vector<char>& get_buf() { return *buf_; }
    std::vector<char> const& get_buf() const { return *buf_; }
    void grab(std::vector<char>* buffer) { buf_.reset(buffer); } // takes over buffer
    bool isEmpty() const { return !data_ && !buf_; }
    bool isValid() const;
    bool isStrictlyValid() const;
    OpenData* clone() const { return static_cast<OpenData*>(AbstractData::clone()); }

protected:
    int do_compare(AbstractData const& other) const override;
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& visitor) override;
    bool do_accept(ConstVisitor& visitor) const override;

private:
    std::unique_ptr<AbstractData> data_;
    std::unique_ptr<std::vector<char>> buf_;
};

// An open type whose contained type is fixed by the descriptor's typeInfo.
class TypeConstrainedOpenData : public OpenData
{
public:
    typedef OpenTypeInfo InfoType;
    static AbstractData* create(TypeInfo const* info);

    explicit TypeConstrainedOpenData(TypeInfo const* info) : OpenData(info) {}
    TypeConstrainedOpenData(AbstractData* data, TypeInfo const* info) : OpenData(data, info) {}
    TypeConstrainedOpenData(TypeConstrainedOpenData const&) = default;

protected:
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& visitor) override;
};

} // namespace ASN1
