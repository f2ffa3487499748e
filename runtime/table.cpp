#include "runtime/table.hpp"

#include <sstream>

#include "runtime/measure.hpp"

namespace ext
{

Table::Table(std::ostream& os, int w1) : mOs(os)
{
    add(w1);
}
Table::Table(std::ostream& os, int w1, int w2) : Table(os, w1)
{
    add(w2);
}
Table::Table(std::ostream& os, int w1, int w2, int w3) : Table(os, w1, w2)
{
    add(w3);
}
Table::Table(std::ostream& os, int w1, int w2, int w3, int w4) : Table(os, w1, w2, w3)
{
    add(w4);
}
Table::Table(std::ostream& os, int w1, int w2, int w3, int w4, int w5) : Table(os, w1, w2, w3, w4)
{
    add(w5);
}
Table::Table(std::ostream& os, int w1, int w2, int w3, int w4, int w5, int w6) : Table(os, w1, w2, w3, w4, w5)
{
    add(w6);
}
Table::Table(std::ostream& os, int w1, int w2, int w3, int w4, int w5, int w6, int w7)
    : Table(os, w1, w2, w3, w4, w5, w6)
{
    add(w7);
}

void Table::cell(const std::string& text)
{
    if (mWidths.empty())
        return;
    if (mColumn >= mWidths.size())
        mColumn = 0;
    std::size_t width = std::size_t(mWidths[mColumn]);
    std::size_t len = text.size() < width ? text.size() : width;
    std::size_t pad = width - len;
    mOs << '|' << std::string(pad / 2, ' ') << text << std::string(pad - pad / 2, ' ');
    mRowOpen = true;
    if (++mColumn == mWidths.size()) {
        mOs << "|\n";
        mColumn = 0;
        mRowOpen = false;
    }
}

void Table::endrow()
{
    while (mRowOpen)
        cell(std::string());
}

void Table::line(char corner, char fill)
{
    if (mWidths.empty())
        return;
    endrow();
    for (int w : mWidths)
        mOs << corner << std::string(std::size_t(w), fill);
    mOs << corner << '\n';
    mColumn = 0;
}

Table::Sentry& Table::Sentry::operator<<(const char* text)
{
    mText += text ? text : "";
    return *this;
}

Table::Sentry& Table::Sentry::operator<<(const std::string& text)
{
    mText += text;
    return *this;
}

Table::Sentry& Table::Sentry::operator<<(int value)
{
    mText += std::to_string(value);
    return *this;
}

Table::Sentry& Table::Sentry::operator<<(unsigned int value)
{
    mText += std::to_string(value);
    return *this;
}

Table::Sentry& Table::Sentry::operator<<(const Measure& m)
{
    std::ostringstream os;
    m.put(os);
    mText += os.str();
    return *this;
}

Table::Sentry& nextrow(Table::Sentry& s)
{
    s.table().cell(s.text());
    s.text().clear();
    return s;
}

Table::Sentry& beginrow(Table::Sentry& s)
{
    s.table().beginrow();
    return s;
}

Table::Sentry& delimeter(Table::Sentry& s)
{
    s.table().delimeter();
    return s;
}

} // namespace ext
