// A DSP modem call on the running daemon: the fake PPP daemon installed under
// the daemon's root is started with the expected command line when the modem
// slot is joined to a trunk slot, asks for authentication over 127.0.0.1:52000
// like the real plugin, receives the accept and ip records the controller's
// activation makes, and ends on the hang-up signal of the destroy, whose answer
// comes only then. The resource report counts the modems and free interfaces.
#include <algorithm>
#include <arpa/inet.h>
#include <dirent.h>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/e2e/fixture.hpp"
#include "tests/slots/frames.hpp"
#include "tests/support/loopback.hpp"
#include "tests/support/process_guard.hpp"

namespace
{

using e2e::Bytes;
using e2etest::Lines;

// Records in the daemon's byte order, which is this test program's.
bool bigEndian()
{
    const std::uint16_t one = 1;
    return *reinterpret_cast<const unsigned char*>(&one) == 0;
}

// A 32-bit word of a record in hex, in the daemon's byte order.
std::string word(std::uint32_t value)
{
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", bigEndian() ? value : __builtin_bswap32(value));
    return hex;
}

// The accept and ip records of an activation with `ip` (the four addresses'
// network-order hex) and an MTU of 1500.
std::string activation(std::int32_t session, const std::string& ip)
{
    const std::uint32_t s = std::uint32_t(session);
    return word(16) + word(2) + word(s) + word(1) + word(36) + word(3) + word(s) + word(0) + ip + word(1500);
}

// Adds its number to the fixture's list of programs, records its arguments,
// sends one request for the modem of its data device (session -1 on a network
// interface), writes the two records it gets back in hex (to "pppd.records"
// and to "records.<device's last name>"), and leaves on SIGHUP. While the file
// "hold" exists, the hang-up first waits for "go.<pid>", then sends the
// accounting report (octets 100 out and 200 in, packets 3 and 4, 60 s) and
// writes "acct.<pid>" before it leaves.
const char kFakePppd[] = R"(#!/usr/bin/env python3
import os, signal, socket, struct, sys, time
root, order = sys.argv[0][:-len('/usr/local/sbin/pppd')], '%s'
me = '%%d' %% os.getpid()
open(root + '/pids', 'a').write(me + '\n')
open(root + '/pppd.args', 'w').write(' '.join(sys.argv))
def hup(*_):
    open(root + '/pppd.hup', 'w').write('hup')
    if os.path.exists(root + '/hold'):
        while not os.path.exists(root + '/go.' + me):
            time.sleep(0.01)
        s.sendall(struct.pack(order + 'iii12x9I4x', 64, 4, session, 0, 100, 0, 200, 0, 3, 0, 4, 60))
        open(root + '/acct.' + me, 'w').write('sent')
    os._exit(0)
signal.signal(signal.SIGHUP, hup)
device = sys.argv[3]
session = int(device[len('/dev/mdm'):]) if device.startswith('/dev/mdm') else -1
s = socket.create_connection(('127.0.0.1', 52000))
s.sendall(struct.pack(order + 'iii64s64s', 140, 1, session, b'alice', b'secret'))
got = b''
while len(got) < 52:
    got += s.recv(52 - len(got))
for name in ('/pppd.records', '/records.' + os.path.basename(device)):
    open(root + name + '.' + me, 'w').write(got.hex())
    os.rename(root + name + '.' + me, root + name)
while True:
    signal.pause()
)";

// Descriptors the process has open.
int descriptors(pid_t pid)
{
    int n = 0;
    if (DIR* d = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        while (const dirent* e = ::readdir(d))
            n += e->d_name[0] != '.';
        ::closedir(d);
    }
    return n;
}

// A plugin connected to the authentication port that has sent its request
// for `session`, or -1.
int plugin(std::int32_t session)
{
    const int fd = support::connect_loopback(52000);
    char request[140] = "";
    const std::int32_t words[3] = {140, 1, session};
    std::memcpy(request, words, sizeof words);
    std::memcpy(request + 12, "alice", sizeof "alice"), std::memcpy(request + 76, "secret", sizeof "secret");
    if (fd >= 0 && ::send(fd, request, sizeof request, MSG_NOSIGNAL) == ssize_t(sizeof request))
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

// True when the connection holds nothing to read, and not its end either.
bool nothing_to_read(int fd)
{
    char got[64];
    return ::recv(fd, got, sizeof got, MSG_DONTWAIT) == -1 && errno == EAGAIN;
}

class Modems : public e2etest::DaemonTest
{
protected:
    void SetUp() override
    {
        const std::string sbin = daemon.path("/usr/local/sbin");
        ASSERT_EQ(0, std::system(("mkdir -p '" + sbin + "'").c_str()));
        char script[4096];
        std::snprintf(script, sizeof script, kFakePppd, bigEndian() ? ">" : "<");
        std::ofstream(sbin + "/pppd") << script;
        ::chmod((sbin + "/pppd").c_str(), 0755);
    }
    // Starts the daemon on a board with `init` applied.
    void boot(const char* init = kBoard)
    {
        start({{}, {}, init});
        // A connection of an earlier run in TIME_WAIT may hold the port for a
        // while: the daemon tries its bind again every 5000 ms.
        ASSERT_TRUE(auth_listening()) << daemon.err();
    }
    static constexpr const char* kBoard = "device /dev/mctl present\nmctl modems 2 96\nnetif add hdlc0 40\n"
                                          "netif add hdlc1 41 0x19\nnetif add hdlc2 42 0x1\n";
    void send(int seq, int slot, LGCP::Command const& command)
    {
        LGCP::Message m;
        m.set_seq(seq);
        m.set_pdu().select_command(command);
        if (slot >= 0)
            m.set_slot(unsigned(slot));
        ASSERT_TRUE(DaemonTest::send(m));
    }
    // The next `n` messages as text ("ok #3 @2", "@2 auth alice/secret"),
    // "; " between them; `last` keeps the last.
    std::string next(int n = 1) { return texts(n, slotstest::text); }
    static LGCP::Command create_modem(bool digital)
    {
        LGCP::Command c;
        TERM::ModemParams& params = c.select_create().select_modem();
        params.set_cid("5551234");
        params.set_cdid("100");
        if (digital)
            params.set_ddm().push_back(TERM::DigitalDataModeEnum::ddm8BIT);
        return c;
    }
    static LGCP::Command create_trunk(int timeslot = 1)
    {
        LGCP::Command c;
        c.select_create().select_trunk().set_trunk(0);
        c.ref_create().ref_trunk().set_timeslot(timeslot);
        return c;
    }
    static LGCP::Command connect(unsigned target)
    {
        return LGCP::Command(LGCP::Command::connect::value, target);
    }
    static LGCP::Command activate(const char* remote)
    {
        LGCP::Command c;
        TERM::ModemUserParameters& ip = c.select_activate().select_modem();
        ip.set_remoteAddr(remote);
        ip.set_netmask("255.255.255.0");
        ip.set_gateway("10.1.2.1");
        ip.set_dns("10.1.2.2");
        ip.set_mtu(1500);
        return c;
    }
    static bool auth_listening()
    {
        for (int deadlines = 0; deadlines < 4; ++deadlines)
            if (e2e::Controller().connect(52000))
                return true;
        return false;
    }
    bool wait_file(const std::string& name)
    {
        for (int waited = 0; waited < e2e::deadline_ms(); waited += 50, ::poll(nullptr, 0, 50))
            if (!e2e::read_file(daemon.path(name)).empty())
                return true;
        return false;
    }
    // True once the daemon has logged that it accepted the connection `fd`.
    bool accepted(int fd)
    {
        sockaddr_in local{};
        socklen_t size = sizeof local;
        return ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) == 0 &&
               daemon.wait_err(
                   "incoming auth connection from 127.0.0.1:" + std::to_string(ntohs(local.sin_port)) + "\n");
    }
    // Lines of the daemon's error output so far that hold `text`.
    int lines(const std::string& text)
    {
        daemon.collect_output();
        int n = 0;
        for (std::size_t at = 0; (at = daemon.err().find(text, at)) != std::string::npos; at += text.size())
            ++n;
        return n;
    }
    template <class Condition> bool until(Condition holds)
    {
        for (int waited = 0; waited < 3 * e2e::deadline_ms(); waited += 50, ::poll(nullptr, 0, 50))
            if (holds())
                return true;
        return false;
    }
    // The fake PPP daemons started so far, in order.
    std::vector<pid_t> pppds()
    {
        std::vector<pid_t> pids;
        std::istringstream in(e2e::read_file(daemon.path("/pids")));
        for (long pid; in >> pid;)
            pids.push_back(pid_t(pid));
        return pids;
    }
    // The process runs as the daemon's child, or has ended and waits for
    // the daemon to reap it (`ended`).
    bool daemons_child(pid_t pid, bool ended)
    {
        support::ProcStat stat;
        return support::proc_stat(pid, stat) && stat.parent == daemon.pid() && (stat.state == 'Z') == ended;
    }
};

