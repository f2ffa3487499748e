#include "runtime/inifile.hpp"

#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <new>
#include <sstream>

namespace IniFile
{

// ---- SubKey ---------------------------------------------------------------

SubKey::SubKey(const std::string& value, int line) : mValue(value), mLineNo(line) {}

bool SubKey::GetBool(bool def) const
{
    if (mValue == "true" || mValue == "yes" || mValue == "1" || mValue == "on")
        return true;
    if (mValue == "false" || mValue == "no" || mValue == "0" || mValue == "off")
        return false;
    return def;
}

void SubKey::SetBool(bool b)
{
    mValue = b ? "yes" : "no";
}

int SubKey::GetInt(int def) const
{
    int n = 0;
    return std::sscanf(mValue.c_str(), "%d", &n) == 1 ? n : def;
}

void SubKey::SetInt(int n)
{
    std::ostringstream os;
    os << n;
    mValue = os.str();
}

float SubKey::GetFloat(float def) const
{
    float x = 0;
    return std::sscanf(mValue.c_str(), "%f", &x) == 1 ? x : def;
}

void SubKey::SetFloat(float x)
{
    std::ostringstream os;
    os << x;
    mValue = os.str();
}

void SubKey::Dump(std::ostream& os) const
{
    os << "dumping IniFile::SubKey\n";
    os << "mValue=\"" << mValue << "\"\n";
    os << "mLineNo=" << mLineNo << "\n";
}

// ---- Key ------------------------------------------------------------------

Key::Key(const std::string& name) : mName(name) {}

Key::~Key()
{
    CleanSubKeys();
}

SubKey& Key::NewSubKey(const std::string& value, int line)
{
    return mSubKeys.append(new SubKey(value, line));
}

void Key::CleanSubKeys()
{
    mSubKeys.clear();
}

void Key::CheckEmpty()
{
    if (mSubKeys.count() == 0)
        NewSubKey("", -1);
}

SubKey& Key::GetFirstSubKey()
{
    CheckEmpty();
    return *mSubKeys.first();
}

SubKey& Key::GetLastSubKey()
{
    CheckEmpty();
    return *mSubKeys.last();
}

void Key::Dump(std::ostream& os) const
{
    os << "dumping IniFile::Key\n";
    os << "mName=\"" << mName << "\"\n";
    os << "mSubKeyCount=" << mSubKeys.count() << "\n";
    for (iterator i = begin(); i != end(); ++i)
        i->Dump(os);
}

// ---- SubSection -----------------------------------------------------------

SubSection::SubSection(int line) : mLineNo(line) {}

SubSection::~SubSection()
{
    CleanKeys();
}

Key& SubSection::operator[](const std::string& name)
{
    std::map<std::string, Key*>::iterator found = mKeys.find(name);
    if (found != mKeys.end())
        return *found->second;
    return NewKey(name);
}

Key& SubSection::NewKey(const std::string& name)
{
    Key& node = mKeyList.append(new Key(name));
    mKeys[name] = &node;
    return node;
}

SubKey& SubSection::NewSubKey(const std::string& name, const std::string& value, int line)
{
    return (*this)[name].NewSubKey(value, line);
}

void SubSection::CleanKeys()
{
    mKeyList.clear();
    mKeys.clear();
}

void SubSection::Dump(std::ostream& os) const
{
    os << "dumping IniFile::SubSection\n";
    os << "mLineNo=\"" << mLineNo << "\"\n";
    os << "mKeyCount=" << mKeyList.count() << "\n";
    for (iterator i = begin(); i != end(); ++i)
        i->Dump(os);
}

// ---- Section --------------------------------------------------------------

Section::Section(const std::string& name) : mName(name) {}

Section::~Section()
{
    CleanSubSections();
}

SubSection& Section::NewSubSection(int line)
{
    return mSubSections.append(new SubSection(line));
}

void Section::CleanSubSections()
{
    mSubSections.clear();
}

void Section::CheckEmpty()
{
    if (mSubSections.count() == 0)
        NewSubSection(-1);
}

void Section::Dump(std::ostream& os) const
{
    os << "dumping IniFile::Section\n";
    os << "mName=\"" << mName << "\"\n";
    os << "mSubSectionCount=" << mSubSections.count() << "\n";
    for (iterator i = begin(); i != end(); ++i)
        i->Dump(os);
}

// ---- File -----------------------------------------------------------------

File::File() {}

File::File(const std::string& path)
{
    Open(path);
}

File::~File()
{
    Close();
    // Lookups on a file that never opened may have left empty sections.
    DeleteSections();
}

bool File::Open(const std::string& path)
{
    Close();
    mFileName = path;
    IntOpen();
    return mOpen;
}

void File::IntOpen()
{
    std::ifstream is(mFileName.c_str(), std::ios::in | std::ios::binary);
    if (is.is_open())
        IntOpenStream(is);
}

void File::Close()
{
    if (!mOpen)
        return;
    DeleteSections();
    mOpen = false;
}

void File::DeleteSections()
{
    mSectionList.clear();
    mSections.clear();
}

Section& File::operator[](const std::string& name)
{
    std::map<std::string, Section*>::iterator found = mSections.find(name);
    if (found != mSections.end())
        return *found->second;
    return NewSection(name);
}

Section& File::NewSection(const std::string& name)
{
    Section& node = mSectionList.append(new Section(name));
    mSections[name] = &node;
    return node;
}

SubSection& File::NewSubSection(const std::string& name, int line)
{
    return (*this)[name].NewSubSection(line);
}

void File::Dump(std::ostream& os) const
{
    os << "dumping IniFile::File\n";
    os << "mFileName=\"" << mFileName << "\"\n\n";
    os << "mSectionCount=" << mSectionList.count() << "\n";
    for (iterator i = begin(); i != end(); ++i)
        i->Dump(os);
}

std::istream& operator>>(std::istream& is, File& file)
{
    file.Close();
    file.mFileName.clear();
    file.IntOpenStream(is);
    return is;
}

// ---- Parser ---------------------------------------------------------------

namespace
{

enum class State { BeforeSection, InHeader, AfterHeader, LineStart, InKey, BeforeValue, InValue };

class Parser
{
public:
    explicit Parser(File& file) : mFile(file) {}

