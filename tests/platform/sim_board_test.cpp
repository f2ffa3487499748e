#include "platform/sim_board.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <linux/seccomp.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/devices.hpp"
#include "platform/sim/hal_model.hpp"
#include "platform/sim/mcc_model.hpp"
#include "tests/runtime/test_util.hpp"
#include "tests/support/process_guard.hpp"

namespace
{

// The "devices" answer of a fresh board.
const std::string kDevices =
    "/dev/dsp present open=0\n/dev/dtmf present open=0\n/dev/e1-cas missing open=0\n/dev/hal present open=0\n"
    "/dev/maintenance missing open=0\n/dev/mcc/ctl missing open=0\n/dev/mctl missing open=0\n"
    "/dev/misc/gw-wd present open=0\n/dev/mixer missing open=0\n/dev/rtp present open=0\n"
    "/dev/voice present open=0\ninet-dgram present open=0\nok\n";

// Lets the simulator handle what is pending, waiting for its descriptor a
// bounded number of times.
void settle(platform::SimBoard& sim, int rounds = 20)
{
    for (int i = 0; i < rounds; ++i) {
        pollfd p{sim.pollable_fd(), POLLIN, 0};
        if (::poll(&p, 1, i == 0 ? 0 : 50) <= 0 && i > 0)
            return;
        sim.service();
    }
}

TEST(SimBoard, ControlCommandsAnswerLineByLine)
{
    struct Case {
        const char *command, *answer;
    };
    const Case cases[] = {
        {"devices", kDevices.c_str()},
        {"device /dev/hal", "error usage: device <path> present|missing\n"},
        {"device dev/hal present", "error usage: device <path> present|missing\n"},
        {"event /dev/hal 01 02", "error /dev/hal not open\n"},
        {"event /dev/hal 0", "error usage: event <path> <hex bytes>\n"},
        {"event /dev/hal zz", "error usage: event <path> <hex bytes>\n"},
        {"hangup /dev/hal", "error /dev/hal not open\n"},
        {"hangup /dev/none", "error /dev/none not open\n"},
        {"hangup", "error usage: hangup <path>\n"},
        {"hangup /dev/hal now", "error usage: hangup <path>\n"},
        {"", "error empty command\n"},
        {"reboot", "error unknown command reboot\n"},
        {"fail /dev/hal connect EIO 0", "error usage: fail <path> <request> <errno>|off [<times>]\n"},
        {"fail /dev/hal connect EWHAT", "error usage: fail <path> <request> <errno>|off [<times>]\n"},
        {"fail /dev/none connect EIO", "error usage: fail <path> <request> <errno>|off [<times>]\n"},
        {"fail /dev/hal 0x80084D02 5 2", "ok\n"},
        {"fail /dev/hal connect off", "ok\n"},
        {"hal get 8200", "8200 disabled reads 0xFF\nok\n"},
        {"watchdog", "disarmed pings=0\nok\n"},
    };
    platform::SimBoard sim;
    for (const Case& c : cases)
        EXPECT_EQ(c.answer, sim.execute(c.command)) << "command: " << c.command;
}

TEST(SimBoard, OpensHandOutDescriptorsAsTheFlagsSay)
{
    struct Case {
        const char* path;
        int flags, error; // error 0: the open succeeds
        bool nonblock;
    };
    const Case cases[] = {
        {"/dev/misc/gw-wd", O_WRONLY, 0, false}, {"/dev/hal", O_RDWR | O_NONBLOCK, 0, true},
        {"/dev/hal", O_RDWR, 0, false},          {"/dev/mixer", O_RDWR, ENOENT, false},
        {"/dev/misc", O_RDWR, ENOENT, false},
    };
    platform::SimBoard sim;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        errno = 0;
        const int fd = sim.open(c.path, c.flags);
        if (c.error) {
            EXPECT_EQ(-1, fd);
            EXPECT_EQ(c.error, errno);
            continue;
        }
        ASSERT_GE(fd, 0);
        EXPECT_EQ(FD_CLOEXEC, ::fcntl(fd, F_GETFD) & FD_CLOEXEC);
        EXPECT_EQ(c.nonblock, (::fcntl(fd, F_GETFL) & O_NONBLOCK) != 0);
        int type = 0;
        socklen_t len = sizeof type;
        ASSERT_EQ(0, ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len));
        EXPECT_EQ(SOCK_SEQPACKET, type);
        ::close(fd);
    }
}