TEST_F(Modems, DspModemCallFromCreateToDestroy)
{
    boot();
    LGCP::Command create;
    create.select_create().select_trunk().set_trunk(0);
    create.ref_create().ref_trunk().set_timeslot(1);
    send(1, 1, create);
    EXPECT_EQ("ok #1 @1; @1 transmitter 1; @1 receiver 1", next(3));

    LGCP::Command modem;
    TERM::ModemParams& params = modem.select_create().select_modem();
    params.set_cid("5551234");
    params.set_cdid("100");
    send(2, 2, modem);
    EXPECT_EQ("ok #2 @2", next());

    send(3, -1, LGCP::Command(LGCP::Command::query::value, ASN1::Null()));
    EXPECT_EQ("ok #3", next());
    ASSERT_EQ(0u, next().find("query"));
    EXPECT_EQ(2, int(last.get_pdu().get_signal().get_query().get_modem().getValue()));
    // hdlc1 is a loopback and hdlc2 not point-to-point.
    EXPECT_EQ(1, int(last.get_pdu().get_signal().get_query().get_digital_modems().getValue()));

    send(4, 2, LGCP::Command(LGCP::Command::connect::value, 1u));
    EXPECT_EQ("@2 transmitter 96; @2 receiver 96; ok #4 @2", next(3));

    ASSERT_TRUE(wait_file("/pppd.args")) << daemon.err();
    const std::string root = daemon.path("");
    EXPECT_EQ(root + "/usr/local/sbin/pppd file " + root +
                  "/usr/local/etc/ppp/aoptions /dev/mdm0 remotenumber 5551234",
              e2e::read_file(daemon.path("/pppd.args")));
    EXPECT_EQ("@2 auth alice/secret", next()) << daemon.err();

    LGCP::Command activate;
    TERM::ModemUserParameters& ip = activate.select_activate().select_modem();
    ip.set_remoteAddr("10.1.2.3");
    ip.set_netmask("255.255.255.0");
    ip.set_gateway("10.1.2.1");
    ip.set_dns("bad");
    ip.set_mtu(1500);
    send(5, 2, activate);
    EXPECT_EQ("ok #5 @2", next());
    ASSERT_TRUE(wait_file("/pppd.records"));
    EXPECT_EQ(activation(0, "0a010203ffffff000a010201ffffffff"),
              e2e::read_file(daemon.path("/pppd.records")));

    send(6, 2, LGCP::Command(LGCP::Command::destroy::value, ASN1::Null()));
    ASSERT_TRUE(wait_file("/pppd.hup"));
    EXPECT_EQ("ok #6 @2", next()) << "the answer waits for the daemon's end";
    EXPECT_TRUE(daemon.wait_err("sent HUP to pppd."));
    // pppd's end closes its plugin connection: the factory lets the client go.
    EXPECT_TRUE(daemon.wait_err(" disconnected."));
}

// A digital (HDLC) modem call created after an idle DSP modem slot, which is
// at modem -1 like the call: the credentials its plugin sends on session -1
// are announced on the call's slot, whose activation reaches that plugin.
TEST_F(Modems, DigitalCallCredentialsSkipAnIdleDspModem)
{
    boot();
    send(1, 1, create_trunk());
    EXPECT_EQ("ok #1 @1; @1 transmitter 1; @1 receiver 1", next(3));
    send(2, 2, create_modem(false));
    send(3, 3, create_modem(true));
    EXPECT_EQ("ok #2 @2; ok #3 @3", next(2));
    send(4, 3, connect(1));
    EXPECT_EQ("@3 transmitter 40; ok #4 @3", next(2));
    ASSERT_TRUE(wait_file("/pppd.args")) << daemon.err();
    const std::string root = daemon.path("");
    EXPECT_EQ(root + "/usr/local/sbin/pppd file " + root +
                  "/usr/local/etc/ppp/ioptions hdlc0 remotenumber 5551234",
              e2e::read_file(daemon.path("/pppd.args")));
    EXPECT_EQ("@3 auth alice/secret", next()) << daemon.err();

    send(6, 3, activate("10.1.2.3"));
    EXPECT_EQ("ok #6 @3", next());
    ASSERT_TRUE(wait_file("/pppd.records"));
    EXPECT_EQ(activation(-1, "0a010203ffffff000a0102010a010202"),
              e2e::read_file(daemon.path("/pppd.records")));

    send(7, 3, LGCP::Command(LGCP::Command::destroy::value, ASN1::Null()));
    EXPECT_EQ("ok #7 @3", next());
}

// A connection to the authentication port that sends nothing (a port probe,
// or a plugin whose request has not come yet), accepted before a digital
// call's plugin: the records of the call's activation, session -1 like every
// digital modem's, reach the plugin that asked and not the silent connection.
TEST_F(Modems, ASilentConnectionTakesNoDigitalCallsRecords)
{
    boot();
    struct Silent {
        const int fd = support::connect_loopback(52000);
        ~Silent()
        {
            if (fd >= 0)
                ::close(fd);
        }
    } const silent;
    ASSERT_GE(silent.fd, 0);
    ASSERT_TRUE(accepted(silent.fd)) << daemon.err();

    send(1, 1, create_trunk());
    EXPECT_EQ("ok #1 @1; @1 transmitter 1; @1 receiver 1", next(3));
    send(2, 2, create_modem(true));
    EXPECT_EQ("ok #2 @2", next());
    send(3, 2, connect(1));
    EXPECT_EQ("@2 transmitter 40; ok #3 @2", next(2));
    EXPECT_EQ("@2 auth alice/secret", next()) << daemon.err();
    send(4, 2, activate("10.1.2.3"));
    EXPECT_EQ("ok #4 @2", next());
    EXPECT_TRUE(wait_file("/pppd.records")) << "the plugin that asked got no records\n" << daemon.err();
    EXPECT_EQ(activation(-1, "0a010203ffffff000a0102010a010202"),
              e2e::read_file(daemon.path("/pppd.records")));
    // Both records were written before the answer: whatever the silent
    // connection was sent is there to read now.
    EXPECT_TRUE(nothing_to_read(silent.fd)) << "the silent connection got bytes (or its end)";

    send(5, 2, LGCP::Command(LGCP::Command::destroy::value, ASN1::Null()));
    EXPECT_EQ("ok #5 @2", next());
}

