// The loop's part of the status dump: its three duration statistics, the
// profiling points and one table row per named handler in dispatch order.
#include <ostream>

#include "runtime/multiplexer.hpp"
#include "runtime/profile.hpp"
#include "runtime/table.hpp"

void Multiplexer::dump(std::ostream& os) const
{
    os << "dpc transition measurement (min/max/cur/counter): " << mDpcMeasure << "\n";
    os << "event transition measurement (min/max/cur/counter): " << mEventMeasure << "\n";
    os << "timer transition measurement (min/max/cur/counter): " << mTimerMeasure << "\n";
    Profile::dump(os);
    ext::Table table(os, 40, 30, 10, 10, 5, 60);
    {
        ext::Table::Sentry s(table);
        s << ext::delimeter;
        s << "name" << ext::nextrow << "events" << ext::nextrow << "count" << ext::nextrow << "handler"
          << ext::nextrow << "fd" << ext::nextrow << "measure" << ext::nextrow;
        s << ext::delimeter;
        for (const EventHandler* h = mActive.first(); h; h = h->get_next()) {
            if (h->is_named())
                h->status_row(s);
        }
        s << ext::delimeter;
    }
    os << "\n";
}
