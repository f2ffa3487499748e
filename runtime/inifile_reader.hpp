#pragma once
// Validates one block of the configuration file against declared keys. Each
// declared key is bound to a typed variable and is required or optional; the
// operator reads these messages, so their wording is fixed.
#include "runtime/inifile.hpp"

#include <limits>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

namespace IniFile
{

// One row of a word table; a table ends with a row whose word is null.
template <class T> struct Symbol {
    const char* word;
    T value;
};

namespace Private
{

class KeyValue
{
public:
    explicit KeyValue(const char* name) : mName(name) {}
    virtual ~KeyValue() {}
    virtual const char* name() const { return mName; }
    virtual bool do_parse(const char* text) = 0;

    bool parse(const std::string& value)
    {
        parsed = do_parse(value.c_str());
        return parsed;
    }

    bool parsed = false;

private:
    const char* mName;
};

// Whole-text conversion with strtol base 0; false for an empty text, trailing
// characters or a number out of range.
bool parse_number(const char* text, long& out);

template <class T, class Enable = void> class TKeyValue;

// Enumerations: a word of the table, else a whole number.
template <class T> class TKeyValue<T, typename std::enable_if<std::is_enum<T>::value>::type> : public KeyValue
{
public:
    TKeyValue(T* target, const char* name, const Symbol<T>* table)
        : KeyValue(name), mTarget(target), mTable(table)
    {
    }

    bool do_parse(const char* text) override
    {
        if (mTable) {
            for (const Symbol<T>* row = mTable; row->word; ++row) {
                if (std::string(row->word) == text) {
                    *mTarget = row->value;
                    return true;
                }
            }
        }
        long number = 0;
        if (!parse_number(text, number))
            return false;
        // A number the enumeration cannot hold is out of range too, whatever
        // the width of long: stored, it would wrap to another value.
        using Holder = typename std::underlying_type<T>::type;
        if (number < static_cast<long long>(std::numeric_limits<Holder>::min()))
            return false;
        if (number > 0 && static_cast<unsigned long long>(number) > std::numeric_limits<Holder>::max())
            return false;
        *mTarget = static_cast<T>(number);
        return true;
    }

private:
    T* mTarget;
    const Symbol<T>* mTable;
};

template <> class TKeyValue<bool> : public KeyValue
{
public:
    TKeyValue(bool* target, const char* name, const Symbol<bool>*) : KeyValue(name), mTarget(target) {}
    bool do_parse(const char* text) override;

private:
    bool* mTarget;
};

template <> class TKeyValue<std::string> : public KeyValue
{
public:
    TKeyValue(std::string* target, const char* name, const Symbol<std::string>*)
        : KeyValue(name), mTarget(target)
    {
    }
    bool do_parse(const char* text) override
    {
        *mTarget = text;
        return true;
    }

private:
    std::string* mTarget;
};

} // namespace Private

class Reader
{
public:
    class Field
    {
    public:
        Field() {}
        ~Field();
        Field(const Field&) = delete;
        Field& operator=(const Field&) = delete;

        // Returns the key's "taken" flag, valid for the reader's lifetime.
        template <class T> bool& add(T* target, const char* name, const Symbol<T>* table = nullptr)
        {
            Private::KeyValue* key = new Private::TKeyValue<T>(target, name, table);
            mKeys.push_back(key);
            return key->parsed;
        }

        typedef std::vector<Private::KeyValue*>::const_iterator const_iterator;
        const_iterator begin() const { return mKeys.begin(); }
        const_iterator end() const { return mKeys.end(); }

    private:
        std::vector<Private::KeyValue*> mKeys;
    };

    Reader(const std::string& prefix, std::ostream& out) : mPrefix(prefix), mOut(out) {}

    // True when every required key was taken.
    bool operator()(SubSection& block) { return parse(block); }

    Field required;
    Field optional;

private:
    bool parse(SubSection& block);
    bool ReadRequired(Private::KeyValue& kv, SubSection& block);
    void ReadOptional(Private::KeyValue& kv, SubSection& block);
    void PutLines(Key& key);

    std::string mPrefix;
    std::ostream& mOut;
};

} // namespace IniFile