// No modem when the first join comes: the allocation fails and the join
// still reports the stream it started, without a channel. Once the driver has
// modems, a later join allocates one and the controller hears both streams
// with its channel, whichever stream the first join started.
TEST_F(Modems, StreamsAfterAFailedAllocationCarryTheModemsChannel)
{
    boot("device /dev/mctl present\nmctl modems 0 96\n");
    send(1, 1, create_trunk());
    EXPECT_EQ("ok #1 @1; @1 transmitter 1; @1 receiver 1", next(3));
    struct Case {
        int modem;                 // its slot
        bool transmits;            // the first join feeds the trunk; the later one is the other way
        const char *first, *later; // the controller's messages (seq 10 + slot, 20 + slot)
    } const cases[] = {
        {2, true, "@2 abort 16; @2 transmitter -1; connectFail #12 @2",
         "@2 transmitter 96; @2 receiver 96; ok #22 @1"},
        {3, false, "@3 abort 16; @3 receiver -1; connectFail #13 @1",
         "@3 transmitter 97; @3 receiver 97; ok #23 @3"},
    };
    for (auto const& c : cases) {
        send(c.modem, c.modem, create_modem(false));
        EXPECT_EQ("ok #" + std::to_string(c.modem) + " @" + std::to_string(c.modem), next());
        if (c.transmits)
            send(10 + c.modem, c.modem, connect(1));
        else
            send(10 + c.modem, 1, connect(unsigned(c.modem)));
        EXPECT_EQ(c.first, next(3));
    }
    ASSERT_EQ("ok\n", daemon.board("mctl modems 2 96"));
    for (auto const& c : cases) {
        if (c.transmits)
            send(20 + c.modem, 1, connect(unsigned(c.modem)));
        else
            send(20 + c.modem, c.modem, connect(1));
        EXPECT_EQ(c.later, next(3));
        EXPECT_EQ("@" + std::to_string(c.modem) + " auth alice/secret", next()) << daemon.err();
    }
}

// A modem driver that gives the same number again and again (it never gets
// past modem 1): start-up ends, the number is counted once, and the resource
// report has the modems the driver showed.
TEST_F(Modems, ModemDriverThatRepeatsANumber)
{
    boot("device /dev/mctl present\nmctl modems 3 96\nmctl repeat 1\n");
    EXPECT_TRUE(daemon.wait_err("driver reported modem 1 twice"));
    send(1, -1, LGCP::Command(LGCP::Command::query::value, ASN1::Null()));
    EXPECT_EQ("ok #1", next());
    ASSERT_EQ(0u, next().find("query"));
    EXPECT_EQ(2, int(last.get_pdu().get_signal().get_query().get_modem().getValue()));
}

