// The controller-channel slots of the running daemon: an MCC data slot's user
// data both ways through the simulated controller and a frame its channel
// refuses, a recorder sending a trunk channel's bytes to a loopback peer and
// recording through a disconnect, a released network player joined again, a
// network player whose connection fails at once, an endless list of empty
// phrases that plays what a phrase gains, the lowest repeat count, a phrase
// that fails at once, names refused without forging a log line, and a T.38
// slot running a fake program under the daemon's root and reporting its end;
// MCC creates while the daemon is at its descriptor limit.
#include <arpa/inet.h>
#include <climits>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/e2e/fixture.hpp"
#include "tests/slots/media_text.hpp"

namespace
{

class Voice : public e2etest::DaemonTest
{
protected:
    void SetUp() override { start({{}, {}, "device /dev/mcc/ctl present\n"}); }
    // The next `n` messages that are not line status reports, "; " between them.
    std::string next(int n = 1) { return texts(n, mediatest::text); }
    // The same, each as the bytes of its payload.
    std::string next_bytes(int n = 1)
    {
        std::string out;
        for (e2e::Bytes payload; n-- > 0;)
            out += (out.empty() ? "" : "; ") + (DaemonTest::next(payload) ? e2e::hex(payload) : "(none)");
        return out;
    }
    bool ask(unsigned slot, const std::function<void(LGCP::Command&)>& fill)
    {
        LGCP::Message m;
        m.set_seq(1);
        m.set_slot(slot);
        fill(m.set_pdu().select_command());
        return send(m);
    }
    bool create_trunk(unsigned slot)
    {
        return ask(slot, [](LGCP::Command& c) {
            c.select_create().select_trunk().set_trunk(0u);
            c.ref_create().ref_trunk().set_timeslot(1u);
        });
    }
    bool connect(unsigned from, unsigned to)
    {
        return ask(from, [to](LGCP::Command& c) { c.select_connect(to); });
    }
    bool create_recorder(unsigned slot, int port)
    {
        return ask(slot, [port](LGCP::Command& c) {
            TERM::HostAddress& h = c.select_create().select_voice().select_record();
            h.set_iaddr("127.0.0.1");
            h.set_port(unsigned(port));
        });
    }
    bool create_file_player(unsigned slot, const std::vector<std::string>& names, int repeat)
    {
        return ask(slot, [&](LGCP::Command& c) {
            LGCP::PlayerParams_file& f = c.select_create().select_voice().select_player().select_file();
            for (const std::string& n : names)
                f.set_name().push_back(ASN1::IA5String(n));
            f.set_repeat(repeat);
        });
    }
    // A loopback TCP listener on a free port, for the voice slots' peers.
    struct Listener {
        Listener()
        {
            sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
            socklen_t len = sizeof a;
            fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, 2) == 0 &&
                ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
                port = ntohs(a.sin_port);
        }
        ~Listener() { ::close(fd); }
        // The next connection, waiting at most `wait_ms` for it; -1 when none.
        int accept(int wait_ms = e2e::deadline_ms())
        {
            pollfd p{fd, POLLIN, 0};
            return ::poll(&p, 1, wait_ms) == 1 ? ::accept(fd, nullptr, nullptr) : -1;
        }
        int fd = -1;
        int port = 0;
    };
    // What the peer reads until `n` bytes came (hex), or, for 0, until the
    // daemon closes the connection (the bytes before the close, then "end").
    static std::string received(int peer, std::size_t n = 0)
    {
        e2e::Bytes got;
        unsigned char buf[64];
        pollfd p{peer, POLLIN, 0};
        while ((n == 0 || got.size() < n) && ::poll(&p, 1, e2e::deadline_ms()) == 1) {
            const ssize_t r = ::recv(peer, buf, n == 0 ? sizeof buf : n - got.size(), 0);
            if (r <= 0)
                return e2e::hex(got) + (got.empty() ? "end" : " end");
            got.insert(got.end(), buf, buf + static_cast<std::size_t>(r));
        }
        return e2e::hex(got);
    }
};

