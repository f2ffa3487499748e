#include "runtime/inifile_reader.hpp"
#include "runtime/traces.hpp"

#include "tests/runtime/test_util.hpp"

namespace
{

enum class AddrType { none = 0, lemzgw = 1, velm = 2, lemzgwPd = 4, other = 16 };

const IniFile::Symbol<AddrType> addrTypes[] = {
    {"lemzgw", AddrType::lemzgw},
    {"velm", AddrType::velm},
    {"lemzgw.pd", AddrType::lemzgwPd},
    {nullptr, AddrType::none},
};

// One [snmpagent] block, read by a reader with required "host" and "name"
// (strings) and optional "enabled" (bool) and "type" (enumeration). The
// outcome shows the result, the targets, and a "*" for each taken flag still
// set (the reader clears them when it reaches the optional keys, so a
// failing required key leaves both set).
std::string Read(const std::string& body, std::ostream& out)
{
    IniFile::File file;
    // A leading blank line goes before the header.
    std::istringstream is(body[0] == '\n' ? "\n[snmpagent]\n" + body.substr(1) : "[snmpagent]\n" + body);
    is >> file;
    IniFile::Reader reader("snmpagent: ", out);
    std::string host = "-", name = "-";
    bool enabled = false;
    AddrType type = AddrType::none;
    reader.required.add(&host, "host");
    reader.required.add(&name, "name");
    bool& enabledTaken = reader.optional.add(&enabled, "enabled");
    bool& typeTaken = reader.optional.add(&type, "type", addrTypes);
    enabledTaken = typeTaken = true;
    const bool ok = reader(*file["snmpagent"].begin());
    return std::string(ok ? "ok" : "failed") + " host=" + host + " name=" + name +
           " enabled=" + std::to_string(enabled) + (enabledTaken ? "*" : "") +
           " type=" + std::to_string(int(type)) + (typeTaken ? "*" : "");
}

TEST(IniFileReader, MessagesAndTargets)
{
    // A block's body, the outcome, the messages.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"host = 10.0.0.1:161\nname = a\nenabled = yes\ntype = velm\n",
         "ok host=10.0.0.1:161 name=a enabled=1* type=2*", ""},
        {"name =\nhost = h\n", "ok host=h name= enabled=0 type=0", ""},
        {"\nname = n\nenabled = yes\n", "failed host=- name=- enabled=0* type=0*",
         "snmpagent: required key \"host\" not present, line 2\n"},
        {"host = a\nname = n\nhost = b\n", "failed host=- name=- enabled=0* type=0*",
         "snmpagent: required key \"host\" is duplicated!\nsnmpagent:  first occurence at 2 line.\n"
         "snmpagent:  second occurence at 4 line.\n"},
        {"host = a\nhost = b\n\nhost = c\n", "failed host=- name=- enabled=0* type=0*",
         "snmpagent: required key \"host\" specified more than once: 2 3 5 lines\n"},
        {"host = h\nname = n\nenabled = yes\nenabled = no\n", "ok host=h name=n enabled=0 type=0",
         "snmpagent: optional key \"enabled\" is duplicated!\nsnmpagent:  first occurence at 4 line.\n"
         "snmpagent:  second occurence at 5 line. Both keys will be ignored.\n"},
        {"type = 1\nhost = h\ntype = 2\nname = n\ntype = 4\n", "ok host=h name=n enabled=0 type=0",
         "snmpagent: optional key \"type\" specified more than once: 2 4 6 lines. All keys will be "
         "ignored.\n"},
        {"host = h\nname = n\ntype = 0x10\n", "ok host=h name=n enabled=0 type=16*", ""},
        {"host = h\nname = n\ntype = 12abc\n", "ok host=h name=n enabled=0 type=0",
         "snmpagent: optional key \"type\" has invalid value=\"12abc\", line 4. Key will be ignored.\n"},
        {"host = h\nname = n\ntype = 99999999999999999999999\n", "ok host=h name=n enabled=0 type=0",
         "snmpagent: optional key \"type\" has invalid value=\"99999999999999999999999\", line 4. "
         "Key will be ignored.\n"},
        // Beyond what the enumeration holds, also where long is wider: never wrapped.
        {"host = h\nname = n\ntype = 4294967298\n", "ok host=h name=n enabled=0 type=0",
         "snmpagent: optional key \"type\" has invalid value=\"4294967298\", line 4. Key will be ignored.\n"},
        // A negative number fits a signed enumeration.
        {"host = h\nname = n\ntype = -2\n", "ok host=h name=n enabled=0 type=-2*", ""},
        {"host = h\nname = n\nport = x\nport = y\n", "ok host=h name=n enabled=0 type=0", ""},
    };
    for (const auto& [body, outcome, messages] : cases) {
        std::ostringstream out;
        EXPECT_EQ(outcome, Read(body, out)) << body;
        EXPECT_EQ(messages, out.str()) << body;
    }
}

TEST(IniFileReader, RequiredInvalidValue)
{
    IniFile::File file;
    std::istringstream is("[s]\n\nflag = maybe\n");
    is >> file;
    std::ostringstream out;
    IniFile::Reader reader("p: ", out);
    bool flag = true;
    bool& taken = reader.required.add(&flag, "flag");
    EXPECT_FALSE(reader(*file["s"].begin()));
    EXPECT_EQ("p: required key \"flag\" has invalid value=\"maybe\", line 3\n", out.str());
    EXPECT_TRUE(flag);
    EXPECT_FALSE(taken);
}

TEST(IniFileReader, BooleanWords)
{
    // A word, whether it parses, the value then.
    const std::tuple<const char*, bool, bool> cases[] = {
        {"true", true, true},    {"false", true, false},    {"yes", true, true},    {"no", true, false},
        {"enabled", true, true}, {"disabled", true, false}, {"enable", true, true}, {"disable", true, false},
        {"1", true, true},       {"0", true, false},        {"on", false, false},   {"off", false, false},
        {"YES", false, false},   {"", false, false},        {"yes ", false, false}, {"2", false, false},
    };
    for (const auto& [word, ok, value] : cases) {
        bool target = false;
        IniFile::Private::TKeyValue<bool> kv(&target, "k", nullptr);
        EXPECT_EQ(ok, kv.parse(word)) << word;
        EXPECT_EQ(ok, kv.parsed) << word;
        EXPECT_EQ(value, target) << word;
    }
}

} // namespace