// Plugins keep connecting, each sending its request and closing, while the
// daemon runs out of descriptors. Every connection it accepted is either
// served (its request read, its end seen) or closed at once with a line that
// says why; once the plugins have gone, neither a client nor a descriptor of
// theirs is left; a call's plugin is served afterwards as before.
TEST_F(Modems, PluginsWhileTheDaemonRunsOutOfDescriptors)
{
    // The sanitizer build checks an object's type by reading its type
    // information through a pipe the first time it meets the type; out of
    // descriptors the read fails and the check ends the daemon, reporting an
    // invalid vptr. The port taken at start-up makes the factory retry its
    // bind, so the daemon has built its listener's timers before any
    // shortage (the pause of accepting builds nothing).
    const int taken = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(taken, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in port = support::loopback(52000);
    ASSERT_EQ(0, ::bind(taken, reinterpret_cast<const sockaddr*>(&port), sizeof port));
    ASSERT_EQ(0, ::listen(taken, 1));
    e2e::DaemonOptions options({}, {}, kBoard);
    options.open_files = 48;
    start(options);
    EXPECT_TRUE(daemon.wait_err("fail to bind auth socket: "));
    ::close(taken);
    ASSERT_TRUE(auth_listening()) << daemon.err();
    const std::string incoming = "incoming auth connection from ", gone = " disconnected.",
                      refused = " closed: can't duplicate its descriptor: ", read = "unknown session 7\n";
    // The probe that found the port listening has come and gone.
    ASSERT_TRUE(until([&] { return lines(incoming) > 0 && lines(incoming) == lines(gone); })) << daemon.err();
    const int probes = lines(incoming), before = descriptors(daemon.pid());

    // Twice the table's size at most: the accept queue holds the rest.
    constexpr int kPlugins = 48;
    std::vector<int> plugins;
    for (int k = 0; k < kPlugins; ++k) {
        plugins.push_back(plugin(7));
        ASSERT_GE(plugins.back(), 0) << k;
    }
    EXPECT_TRUE(until([&] { return lines("fail to set nonblock mode.") + lines(refused) > 0; }))
        << "the daemon ran short of descriptors\n"
        << daemon.err();
    for (int fd : plugins)
        ::close(fd);
    EXPECT_TRUE(until([&] {
        return lines(incoming) == probes + kPlugins && lines(incoming) == lines(gone) + lines(refused);
    })) << daemon.err();
    EXPECT_EQ(kPlugins - lines(refused), lines(read)) << "every served plugin's request was read";
    EXPECT_TRUE(until([&] { return descriptors(daemon.pid()) == before; }))
        << descriptors(daemon.pid()) << " descriptors, " << before << " before";

    send(1, 1, create_trunk());
    EXPECT_EQ("ok #1 @1; @1 transmitter 1; @1 receiver 1", next(3));
    send(2, 2, create_modem(false));
    EXPECT_EQ("ok #2 @2", next());
    send(3, 2, connect(1));
    EXPECT_EQ("@2 transmitter 96; @2 receiver 96; ok #3 @2", next(3));
    EXPECT_EQ("@2 auth alice/secret", next()) << daemon.err();
    send(4, 2, activate("10.1.2.3"));
    EXPECT_EQ("ok #4 @2", next());
    ASSERT_TRUE(wait_file("/pppd.records"));
    EXPECT_EQ(activation(0, "0a010203ffffff000a0102010a010202"),
              e2e::read_file(daemon.path("/pppd.records")));
}

// Two digital calls at once, both of session -1: the second call's plugin
// asks while the first one's call is authenticated, and each plugin gets the
// records of its own call's activation, with its own remote address.
TEST_F(Modems, TwoDigitalCallsEachGetTheirOwnRecords)
{
    boot("device /dev/mctl present\nmctl modems 2 96\nnetif add hdlc0 40\nnetif add hdlc1 41\n");
    send(1, 1, create_trunk(1));
    EXPECT_EQ("ok #1 @1; @1 transmitter 1; @1 receiver 1", next(3));
    send(2, 2, create_trunk(2));
    EXPECT_EQ("ok #2 @2; @2 transmitter 2; @2 receiver 2", next(3));
    struct Call {
        unsigned slot, trunk;
        const char *streams, *remote, *records; // the activation's address, and in hex
    } const calls[] = {
        {3, 1, "@3 transmitter 40; ok #13 @3", "10.1.2.3", "0a010203"},
        {4, 2, "@4 transmitter 41; ok #14 @4", "10.1.2.4", "0a010204"},
    };
    for (auto const& c : calls) {
        send(int(c.slot), int(c.slot), create_modem(true));
        EXPECT_EQ("ok #" + std::to_string(c.slot) + " @" + std::to_string(c.slot), next());
        send(10 + int(c.slot), int(c.slot), connect(c.trunk));
        EXPECT_EQ(c.streams, next(2));
        EXPECT_EQ("@" + std::to_string(c.slot) + " auth alice/secret", next()) << daemon.err();
    }
    // The later call first: the earlier plugin, also of session -1, was
    // accepted first.
    for (int k : {1, 0}) {
        auto const& c = calls[k];
        const std::string at = " @" + std::to_string(c.slot);
        send(20 + int(c.slot), int(c.slot), activate(c.remote));
        EXPECT_EQ("ok #" + std::to_string(20 + c.slot) + at, next());
        const std::string file = "/records.hdlc" + std::to_string(c.slot - 3);
        EXPECT_TRUE(wait_file(file)) << at << "'s plugin got no records\n" << daemon.err();
        EXPECT_EQ(activation(-1, c.records + std::string("ffffff000a0102010a010202")),
                  e2e::read_file(daemon.path(file)))
            << at;
    }
    for (unsigned n : {3u, 4u}) {
        send(30 + int(n), int(n), LGCP::Command(LGCP::Command::destroy::value, ASN1::Null()));
        EXPECT_EQ("ok #" + std::to_string(30 + n) + " @" + std::to_string(n), next());
    }
}

// Activations that no plugin speaks for: a call whose PPP daemon (and with it
// its plugin) has ended, while another digital call's plugin of the same
// session -1 is connected, and an idle DSP modem slot. Neither sends a record
// to any plugin, and both are answered unsupported; the other call's plugin
// gets only its own call's records.
TEST_F(Modems, ActivationsWithoutTheirPluginReachNoOther)
{
    boot("device /dev/mctl present\nmctl modems 2 96\nnetif add hdlc0 40\nnetif add hdlc1 41\n");
    send(1, 1, create_trunk(1));
    EXPECT_EQ("ok #1 @1; @1 transmitter 1; @1 receiver 1", next(3));
    send(2, 2, create_modem(false));
    EXPECT_EQ("ok #2 @2", next()) << "idle: no join, so no modem";
    send(3, 3, create_modem(true));
    EXPECT_EQ("ok #3 @3", next());
    send(4, 3, connect(1));
    EXPECT_EQ("@3 transmitter 40; ok #4 @3", next(2));
    EXPECT_EQ("@3 auth alice/secret", next()) << daemon.err();
    // The request came after the fake set its hang-up handler.
    const std::vector<pid_t> started = pppds();
    ASSERT_EQ(1u, started.size());
    ASSERT_TRUE(daemons_child(started[0], false));
    ::kill(started[0], SIGHUP);
    EXPECT_EQ("@3 abort 0", next()) << "the call's PPP daemon has ended";
    ASSERT_TRUE(daemon.wait_err(" disconnected.")) << "its plugin has gone\n" << daemon.err();

    send(5, 5, create_trunk(2));
    EXPECT_EQ("ok #5 @5; @5 transmitter 2; @5 receiver 2", next(3));
    send(6, 6, create_modem(true));
    EXPECT_EQ("ok #6 @6", next());
    send(7, 6, connect(5));
    EXPECT_EQ("@6 transmitter 41; ok #7 @6", next(2));
    EXPECT_EQ("@6 auth alice/secret", next()) << daemon.err();

    const int before = lines("send error: unknown auth 4294967295 session.");
    send(8, 3, activate("10.1.2.3"));
    EXPECT_EQ("unsupported #8 @3", next()) << "the call whose plugin has gone";
    send(9, 2, activate("10.1.2.9"));
    EXPECT_EQ("unsupported #9 @2", next()) << "the idle slot";
    EXPECT_EQ(before + 2, lines("send error: unknown auth 4294967295 session.")) << daemon.err();
    send(10, 6, activate("10.1.2.6"));
    EXPECT_EQ("ok #10 @6", next());
    ASSERT_TRUE(wait_file("/records.hdlc1")) << daemon.err();
    EXPECT_EQ(activation(-1, "0a010206ffffff000a0102010a010202"),
              e2e::read_file(daemon.path("/records.hdlc1")))
        << "the first records the plugin got are its own call's";

    send(11, 3, LGCP::Command(LGCP::Command::destroy::value, ASN1::Null()));
    EXPECT_EQ("ok #11 @3", next());
    send(12, 6, LGCP::Command(LGCP::Command::destroy::value, ASN1::Null()));
    EXPECT_EQ("ok #12 @6", next());
}

// Connections that send a record too short to hold its session (4 and 11
// bytes, zeros behind the length word), accepted before a DSP modem call's
// plugin and sent once that plugin has asked: each is logged with its size,
// and neither takes the records of the activation of the call on modem 0,
// which reach the plugin that asked.
TEST_F(Modems, AConnectionWithAShortRecordTakesNothing)
{
    boot();
    struct Short {
        std::uint32_t length;
        int fd = -1;
        ~Short()
        {
            if (fd >= 0)
                ::close(fd);
        }
    } shorts[] = {{4}, {11}};
    for (auto& c : shorts) {
        c.fd = support::connect_loopback(52000);
        ASSERT_GE(c.fd, 0);
        ASSERT_TRUE(accepted(c.fd)) << daemon.err();
    }
    send(1, 1, create_trunk());
    EXPECT_EQ("ok #1 @1; @1 transmitter 1; @1 receiver 1", next(3));
    send(2, 2, create_modem(false));
    EXPECT_EQ("ok #2 @2", next());
    send(3, 2, connect(1));
    EXPECT_EQ("@2 transmitter 96; @2 receiver 96; ok #3 @2", next(3));
    EXPECT_EQ("@2 auth alice/secret", next()) << daemon.err();
    for (auto& c : shorts) {
        SCOPED_TRACE(c.length);
        char bytes[12] = {};
        std::memcpy(bytes, &c.length, sizeof c.length);
        ASSERT_EQ(ssize_t(c.length), ::send(c.fd, bytes, c.length, MSG_NOSIGNAL));
        EXPECT_TRUE(
            daemon.wait_err("auth record too short: " + std::to_string(c.length) + " bytes, ignored.\n"))
            << daemon.err();
    }
    send(4, 2, activate("10.1.2.3"));
    EXPECT_EQ("ok #4 @2", next());
    EXPECT_TRUE(wait_file("/pppd.records")) << "the plugin that asked got no records\n" << daemon.err();
    EXPECT_EQ(activation(0, "0a010203ffffff000a0102010a010202"),
              e2e::read_file(daemon.path("/pppd.records")));
    // Both records were written before the answer.
    for (auto const& c : shorts)
        EXPECT_TRUE(nothing_to_read(c.fd)) << c.length << "-byte record's connection got bytes (or its end)";
    send(5, 2, LGCP::Command(LGCP::Command::destroy::value, ASN1::Null()));
    EXPECT_EQ("ok #5 @2", next());
}

// A call's plugin writes its accounting report on the hang-up of the destroy
// and its PPP daemon ends, both while the daemon is held, so that it finds
// the report and the end in one turn. The report is the call's, digital or
// DSP, although an idle DSP modem slot created first shares the digital
// call's session -1; the destroy's answer follows it.
TEST_F(Modems, TheLastAccountingReachesItsOwnCall)
{
    boot("device /dev/mctl present\nmctl modems 2 96\nnetif add hdlc0 40\n");
    std::ofstream(daemon.path("/hold")) << "hold";
    send(1, 1, create_trunk());
    EXPECT_EQ("ok #1 @1; @1 transmitter 1; @1 receiver 1", next(3));
    send(2, 2, create_modem(false));
    EXPECT_EQ("ok #2 @2", next()) << "idle: no join, so no modem";
    struct Call {
        unsigned slot;
        bool digital;
        const char *streams, *end; // the join's messages; the report's and the destroy's
    } const calls[] = {
        {3, true, "@3 transmitter 40; ok #13 @3", "@3 acct 0:100 0:200 0:3 0:4 0:60; ok #23 @3"},
        {4, false, "@4 transmitter 96; @4 receiver 96; ok #14 @4",
         "@4 acct 0:100 0:200 0:3 0:4 0:60; ok #24 @4"},
    };
    for (auto const& c : calls) {
        SCOPED_TRACE(c.slot);
        const std::string at = "@" + std::to_string(c.slot);
        send(int(c.slot), int(c.slot), create_modem(c.digital));
        EXPECT_EQ("ok #" + std::to_string(c.slot) + " " + at, next());
        send(10 + int(c.slot), int(c.slot), connect(1));
        EXPECT_EQ(c.streams, next(c.digital ? 2 : 3));
        EXPECT_EQ(at + " auth alice/secret", next()) << daemon.err();
        const pid_t pppd = pppds().back();
        ::unlink(daemon.path("/pppd.hup").c_str());
        send(20 + int(c.slot), int(c.slot), LGCP::Command(LGCP::Command::destroy::value, ASN1::Null()));
        ASSERT_TRUE(wait_file("/pppd.hup")) << daemon.err();
        {
            const e2etest::Held held(daemon.pid());
            ASSERT_TRUE(held.stopped());
            std::ofstream(daemon.path("/go." + std::to_string(pppd))) << "go";
            ASSERT_TRUE(wait_file("/acct." + std::to_string(pppd)));
            ASSERT_TRUE(until([&] { return daemons_child(pppd, true); })) << "the PPP daemon has ended";
        }
        EXPECT_EQ(c.end, next(2)) << daemon.err();
    }
}

// A PPP daemon whose plugin opens a connection for each record and closes it
// once done with it. "<root>/plugin" says who holds the connections: the
// daemon itself ("inside"), a child process of it ("outside"), or the daemon,
// which first sends its request and a bad length word on a connection that
// the gateway closes, then asks again on a new one ("reconnect"). It adds its
// number to the fixture's list of programs and asks for the modem of its data
// device (session -1 on a network interface): while "<root>/gate" exists,
// only once "<root>/ask" exists, having written "ready.<pid>"; it writes
// "sent.<pid>" once its request is sent, and the accept and ip records it gets
// back in hex to "records.<device's last name>". On SIGHUP it writes
// "hup.<pid>"; while "<root>/hold" exists it waits for "go.<pid>"; it sends
// the accounting report (octets 100 + its interface's number out and 200 in,
// packets 3 and 4, 60 s), closes the connection and writes "acct.<pid>";
// while "<root>/keep.<pid>" exists, it writes "acct.<pid>" with the
// connection still open, and keeps it open until "end.<pid>" exists. While
// "<root>/linger" exists it then waits for "end.<pid>"; then it leaves.
const char kPerRecordPppd[] = R"(#!/usr/bin/env python3
import os, signal, socket, struct, sys, time
root, order = sys.argv[0][:-len('/usr/local/sbin/pppd')], '%s'
me = '%%d' %% os.getpid()
open(root + '/pids', 'a').write(me + '\n')
mode = open(root + '/plugin').read().strip()
device = sys.argv[3]
session = int(device[len('/dev/mdm'):]) if device.startswith('/dev/mdm') else -1
unit = int(device[len('hdlc'):]) if device.startswith('hdlc') else 0
def exists(name):
    return os.path.exists(root + '/' + name)
def mark(name, text='1'):
    open(root + '/' + name + '.' + me + '.tmp', 'w').write(text)
    os.rename(root + '/' + name + '.' + me + '.tmp', root + '/' + name)
def wait(name):
    while not exists(name):
        time.sleep(0.01)
def exchange(record, answer, sent):
    s = socket.create_connection(('127.0.0.1', 52000))
    s.sendall(record)
    keep = not answer and exists('keep.' + me)
    if not answer and not keep:
        s.close()
    if sent:
        mark(sent)
    got = b''
    while len(got) < answer:
        more = s.recv(answer - len(got))
        if not more:
            break
        got += more
    if keep:
        wait('end.' + me)
    s.close()
    return got
def talk(record, answer, sent=None):
    if mode != 'outside':
        return exchange(record, answer, sent)
    r, w = os.pipe()
    child = os.fork()
    if child == 0:
        os.write(w, exchange(record, answer, sent))
        os._exit(0)
    os.close(w)
    got = b''
    while True:
        more = os.read(r, 64)
        if not more:
            break
        got += more
    os.waitpid(child, 0)
    return got
def hup(*_):
    mark('hup.' + me)
    if exists('hold'):
        wait('go.' + me)
    talk(struct.pack(order + 'iii12x9I4x', 64, 4, session, 0, 100 + unit, 0, 200, 0, 3, 0, 4, 60), 0,
         'acct.' + me)
    if exists('linger'):
        wait('end.' + me)
    os._exit(0)
signal.signal(signal.SIGHUP, hup)
request = struct.pack(order + 'iii64s64s', 140, 1, session, b'alice', b'secret')
if exists('gate'):
    mark('ready.' + me)
    wait('ask')
if mode == 'reconnect':
    s = socket.create_connection(('127.0.0.1', 52000))
    s.sendall(request + struct.pack(order + 'i', 3))
    while s.recv(64):
        pass
    s.close()
got = talk(request, 52, 'sent.' + me)
mark('records.' + os.path.basename(device), got.hex())
while True:
    signal.pause()
)";

