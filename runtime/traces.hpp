#pragma once
// The global trace flags, read from the [traces] blocks of the configuration
// file. The traced code reads them directly, without any lock: they are set
// once at start-up on the main thread.
#include "runtime/inifile.hpp"

struct TraceCtl {
    struct Signalling {
        bool hdlc;   // "signalling.hdlc": HDLC driver and HDLC packet slots
        bool lemzgw; // "signalling.lemzgw": read, consulted by nobody
        bool events; // "signalling.events": DSP processing events
    };
    struct Monitoring {
        bool internal; // "monitoring.internal": monitoring service internals
    };

    Signalling signalling;
    Monitoring monitoring;

    // Every block of the section in file order: the last block decides.
    void Configure(IniFile::Section& section);
    void Configure(IniFile::SubSection& block);
};

// Zero-initialised before main runs: every trace is off.
extern TraceCtl traces;
