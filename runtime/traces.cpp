#include "runtime/traces.hpp"

#include "runtime/inifile_reader.hpp"

#include <iostream>

TraceCtl traces;

void TraceCtl::Configure(IniFile::Section& section)
{
    for (IniFile::Section::iterator i = section.begin(); i != section.end(); ++i)
        Configure(*i);
}

void TraceCtl::Configure(IniFile::SubSection& block)
{
    IniFile::Reader reader("traces: ", std::cerr);
    *this = TraceCtl();
    reader.optional.add(&signalling.hdlc, "signalling.hdlc");
    reader.optional.add(&signalling.lemzgw, "signalling.lemzgw");
    reader.optional.add(&signalling.events, "signalling.events");
    reader.optional.add(&monitoring.internal, "monitoring.internal");
    reader(block);
}
