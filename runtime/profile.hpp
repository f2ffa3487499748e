#pragma once
// Named profiling points: durations in microseconds of a piece of work that
// runs often (framing and sending on the controller link), listed in the
// status dump. A point is a function-local static built on first use; the
// points form a list, newest first.
#include "runtime/measure.hpp"

#include <ostream>

namespace Profile
{

class Point
{
public:
    explicit Point(const char* name);
    ~Point();
    Point(const Point&) = delete;
    Point& operator=(const Point&) = delete;

    void begin() { mMeasure.begin(); }
    void end() { mMeasure.end(); }

    // "[<name>]: min=.. max=.. avg=.. counter=.." ("avg" is the last sample).
    void put(std::ostream& os) const;

    const char* name() const { return mName; }
    const Point* next() const { return mNext; }

private:
    Point* mNext;
    const char* mName;
    Measure mMeasure;
};

// The newest point, or null.
extern Point* mRoot;

std::ostream& operator<<(std::ostream& os, const Point& point);

// One line per point, newest first.
void dump(std::ostream& os);

} // namespace Profile