TEST_F(Voice, MccUserDataBothWays)
{
    ASSERT_TRUE(ask(1, [](LGCP::Command& c) {
        c.select_create().select_mcc().set_type(LGCP::MccType::data),
            c.ref_create().ref_mcc().set_mode(LGCP::MccMode::standard);
    }));
    EXPECT_EQ("ok #1", next());
    ASSERT_TRUE(create_trunk(2));
    EXPECT_EQ("ok #1; @2 transmitter 1; @2 receiver 1", next(3));
    ASSERT_TRUE(connect(1, 2) && connect(2, 1));
    EXPECT_EQ("@1 transmitter 4096; ok #1; @1 receiver 4096; ok #1", next(4));
    ASSERT_TRUE(ask(1, [](LGCP::Command& c) { c.select_userData(std::vector<char>{1, 2, 3}); }));
    EXPECT_EQ("ok #1", next());
    EXPECT_EQ("01 02 03\nok\n", daemon.board("mcc sent 1"));
    EXPECT_EQ("reached=1\nok\n", daemon.board("mcc frame 1 0A0B"));
    EXPECT_EQ("@1 userData 0A 0B", next());
}

// A frame the channel cannot take (a voice channel takes at most 8,192 bytes
// at a time) is answered internal, not unsupported; the slot goes on.
TEST_F(Voice, MccFrameTheChannelRefusesIsAnInternalFailure)
{
    ASSERT_TRUE(ask(1, [](LGCP::Command& c) {
        c.select_create().select_mcc().set_type(LGCP::MccType::transparent),
            c.ref_create().ref_mcc().set_mode(LGCP::MccMode::standard);
    }));
    EXPECT_EQ("ok #1", next());
    ASSERT_TRUE(ask(1, [](LGCP::Command& c) { c.select_userData(std::vector<char>(9000, 'x')); }));
    EXPECT_EQ("C0 01 01 00 01 65", next_bytes());
    ASSERT_TRUE(ask(1, [](LGCP::Command& c) { c.select_userData(std::vector<char>{1, 2, 3}); }));
    EXPECT_EQ("C0 01 01 00 01 40", next_bytes());
    EXPECT_EQ("01 02 03\nok\n", daemon.board("mcc written 4096"));
}

TEST_F(Voice, RecorderSendsTheTrunkChannelToItsPeer)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof a;
    ASSERT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a));
    ASSERT_EQ(0, ::listen(listener, 1));
    ASSERT_EQ(0, ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len));
    ASSERT_TRUE(ask(5, [&](LGCP::Command& c) {
        TERM::HostAddress& h = c.select_create().select_voice().select_record();
        h.set_iaddr("127.0.0.1");
        h.set_port(unsigned(ntohs(a.sin_port)));
    }));
    EXPECT_EQ("ok #1; @5 receiver 4096", next(2));
    ASSERT_TRUE(create_trunk(2));
    EXPECT_EQ("ok #1; @2 transmitter 1; @2 receiver 1", next(3));
    ASSERT_TRUE(connect(2, 5));
    EXPECT_EQ("ok #1", next());
    pollfd p{listener, POLLIN, 0};
    ASSERT_EQ(1, ::poll(&p, 1, e2e::deadline_ms()));
    const int peer = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    EXPECT_EQ("reached=1\nok\n", daemon.board("mcc frame 1 0C0D"));
    unsigned char got[2] = {};
    pollfd q{peer, POLLIN, 0};
    ASSERT_EQ(1, ::poll(&q, 1, e2e::deadline_ms()));
    ASSERT_EQ(2, ::recv(peer, got, 2, MSG_WAITALL));
    EXPECT_EQ("0C 0D", e2e::hex(e2e::Bytes(got, got + 2)));
    ::close(peer);
    ::close(listener);
}

// A disconnect leaves the recording running; the next join's connection
// takes the recording over: the first peer is closed, the channel reaches the
// second one only.
TEST_F(Voice, RecorderKeepsRecordingThroughADisconnect)
{
    Listener listener;
    ASSERT_TRUE(create_recorder(5, listener.port));
    EXPECT_EQ("ok #1; @5 receiver 4096", next(2));
    ASSERT_TRUE(create_trunk(2));
    EXPECT_EQ("ok #1; @2 transmitter 1; @2 receiver 1", next(3));
    ASSERT_TRUE(connect(2, 5));
    EXPECT_EQ("ok #1", next());
    const int first = listener.accept();
    ASSERT_GE(first, 0);
    journal();
    ASSERT_TRUE(ask(5, [](LGCP::Command& c) { c.select_disconnect(); }));
    EXPECT_EQ("ok #1", next());
    EXPECT_EQ((e2etest::Lines{"ioctl /dev/hal write ch=4096 byte=0xD5 -> 0"}), journal("4096"));
    // The next join's answer is the first message after the disconnect's: no
    // stopRecording came between them.
    ASSERT_TRUE(connect(2, 5));
    EXPECT_EQ("ok #1", next());
    EXPECT_EQ((e2etest::Lines{"ioctl /dev/hal connect dst=4096 src=1 -> 0"}), journal("4096"));
    const int second = listener.accept();
    ASSERT_GE(second, 0);
    EXPECT_EQ("end", received(first));
    EXPECT_EQ("reached=1\nok\n", daemon.board("mcc frame 1 0E"));
    EXPECT_EQ("0E", received(second, 1));
    ::close(first);
    ::close(second);
}

