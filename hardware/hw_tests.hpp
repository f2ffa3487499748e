#pragma once
// The controller's TDM bus test (testBpc): a run of timeslots on one bus,
// checked through the TDM switch against a pseudo-random byte pattern derived
// from the seed, written and read back, or disabled again. The pattern is
// glibc's random() sequence after srandom(seed), the one the controller
// computes; it comes from a private generator, so the test never disturbs the
// process-wide random state (which RTP sessions draw their SSRCs from).
#include <cstdint>
#include <ostream>

#include "control/ctrl_server.hpp"

// glibc's random() (the default additive feedback generator, x[i] = x[i-3] +
// x[i-31]) with a state of its own.
class GlibcRandom
{
public:
    explicit GlibcRandom(unsigned seed = 1) { seed_with(seed); }
    void seed_with(unsigned seed);
    // The next value, 0..2^31-1, as random() would give it.
    std::int32_t next();

private:
    static constexpr int kDegree = 31;
    static constexpr int kSeparation = 3;
    std::uint32_t mState[kDegree];
    int mFront = kSeparation;
    int mRear = 0;
};

class HwTests : public CtrlSrv::Service
{
public:
    static HwTests& instance();

    HwTests() = default;

    void OnConnect() override {}
    void OnDisconnect() override {}
    bool OnCommand(LGCP::Command const& command) override;

    void OnTestBpc(LGCP::BpcTestParams const& params);
    void TestRead();
    void TestWrite();
    void TestDisconnect();

    std::ostream& PutHeader(std::ostream& os) const;

private:
    // The next pattern byte.
    unsigned next_byte() { return unsigned(mRandom.next()) & 0xFF; }

    std::uint32_t mBus = 0;
    std::uint32_t mFirst = 0;
    std::uint32_t mEnd = 0;
    std::uint32_t mSeed = 0;
    GlibcRandom mRandom;
};
