#include "runtime/inifile.hpp"

#include <cstring>

#include "tests/runtime/test_util.hpp"

namespace
{

// The tree as one line: "[name@line]" per block in file order (sections in
// creation order), then "key='value'@line" per occurrence.
std::string Render(const IniFile::File& file)
{
    std::ostringstream os;
    for (IniFile::File::iterator s = file.begin(); s != file.end(); ++s) {
        for (IniFile::Section::iterator b = s->begin(); b != s->end(); ++b) {
            os << "[" << s->GetName() << "@" << b->GetLineNo() << "]";
            for (IniFile::SubSection::iterator k = b->begin(); k != b->end(); ++k)
                for (IniFile::Key::iterator v = k->begin(); v != k->end(); ++v)
                    os << " " << k->GetName() << "='" << v->GetStr() << "'@" << v->GetLineNo();
        }
    }
    return os.str();
}

std::string Parse(const std::string& text)
{
    IniFile::File file;
    std::istringstream is(text);
    is >> file;
    EXPECT_TRUE(file.IsOpen());
    return Render(file);
}

TEST(IniFileParser, Grammar)
{
    // What each case shows, the text, and the tree.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"text before the first header", "junk = 1\n# c\n[s]\nk = v\n", "[s@3] k='v'@4"},
        {"last line empty value without LF",
         "[traces]\nsignalling.hdlc =", "[traces@1] signalling.hdlc=''@2"},
        {"last line key without = dropped", "[s]\nflag", "[s@1]"},
        {"hash inside value", "[s]\na = b#c\n", "[s@1] a='b#c'@2"},
        {"comment instead of value", "[s]\na = # note\n", "[s@1] a=''@2"},
        {"inner blanks kept", "[s]\n  a  b  =  x  y  \n", "[s@1] a  b='x  y'@2"},
        {"line without = in a block", "[s]\nflag\nx = 1\n", "[s@1] x='1'@3"},
        {"[ after a broken header opens one", "[broken\nx = [y]\nz = 1\n", "[y@2] z='1'@3"},
        {"header name untrimmed", "[ x ]\nk = 1\n[a b]\n", "[ x @1] k='1'@2[a b@3]"},
        {"text after ] ignored", "[s] trailing = 1\nk = 2\n", "[s@1] k='2'@2"},
        {"hash and bracket in a header", "[a#[b]\n", "[a#[b@1]"},
        {"blank lines and comment lines", "\n\n[s]\n\n   \n# k = 1\n\tk = 2\n", "[s@3] k='2'@7"},
        {"tab inside key and value", "[s]\na\tb = x\ty\n", "[s@1] a\tb='x\ty'@2"},
        {"tab before value is text", "[s]\na =\tb\n", "[s@1] a='\tb'@2"},
        {"= inside value", "[s]\na = b=c\n", "[s@1] a='b=c'@2"},
        {"repeated blocks stay apart", "[t]\na = 1\n[u]\n[t]\nb = 2\n", "[t@1] a='1'@2[t@4] b='2'@5[u@3]"},
        {"unterminated header at EOF", "[s]\n[t", "[s@1]"},
        {"value ending in comment without LF", "[s]\na = v #x", "[s@1] a='v'@2"},
    };
    for (const auto& [what, text, tree] : cases)
        EXPECT_EQ(tree, Parse(text)) << what;
}

// Lookups of absent names leave placeholders; a repeated key answers with
// its first value and keeps the last.
TEST(IniFileTree, LookupsAndRepeatedKeys)
{
    IniFile::File file;
    std::istringstream is("[s]\nk = a\nk = b\nk = c\n");
    is >> file;
    IniFile::SubSection& block = *file["s"].begin();
    IniFile::Key& key = block["k"];
    EXPECT_EQ(3, key.GetCount());
    EXPECT_EQ("a", key.GetStr());
    EXPECT_EQ(2, key.GetFirstSubKey().GetLineNo());
    EXPECT_EQ("c", key.GetLastSubKey().GetStr());
    EXPECT_EQ(4, key.GetLastSubKey().GetLineNo());

    IniFile::Key& absent = block["missing"];
    EXPECT_EQ(0, absent.GetCount());
    EXPECT_EQ("", absent.GetFirstSubKey().GetStr());
    EXPECT_EQ(-1, absent.GetFirstSubKey().GetLineNo());
    EXPECT_EQ(1, absent.GetCount());
    EXPECT_EQ(2, block.GetKeyCount());
    IniFile::Section& none = file["traces"];
    EXPECT_EQ(2, file.GetSectionCount());
    none.CheckEmpty();
    none.CheckEmpty();
    EXPECT_EQ(1, none.GetSubSectionCount());
    EXPECT_EQ(-1, none.begin()->GetLineNo());
}