// A network player released by its peer is not started again, but a later
// join succeeds and reports the transmitter.
TEST_F(Voice, ReleasedNetworkPlayerJoinsAgain)
{
    Listener listener;
    ASSERT_TRUE(ask(4, [&](LGCP::Command& c) {
        LGCP::PlayerParams_network& n = c.select_create().select_voice().select_player().select_network();
        n.set_host().set_iaddr("127.0.0.1");
        n.ref_host().set_port(unsigned(listener.port));
        n.set_id(0x0A0B0C0D);
    }));
    EXPECT_EQ("ok #1", next());
    ASSERT_TRUE(create_trunk(2));
    EXPECT_EQ("ok #1; @2 transmitter 1; @2 receiver 1", next(3));
    ASSERT_TRUE(connect(4, 2));
    EXPECT_EQ("@4 transmitter 4096; ok #1", next(2));
    const int peer = listener.accept();
    ASSERT_GE(peer, 0);
    EXPECT_EQ("@4 startPlaying", next());
    EXPECT_EQ("0A 0B 0C 0D", received(peer, 4));
    ::close(peer);
    EXPECT_EQ("@4 transmitter off; @4 abort 0", next(2));
    journal();
    ASSERT_TRUE(connect(4, 2));
    EXPECT_EQ("@4 transmitter 4096; ok #1", next(2));
    EXPECT_EQ((e2etest::Lines{"ioctl /dev/hal connect dst=1 src=4096 -> 0"}), journal("4096"));
    // Its one connection is all it ever made.
    ASSERT_TRUE(daemon.wait_err("player[4096]: connection to 127.0.0.1:" + std::to_string(listener.port) +
                                " closed."));
    EXPECT_EQ(std::string::npos,
              daemon.err().find("player[4096]: connected to", daemon.err().find(" closed.")));
    EXPECT_EQ(-1, listener.accept(0));
}

// A player whose address is no address fails inside the connector's start:
// it is released before its join, so the controller hears the abort and the
// join's refusal, and no transmitter; the switch is never asked to join it.
TEST_F(Voice, NetworkPlayerWhoseConnectionFailsAtOnce)
{
    ASSERT_TRUE(ask(4, [&](LGCP::Command& c) {
        LGCP::PlayerParams_network& n = c.select_create().select_voice().select_player().select_network();
        n.set_host().set_iaddr("gateway.invalid");
        n.ref_host().set_port(5060u);
        n.set_id(1);
    }));
    EXPECT_EQ("ok #1", next());
    ASSERT_TRUE(create_trunk(2));
    EXPECT_EQ("ok #1; @2 transmitter 1; @2 receiver 1", next(3));
    journal();
    ASSERT_TRUE(connect(4, 2));
    // abort 0 on slot 4, then connectFail for the connect.
    EXPECT_EQ("40 00 04 87 01 00; C0 01 01 00 04 69", next_bytes(2));
    EXPECT_EQ(e2etest::Lines{}, journal("/dev/hal connect"));
    // Nothing came after the refusal: the next message answers the next command.
    ASSERT_TRUE(ask(4, [](LGCP::Command& c) { c.select_destroy(); }));
    EXPECT_EQ("C0 01 01 00 04 40", next_bytes());
    EXPECT_TRUE(daemon.wait_err("player[4096]: connection to gateway.invalid:5060 fail."));
}

