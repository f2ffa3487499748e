#include "runtime/traces.hpp"

#include "runtime/inifile.hpp"
#include "tests/runtime/test_util.hpp"

namespace
{

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
        {"all four",
         "[traces]\nsignalling.hdlc = yes\nsignalling.lemzgw = 1\nsignalling.events = true\n"
         "monitoring.internal = enabled\n",
         true, true, true, true, ""},
        {"last block decides", "[traces]\nsignalling.events = yes\n[traces]\nsignalling.hdlc = yes\n", true,
         false, false, false, ""},
        {"other sections ignored", "[other]\nsignalling.hdlc = yes\n[traces]\nmonitoring.internal = on\n",
         false, false, false, false,
         "traces: optional key \"monitoring.internal\" has invalid value=\"on\", line 4. Key will be "
         "ignored.\n"},
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
