#include "runtime/traces.hpp"

#include "runtime/inifile.hpp"
#include "tests/runtime/test_util.hpp"

namespace
{

TEST(TraceCtl, ConfigureFromSection)
{
    // A configuration; the flags hdlc, lemzgw, events and internal; the
    // messages. The last block decides.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"", "0000", ""},
        {"[traces]\nsignalling.hdlc = yes\nsignalling.lemzgw = 1\nsignalling.events = true\n"
         "monitoring.internal = enabled\n",
         "1111", ""},
        {"[traces]\nsignalling.events = yes\n[traces]\nsignalling.hdlc = yes\n", "1000", ""},
        {"[other]\nsignalling.hdlc = yes\n[traces]\nmonitoring.internal = on\n", "0000",
         "traces: optional key \"monitoring.internal\" has invalid value=\"on\", line 4. Key will be "
         "ignored.\n"},
    };
    for (const auto& [text, expected, messages] : cases) {
        IniFile::File file;
        std::istringstream is(text);
        is >> file;
        TraceCtl flags{}; // zeroed, as the global one is
        testutil::Capture err(std::cerr);
        flags.Configure(file["traces"]);
        std::string got;
        for (bool flag : {flags.signalling.hdlc, flags.signalling.lemzgw, flags.signalling.events,
                          flags.monitoring.internal})
            got += flag ? '1' : '0';
        EXPECT_EQ(expected, got) << text;
        EXPECT_EQ(messages, err.text()) << text;
    }
}

} // namespace