// An endless list whose phrases are all empty keeps playing and sends no
// end: content that a phrase gains is played at a later pass, and the next
// message after the join's answer is the destroy's.
TEST_F(Voice, EndlessListOfEmptyPhrasesPlaysWhatAPhraseGains)
{
    daemon.write_file("/usr/local/voice/e", "");
    ASSERT_TRUE(ask(3, [](LGCP::Command& c) {
        LGCP::PlayerParams_file& f = c.select_create().select_voice().select_player().select_file();
        f.set_name().push_back(ASN1::IA5String("e"));
        f.set_repeat(0);
    }));
    EXPECT_EQ("ok #1", next());
    ASSERT_TRUE(create_trunk(2));
    EXPECT_EQ("ok #1; @2 transmitter 1; @2 receiver 1", next(3));
    ASSERT_TRUE(connect(3, 2));
    EXPECT_EQ("@3 transmitter 4096; ok #1", next(2));
    daemon.write_file("/usr/local/voice/e", "\x05\x06");
    std::string played = "ok\n";
    for (int waited = 0; played == "ok\n" && waited < e2e::deadline_ms(); waited += 20) {
        ::poll(nullptr, 0, 20);
        played = daemon.board("mcc written 4096");
    }
    EXPECT_EQ("05 06\n", played.substr(0, 6));
    ASSERT_TRUE(ask(3, [](LGCP::Command& c) { c.select_destroy(); }));
    EXPECT_EQ("ok #1", next());
}

// The lowest count has no predecessor: it plays the list on like 0 and is
// never counted down, so a pass ends and the next one plays without an
// overflow (the sanitizer build would end the daemon there).
TEST_F(Voice, LowestRepeatCountPlaysOnAndIsNeverCountedDown)
{
    daemon.write_file("/usr/local/voice/p", "\x05");
    ASSERT_TRUE(create_file_player(3, {"p"}, INT_MIN));
    EXPECT_EQ("ok #1", next());
    ASSERT_TRUE(create_trunk(2));
    EXPECT_EQ("ok #1; @2 transmitter 1; @2 receiver 1", next(3));
    ASSERT_TRUE(connect(3, 2));
    EXPECT_EQ("@3 transmitter 4096; ok #1", next(2));
    std::string played;
    for (int waited = 0; played.size() < 6 && waited < e2e::deadline_ms(); waited += 20) {
        ::poll(nullptr, 0, 20);
        const std::string got = daemon.board("mcc written 4096");
        played += got.substr(0, got.size() - 3);
    }
    EXPECT_EQ("05\n05\n", played.substr(0, 6));
    ASSERT_TRUE(ask(3, [](LGCP::Command& c) { c.select_destroy(); }));
    EXPECT_EQ("ok #1", next());
}

// A phrase that is a folder fails inside the copier's start: the player is
// released before its join, so the controller hears the abort and the join's
// refusal, and no transmitter; the switch is never asked to join it. A later
// join finds it released: reported active and joined, nothing played.
TEST_F(Voice, FilePlayerWhosePhraseFailsAtOnce)
{
    for (const char* d : {"/usr", "/usr/local", "/usr/local/voice", "/usr/local/voice/d"})
        ::mkdir(daemon.path(d).c_str(), 0755);
    ASSERT_TRUE(create_file_player(3, {"d"}, 1));
    EXPECT_EQ("ok #1", next());
    ASSERT_TRUE(create_trunk(2));
    EXPECT_EQ("ok #1; @2 transmitter 1; @2 receiver 1", next(3));
    journal();
    ASSERT_TRUE(connect(3, 2));
    EXPECT_EQ("@3 abort 0; connectFail #1", next(2));
    EXPECT_EQ(e2etest::Lines{}, journal("/dev/hal connect"));
    ASSERT_TRUE(connect(3, 2));
    EXPECT_EQ("@3 transmitter 4096; ok #1", next(2));
    EXPECT_EQ((e2etest::Lines{"ioctl /dev/hal connect dst=1 src=4096 -> 0"}), journal("/dev/hal connect"));
    ASSERT_TRUE(ask(3, [](LGCP::Command& c) { c.select_destroy(); }));
    EXPECT_EQ("ok #1", next());
    EXPECT_EQ("ok\n", daemon.board("mcc written 4096"));
}