TEST(IniFileSubKey, TypedAccess)
{
    // A text, and what GetBool(false), GetBool(true), GetInt(-7) and
    // GetFloat(-1.5) make of it.
    const std::tuple<const char*, bool, bool, int, float> cases[] = {
        {"true", true, true, -7, -1.5f},    {"yes", true, true, -7, -1.5f},
        {"1", true, true, 1, 1.0f},         {"on", true, true, -7, -1.5f},
        {"false", false, false, -7, -1.5f}, {"no", false, false, -7, -1.5f},
        {"0", false, false, 0, 0.0f},       {"off", false, false, -7, -1.5f},
        {"Yes", false, true, -7, -1.5f},    {"enabled", false, true, -7, -1.5f},
        {"42abc", false, true, 42, 42.0f},  {" -12", false, true, -12, -12.0f},
        {"2.5", false, true, 2, 2.5f},      {"", false, true, -7, -1.5f},
    };
    for (const auto& [text, b, b_def, i, f] : cases) {
        IniFile::SubKey v(text, 1);
        EXPECT_EQ(b, v.GetBool(false)) << text;
        EXPECT_EQ(b_def, v.GetBool(true)) << text;
        EXPECT_EQ(i, v.GetInt(-7)) << text;
        EXPECT_EQ(f, v.GetFloat(-1.5f)) << text;
    }

    IniFile::SubKey v("", 1);
    v.SetBool(true);
    EXPECT_EQ("yes", v.GetStr());
    v.SetBool(false);
    EXPECT_EQ("no", v.GetStr());
}

TEST(IniFileFile, OpenCloseReopen)
{
    testutil::TempDir dir(false);
    const std::string path = dir / "server.conf";

    IniFile::File missing;
    EXPECT_FALSE(missing.Open(path));
    EXPECT_FALSE(missing.IsOpen());

    dir.write("server.conf", "[a]\r\nx = 1\r\n");
    IniFile::File file(path);
    EXPECT_TRUE(file.IsOpen());
    EXPECT_EQ(path, file.GetFileName());
    EXPECT_EQ("[a@1] x='1'@2", Render(file));

    dir.write("server.conf", "[b]\ny = 2\n");
    EXPECT_TRUE(file.Open(path));
    EXPECT_EQ("[b@1] y='2'@2", Render(file));

    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ("", Render(file));
    file.Close();
}

// Text that breaks off with a read error after a first block.
class FailingBuf : public std::streambuf
{
protected:
    int_type underflow() override
    {
        if (mServed)
            throw std::ios_base::failure("read error");
        mServed = true;
        setg(mText, mText, mText + std::strlen(mText));
        return traits_type::to_int_type(mText[0]);
    }

private:
    char mText[16] = "[a]\nx = 1\n[b]\n";
    bool mServed = false;
};

// A file that opens but cannot be read is a file that cannot be opened: the
// tree it held before is gone, nothing half-read stays, and nothing is thrown.
TEST(IniFileFile, ReadErrorLeavesItClosedAndEmpty)
{
    testutil::TempDir dir(false);
    dir.write("server.conf", "[a]\nx = 1\n");
    for (const bool folder : {true, false}) {
        SCOPED_TRACE(folder ? "folder" : "stream");
        IniFile::File file(dir / "server.conf");
        ASSERT_EQ("[a@1] x='1'@2", Render(file));
        if (folder) {
            EXPECT_FALSE(file.Open(dir.path()));
        } else {
            FailingBuf buf;
            std::istream is(&buf);
            EXPECT_NO_THROW(is >> file);
        }
        EXPECT_FALSE(file.IsOpen());
        EXPECT_EQ(0, file.GetSectionCount());
    }
}

} // namespace
