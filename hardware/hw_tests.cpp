#include "hardware/hw_tests.hpp"

#include <cstdio>
#include <iostream>
#include <unistd.h>

#include "hardware/hw_mux.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "runtime/trace.hpp"

void GlibcRandom::seed_with(unsigned seed)
{
    // As glibc seeds its state: a zero seed is taken as 1, the state filled by
    // the minimal standard generator (16807 x mod 2^31-1), then 310 values
    // thrown away.
    std::int64_t word = static_cast<std::int32_t>(seed == 0 ? 1 : seed);
    mState[0] = static_cast<std::uint32_t>(word);
    for (int i = 1; i < kDegree; ++i) {
        const std::int64_t hi = word / 127773;
        const std::int64_t lo = word % 127773;
        word = 16807 * lo - 2836 * hi;
        if (word < 0)
            word += 2147483647;
        mState[i] = static_cast<std::uint32_t>(word);
    }
    mFront = kSeparation;
    mRear = 0;
    for (int i = 0; i < 10 * kDegree; ++i)
        next();
}

std::int32_t GlibcRandom::next()
{
    mState[mFront] += mState[mRear];
    const std::uint32_t value = mState[mFront] >> 1;
    mFront = (mFront + 1) % kDegree;
    mRear = (mRear + 1) % kDegree;
    return static_cast<std::int32_t>(value);
}

namespace
{
// Two uppercase hexadecimal digits and a blank.
std::string byte_text(unsigned value)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X ", value & 0xFF);
    return text;
}
} // namespace

HwTests& HwTests::instance()
{
    static HwTests tests;
    return tests;
}

std::ostream& HwTests::PutHeader(std::ostream& os) const
{
    return os << "bus " << mBus << ": ";
}

bool HwTests::OnCommand(LGCP::Command const& command)
{
    if (!command.testBpc_isSelected())
        return false;
    OnTestBpc(command.get_testBpc());
    return true;
}

void HwTests::OnTestBpc(LGCP::BpcTestParams const& p)
{
    mBus = static_cast<std::uint32_t>(p.get_bus().getValue());
    mFirst = static_cast<std::uint32_t>(SwitchChannel::bus(
        static_cast<int>(p.get_bus().getValue()), static_cast<int>(p.get_timeslot_start().getValue())));
    mEnd = mFirst + static_cast<std::uint32_t>(p.get_timeslot_length().getValue());
    mSeed = static_cast<std::uint32_t>(p.get_seed().getValue());
    mRandom.seed_with(mSeed);
    const LGCP::BpcTestMode& mode = p.get_mode();
    if (mode.read_isSelected())
        TestRead();
    else if (mode.write_isSelected())
        TestWrite();
    else if (mode.disconnect_isSelected())
        TestDisconnect();
    else
        Error(LGCP::ErrorCause::invalidParams);
}

void HwTests::TestRead()
{
    for (std::uint32_t channel = mFirst; channel < mEnd; ++channel) {
        const unsigned expected = next_byte();
        const unsigned got = unsigned(HwMux::instance().Read(int(channel))) & 0xFF;
        if (got != expected) {
            std::cerr << ext::header(this) << "test failed on channel " << (channel & 127) << " expected "
                      << byte_text(expected) << " read " << byte_text(got) << std::endl;
            Error(LGCP::ErrorCause::busError);
            return;
        }
    }
    Success();
}

void HwTests::TestWrite()
{
    for (std::uint32_t channel = mFirst; channel < mEnd; ++channel)
        HwMux::instance().Write(int(channel), static_cast<unsigned char>(next_byte()));
    ::usleep(500);
    mRandom.seed_with(mSeed);
    for (std::uint32_t channel = mFirst; channel < mEnd; ++channel) {
        const unsigned expected = next_byte();
        const unsigned got = unsigned(HwMux::instance().Read(int(channel))) & 0xFF;
        if (got != expected) {
            std::cerr << ext::header(this) << "write failed on channel " << (channel & 127) << " write "
                      << byte_text(expected) << " written " << byte_text(got) << std::endl;
            Error(LGCP::ErrorCause::busError);
            return;
        }
    }
    Success();
}

void HwTests::TestDisconnect()
{
    for (std::uint32_t channel = mFirst; channel < mEnd; ++channel)
        HwMux::instance().Disable(int(channel));
    ::usleep(250);
    Success();
}