// A name holding a line feed is refused on one log line of its own, the line
// feed escaped, so it cannot forge a line; a name holding a NUL byte is
// refused too, where the open would have stopped at the NUL and played "small".
TEST_F(Voice, PhraseNamesThatWouldForgeALineOrCutTheOpenAreRefused)
{
    daemon.write_file("/usr/local/voice/small", "\x05");
    ASSERT_TRUE(create_file_player(3, {"/\nFORGED LINE: hwMux: device lost", std::string("small\0", 6)}, 1));
    EXPECT_EQ("ok #1", next());
    ASSERT_TRUE(create_trunk(2));
    EXPECT_EQ("ok #1; @2 transmitter 1; @2 receiver 1", next(3));
    ASSERT_TRUE(connect(3, 2));
    EXPECT_EQ("connectFail #1; @3 abort 0", next(2));
    EXPECT_TRUE(daemon.wait_err("player[4096]: phrase name refused: /\\nFORGED LINE: hwMux: device lost\n"));
    EXPECT_TRUE(daemon.wait_err("player[4096]: phrase name refused: small\\x00\n"));
    for (const std::string* log : {&daemon.err(), &daemon.out()})
        EXPECT_EQ(std::string::npos, ("\n" + *log).find("\nFORGED LINE")) << *log;
    EXPECT_EQ("ok\n", daemon.board("mcc written 4096"));
}

TEST_F(Voice, T38ProgramRunsAndItsEndIsReported)
{
    const std::string program = daemon.path("/usr/local/sbin/t38");
    for (const char* d : {"/usr", "/usr/local", "/usr/local/sbin"})
        ::mkdir(daemon.path(d).c_str(), 0755);
    std::ofstream(program) << "#!/bin/sh\n"
                              "echo $$ >> \"$QUELVAD_ROOT/pids\"\n"
                              "printf '%s\\n' \"$@\" > \"$0.args\"\n"
                              "dd bs=4096 count=1 of=\"$0.stdin\" 2>/dev/null\n"
                              "exit 3\n";
    ::chmod(program.c_str(), 0755);
    ASSERT_TRUE(ask(
        7, [](LGCP::Command& c) { mediatest::t38Create(c).set_args().push_back(ASN1::IA5String("--fax")); }));
    EXPECT_EQ("ok #1; @7 transmitter 4096; @7 receiver 4096", next(3));
    ASSERT_TRUE(daemon.wait_err("successfully started") || daemon.wait_out("successfully started"));
    EXPECT_EQ("ok\n", daemon.board("event /dev/mcc/ctl 5A"));
    EXPECT_EQ("@7 abort 768", next());
    EXPECT_EQ("--child\n--remote\n10.0.0.1/4000/5000\n--fax\n", e2e::read_file(program + ".args"));
    EXPECT_EQ("Z", e2e::read_file(program + ".stdin"));
}

// The soft descriptor limit under which a process whose descriptors are
// `open` has exactly `spare` numbers free (a new descriptor takes the lowest
// free number below the limit).
rlim_t limit_with_spare(const std::set<int>& open, int spare)
{
    int limit = 0;
    for (int free = 0; free < spare || open.count(limit); ++limit)
        free += open.count(limit) ? 0 : 1;
    return rlim_t(limit);
}

std::set<int> open_descriptors(pid_t pid)
{
    std::set<int> numbers;
    if (DIR* d = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                numbers.insert(std::atoi(e->d_name));
        ::closedir(d);
    }
    return numbers;
}

