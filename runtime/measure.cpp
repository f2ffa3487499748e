#include "runtime/measure.hpp"

#include "runtime/clock.hpp"

#include <string>

void Measure::begin()
{
    mStart = Mux::microseconds();
}

void Measure::end()
{
    // Unsigned difference: right across the 32-bit wrap of the reading.
    sample(Mux::microseconds() - mStart);
}

void Measure::sample(std::uint32_t d)
{
    if (mFirst) {
        mFirst = false;
        mMin = mMax = mLast = d;
        mCounter = 1;
        return;
    }
    ++mCounter;
    if (d < mMin)
        mMin = d;
    if (d > mMax)
        mMax = d;
    mLast = d;
}

void Measure::put(std::ostream& os) const
{
    // Decimal whatever base the stream is left in.
    os << "min=" << std::to_string(mMin) << " max=" << std::to_string(mMax)
       << " avg=" << std::to_string(mLast) << " counter=" << std::to_string(mCounter);
}

std::ostream& operator<<(std::ostream& os, const Measure& m)
{
    m.put(os);
    return os;
}