TEST(SimBoard, JournalsWritesIoctlsAndTheLastClose)
{
    platform::SimBoard sim;
    const int hal = sim.open("/dev/hal", O_RDWR);
    ASSERT_GE(hal, 0);
    const unsigned char binary[] = {0x01, 0x00, 0xFF};
    ASSERT_EQ(3, ::write(hal, binary, 3));
    settle(sim);
    // A duplicate is the same device: the request is journalled under its path.
    const int dup = ::dup(hal);
    EXPECT_EQ(-1, sim.ioctl(dup, 0xC0044801ul));
    for (int fd : {0, -1}) {
        errno = 0;
        EXPECT_EQ(-1, sim.ioctl(fd, 0x4004667Ful));
        EXPECT_EQ(fd < 0 ? EBADF : ENOTTY, errno);
    }
    ::close(hal);
    settle(sim);
    EXPECT_EQ(1u, sim.open_count("/dev/hal")) << "a duplicate still holds the device";
    ::close(dup);
    settle(sim);
    EXPECT_EQ(0u, sim.open_count("/dev/hal"));
    EXPECT_EQ((std::deque<std::string>{"open /dev/hal", "write /dev/hal [01 00 FF]",
                                       "ioctl /dev/hal 0xC0044801 -> -1 ENOTTY", "close /dev/hal"}),
              sim.journal());
}

// The number an open handed out may be handed out again once the daemon has
// closed it: requests on it then reach the new device, on a duplicate the old one.
TEST(SimBoard, ANumberHandedOutAgainReachesItsNewDevice)
{
    platform::SimBoard sim;
    const int hal = sim.open("/dev/hal", O_RDWR);
    const int dup = ::dup(hal);
    ::close(hal);
    const int dtmf = sim.open("/dev/dtmf", O_RDWR);
    ASSERT_EQ(hal, dtmf);
    sim.clear_journal();
    for (int fd : {dtmf, dup})
        EXPECT_EQ(-1, sim.ioctl(fd, 0xC0044801ul));
    EXPECT_EQ((std::deque<std::string>{"ioctl /dev/dtmf 0xC0044801 -> -1 ENOTTY",
                                       "ioctl /dev/hal 0xC0044801 -> -1 ENOTTY"}),
              sim.journal());
    ::close(dup);
    ::close(dtmf);
}

// A request on the number an open handed out makes no system call of its own:
// a child that may only read, write and exit gets its answer.
TEST(SimBoard, ARequestOnAHandedOutDescriptorMakesNoSystemCall)
{
    platform::SimBoard sim;
    const int hal = sim.open(platform::hal::kPath, O_RDWR);
    platform::hal::SwitchChannel refresh{8192};
    ASSERT_EQ(0, sim.ioctl(hal, platform::hal::kDisable, &refresh));
    support::ProcessGuard started;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::prctl(PR_SET_SECCOMP, SECCOMP_MODE_STRICT) != 0)
            ::_exit(2);
        const int result = sim.ioctl(hal, platform::hal::kDisable, &refresh);
        ::syscall(SYS_exit, result == 0 ? 0 : 1);
    }
    started.add(child);
    int status = 0;
    ASSERT_TRUE(support::reap(child, status)) << "the child has not ended";
    if (WIFEXITED(status) && WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "no strict seccomp mode here";
    EXPECT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(0, WEXITSTATUS(status));
    ::close(hal);
}

TEST(SimBoard, InjectedEventsReachEveryOpenDescriptorAsOneRecord)
{
    platform::SimBoard sim;
    const int a = sim.open("/dev/hal", O_RDWR | O_NONBLOCK);
    const int b = sim.open("/dev/hal", O_RDWR | O_NONBLOCK);
    EXPECT_EQ("ok\n", sim.execute("event /dev/hal 01 a0FF"));
    for (int fd : {a, b}) {
        char buf[16];
        EXPECT_EQ("\x01\xA0\xFF",
                  std::string(buf, std::size_t(std::max<ssize_t>(0, ::read(fd, buf, sizeof buf)))));
    }
    ::close(a);
    ::close(b);
}

