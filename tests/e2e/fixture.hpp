#pragma once
// What the end-to-end tests share: the daemon serving under its private root
// with a controller connected, stopped by SIGTERM at the end of the test; the
// next message that is not a line status report (the line interfaces send one
// every second while a controller is connected); the board's journal lines.
#include <csignal>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "asn1/asn1.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "tests/support/controller.hpp"

namespace e2etest
{

using e2e::Bytes;
using Lines = std::vector<std::string>;

// A trunk status signal: what the line interfaces send on their own.
inline bool status_report(const Bytes& payload)
{
    LGCP::Message m;
    ASN1::CoderEnv env;
    const char* p = reinterpret_cast<const char*>(payload.data());
    return ASN1::decode(p, p + payload.size(), &env, m, true) && m.get_pdu().signal_isSelected() &&
           m.get_pdu().get_signal().trunkStatus_isSelected();
}

class DaemonTest : public ::testing::Test
{
protected:
    void start(const e2e::DaemonOptions& options = {})
    {
        ASSERT_TRUE(daemon.start_serving(options)) << daemon.err();
        ASSERT_TRUE(controller.connect(daemon.port()));
    }
    void TearDown() override
    {
        if (daemon.pid() <= 0)
            return;
        daemon.signal(SIGTERM);
        EXPECT_EQ(0, daemon.wait_exit());
    }
    bool send(const LGCP::Message& m) { return controller.send_payload(e2e::encode(m)); }
    // The next payload that is not a line status report.
    bool next(Bytes& payload)
    {
        while (controller.receive_payload(payload))
            if (!status_report(payload))
                return true;
        return false;
    }
    // The journal lines that hold `text`; the journal is emptied after.
    Lines journal(const std::string& text = "")
    {
        std::istringstream in(daemon.board("journal"));
        daemon.board("clear");
        Lines out;
        for (std::string line; std::getline(in, line);)
            if (line.find(text) != std::string::npos)
                out.push_back(line);
        return out;
    }

    e2e::Daemon daemon;
    e2e::Controller controller;
};

} // namespace e2etest
