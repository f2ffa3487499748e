#pragma once
// A service bound beside the slot manager that sees every signal a slot sends,
// each as one line of value notation (also the end-to-end media test's form).
#include <string>
#include <vector>

#include "asn1/asn1.hpp"
#include "control/ctrl_server.hpp"
#include "messages/lgcp/LGCP.hpp"

namespace slotstest
{

// A value's notation on one line, runs of blanks as one.
inline std::string oneLine(ASN1::AbstractData const& value)
{
    std::string one;
    for (char c : value.asValueNotation()) {
        c = c == '\n' ? ' ' : c;
        if (!(c == ' ' && !one.empty() && one.back() == ' '))
            one += c;
    }
    return one;
}

class SignalSpy : public CtrlSrv::Service
{
public:
    void OnConnect() override {}
    void OnDisconnect() override {}
    bool OnCommand(LGCP::Command const&) override { return false; }
    void OnSignal(LGCP::Signal const& s) override { signals.push_back(oneLine(s)); }
    std::vector<std::string> signals;
};

} // namespace slotstest
