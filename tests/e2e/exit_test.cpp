// The daemon's exit reaches no object that exit has already destroyed. In the
// sanitizer build the daemon has each static object poisoned once its
// destructor has run (tests/support/destroyed_statics.cpp), so a destructor
// that reaches one later, which the sanitizer alone does not see in static
// storage, makes the daemon report it and end with a failure. First, that such
// a read is reported at all, by a small program that makes one, or not.
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tests/e2e/fixture.hpp"
#include "tests/e2e/rtp_stream.hpp"
#include "tests/slots/udp_peer.hpp"

namespace
{

// The sanitizer's options for a process whose report a test looks for: the
// user's, then those the check relies on, which win over them: the report on
// standard error (wherever the user's log_path would put it), a failing exit
// status, and the poisoning that marks destroyed statics in force.
std::string sanitizerOptions()
{
    const char* user = std::getenv("ASAN_OPTIONS");
    const std::string mine = "log_path=stderr:exitcode=1:allow_user_poisoning=1";
    return std::string("ASAN_OPTIONS=") + (user && *user ? std::string(user) + ":" : "") + mine;
}

#ifdef QUELVAD_STATIC_LIFETIME_PROBE
// Runs the probe with one argument: its exit status and what it wrote to its
// standard error, or -1 when it did not end within the deadline (it is then
// killed and reaped by the held child).
int run_probe(const char* order, std::string& err)
{
    // This program's environment but for the sanitizer's options.
    std::vector<std::string> env{sanitizerOptions()};
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0)
            env.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(QUELVAD_STATIC_LIFETIME_PROBE), const_cast<char*>(order), nullptr};
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    support::HeldChild child;
    if (child.pid() == 0) {
        ::dup2(fds[1], STDERR_FILENO);
        ::execve(argv[0], argv, envp.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    char buffer[4096];
    for (int waited = 0; waited < e2e::deadline_ms();) {
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) {
            waited += 20;
            continue;
        }
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        err.append(buffer, std::size_t(n));
    }
    ::close(fds[0]);
    int status = 0;
    if (!child.reap(status, e2e::deadline_ms()))
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
#endif

TEST(ExitCheck, AStaticObjectReadAfterExitDestroyedItIsReported)
{
#ifndef QUELVAD_STATIC_LIFETIME_PROBE
    GTEST_SKIP() << "only the sanitizer build poisons the static objects exit destroys";
#else
    const struct {
        const char* order;
        bool reported;
    } cases[] = {
        {"late", true},   // read by a destructor that runs after the object's own
        {"early", false}, // read by a destructor that runs before it
    };
    for (const auto& c : cases) {
        std::string err;
        const int status = run_probe(c.order, err);
        EXPECT_EQ(c.reported, status != 0) << c.order << ": status " << status << "\n" << err;
        EXPECT_EQ(c.reported, err.find("use-after-poison") != std::string::npos) << c.order << "\n" << err;
    }
#endif
}

class Exit : public e2etest::DaemonTest
{
};

// A G.711 A-law stream towards the peer: its slot holds the tone and DSP
// receivers, so the stop also ends those and the services they use.
LGCP::Message rtpCreate(unsigned slot, const slotstest::UdpPeer& peer)
{
    LGCP::Message m;
    m.set_seq(1);
    m.set_slot(slot);
    e2etest::g711Stream(m.set_pdu().select_command(), peer);
    return m;
}

TEST_F(Exit, TheStopReachesNoObjectExitHasDestroyed)
{
    e2e::DaemonOptions options({}, {}, "voice capacity 1 30\n");
    // Its report, should there be one, where the check below looks.
    options.env.push_back(sanitizerOptions());
    start(options);
    slotstest::UdpPeer peer(e2e::deadline_ms() / 1000);
    ASSERT_TRUE(send(rtpCreate(3, peer)));
    e2e::Bytes answer;
    ASSERT_TRUE(next(answer));
    ASN1::CoderEnv env;
    const char* p = reinterpret_cast<const char*>(answer.data());
    ASSERT_TRUE(ASN1::decode(p, p + answer.size(), &env, last, true));
    ASSERT_TRUE(last.get_pdu().response_isSelected() && last.get_pdu().get_response().success_isSelected());

    EXPECT_EQ("", stop_daemon());
    EXPECT_EQ(0, daemon.wait_exit()) << daemon.err();
    EXPECT_EQ(std::string::npos, daemon.err().find("AddressSanitizer")) << daemon.err();
}

} // namespace