// Digital calls whose plugins open a connection per record, on three
// interfaces and three trunks.
class PerRecordPlugins : public Modems
{
protected:
    void SetUp() override
    {
        Modems::SetUp();
        char script[8192];
        std::snprintf(script, sizeof script, kPerRecordPppd, bigEndian() ? ">" : "<");
        std::ofstream(daemon.path("/usr/local/sbin/pppd")) << script;
        plugin("inside");
    }
    void plugin(const char* mode) { std::ofstream(daemon.path("/plugin")) << mode; }
    void boot()
    {
        Modems::boot("device /dev/mctl present\nmctl modems 2 96\nnetif add hdlc0 40\nnetif add hdlc1 41\n"
                     "netif add hdlc2 42\n");
        for (int trunk : {1, 2, 3}) {
            send(trunk, trunk, create_trunk(trunk));
            char created[64];
            std::snprintf(created, sizeof created, "ok #%d @%d; @%d transmitter %d; @%d receiver %d", trunk,
                          trunk, trunk, trunk, trunk, trunk);
            EXPECT_EQ(created, next(3));
        }
    }
    // A digital call on slot `n` joined to `trunk`, whose daemon is started
    // on the interface it is given (its TDM channel kept in `channels`); it
    // has not asked yet. The daemon's number, -1 when none started.
    pid_t call(unsigned n, unsigned trunk)
    {
        const std::string at = "@" + std::to_string(n);
        send(int(n), int(n), create_modem(true));
        EXPECT_EQ("ok #" + std::to_string(n) + " " + at, next());
        const std::size_t started = pppds().size();
        send(int(n), int(n), connect(trunk));
        const std::string joined = next(2);
        int channel = -1;
        std::sscanf(joined.c_str(), ("@%*u transmitter %d; ok #%*u " + at).c_str(), &channel);
        EXPECT_TRUE(channel >= 40 && channel <= 42) << joined;
        channels[n] = channel;
        daemons[n] = until([&] { return pppds().size() > started; }) ? pppds().back() : -1;
        return daemons[n];
    }
    // Calls on `slots` (each joined to trunk slot - 10) whose plugins ask at
    // the same moment: each daemon waits until told, and the gateway, held,
    // finds every request at once. The requests announced, sorted, "; "
    // between them ("" when a daemon did not get as far as asking).
    std::string asked_together(std::vector<unsigned> const& slots)
    {
        std::ofstream(daemon.path("/gate")) << "gate";
        for (unsigned n : slots)
            if (call(n, n - 10) <= 0 || !wait_file("/ready." + std::to_string(daemons[n])))
                return "";
        {
            const e2etest::Held held(daemon.pid());
            if (!held.stopped())
                return "";
            std::ofstream(daemon.path("/ask")) << "ask";
            for (unsigned n : slots)
                if (!wait_file("/sent." + std::to_string(daemons[n])))
                    return "";
        }
        ::unlink(daemon.path("/gate").c_str());
        ::unlink(daemon.path("/ask").c_str());
        std::vector<std::string> asked;
        for (std::size_t k = 0; k < slots.size(); ++k)
            asked.push_back(next());
        std::sort(asked.begin(), asked.end());
        std::string text;
        for (auto const& a : asked)
            text += (text.empty() ? "" : "; ") + a;
        return text;
    }
    // Calls on `slots` (each joined to trunk slot - 10) that have asked, one
    // after the other, and (`activate`) been activated.
    void served(std::initializer_list<unsigned> slots, bool activate = true)
    {
        for (unsigned n : slots) {
            ASSERT_GT(call(n, n - 10), 0) << daemon.err();
            ASSERT_EQ("@" + std::to_string(n) + kAuth, next()) << daemon.err();
            if (activate)
                activated(n);
        }
    }
    // Writes "<name>.<pid>" for the daemon of slot `n`.
    void tell(const char* name, unsigned n)
    {
        std::ofstream(daemon.path("/" + std::string(name) + "." + std::to_string(daemons[n]))) << name;
    }
    // The controller's destroy of slot `n`, whose daemon has had the hang-up.
    bool hung_up(unsigned n)
    {
        send(int(200 + n), int(n), LGCP::Command(LGCP::Command::destroy::value, ASN1::Null()));
        return wait_file("/hup." + std::to_string(daemons[n]));
    }
    // The plugin of slot `n`, held at its hang-up, has sent its accounting.
    bool accounted(unsigned n)
    {
        tell("go", n);
        return wait_file("/acct." + std::to_string(daemons[n]));
    }
    // The daemon of slot `n` has ended, not yet reaped by the gateway.
    bool ended(unsigned n)
    {
        return until([&] { return daemons_child(daemons[n], true); });
    }
    // The destroy of slot `n`, whose plugin's accounting, held at the hang-up,
    // is sent while the gateway is held and read on a connection closed by
    // then: it waits, as it may be any running call's.
    bool waits(unsigned n)
    {
        const int waiting = lines(kWaits);
        if (!hung_up(n))
            return false;
        {
            const e2etest::Held held(daemon.pid());
            if (!held.stopped() || !accounted(n))
                return false;
        }
        return until([&] { return lines(kWaits) == waiting + 1; });
    }
    // The activation of slot `n` with the remote address 10.1.2.<n> reaches
    // the plugin of its interface and that one alone.
    void activated(unsigned n)
    {
        const std::string file = "/records.hdlc" + std::to_string(channels[n] - 40);
        ::unlink(daemon.path(file).c_str());
        send(int(100 + n), int(n), activate(("10.1.2." + std::to_string(n)).c_str()));
        EXPECT_EQ("ok #" + std::to_string(100 + n) + " @" + std::to_string(n), next());
        ASSERT_TRUE(wait_file(file)) << "@" << n << "'s plugin got no records\n" << daemon.err();
        char address[9];
        std::snprintf(address, sizeof address, "0a0102%02x", n);
        EXPECT_EQ(activation(-1, address + std::string("ffffff000a0102010a010202")),
                  e2e::read_file(daemon.path(file)))
            << "@" << n;
    }
    // The octets out of slot `n`'s plugin's accounting: 100 and its
    // interface's number (0 for a DSP modem's call).
    std::string octets(unsigned n) const
    {
        const auto channel = channels.find(n);
        return std::to_string(100 + (channel == channels.end() ? 0 : channel->second - 40));
    }
    // The accounting report of slot `n`'s plugin as the controller hears it.
    std::string acct(unsigned n) const
    {
        return "@" + std::to_string(n) + " acct 0:" + octets(n) + " 0:200 0:3 0:4 0:60";
    }
    // The line of a report of slot `n`'s plugin dropped as no call's.
    std::string dropped(unsigned n) const
    {
        return "no modem slot it matched is left, dropped: octets out " + octets(n) +
               " in 200, packets out 3 in 4, time 60 s.\n";
    }
    // The destroy of slot `n`: its accounting, then the answer.
    void destroyed(unsigned n)
    {
        send(int(200 + n), int(n), LGCP::Command(LGCP::Command::destroy::value, ASN1::Null()));
        EXPECT_EQ(acct(n) + "; ok #" + std::to_string(200 + n) + " @" + std::to_string(n), next(2))
            << daemon.err();
    }
    static constexpr const char* kAuth = " auth alice/secret";
    static constexpr const char* kWaits = "matches several modem slots, waits for the first pppd to end.";
    std::map<unsigned, int> channels;  // of the digital calls' interfaces, by slot
    std::map<unsigned, pid_t> daemons; // of the digital calls, by slot
};

