#include "platform/sim/hal_model.hpp"

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/devices.hpp"
#include "platform/sim_board.hpp"

namespace
{

using namespace platform;

// Each step: an optional control command, then one request with its record;
// the journal line it leaves ("" when it leaves none) and its result.
TEST(HalModel, RequestsAreDecodedAndChangeOnlyDriverState)
{
    SimBoard sim;
    const int fd = sim.open(hal::kPath, O_RDWR);
    ASSERT_GE(fd, 0);
    struct Step {
        const char* command;
        std::function<int(int)> request;
        const char* journal;
        int result;
    };
    // A request with its record; a read gives the byte it read as the result.
    auto req = [&sim](unsigned long request, auto record) {
        return [&sim, request, record](int f) mutable { return sim.ioctl(f, request, &record); };
    };
    auto connect = [&](int dst, int src) { return req(hal::kConnect, hal::SwitchConnect{dst, src}); };
    auto disable = [&](int ch) { return req(hal::kDisable, hal::SwitchChannel{ch}); };
    auto write = [&](int ch, int byte) { return req(hal::kWrite, hal::SwitchByte{ch, byte}); };
    auto spi = [&](unsigned long request, int ch, int reg, int data) {
        return req(request, hal::SpiRegister{std::uint8_t(ch), std::uint8_t(reg), std::uint8_t(data)});
    };
    auto read = [&sim](int ch) {
        return [&sim, ch](int f) {
            hal::SwitchByte r{ch, 0xFF};
            return sim.ioctl(f, hal::kRead, &r) < 0 ? -1 : r.value;
        };
    };
    const Step steps[] = {
        {"", connect(8200, 33), "connect dst=8200 src=33 -> 0", 0},
        {"hal drive 33 0x5A", read(8200), "read ch=8200 -> 0 byte=0x5A", 0x5A},
        {"", write(8201, 0xD5), "write ch=8201 byte=0xD5 -> 0", 0},
        {"", read(8201), "read ch=8201 -> 0 byte=0xD5", 0xD5},
        {"hal drive 8201 0x11", read(8201), "read ch=8201 -> 0 byte=0x11", 0x11},
        {"", disable(8200), "disable ch=8200 -> 0", 0},
        {"", disable(8200), "", 0},
        {"", read(8200), "read ch=8200 -> 0 byte=0xFF", 0xFF},
        {"", connect(8202, 1), "connect dst=8202 src=1 -> 0", 0},
        {"", spi(hal::kSpiWrite, 0, 0x32, 0x80), "spi-write ch=0 reg=0x32 data=0x80 -> 0", 0},
        {"", spi(hal::kSpiRead, 3, 0x33, 0xFF), "spi-read ch=3 reg=0x33 -> 192 data=0xC0", 0xC0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.journal);
        if (*s.command) {
            ASSERT_EQ("ok\n", sim.execute(s.command));
        }
        sim.clear_journal();
        EXPECT_EQ(s.result, s.request(fd));
        EXPECT_EQ(*s.journal ? std::string("ioctl /dev/hal ") + s.journal : std::string(),
                  sim.journal().empty() ? std::string() : sim.journal().back());
    }
    EXPECT_EQ("8202 connected 1 reads 0xFF\nok\n", sim.execute("hal get 8202"));
    EXPECT_EQ("8201 constant 0xD5 drive 0x11 reads 0x11\nok\n", sim.execute("hal get 8201"));
    EXPECT_EQ("connect 2\ndisable 2\nwrite 1\nread 4\nclock 0\nspi-write 1\nspi-read 1\nok\n",
              sim.execute("hal stats"));
    EXPECT_EQ(2u, sim.model<sim::HalModel>()->disables(8200));
    ::close(fd);
}

} // namespace
