// The histories the simulated board's models keep of what the daemon asked:
// however many requests come, each keeps only its newest entries, and the
// control commands report those as they would without the bound.
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/devices.hpp"
#include "platform/sim/dtmf_model.hpp"
#include "platform/sim/mcc_model.hpp"
#include "platform/sim_board.hpp"

namespace
{

using namespace platform;

// A frame written on a controller channel goes out on every line joined to
// it; the line and the channel each keep the newest kSentLimit frames when no
// test takes them.
TEST(SimHistory, ControllerFramesKeepTheNewestOfEachLineAndChannel)
{
    SimBoard sim;
    sim.set_present(mcc::kPath, true);
    const int hal = sim.open(hal::kPath, O_RDWR);
    const int fd = sim.open(mcc::kPath, O_RDWR | O_NONBLOCK);
    mcc::Allocate data{mcc::kData, 1024, 0, 0, 5};
    ASSERT_EQ(0, sim.ioctl(fd, mcc::kAllocate, &data));
    hal::SwitchConnect line{100, sim::MccModel::kFirstChannel};
    ASSERT_EQ(0, sim.ioctl(hal, hal::kConnect, &line));
    const std::size_t frames = sim::MccModel::kSentLimit + 3;
    std::string newest;
    for (std::size_t i = 0; i < frames; ++i) {
        const unsigned char frame[] = {std::uint8_t(i >> 8), std::uint8_t(i)};
        ASSERT_EQ(2, ::write(fd, frame, sizeof frame));
        sim.service();
        char text[8];
        std::snprintf(text, sizeof text, "%02X %02X\n", frame[0], frame[1]);
        newest += i < frames - sim::MccModel::kSentLimit ? "" : text;
    }
    EXPECT_EQ(newest + "ok\n", sim.execute("mcc sent 100"));
    EXPECT_EQ(newest + "ok\n", sim.execute("mcc written 4096"));
    ::close(fd);
    ::close(hal);
}

} // namespace
