#pragma once
// The in-memory tree of the daemon's INI-style configuration file. Every
// occurrence of every header and key is kept with its line number, so that
// the reader (runtime/inifile_reader.hpp) can name the lines of missing,
// repeated and malformed keys. The parser never fails: what does not fit the
// grammar is skipped.
#include <istream>
#include <map>
#include <ostream>
#include <string>

namespace IniFile
{

class File;
class Section;
class SubSection;
class Key;
class SubKey;

// A plain node pointer; the null pointer is the end position.
template <class T> class GenericIterator
{
public:
    GenericIterator() : mNode(nullptr) {}
    GenericIterator(T* node) : mNode(node) {}

    bool operator!=(const GenericIterator& other) const { return mNode != other.mNode; }
    bool operator==(const GenericIterator& other) const { return mNode == other.mNode; }
    GenericIterator& operator++()
    {
        if (mNode)
            mNode = mNode->mNext;
        return *this;
    }
    GenericIterator operator++(int)
    {
        GenericIterator old(*this);
        ++*this;
        return old;
    }
    T& operator*() const { return *mNode; }
    T* operator->() const { return mNode; }

private:
    T* mNode;
};

// The owning list of a node's children, in file order. Children link through
// their own mNext/mPrev, so a node is in exactly one chain.
template <class T> class Chain
{
public:
    Chain() = default;
    ~Chain() { clear(); }
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;

    T& append(T* node)
    {
        node->mPrev = mLast;
        if (mLast)
            mLast->mNext = node;
        else
            mFirst = node;
        mLast = node;
        ++mCount;
        return *node;
    }
    void clear()
    {
        while (mFirst) {
            T* next = mFirst->mNext;
            delete mFirst;
            mFirst = next;
        }
        mLast = nullptr;
        mCount = 0;
    }
    T* first() const { return mFirst; }
    T* last() const { return mLast; }
    int count() const { return mCount; }

private:
    T* mFirst = nullptr;
    T* mLast = nullptr;
    int mCount = 0;
};

// One occurrence of a key: its value text and the line it stands on.
class SubKey
{
public:
    SubKey(const std::string& value, int line);

    const std::string& GetStr() const { return mValue; }
    int GetLineNo() const { return mLineNo; }

    bool GetBool(bool def) const;
    void SetBool(bool b);
    int GetInt(int def) const;
    void SetInt(int n);
    float GetFloat(float def) const;
    void SetFloat(float x);

    void Dump(std::ostream& os) const;

private:
    friend class Key;
    friend class GenericIterator<SubKey>;
    friend class Chain<SubKey>;
    std::string mValue;
    int mLineNo;
    SubKey* mNext = nullptr;
    SubKey* mPrev = nullptr;
};

// All occurrences of one key name inside one block.
class Key
{
public:
    typedef GenericIterator<SubKey> iterator;

    explicit Key(const std::string& name);
    ~Key();
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    const std::string& GetName() const { return mName; }
    SubKey& NewSubKey(const std::string& value, int line);
    void CleanSubKeys();
    void CheckEmpty();
    SubKey& GetFirstSubKey();
    SubKey& GetLastSubKey();
    const std::string& GetStr() { return GetFirstSubKey().GetStr(); }
    int GetCount() const { return mSubKeys.count(); }

    iterator begin() const { return iterator(mSubKeys.first()); }
    iterator end() const { return iterator(); }
    void Dump(std::ostream& os) const;

private:
    friend class SubSection;
    friend class GenericIterator<Key>;
    friend class Chain<Key>;
    std::string mName;
    Chain<SubKey> mSubKeys;
    Key* mNext = nullptr;
    Key* mPrev = nullptr;
};

// One block, opened by one header line.
class SubSection
{
public:
    typedef GenericIterator<Key> iterator;

    explicit SubSection(int line);
    ~SubSection();
    SubSection(const SubSection&) = delete;
    SubSection& operator=(const SubSection&) = delete;

    // A lookup of an absent key leaves an empty key behind.
    Key& operator[](const std::string& name);
    Key& NewKey(const std::string& name);
    SubKey& NewSubKey(const std::string& name, const std::string& value, int line);
    void CleanKeys();
    int GetLineNo() const { return mLineNo; }
    int GetKeyCount() const { return mKeyList.count(); }

    iterator begin() const { return iterator(mKeyList.first()); }
    iterator end() const { return iterator(); }
    void Dump(std::ostream& os) const;

private:
    friend class Section;
    friend class GenericIterator<SubSection>;
    friend class Chain<SubSection>;
    int mLineNo;
    Chain<Key> mKeyList;
    SubSection* mNext = nullptr;
    SubSection* mPrev = nullptr;
    std::map<std::string, Key*> mKeys;
};

// All blocks that carry one header name, in file order.
class Section
{
public:
    typedef GenericIterator<SubSection> iterator;

    explicit Section(const std::string& name);
    ~Section();
    Section(const Section&) = delete;
    Section& operator=(const Section&) = delete;

    const std::string& GetName() const { return mName; }
    SubSection& NewSubSection(int line);
    void CleanSubSections();
    void CheckEmpty();
    int GetSubSectionCount() const { return mSubSections.count(); }

    iterator begin() const { return iterator(mSubSections.first()); }
    iterator end() const { return iterator(); }
    void Dump(std::ostream& os) const;

private:
    friend class File;
    friend class GenericIterator<Section>;
    friend class Chain<Section>;
    std::string mName;
    Chain<SubSection> mSubSections;
    Section* mNext = nullptr;
    Section* mPrev = nullptr;
};

class File
{
public:
    typedef GenericIterator<Section> iterator;

    File();
    explicit File(const std::string& path);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool Open(const std::string& path);
    void Close();
    void Sync() {}
    bool IsOpen() const { return mOpen; }
    const std::string& GetFileName() const { return mFileName; }
    int GetSectionCount() const { return mSectionList.count(); }

    // A lookup of an absent section leaves an empty section behind.
    Section& operator[](const std::string& name);
    Section& NewSection(const std::string& name);
    SubSection& NewSubSection(const std::string& name, int line);

    iterator begin() const { return iterator(mSectionList.first()); }
    iterator end() const { return iterator(); }
    void Dump(std::ostream& os) const;

    void IntOpen();
    // A read that fails (a folder, an I/O error) leaves the file closed and
    // empty; no exception from the stream leaves it (memory exhaustion aside).
    void IntOpenStream(std::istream& is);

private:
    friend std::istream& operator>>(std::istream& is, File& file);
    void DeleteSections();

    std::string mFileName;
    bool mOpen = false;
    Chain<Section> mSectionList;
    std::map<std::string, Section*> mSections;
};

std::istream& operator>>(std::istream& is, File& file);

} // namespace IniFile