// Calls one after the other: each request reaches its own call, which has
// not asked yet while the earlier ones have, whether the plugin's connection
// is found in its daemon or has gone and been held elsewhere; each
// activation reaches its own plugin, each accounting its own call.
TEST_F(PerRecordPlugins, CallsOneAfterTheOther)
{
    boot();
    for (const char* mode : {"inside", "outside"}) {
        SCOPED_TRACE(mode);
        plugin(mode);
        for (unsigned k = 0; k < 3; ++k) {
            const unsigned n = 11 + k;
            ASSERT_GT(call(n, 1 + k), 0) << daemon.err();
            EXPECT_EQ("@" + std::to_string(n) + kAuth, next()) << daemon.err();
            activated(n);
        }
        for (unsigned n : {12u, 11u, 13u})
            destroyed(n);
    }
    EXPECT_EQ(0, lines("matches several modem slots, dropped.")) << daemon.err();
}

// Calls whose plugins ask at the same moment, from the daemon itself or from
// a child process of it: the gateway, held, finds the requests at once. Each
// goes to the call whose daemon's process group holds its connection, and
// each call's activation to its own plugin.
TEST_F(PerRecordPlugins, CallsThatAskAtTheSameMoment)
{
    boot();
    for (const char* mode : {"inside", "outside"}) {
        SCOPED_TRACE(mode);
        plugin(mode);
        ASSERT_EQ(std::string("@11") + kAuth + "; @12" + kAuth + "; @13" + kAuth,
                  asked_together({11, 12, 13}))
            << daemon.err();
        for (unsigned k : {2u, 0u, 1u})
            activated(11 + k);
        for (unsigned n : {11u, 12u, 13u})
            destroyed(n);
    }
}

// A call's daemon ends while another call runs, its plugin's accounting
// written on a new connection before the end, the daemon held meanwhile, so
// that it finds the report with no daemon holding its connection, and the end
// in the same turn: the report reaches the call that ended, before its
// abort (a caller who hangs up) or its destroy's answer.
TEST_F(PerRecordPlugins, AccountingOfACallThatEndsWhileAnotherRuns)
{
    boot();
    std::ofstream(daemon.path("/hold")) << "hold";
    struct Case {
        bool destroy;
        const char* end; // what follows the report
    } const cases[] = {{false, "@11 abort 0"}, {true, "ok #211 @11"}};
    for (auto const& c : cases) {
        SCOPED_TRACE(c.end);
        ASSERT_NO_FATAL_FAILURE(served({11, 12}));
        const int waiting = lines(kWaits);
        if (c.destroy)
            ASSERT_TRUE(hung_up(11)) << daemon.err();
        else
            ::kill(daemons[11], SIGHUP);
        ASSERT_TRUE(wait_file("/hup." + std::to_string(daemons[11])));
        {
            const e2etest::Held held(daemon.pid());
            ASSERT_TRUE(held.stopped());
            ASSERT_TRUE(accounted(11) && ended(11)) << "the PPP daemon has ended";
        }
        EXPECT_EQ(acct(11) + "; " + c.end, next(2)) << daemon.err();
        EXPECT_EQ(waiting + 1, lines(kWaits)) << "both calls were left";
        if (!c.destroy)
            send(211, 11, LGCP::Command(LGCP::Command::destroy::value, ASN1::Null())), next();
        tell("go", 12);
        destroyed(12);
    }
}

