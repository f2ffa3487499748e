#pragma once
// Duration statistics in microseconds. "avg" in the printed form is the last
// sample: the record keeps no sum, and the dump headings call it "cur".
#include <cstdint>
#include <ostream>

class Measure
{
public:
    constexpr Measure() = default;

    void begin();
    void end();
    // Records one sample without reading the clock.
    void sample(std::uint32_t duration_us);
    void put(std::ostream& os) const;

    std::uint32_t min() const { return mMin; }
    std::uint32_t max() const { return mMax; }
    std::uint32_t last() const { return mLast; }
    std::uint32_t counter() const { return mCounter; }

private:
    std::uint32_t mMin = 0;
    std::uint32_t mMax = 0;
    std::uint32_t mLast = 0;
    bool mFirst = true;
    std::uint32_t mStart = 0;
    std::uint32_t mCounter = 0;
};

std::ostream& operator<<(std::ostream& os, const Measure& m);
