#include "runtime/inifile_reader.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace IniFile
{

namespace Private
{

namespace
{

const Symbol<bool> booleans[] = {
    {"true", true},    {"false", false},    {"yes", true},    {"no", false},
    {"enabled", true}, {"disabled", false}, {"enable", true}, {"disable", false},
    {"1", true},       {"0", false},        {nullptr, false},
};

} // namespace

bool parse_number(const char* text, long& out)
{
    if (*text == '\0')
        return false;
    char* end = nullptr;
    errno = 0;
    long number = std::strtol(text, &end, 0);
    // A number that does not fit is not silently clamped to LONG_MAX.
    if (*end != '\0' || errno == ERANGE)
        return false;
    out = number;
    return true;
}

bool TKeyValue<bool>::do_parse(const char* text)
{
    for (const Symbol<bool>* row = booleans; row->word; ++row) {
        if (std::strcmp(row->word, text) == 0) {
            *mTarget = row->value;
            return true;
        }
    }
    return false;
}

} // namespace Private

Reader::Field::~Field()
{
    for (Private::KeyValue* key : mKeys)
        delete key;
}

void Reader::PutLines(Key& key)
{
    for (Key::iterator i = key.begin(); i != key.end(); ++i)
        mOut << " " << i->GetLineNo();
}

bool Reader::ReadRequired(Private::KeyValue& kv, SubSection& block)
{
    Key& key = block[kv.name()];
    const char* name = kv.name();
    switch (key.GetCount()) {
    case 0:
        mOut << mPrefix << "required key \"" << name << "\" not present, line " << block.GetLineNo()
             << std::endl;
        return false;
    case 1:
        if (kv.parse(key.GetFirstSubKey().GetStr()))
            return true;
        mOut << mPrefix << "required key \"" << name << "\" has invalid value=\"" << key.GetStr()
             << "\", line " << key.GetFirstSubKey().GetLineNo() << std::endl;
        return false;
    case 2:
        mOut << mPrefix << "required key \"" << name << "\" is duplicated!" << std::endl;
        mOut << mPrefix << " first occurence at " << key.GetFirstSubKey().GetLineNo() << " line."
             << std::endl;
        mOut << mPrefix << " second occurence at " << key.GetLastSubKey().GetLineNo() << " line."
             << std::endl;
        return false;
    default:
        mOut << mPrefix << "required key \"" << name << "\" specified more than once:";
        PutLines(key);
        mOut << " lines" << std::endl;
        return false;
    }
}

void Reader::ReadOptional(Private::KeyValue& kv, SubSection& block)
{
    kv.parsed = false;
    Key& key = block[kv.name()];
    const char* name = kv.name();
    switch (key.GetCount()) {
    case 0:
        break;
    case 1:
        if (!kv.parse(key.GetFirstSubKey().GetStr()))
            mOut << mPrefix << "optional key \"" << name << "\" has invalid value=\"" << key.GetStr()
                 << "\", line " << key.GetFirstSubKey().GetLineNo() << ". Key will be ignored." << std::endl;
        break;
    case 2:
        mOut << mPrefix << "optional key \"" << name << "\" is duplicated!" << std::endl;
        mOut << mPrefix << " first occurence at " << key.GetFirstSubKey().GetLineNo() << " line."
             << std::endl;
        mOut << mPrefix << " second occurence at " << key.GetLastSubKey().GetLineNo()
             << " line. Both keys will be ignored." << std::endl;
        break;
    default:
        mOut << mPrefix << "optional key \"" << name << "\" specified more than once:";
        PutLines(key);
        mOut << " lines."
             << " All keys will be ignored." << std::endl;
        break;
    }
}

bool Reader::parse(SubSection& block)
{
    for (Private::KeyValue* kv : required)
        if (!ReadRequired(*kv, block))
            return false;
    for (Private::KeyValue* kv : optional)
        ReadOptional(*kv, block);
    return true;
}

} // namespace IniFile