// MCC data creates with fewer and fewer descriptors left to the daemon (its
// soft limit lowered while it runs): each is answered either success, with a
// channel that is held, reads and writes, or insufficientResources, with no
// channel held on the board. Some of them could open the device but not keep
// both duplicates of the channel. With the limit lifted again, creates succeed
// and no descriptor is left behind.
TEST_F(Voice, MccCreatesAtTheDescriptorLimit)
{
    const auto create = [](LGCP::Command& c) {
        c.select_create().select_mcc().set_type(LGCP::MccType::data),
            c.ref_create().ref_mcc().set_mode(LGCP::MccMode::standard);
    };
    const auto channels = [this] {
        std::istringstream in(daemon.board("mcc"));
        int n = 0;
        for (std::string line; std::getline(in, line);)
            n += line.compare(0, 8, "channel ") == 0;
        return n;
    };
    const auto until = [](const std::function<bool()>& holds) {
        for (int waited = 0; waited < e2e::deadline_ms(); waited += 20, ::poll(nullptr, 0, 20))
            if (holds())
                return true;
        return false;
    };
    // Every path of a working slot, and a refused create's walk down the
    // whole factory chain, first, so that nothing new is met at the limit (the
    // sanitizer build reads a type's information through a pipe the first
    // time it meets the type).
    ASSERT_EQ("ok\n", daemon.board("mcc pool data 0"));
    ASSERT_TRUE(ask(1, create));
    ASSERT_EQ("insufficientResources #1", next());
    ASSERT_EQ("ok\n", daemon.board("mcc pool data 32"));
    ASSERT_TRUE(ask(1, create));
    ASSERT_EQ("ok #1", next());
    ASSERT_TRUE(ask(1, [](LGCP::Command& c) { c.select_userData(std::vector<char>{1}); }));
    ASSERT_EQ("ok #1", next());
    ASSERT_EQ("ok\n", daemon.board("event /dev/mcc/ctl 0A"));
    ASSERT_EQ("@1 userData 0A", next());
    ASSERT_TRUE(ask(1, [](LGCP::Command& c) { c.select_destroy(); }));
    ASSERT_EQ("ok #1", next());
    ASSERT_TRUE(until([&] { return channels() == 0; }));
    const std::size_t before = open_descriptors(daemon.pid()).size();
    rlimit saved{};
    ASSERT_EQ(0, ::prlimit(daemon.pid(), RLIMIT_NOFILE, nullptr, &saved));

    // A board request of the test holds a descriptor of the daemon until the
    // daemon sees it closed, which may be a little later than the count is
    // taken: the daemon may then have one descriptor more to spare than
    // meant, so the counts cover each case twice.
    std::string answers;
    for (int spare = 0; spare <= 7; ++spare) {
        SCOPED_TRACE("limit meant to leave " + std::to_string(spare) + " descriptors");
        rlimit low = saved;
        low.rlim_cur = limit_with_spare(open_descriptors(daemon.pid()), spare);
        ASSERT_EQ(0, ::prlimit(daemon.pid(), RLIMIT_NOFILE, &low, nullptr));
        const bool sent = ask(1, create);
        const std::string answer = next();
        // Nothing that needs a descriptor of the daemon until the limit is back.
        const bool ok = answer == "ok #1";
        std::string written = "(none)";
        if (ok && ask(1, [spare](LGCP::Command& c) { c.select_userData(std::vector<char>{char(spare)}); }))
            written = next();
        ASSERT_EQ(0, ::prlimit(daemon.pid(), RLIMIT_NOFILE, &saved, nullptr));
        ASSERT_TRUE(sent);
        answers += answer + "; ";
        if (!ok) {
            EXPECT_EQ("insufficientResources #1", answer);
            EXPECT_EQ(0, channels()) << "a refused create holds a channel";
            continue;
        }
        EXPECT_EQ("ok #1", written);
        EXPECT_EQ(1, channels()) << "a create answered success holds no channel";
        EXPECT_EQ("0" + std::to_string(spare) + "\nok\n", daemon.board("mcc written 4096"));
        // A channel that reads no more would leave the rest waiting in vain.
        ASSERT_EQ("ok\n", daemon.board("event /dev/mcc/ctl 0B"));
        ASSERT_EQ("@1 userData 0B", next());
        ASSERT_TRUE(ask(1, [](LGCP::Command& c) { c.select_destroy(); }));
        EXPECT_EQ("ok #1", next());
        EXPECT_TRUE(until([&] { return channels() == 0; }));
    }
    EXPECT_NE(std::string::npos, answers.find("ok #1")) << answers;
    EXPECT_TRUE(daemon.wait_err("mcc: fail to open MCC device: Too many open files\n")) << answers;
    EXPECT_TRUE(daemon.wait_err("mcc: fail to duplicate MCC channel descriptor: Too many open files\n"))
        << answers;

    for (unsigned slot = 1; slot <= 3; ++slot) {
        ASSERT_TRUE(ask(slot, create));
        EXPECT_EQ("ok #1", next());
    }
    EXPECT_EQ(3, channels());
    for (unsigned slot = 1; slot <= 3; ++slot) {
        ASSERT_TRUE(ask(slot, [](LGCP::Command& c) { c.select_destroy(); }));
        EXPECT_EQ("ok #1", next());
    }
    EXPECT_TRUE(until([&] { return channels() == 0 && open_descriptors(daemon.pid()).size() == before; }))
        << open_descriptors(daemon.pid()).size() << " descriptors, " << before << " before";
}

} // namespace
