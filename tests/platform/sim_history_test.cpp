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

// A wait tone turned on and off adds to the tone generator's history at every
// turn: it keeps the newest kHistoryLimit requests of all timeslots, and
// "dtmf gen" still counts their times from the first request it saw.
TEST(SimHistory, TheToneGeneratorKeepsItsNewestRequestsTimedFromTheFirst)
{
    SimBoard sim;
    std::uint64_t now = 5000;
    auto* tones = sim.model<sim::DtmfModel>();
    tones->set_clock([&now] { return now; });
    const int fd = sim.open(dtmf::kPath, O_RDWR);
    ASSERT_GE(fd, 0);
    dtmf::Dial first{3, 425, 0, 100, 0};
    ASSERT_EQ(0, sim.ioctl(fd, dtmf::kDial, &first));
    const std::size_t turns = sim::kHistoryLimit + 5;
    std::string newest;
    for (std::size_t i = 1; i <= turns; ++i) {
        now += 10;
        dtmf::Dial turn = i % 2 ? dtmf::Dial{7, 425, 0, 100, 0} : dtmf::Dial{7, 0, 0, 0, 0};
        ASSERT_EQ(0, sim.ioctl(fd, dtmf::kDial, &turn));
        if (i > turns - sim::kHistoryLimit)
            newest += std::to_string(10 * i) + (i % 2 ? " 425 0 100 0\n" : " 0 0 0 0\n");
    }
    EXPECT_EQ(sim::kHistoryLimit, tones->generated(7).size());
    EXPECT_EQ(newest + "ok\n", sim.execute("dtmf gen 7"));
    EXPECT_EQ("ok\n", sim.execute("dtmf gen 3")) << "the oldest request is dropped";
    ::close(fd);
}

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
