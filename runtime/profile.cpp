#include "runtime/profile.hpp"

namespace Profile
{

Point* mRoot = nullptr;

Point::Point(const char* name) : mNext(mRoot), mName(name)
{
    mRoot = this;
}

Point::~Point()
{
    for (Point** link = &mRoot; *link; link = &(*link)->mNext) {
        if (*link == this) {
            *link = mNext;
            break;
        }
    }
}

void Point::put(std::ostream& os) const
{
    os << '[' << mName << "]: " << mMeasure;
}

std::ostream& operator<<(std::ostream& os, const Point& point)
{
    point.put(os);
    return os;
}

void dump(std::ostream& os)
{
    for (const Point* p = mRoot; p; p = p->next())
        os << *p << '\n';
}

} // namespace Profile