// The driver gives up on a device: each open descriptor, a duplicate
// included, reads what was queued and then end of file, polls hung up, and
// its requests fail as on a descriptor that is none of the board's (ENOTTY,
// not journalled); the device opens again. A descriptor the daemon had
// closed already is closed, not hung up.
TEST(SimBoard, AHangupEndsEveryOpenDescriptorOfTheDevice)
{
    platform::SimBoard sim;
    platform::hal::SwitchConnect connect{8, 33};
    const int a = sim.open(platform::hal::kPath, O_RDWR | O_NONBLOCK);
    const int b = sim.open(platform::hal::kPath, O_RDWR | O_NONBLOCK);
    const int dup = ::dup(a);
    const int closed = sim.open(platform::hal::kPath, O_RDWR);
    const int other = sim.open("/dev/dtmf", O_RDWR | O_NONBLOCK);
    ::close(closed);
    ASSERT_EQ(0, sim.ioctl(a, platform::hal::kConnect, &connect));
    EXPECT_EQ("ok\n", sim.execute("event /dev/hal 0A 0B"));
    sim.clear_journal();
    EXPECT_EQ("ok\n", sim.execute("hangup /dev/hal"));
    // In the order of the board's table, not of the opens.
    const auto lines = [&sim] {
        std::vector<std::string> sorted(sim.journal().begin(), sim.journal().end());
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    };
    const std::vector<std::string> hungUp{"close /dev/hal", "hangup /dev/hal", "hangup /dev/hal"};
    EXPECT_EQ(hungUp, lines());
    EXPECT_EQ(0u, sim.open_count(platform::hal::kPath));
    EXPECT_EQ("error /dev/hal not open\n", sim.execute("hangup /dev/hal"));
    for (int fd : {a, b, dup}) {
        SCOPED_TRACE(fd);
        pollfd p{fd, POLLIN, 0};
        ASSERT_EQ(1, ::poll(&p, 1, 0));
        EXPECT_EQ(POLLIN | POLLHUP, p.revents & (POLLIN | POLLHUP | POLLERR));
        char buf[16];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        // The duplicate shares a's queue, which a has read.
        EXPECT_EQ(fd == dup ? "" : "\x0A\x0B", std::string(buf, std::size_t(std::max<ssize_t>(0, n))));
        EXPECT_EQ(0, ::read(fd, buf, sizeof buf)) << "end of file";
        errno = 0;
        EXPECT_EQ(-1, sim.ioctl(fd, platform::hal::kConnect, &connect));
        EXPECT_EQ(ENOTTY, errno);
    }
    EXPECT_EQ(hungUp, lines());
    EXPECT_EQ(1u, sim.open_count("/dev/dtmf")) << "another device is not touched";

    sim.clear_journal();
    const int again = sim.open(platform::hal::kPath, O_RDWR);
    ASSERT_GE(again, 0);
    EXPECT_EQ(0, sim.ioctl(again, platform::hal::kConnect, &connect));
    EXPECT_EQ((std::deque<std::string>{"open /dev/hal", "ioctl /dev/hal connect dst=8 src=33 -> 0"}),
              sim.journal());
    for (int fd : {a, b, dup, again, other})
        ::close(fd);
}

// A voice (transparent) channel on switch channel 4096, on a board whose
// clock is `now`; the descriptor, or -1 when the allocation fails.
static int openVoiceChannel(platform::SimBoard& sim, std::uint64_t& now)
{
    sim.set_clock([&now] { return now; });
    sim.set_present(platform::mcc::kPath, true);
    const int fd = sim.open(platform::mcc::kPath, O_WRONLY | O_NONBLOCK);
    platform::mcc::Allocate voice{platform::mcc::kTransparent, 1024, 0, 0, 5};
    return sim.ioctl(fd, platform::mcc::kAllocate, &voice) == 0 ? fd : -1;
}