    void Feed(char c)
    {
        if (c == '\r')
            return;
        if (mComment) {
            if (c != '\n')
                return;
            mComment = false;
        }
        Handle(c);
        if (c == '\n')
            ++mLine;
    }

    // A key whose line lacks its final line feed is still stored.
    void Finish()
    {
        if (mState == State::BeforeValue)
            Store("");
        else if (mState == State::InValue)
            Store(mValue);
    }

private:
    void Store(const std::string& value)
    {
        if (mCurrent)
            mCurrent->NewSubKey(mKey, value, mLine);
        mKey.clear();
    }

    void AppendPending(std::string& text)
    {
        text.append(mPending, ' ');
        mPending = 0;
    }

    void Handle(char c)
    {
        switch (mState) {
        case State::BeforeSection:
            if (c == '#')
                mComment = true;
            else if (c == '[')
                OpenHeader();
            break;
        case State::InHeader:
            if (c == '\n') {
                mState = State::BeforeSection;
            } else if (c == ']') {
                mCurrent = &mFile.NewSubSection(mSection, mLine);
                mState = State::AfterHeader;
            } else {
                mSection += c;
            }
            break;
        case State::AfterHeader:
            if (c == '\n')
                mState = State::LineStart;
            else if (c == '#')
                mComment = true;
            break;
        case State::LineStart:
            if (c == '#') {
                mComment = true;
            } else if (c == ' ' || c == '\t' || c == '\n') {
            } else if (c == '[') {
                OpenHeader();
            } else {
                mKey.assign(1, c);
                mPending = 0;
                mState = State::InKey;
            }
            break;
        case State::InKey:
            if (c == ' ') {
                ++mPending;
            } else if (c == '=') {
                mPending = 0;
                mValue.clear();
                mState = State::BeforeValue;
            } else if (c == '\n') {
                mKey.clear();
                mPending = 0;
                mState = State::LineStart;
            } else {
                AppendPending(mKey);
                mKey += c;
            }
            break;
        case State::BeforeValue:
            if (c == ' ') {
            } else if (c == '#') {
                mComment = true;
            } else if (c == '\n') {
                Store("");
                mState = State::LineStart;
            } else {
                mValue.assign(1, c);
                mPending = 0;
                mState = State::InValue;
            }
            break;
        case State::InValue:
            if (c == ' ') {
                ++mPending;
            } else if (c == '#' && mPending > 0) {
                mPending = 0;
                mComment = true;
            } else if (c == '\n') {
                Store(mValue);
                mState = State::LineStart;
            } else {
                AppendPending(mValue);
                mValue += c;
            }
            break;
        }
    }

    void OpenHeader()
    {
        mSection.clear();
        mState = State::InHeader;
    }

    File& mFile;
    State mState = State::BeforeSection;
    int mLine = 1;
    std::string mSection;
    std::string mKey;
    std::string mValue;
    std::string::size_type mPending = 0;
    SubSection* mCurrent = nullptr;
    bool mComment = false;
};

} // namespace

void File::IntOpenStream(std::istream& is)
{
    mOpen = true;
    // A file stream opens a folder, or a file whose device fails, and only its
    // first read throws. Half a configuration is no configuration: such a file
    // is treated like one that cannot be opened.
    try {
        Parser parser(*this);
        std::istreambuf_iterator<char> in(is), end;
        for (; in != end; ++in)
            parser.Feed(*in);
        parser.Finish();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        Close();
    }
}

} // namespace IniFile