// A call's daemon lingers after its plugin has sent its accounting and
// closed, its destroy waiting for it: another call's request, on a connection
// that has gone by the time it is read, reaches the new call, and its
// activation the new call's plugin.
TEST_F(PerRecordPlugins, ARequestWhileAnotherCallIsEnding)
{
    boot();
    const pid_t ending = call(11, 1);
    ASSERT_GT(ending, 0) << daemon.err();
    EXPECT_EQ(std::string("@11") + kAuth, next()) << daemon.err();
    activated(11);
    std::ofstream(daemon.path("/linger")) << "linger";
    send(7, 11, LGCP::Command(LGCP::Command::destroy::value, ASN1::Null()));
    EXPECT_EQ("@11 acct 0:100 0:200 0:3 0:4 0:60", next()) << daemon.err();
    ASSERT_TRUE(daemons_child(ending, false)) << "still running";

    plugin("outside");
    ASSERT_GT(call(12, 2), 0) << daemon.err();
    EXPECT_EQ(std::string("@12") + kAuth, next()) << daemon.err();
    activated(12);
    std::ofstream(daemon.path("/end." + std::to_string(ending))) << "end";
    EXPECT_EQ("ok #7 @11", next());
    ::unlink(daemon.path("/linger").c_str());
    destroyed(12);
}

// Two calls hang up close together, each plugin sending its accounting on a
// connection of its own that it has closed by the time the gateway, held,
// reads it: both reports wait, as either may be either call's. No end can
// tell which report is its call's, whether the first sender's daemon lingers
// while the other's ends or both end in one turn: neither call gets one, and
// each report is logged with its counters and dropped.
TEST_F(PerRecordPlugins, AccountingOfTwoCallsThatHangUpTogether)
{
    boot();
    std::ofstream(daemon.path("/hold")) << "hold";
    std::ofstream(daemon.path("/linger")) << "linger";
    for (const bool lingers : {true, false}) {
        SCOPED_TRACE(lingers ? "the first sender lingers" : "both end in one turn");
        ASSERT_NO_FATAL_FAILURE(served({11, 12}));
        const int waiting = lines(kWaits), drops[] = {lines(dropped(11)), lines(dropped(12))};
        tell("end", 11);
        if (!lingers)
            tell("end", 12);
        ASSERT_TRUE(hung_up(12) && hung_up(11)) << daemon.err();
        {
            const e2etest::Held held(daemon.pid());
            ASSERT_TRUE(held.stopped());
            ASSERT_TRUE(accounted(12) && accounted(11) && ended(11) && (lingers || ended(12)));
        }
        std::vector<std::string> answers{next()};
        if (lingers)
            tell("end", 12);
        answers.push_back(next());
        if (!lingers)
            std::sort(answers.begin(), answers.end());
        EXPECT_EQ((std::vector<std::string>{"ok #211 @11", "ok #212 @12"}), answers) << daemon.err();
        EXPECT_EQ(waiting + 2, lines(kWaits)) << daemon.err();
        EXPECT_EQ(drops[0] + 1, lines(dropped(11))) << daemon.err();
        EXPECT_EQ(drops[1] + 1, lines(dropped(12))) << daemon.err();
    }
}

// Two calls hang up one after the other. The first one's accounting waits, as
// either call's. The other plugin's comes on a connection its daemon still
// holds when the gateway reads it, which tells whose it is: it reaches that
// call at once, and that call's end takes no more. The first call's end takes
// the waiting one.
TEST_F(PerRecordPlugins, AccountingFoundByItsHolderWhileAnotherWaits)
{
    boot();
    std::ofstream(daemon.path("/hold")) << "hold";
    std::ofstream(daemon.path("/linger")) << "linger";
    ASSERT_NO_FATAL_FAILURE(served({11, 12}));
    ASSERT_TRUE(waits(12)) << daemon.err();
    tell("keep", 11);
    ASSERT_TRUE(hung_up(11) && accounted(11)) << daemon.err();
    EXPECT_EQ(acct(11), next()) << daemon.err();
    tell("end", 11);
    EXPECT_EQ("ok #211 @11", next()) << daemon.err();
    tell("end", 12);
    EXPECT_EQ(acct(12) + "; ok #212 @12", next(2)) << daemon.err();
}

// A call's daemon goes on after the hang-up once its plugin's accounting has
// been sent, and waits as either call's: the daemon is killed at the
// time-out, and that end, handled before the slot goes, takes the report,
// which comes before the destroy's answer. The other call's report, later,
// reaches that call alone.
TEST_F(PerRecordPlugins, AccountingOfADaemonKilledAtTheTimeOut)
{
    boot();
    std::ofstream(daemon.path("/hold")) << "hold";
    std::ofstream(daemon.path("/linger")) << "linger";
    ASSERT_NO_FATAL_FAILURE(served({11, 12}));
    ASSERT_TRUE(waits(11)) << daemon.err();
    EXPECT_EQ(acct(11) + "; ok #211 @11", next(2)) << daemon.err();
    EXPECT_EQ(1, lines("pppd terminate timeout!")) << daemon.err();
    ::unlink(daemon.path("/hold").c_str());
    ::unlink(daemon.path("/linger").c_str());
    destroyed(12);
}

// A call the controller never activated ends (its daemon ended by a signal,
// its plugin sends no accounting) while another call's report waits: the
// report is not that call's, and reaches its own call at that call's end.
TEST_F(PerRecordPlugins, ACallNeverActivatedTakesNoWaitingAccounting)
{
    boot();
    std::ofstream(daemon.path("/hold")) << "hold";
    std::ofstream(daemon.path("/linger")) << "linger";
    ASSERT_NO_FATAL_FAILURE(served({11}));
    ASSERT_NO_FATAL_FAILURE(served({12}, false));
    ASSERT_TRUE(waits(11)) << daemon.err();
    ASSERT_TRUE(daemons_child(daemons[12], false));
    ::kill(daemons[12], SIGTERM);
    EXPECT_EQ("@12 abort 15", next()) << daemon.err();
    tell("end", 11);
    EXPECT_EQ(acct(11) + "; ok #211 @11", next(2)) << daemon.err();
    send(212, 12, LGCP::Command(LGCP::Command::destroy::value, ASN1::Null()));
    EXPECT_EQ("ok #212 @12", next());
}

// A call has asked and waits for its activation; two calls whose plugins
// speak from a child process of their daemons ask at the same moment and are
// activated; one of these hangs up, its daemon ending with its report, both
// found by the gateway, held, in one turn. Each request reaches its own call,
// the report the call that hung up, before the destroy's answer, and the
// first call's activation still reaches its own plugin.
TEST_F(PerRecordPlugins, AServedCallBesideCallsThatAskFromChildProcesses)
{
    boot();
    ASSERT_NO_FATAL_FAILURE(served({11}, false));
    plugin("outside");
    ASSERT_EQ(std::string("@12") + kAuth + "; @13" + kAuth, asked_together({12, 13})) << daemon.err();
    activated(13);
    activated(12);
    std::ofstream(daemon.path("/hold")) << "hold";
    ASSERT_TRUE(hung_up(12)) << daemon.err();
    {
        const e2etest::Held held(daemon.pid());
        ASSERT_TRUE(held.stopped());
        ASSERT_TRUE(accounted(12) && ended(12));
    }
    EXPECT_EQ(acct(12) + "; ok #212 @12", next(2)) << daemon.err();
    ::unlink(daemon.path("/hold").c_str());
    activated(11);
    for (unsigned n : {11u, 13u})
        destroyed(n);
}

// A plugin whose connection the gateway closes (a bad length word after its
// request) asks again on a new one, while another call runs that has asked:
// both requests reach its own call, found by its daemon holding the
// connections, and the activation reaches its plugin on the new connection.
TEST_F(PerRecordPlugins, APluginThatReconnects)
{
    boot();
    ASSERT_GT(call(11, 1), 0) << daemon.err();
    EXPECT_EQ(std::string("@11") + kAuth, next()) << daemon.err();
    activated(11);
    plugin("reconnect");
    ASSERT_GT(call(12, 2), 0) << daemon.err();
    EXPECT_EQ(std::string("@12") + kAuth + "; @12" + kAuth, next(2)) << daemon.err();
    activated(12);
    for (unsigned n : {11u, 12u})
        destroyed(n);
}