// A voice channel plays 8,000 bytes a second and holds at most one second
// still to play: what the daemon writes beyond that waits in the descriptor,
// which fills and stops being writable until time has played it out.
TEST(SimBoard, AVoiceChannelTakesBytesAsItPlaysThemAndPushesBack)
{
    platform::SimBoard sim;
    std::uint64_t now = 1000;
    const int fd = openVoiceChannel(sim, now);
    ASSERT_GE(fd, 0);
    auto played = [&sim] {
        const std::string lines = sim.execute("mcc written 4096");
        return std::count(lines.begin(), lines.end(), '\n') - 1;
    };
    auto writable = [fd] {
        pollfd p{fd, POLLOUT, 0};
        return ::poll(&p, 1, 0) == 1;
    };
    // A tenth of a second a record, no time passing.
    const std::vector<char> record(800, 0x55);
    int written = 0;
    while (written < 5000 && ::write(fd, record.data(), record.size()) == ssize_t(record.size())) {
        ++written;
        sim.service();
    }
    EXPECT_EQ(EAGAIN, errno);
    EXPECT_EQ(10, played()) << "one second";
    EXPECT_FALSE(writable());
    now += 100;
    sim.service();
    EXPECT_EQ(1, played());
    // Time plays the rest out, a record a tenth of a second.
    int taken = 0;
    for (int step = 0; step < 5000 && !writable(); ++step) {
        now += 100;
        sim.service();
        taken += int(played());
    }
    EXPECT_TRUE(writable());
    EXPECT_GT(taken, 0);
    ::close(fd);
    settle(sim);
    EXPECT_EQ(0u, sim.open_count(platform::mcc::kPath));
}

// What waits in a voice channel's descriptor is one record at most, so a
// phrase player (writing until the descriptor is full, and done once it is
// writable again after its last record) ends no earlier than its phrase's
// length less the second the channel holds and one record.
TEST(SimBoard, AVoiceChannelsDescriptorHoldsOneRecordBeyondTheChannelsSecond)
{
    using platform::sim::MccModel;
    const std::uint64_t phrase = 64000; // eight seconds
    for (const std::size_t size : {MccModel::kRecord, std::size_t(1024)}) {
        SCOPED_TRACE(size);
        platform::SimBoard sim;
        std::uint64_t now = 1000;
        const int fd = openVoiceChannel(sim, now);
        ASSERT_GE(fd, 0);
        const std::vector<char> record(size, 0x55), tooLarge(MccModel::kRecord + 1, 0x55);
        EXPECT_EQ(-1, ::write(fd, tooLarge.data(), tooLarge.size()));
        EXPECT_EQ(EMSGSIZE, errno);
        std::uint64_t written = 0, taken = 0, waiting = 0, end = 0;
        for (int ms = 0; ms < 20000 && !end; ++ms, ++now) {
            sim.service();
            for (const platform::sim::Bytes& r : sim.model<MccModel>()->take_written(MccModel::kFirstChannel))
                taken += r.size();
            pollfd p{fd, POLLOUT, 0};
            if (written == phrase) {
                end = ::poll(&p, 1, 0) == 1 ? now : 0;
                continue;
            }
            while (written < phrase) {
                const std::size_t n = std::size_t(std::min<std::uint64_t>(size, phrase - written));
                if (::write(fd, record.data(), n) != ssize_t(n))
                    break;
                written += n;
            }
            waiting = std::max(waiting, written - taken);
        }
        EXPECT_LE(waiting, MccModel::kRecord);
        EXPECT_GT(waiting, 0u) << "the descriptor still holds a record";
        ASSERT_NE(0u, end) << "the phrase was handed over";
        EXPECT_GE(end - 1000, (phrase - MccModel::kHeld - MccModel::kRecord) / MccModel::kBytesPerMs);
        ::close(fd);
    }
}

TEST(SimBoard, JournalKeepsTheNewestLines)
{
    platform::SimBoard sim;
    const std::size_t opens = platform::SimBoard::kJournalLimit + 3;
    for (std::size_t i = 0; i < opens; ++i)
        sim.open(("/dev/none/" + std::to_string(i)).c_str(), O_RDWR);
    EXPECT_EQ(platform::SimBoard::kJournalLimit, sim.journal().size());
    EXPECT_EQ("open /dev/none/3 missing", sim.journal().front());
    EXPECT_EQ("open /dev/none/" + std::to_string(opens - 1) + " missing", sim.journal().back());
}

