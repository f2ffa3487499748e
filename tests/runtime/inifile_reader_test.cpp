#include "runtime/inifile_reader.hpp"
#include "runtime/traces.hpp"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "tests/runtime/test_util.hpp"

namespace {

enum class AddrType { none = 0, lemzgw = 1, velm = 2, lemzgwPd = 4, other = 16 };

const IniFile::Symbol<AddrType> addrTypes[] = {
    {"lemzgw", AddrType::lemzgw},
    {"velm", AddrType::velm},
    {"lemzgw.pd", AddrType::lemzgwPd},
    {nullptr, AddrType::none},
};

// One block as text, read by a reader with required "host" (string) and
// "name" (string) and optional "enabled" (bool) and "type" (enumeration).
struct ReaderCase {
    const char* what;
    const char* text;
    bool result;
    const char* messages;
    const char* host;
    const char* name;
    bool enabled;
    AddrType type;
    bool enabled_taken;
    bool type_taken;
};

TEST(IniFileReader, MessagesAndTargets)
{
    const ReaderCase cases[] = {
        {"all present", "[snmpagent]\nhost = 10.0.0.1:161\nname = a\nenabled = yes\ntype = velm\n", true, "",
         "10.0.0.1:161", "a", true, AddrType::velm, true, true},
        {"optional absent", "[snmpagent]\nhost = h\nname = n\n", true, "", "h", "n", false, AddrType::none, false,
         false},
        {"required absent", "\n[snmpagent]\nname = n\nenabled = yes\n", false,
         "snmpagent: required key \"host\" not present, line 2\n", "-", "-", false, AddrType::none, false, false},
        {"second required absent", "[snmpagent]\nhost = h\n", false,
         "snmpagent: required key \"name\" not present, line 1\n", "h", "-", false, AddrType::none, false, false},
        {"required empty string taken", "[snmpagent]\nhost = h\nname =\n", true, "", "h", "", false,
         AddrType::none, false, false},
        {"required twice", "[snmpagent]\nhost = a\nname = n\nhost = b\n", false,
         "snmpagent: required key \"host\" is duplicated!\n"
         "snmpagent:  first occurence at 2 line.\n"
         "snmpagent:  second occurence at 4 line.\n",
         "-", "-", false, AddrType::none, false, false},
        {"required three times", "[snmpagent]\nhost = a\nhost = b\n\nhost = c\n", false,
         "snmpagent: required key \"host\" specified more than once: 2 3 5 lines\n", "-", "-", false,
         AddrType::none, false, false},
        {"optional invalid", "[snmpagent]\nhost = h\nname = n\nenabled = Yes\n", true,
         "snmpagent: optional key \"enabled\" has invalid value=\"Yes\", line 4. Key will be ignored.\n", "h", "n",
         false, AddrType::none, false, false},
        {"optional twice", "[snmpagent]\nhost = h\nname = n\nenabled = yes\nenabled = no\n", true,
         "snmpagent: optional key \"enabled\" is duplicated!\n"
         "snmpagent:  first occurence at 4 line.\n"
         "snmpagent:  second occurence at 5 line. Both keys will be ignored.\n",
         "h", "n", false, AddrType::none, false, false},
        {"optional three times", "[snmpagent]\ntype = 1\nhost = h\ntype = 2\nname = n\ntype = 4\n", true,
         "snmpagent: optional key \"type\" specified more than once: 2 4 6 lines. All keys will be ignored.\n", "h",
         "n", false, AddrType::none, false, false},
        {"enum hexadecimal", "[snmpagent]\nhost = h\nname = n\ntype = 0x10\n", true, "", "h", "n", false,
         AddrType::other, false, true},
        {"enum octal", "[snmpagent]\nhost = h\nname = n\ntype = 02\n", true, "", "h", "n", false, AddrType::velm,
         false, true},
        {"enum word", "[snmpagent]\nhost = h\nname = n\ntype = lemzgw\n", true, "", "h", "n", false,
         AddrType::lemzgw, false, true},
        {"enum trailing text", "[snmpagent]\nhost = h\nname = n\ntype = 12abc\n", true,
         "snmpagent: optional key \"type\" has invalid value=\"12abc\", line 4. Key will be ignored.\n", "h", "n",
         false, AddrType::none, false, false},
        {"enum empty", "[snmpagent]\nhost = h\nname = n\ntype =\n", true,
         "snmpagent: optional key \"type\" has invalid value=\"\", line 4. Key will be ignored.\n", "h", "n", false,
         AddrType::none, false, false},
        {"enum out of range", "[snmpagent]\nhost = h\nname = n\ntype = 99999999999999999999999\n", true,
         "snmpagent: optional key \"type\" has invalid value=\"99999999999999999999999\", line 4. Key will be "
         "ignored.\n",
         "h", "n", false, AddrType::none, false, false},
        {"undeclared keys ignored", "[snmpagent]\nhost = h\nname = n\nport = x\nport = y\n", true, "", "h", "n",
         false, AddrType::none, false, false},
    };
    for (const ReaderCase& c : cases) {
        IniFile::File file;
        std::istringstream is(c.text);
        is >> file;
        std::ostringstream out;
        IniFile::Reader reader("snmpagent: ", out);
        std::string host = "-", name = "-";
        bool enabled = false;
        AddrType type = AddrType::none;
        reader.required.add(&host, "host");
        reader.required.add(&name, "name");
        bool& enabledTaken = reader.optional.add(&enabled, "enabled");
        bool& typeTaken = reader.optional.add(&type, "type", addrTypes);
        enabledTaken = true; // the reader clears it before looking: shows whether optional keys were examined
        typeTaken = true;
        const bool reachedOptional = c.result;
        EXPECT_EQ(c.result, reader(*file["snmpagent"].begin())) << c.what;
        EXPECT_EQ(c.messages, out.str()) << c.what;
        EXPECT_EQ(c.host, host) << c.what;
        EXPECT_EQ(c.name, name) << c.what;
        EXPECT_EQ(c.enabled, enabled) << c.what;
        EXPECT_EQ(c.type, type) << c.what;
        if (reachedOptional) {
            EXPECT_EQ(c.enabled_taken, enabledTaken) << c.what;
            EXPECT_EQ(c.type_taken, typeTaken) << c.what;
        } else {
            // A failing required key stops the parse before any optional key.
            EXPECT_TRUE(enabledTaken) << c.what;
            EXPECT_TRUE(typeTaken) << c.what;
        }
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
    const struct {
        const char* word;
        bool ok;
        bool value;
    } cases[] = {
        {"true", true, true},      {"false", true, false},     {"yes", true, true},  {"no", true, false},
        {"enabled", true, true},   {"disabled", true, false},  {"enable", true, true}, {"disable", true, false},
        {"1", true, true},         {"0", true, false},         {"on", false, false}, {"off", false, false},
        {"YES", false, false},     {"", false, false},         {"yes ", false, false}, {"2", false, false},
    };
    for (const auto& c : cases) {
        bool target = false;
        IniFile::Private::TKeyValue<bool> kv(&target, "k", nullptr);
        EXPECT_EQ(c.ok, kv.parse(c.word)) << c.word;
        EXPECT_EQ(c.ok, kv.parsed) << c.word;
        EXPECT_EQ(c.value, target) << c.word;
    }
}

// ---- Trace flags ------------------------------------------------------------

struct TraceCase {
    const char* what;
    const char* text;
    bool hdlc, lemzgw, events, internal;
    const char* messages;
};

TEST(TraceCtl, ConfigureFromSection)
{
    const TraceCase cases[] = {
        {"no section", "", false, false, false, false, ""},
        {"all four", "[traces]\nsignalling.hdlc = yes\nsignalling.lemzgw = 1\nsignalling.events = true\n"
                     "monitoring.internal = enabled\n",
         true, true, true, true, ""},
        {"enabled word", "[traces]\nsignalling.hdlc = enabled\n", true, false, false, false, ""},
        {"invalid word", "[traces]\n\nsignalling.hdlc = Yes\n", false, false, false, false,
         "traces: optional key \"signalling.hdlc\" has invalid value=\"Yes\", line 3. Key will be ignored.\n"},
        {"duplicated", "[traces]\nsignalling.events = yes\nsignalling.events = yes\n", false, false, false, false,
         "traces: optional key \"signalling.events\" is duplicated!\n"
         "traces:  first occurence at 2 line.\n"
         "traces:  second occurence at 3 line. Both keys will be ignored.\n"},
        {"last block decides", "[traces]\nsignalling.events = yes\n[traces]\nsignalling.hdlc = yes\n", true, false,
         false, false, ""},
        {"other sections ignored", "[other]\nsignalling.hdlc = yes\n[traces]\nmonitoring.internal = on\n", false,
         false, false, false,
         "traces: optional key \"monitoring.internal\" has invalid value=\"on\", line 4. Key will be ignored.\n"},
    };
    for (const TraceCase& c : cases) {
        IniFile::File file;
        std::istringstream is(c.text);
        is >> file;
        TraceCtl flags;
        flags.signalling.hdlc = flags.signalling.lemzgw = flags.signalling.events = true;
        flags.monitoring.internal = true;
        testutil::Capture err(std::cerr);
        flags = TraceCtl();
        flags.Configure(file["traces"]);
        EXPECT_EQ(c.hdlc, flags.signalling.hdlc) << c.what;
        EXPECT_EQ(c.lemzgw, flags.signalling.lemzgw) << c.what;
        EXPECT_EQ(c.events, flags.signalling.events) << c.what;
        EXPECT_EQ(c.internal, flags.monitoring.internal) << c.what;
        EXPECT_EQ(c.messages, err.text()) << c.what;
    }
}

} // namespace
