#pragma once
// The controller's view of the slots that move data through the
// multi-channel controller, on the simulated board and the running loop:
// commands built in place, frames read back as the short texts of
// tests/slots/media_text.hpp.
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/stat.h>

#include "asn1/asn1.hpp"
#include "hardware/hw_mux.hpp"
#include "platform/devices.hpp"
#include "platform/paths.hpp"
#include "platform/sim/mcc_model.hpp"
#include "platform/sim_board.hpp"
#include "runtime/child_wait.hpp"
#include "slots/slots.hpp"
#include "tests/control/fixture.hpp"
#include "tests/slots/media_text.hpp"
#include "tests/support/process_guard.hpp"

namespace mediatest
{

inline platform::SimBoard& board()
{
    static platform::SimBoard* sim = new platform::SimBoard; // the switch keeps its descriptor for good
    return *sim;
}

inline platform::sim::MccModel& mcc()
{
    return *board().model<platform::sim::MccModel>();
}

class MediaSlots : public ctltest::LoopTest
{
protected:
    void SetUp() override
    {
        LoopTest::SetUp();
        std::signal(SIGPIPE, SIG_IGN);
        char dir[] = "/tmp/quelvad-media-XXXXXX";
        root = ::mkdtemp(dir);
        programs.watch(root + "/pids");
        ::setenv("QUELVAD_ROOT", root.c_str(), 1);
        Paths::reload();
        for (const char* d : {"/usr", "/usr/local", "/usr/local/voice", "/usr/local/sbin"})
            ::mkdir((root + d).c_str(), 0755);
        platform::setBoard(&board());
        board().set_present(platform::mcc::kPath, true);
        Slots::pause = [] {};
        ChildWait::Activate();
        {
            ctltest::Capture clog(std::clog);
            HwMux::instance();
        }
        server.Bind(&Slots::instance());
        server.Activate(new ctltest::NullLink);
        static_cast<ctltest::NullLink*>(server.GetLink())->Connected(pair.server, pair.peer);
        pair.server.close();
        board().clear_journal();
        // What an earlier test's channels played is not this test's.
        for (std::int32_t line = 0; line < 1024; ++line)
            mcc().take_sent(line);
        for (std::int32_t n = 0; n < 128; ++n)
            mcc().take_written(platform::sim::MccModel::kFirstChannel + n);
    }
    void TearDown() override
    {
        server.Deactivate();
        run_for(1);
        board().service();
        EXPECT_TRUE(Slots::instance().GetLive().empty());
        // A test ends once what it started has ended: no program of it
        // runs, and its channels are back with the driver.
        if (endsWhole) {
            EXPECT_EQ("", children()) << "a program still runs";
            EXPECT_TRUE(mcc().allocations().empty()) << "a channel is still allocated";
        }
        // Whatever the slots' programs (or a failed check) left running.
        programs.children();
        programs.end();
        ::system(("rm -rf " + root).c_str());
        ::unsetenv("QUELVAD_ROOT");
        Paths::reload();
        LoopTest::TearDown();
    }

    // One command on a slot (none for -1); the frames it brings back at once.
    std::string command(int slot, int seq, const std::function<void(LGCP::Command&)>& fill)
    {
        LGCP::Message m;
        m.set_seq(seq);
        if (slot >= 0)
            m.set_slot(unsigned(slot));
        fill(m.set_pdu().select_command());
        ASN1::CoderEnv env;
        std::vector<char> bytes;
        EXPECT_TRUE(ASN1::encode(m, &env, std::back_inserter(bytes)));
        server.OnMessage(bytes.data(), int(bytes.size()));
        return frames();
    }
    std::string connect(int from, unsigned to, int seq)
    {
        return command(from, seq, [to](LGCP::Command& c) { c.select_connect(to); });
    }
    std::string create_trunk(int slot, unsigned ts)
    {
        return command(slot, 90, [ts](LGCP::Command& c) {
            c.select_create().select_trunk().set_trunk(0u);
            c.ref_create().ref_trunk().set_timeslot(ts);
        });
    }
    std::string query()
    {
        return command(-1, 99, [](LGCP::Command& c) { c.select_query(); });
    }

    // Turns the loop (and the board) until the frames gathered hold `last`,
    // or a generous bound; all frames gathered.
    std::string pump_until(const std::string& last, int turns = 20000)
    {
        std::string got;
        pump_for(
            [&] {
                const std::string f = frames();
                got += (got.empty() || f.empty() ? "" : " | ") + f;
                return !last.empty() && got.find(last) != std::string::npos;
            },
            turns);
        return got;
    }
    // Turns the loop until the condition holds (or a generous bound).
    bool pump_for(const std::function<bool()>& done, int turns = 20000)
    {
        for (int i = 0; i < turns; ++i) {
            board().service();
            run_for(1);
            if (done())
                return true;
            ::poll(nullptr, 0, 1);
        }
        return false;
    }

    std::string frames() { return mediatest::frames(ctltest::read_now(pair.client)); }
    // This process's children, running or not yet reaped.
    static std::string children()
    {
        return testutil::read_file("/proc/self/task/" + std::to_string(::getpid()) + "/children");
    }

    // The frames sent out on a switch line, or written by a controller
    // channel, in hex, " / " between them.
    static std::string joined(const std::vector<platform::sim::Bytes>& frames)
    {
        std::string out;
        for (auto& f : frames)
            out += (out.empty() ? "" : " / ") + ctltest::hex(std::string(f.begin(), f.end()));
        return out;
    }
    static std::string sent(int line) { return joined(mcc().take_sent(line)); }
    static std::string written(int channel) { return joined(mcc().take_written(channel)); }
    // The journal's requests on one device since the last call, without the prefix.
    static std::string requests(const std::string& device)
    {
        const std::string prefix = "ioctl " + device + " ";
        std::string out;
        for (const std::string& line : board().journal())
            if (line.compare(0, prefix.size(), prefix) == 0)
                out += (out.empty() ? "" : " | ") + line.substr(prefix.size());
        board().clear_journal();
        return out;
    }
    // The lines of a log that begin with the prefix.
    static std::string lines(const std::string& log, const std::string& prefix)
    {
        std::istringstream in(log);
        std::string out;
        for (std::string line; std::getline(in, line);)
            if (line.compare(0, prefix.size(), prefix) == 0)
                out += line + "\n";
        return out;
    }
    void write_file(const std::string& fixed, const std::string& text, mode_t mode = 0644)
    {
        std::ofstream(root + fixed) << text;
        ::chmod((root + fixed).c_str(), mode);
    }

    // Set by the fixtures whose tests run together in one process: each
    // test is seen to end with no program running and no channel allocated.
    bool endsWhole = false;
    std::string root;
    // The programs a test runs: fake ones append their numbers to
    // "$QUELVAD_ROOT/pids"; ended in TearDown with every child left.
    support::ProcessGuard programs;
    CtrlSrv::Server server;
    ctltest::TcpPair pair;
    ctltest::Capture quiet{std::clog};
};

} // namespace mediatest