// The driver gives a fax receiver's modem, whose control descriptor the
// receiver's slot has closed, to a PPP call: a running fax program is no PPP
// daemon, and the call's request on that modem number reaches the call.
TEST_F(PerRecordPlugins, AFaxReceiverAndAPppCallOnOneModem)
{
    const std::string bin = daemon.path("/usr/local/bin");
    ASSERT_EQ(0, std::system(("mkdir -p '" + bin + "'").c_str()));
    std::ofstream(bin + "/fax")
        << "#!/bin/sh\necho $$ >> \"$(dirname \"$0\")/../../../pids\"\nexec sleep 600\n";
    ::chmod((bin + "/fax").c_str(), 0755);
    boot();
    plugin("outside");
    for (unsigned n : {11u, 12u}) {
        LGCP::Command c = create_modem(false);
        if (n == 11)
            c.ref_create().ref_modem().set_fax();
        send(int(n), int(n), c);
        EXPECT_EQ("ok #" + std::to_string(n) + " @" + std::to_string(n), next());
        send(int(n), int(n), connect(n - 10));
        char joined[64];
        std::snprintf(joined, sizeof joined, "@%u transmitter 96; @%u receiver 96; ok #%u @%u", n, n, n, n);
        EXPECT_EQ(joined, next(3)) << "modem 0 both";
    }
    EXPECT_EQ(std::string("@12") + kAuth, next()) << daemon.err();
    ::unlink(daemon.path("/records.mdm0").c_str());
    send(112, 12, activate("10.1.2.12"));
    EXPECT_EQ("ok #112 @12", next());
    ASSERT_TRUE(wait_file("/records.mdm0")) << daemon.err();
    EXPECT_EQ(activation(0, "0a01020cffffff000a0102010a010202"),
              e2e::read_file(daemon.path("/records.mdm0")));
    destroyed(12);
    send(211, 11, LGCP::Command(LGCP::Command::destroy::value, ASN1::Null()));
    EXPECT_EQ("@11 acct 0:0 0:0 0:0 0:0 0:0; ok #211 @11", next(2)) << "no page received";
}

// The driver takes a call's modem, the board's only one, back (the board hangs
// up "/dev/mctl") while the call is joined both ways to a trunk: the slot
// leaves the modem's channel (no trunk stays joined to it, its switch output
// is off), the controller hears the call's abort, and its PPP daemon gets the
// hang-up; the fact is logged once. The next call gets the modem alone: the
// old slot's joins are refused, and its destroy touches nothing of the channel.
// The calls run a program of their own, which needs no authentication.
TEST_F(Modems, AModemTheDriverTookBackIsLetGoAndTheNextCallHasItAlone)
{
    boot("device /dev/mctl present\nmctl modems 1 96\n");
    // Writes its device to "up.<pid>" once its hang-up handler is set, and
    // to "hup.<pid>" on the hang-up, then leaves.
    const std::string program = daemon.path("/call");
    std::ofstream(program) << "#!/bin/sh\necho $$ >> " << daemon.path("/pids") << "\ntrap 'echo \"$3\" > "
                           << daemon.path("/hup.") << "$$; exit 0' HUP\necho \"$3\" > " << daemon.path("/up.")
                           << "$$\nwhile :; do sleep 0.05; done\n";
    ::chmod(program.c_str(), 0755);
    LGCP::Command call = create_modem(false);
    call.ref_create().ref_modem().set_execfile(program);
    // The device of the n-th call's program once it runs, "" when it does not.
    const auto up = [this](std::size_t n) {
        const bool ran = until([&] {
            const std::vector<pid_t> pids = pppds();
            return pids.size() >= n &&
                   !e2e::read_file(daemon.path("/up." + std::to_string(pids[n - 1]))).empty();
        });
        return ran ? e2e::read_file(daemon.path("/up." + std::to_string(pppds()[n - 1]))) : "";
    };
    const auto hal = [this](int channel) {
        const std::string got = daemon.board("hal get " + std::to_string(channel));
        return got.substr(0, got.find(" reads "));
    };
    // The switch requests since the last look, the line status reads left out.
    const auto switched = [this] {
        Lines out;
        for (std::string const& line : journal("ioctl /dev/hal "))
            if (line.find(" spi-read ") == std::string::npos)
                out.push_back(line);
        return out;
    };
    send(1, 1, create_trunk(1));
    EXPECT_EQ("ok #1 @1; @1 transmitter 1; @1 receiver 1", next(3));
    send(2, 2, call);
    EXPECT_EQ("ok #2 @2", next());
    send(3, 2, connect(1));
    EXPECT_EQ("@2 transmitter 96; @2 receiver 96; ok #3 @2", next(3));
    send(4, 1, connect(2));
    EXPECT_EQ("ok #4 @1", next());
    ASSERT_EQ("/dev/mdm0\n", up(1)) << daemon.err();
    EXPECT_EQ("1 connected 96", hal(1));
    EXPECT_EQ("96 connected 1", hal(96));

    journal();
    EXPECT_EQ("ok\n", daemon.board("hangup /dev/mctl"));
    EXPECT_EQ("@2 abort 19", next()) << daemon.err();
    EXPECT_TRUE(wait_file("/hup." + std::to_string(pppds()[0]))) << "the call's program got no hang-up\n"
                                                                 << daemon.err();
    EXPECT_EQ((Lines{"ioctl /dev/hal write ch=96 byte=0xD5 -> 0", "ioctl /dev/hal write ch=1 byte=0xD5 -> 0",
                     "ioctl /dev/hal disable ch=96 -> 0"}),
              switched());
    EXPECT_EQ("1 constant 0xD5", hal(1));
    EXPECT_EQ("96 disabled", hal(96));
    EXPECT_TRUE(daemon.wait_err("pppd terminated with code 0")) << daemon.err();

    send(5, 5, create_trunk(2));
    EXPECT_EQ("ok #5 @5; @5 transmitter 2; @5 receiver 2", next(3)) << "no second abort of @2";
    send(6, 6, call);
    EXPECT_EQ("ok #6 @6", next());
    send(7, 6, connect(5));
    EXPECT_EQ("@6 transmitter 96; @6 receiver 96; ok #7 @6", next(3));
    send(8, 5, connect(6));
    EXPECT_EQ("ok #8 @5", next());
    EXPECT_EQ("/dev/mdm0\n", up(2)) << daemon.err();

    journal();
    send(9, 2, connect(1));
    EXPECT_EQ("connectFail #9 @2", next());
    send(10, 1, connect(2));
    EXPECT_EQ("connectFail #10 @1", next());
    // Refused by the slot itself, before the switch is asked.
    EXPECT_EQ(1, lines("slot 02:dsp-modem don't have output stream to 01:trunk\n")) << daemon.err();
    EXPECT_EQ(1, lines("slot 02:dsp-modem don't have input stream from 01:trunk\n")) << daemon.err();
    send(11, 2, LGCP::Command(LGCP::Command::destroy::value, ASN1::Null()));
    EXPECT_EQ("ok #11 @2", next());
    EXPECT_EQ(Lines{}, switched());
    EXPECT_EQ("2 connected 96", hal(2));
    EXPECT_EQ("96 connected 2", hal(96));
    EXPECT_EQ("1 constant 0xD5", hal(1));
    EXPECT_EQ(1, lines("modem control device hung up, modem released\n")) << daemon.err();

    send(12, 6, LGCP::Command(LGCP::Command::destroy::value, ASN1::Null()));
    EXPECT_EQ("ok #12 @6", next());
}

} // namespace
