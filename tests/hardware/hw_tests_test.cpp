// The TDM bus test over the simulated board. The expected pattern comes from
// glibc's own srandom/random here, as the controller computes it.
#include "hardware/hw_tests.hpp"

#include "hardware/hw_mux.hpp"
#include "tests/hardware/service_rig.hpp"

namespace
{

using Lines = std::vector<std::string>;

TEST(GlibcRandom, YieldsGlibcsSequenceWithoutTouchingIt)
{
    for (unsigned seed : {0u, 1u, 7u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        GlibcRandom mine(seed);
        ::srandom(seed);
        for (int i = 0; i < 400; ++i)
            ASSERT_EQ(::random(), long(mine.next())) << "seed " << seed << " value " << i;
    }
    ::srandom(99);
    const long first = ::random();
    ::srandom(99);
    GlibcRandom(5).next();
    EXPECT_EQ(first, ::random()) << "the process-wide state is left alone";
}

// HwTests drives the one switch of the process, so every case shares one board.
platform::SimBoard& board()
{
    static platform::SimBoard* sim = new platform::SimBoard;
    return *sim;
}

std::string hex(unsigned byte)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

TEST(HwTests, RunsEachModeOverTheSwitch)
{
    // The pattern as the controller computes it.
    const unsigned seed = 7;
    unsigned p[3];
    ::srandom(seed);
    for (unsigned& byte : p)
        byte = unsigned(::random()) & 0xFF;
    // Channel 8330 + i: a drive command, the journal's read and write lines.
    auto drive = [](int i, unsigned b) { return "hal drive " + std::to_string(8330 + i) + " " + hex(b); };
    auto rd = [](int i, unsigned b) {
        return "ioctl read ch=" + std::to_string(8330 + i) + " -> 0 byte=" + hex(b);
    };
    auto wr = [&](int i) {
        return "ioctl write ch=" + std::to_string(8330 + i) + " byte=" + hex(p[i]) + " -> 0";
    };
    auto two = [](unsigned b) { return hex(b).substr(2) + " "; };
    struct Case {
        const char* what;
        std::vector<std::string> board; // commands before the test
        hwtest::Mode mode;
        unsigned length;
        const char* answer;
        std::string err;
        Lines journal;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"read: the bus carries the pattern", {drive(0, p[0]), drive(1, p[1]), drive(2, p[2])},
         hwtest::Mode::read, 3, "success", "", {rd(0, p[0]), rd(1, p[1]), rd(2, p[2])}},
        {"read: a mismatch on the second channel stops the test", {drive(1, p[1] ^ 0x40)},
         hwtest::Mode::read, 3, "error 10",
         "bus 1: test failed on channel 11 expected " + two(p[1]) + " read " + two(p[1] ^ 0x40) + "\n",
         {rd(0, p[0]), rd(1, p[1] ^ 0x40)}},
        {"write: the pattern is written and read back",
         {"hal drive 8330 off", "hal drive 8331 off", "hal drive 8332 off"}, hwtest::Mode::write, 3, "success", "",
         {wr(0), wr(1), wr(2), rd(0, p[0]), rd(1, p[1]), rd(2, p[2])}},
        {"write: a line driven from outside fails the read-back", {drive(0, p[0] ^ 1)}, hwtest::Mode::write, 1,
         "error 10", "bus 1: write failed on channel 10 write " + two(p[0]) + " written " + two(p[0] ^ 1) + "\n",
         {wr(0), rd(0, p[0] ^ 1)}},
        {"disconnect: the outputs are disabled again", {"hal drive 8330 off"}, hwtest::Mode::disconnect, 3,
         "success", "", {"ioctl disable ch=8330 -> 0", "ioctl disable ch=8331 -> 0", "ioctl disable ch=8332 -> 0"}},
    };
    // clang-format on
    hwtest::ServiceRig rig(board());
    ctltest::Capture clog(std::clog);
    HwMux::instance();
    rig.connect({&HwTests::instance()});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& command : c.board)
            ASSERT_EQ("ok\n", board().execute(command));
        board().clear_journal();
        ctltest::Capture cerr(std::cerr);
        EXPECT_EQ(c.answer, rig.command(hwtest::testBpc(seed, c.length, c.mode)));
        EXPECT_EQ(c.err, cerr.text());
        EXPECT_EQ(c.journal, hwtest::journal(board(), "/dev/hal"));
    }
    for (int channel : {8330, 8331, 8332})
        EXPECT_EQ(HwMux::kDisabled, HwMux::instance().source(channel)) << channel;
}

} // namespace