class SimBoardSocket : public ::testing::Test
{
protected:
    void TearDown() override { ::unsetenv("QUELVAD_SIM"); }
    int connect_client()
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", mPath.c_str());
        EXPECT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
        return fd;
    }
    // Serves the board until the client has `lines` complete lines.
    std::string talk(platform::SimBoard& sim, int fd, const std::string& text, int lines)
    {
        EXPECT_EQ(ssize_t(text.size()), ::send(fd, text.data(), text.size(), 0));
        std::string answer;
        for (int round = 0; round < 200; ++round) {
            settle(sim, 2);
            char buf[512];
            const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0)
                answer.append(buf, std::size_t(n));
            if (n == 0)
                break;
            if (std::count(answer.begin(), answer.end(), '\n') >= lines)
                break;
        }
        return answer;
    }
    testutil::TempDir mDir{false};
    const std::string mPath = mDir / "board.sock";
};

TEST_F(SimBoardSocket, ServesCommandsOverTheControlSocket)
{
    platform::SimBoard sim;
    ASSERT_TRUE(sim.listen(mPath));
    const int fd = connect_client();
    // Two commands in one write, the second split over two writes.
    EXPECT_EQ(kDevices + "ok\n", talk(sim, fd, "devices\r\nclear\ndev", 14));
    EXPECT_EQ("error unknown command dev\n", talk(sim, fd, "\n", 1));
    // A line that never ends is refused and the client let go.
    EXPECT_EQ("error line too long\n", talk(sim, fd, std::string(5000, 'x'), 1));
    char c;
    EXPECT_EQ(0, ::recv(fd, &c, 1, 0));
    ::close(fd);
}

TEST_F(SimBoardSocket, LongAnswersWaitForTheReaderAndAClientMayLeaveMidway)
{
    platform::SimBoard sim;
    ASSERT_TRUE(sim.listen(mPath));
    for (std::size_t i = 0; i < platform::SimBoard::kJournalLimit; ++i)
        sim.open("/dev/not/there", O_RDWR);
    const std::string journal = sim.execute("journal");
    const int rounds = 8;
    std::string commands;
    for (int i = 0; i < rounds; ++i)
        commands += "journal\n";
    for (const bool reads : {true, false}) {
        SCOPED_TRACE(reads);
        const int fd = connect_client();
        ASSERT_EQ(ssize_t(commands.size()), ::send(fd, commands.data(), commands.size(), 0));
        std::string answer;
        for (int round = 0; round < 2000 && answer.size() < journal.size() * rounds; ++round) {
            settle(sim, 1);
            if (!reads)
                break;
            char buf[65536];
            const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0)
                answer.append(buf, std::size_t(n));
        }
        ::close(fd);
        settle(sim);
        std::string expected;
        for (int i = 0; reads && i < rounds; ++i)
            expected += journal;
        EXPECT_TRUE(!reads || answer == expected) << answer.size() << " of " << expected.size() << " bytes";
    }
    // The board still serves the next client.
    const int fd = connect_client();
    EXPECT_EQ("ok\n", talk(sim, fd, "clear\n", 1));
    ::close(fd);
}

TEST_F(SimBoardSocket, InstallsFromTheEnvironmentWithItsInitFile)
{
    std::ofstream(mPath + ".init") << "# start without the board driver\ndevice /dev/hal missing\n";
    ::setenv("QUELVAD_SIM", mPath.c_str(), 1);
    platform::SimBoard* sim = platform::installSimBoardFromEnvironment();
    ASSERT_NE(nullptr, sim);
    EXPECT_EQ(sim, &platform::board());
    EXPECT_FALSE(sim->present("/dev/hal"));
    delete sim;
    EXPECT_NE(sim, &platform::board());
    EXPECT_NE(0, ::access(mPath.c_str(), F_OK)) << "the socket goes with the board";
}

TEST_F(SimBoardSocket, UnsetOrEmptyEnvironmentMeansTheRealBoard)
{
    EXPECT_EQ(nullptr, platform::installSimBoardFromEnvironment());
    ::setenv("QUELVAD_SIM", "", 1);
    EXPECT_EQ(nullptr, platform::installSimBoardFromEnvironment());
}

} // namespace
