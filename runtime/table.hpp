#pragma once
// Text tables for the status dump: fixed column widths, centred cells, "+---+"
// delimiter lines. A text longer than its column is written in full and shifts
// the rest of the line.
#include <ostream>
#include <string>
#include <vector>

class Measure;

namespace ext
{

class Table
{
public:
    class Sentry;

    explicit Table(std::ostream& os) : mOs(os) {}
    Table(std::ostream& os, int w1);
    Table(std::ostream& os, int w1, int w2);
    Table(std::ostream& os, int w1, int w2, int w3);
    Table(std::ostream& os, int w1, int w2, int w3, int w4);
    Table(std::ostream& os, int w1, int w2, int w3, int w4, int w5);
    Table(std::ostream& os, int w1, int w2, int w3, int w4, int w5, int w6);
    Table(std::ostream& os, int w1, int w2, int w3, int w4, int w5, int w6, int w7);

    void add(int width) { mWidths.push_back(width < 0 ? 0 : width); }
    // Writes one cell in the current column; the last column ends the line.
    void cell(const std::string& text);
    void beginrow() { mColumn = 0; }
    // Completes an open row with empty cells.
    void endrow();
    void delimeter() { line('+', '-'); }
    void gap() { line('|', ' '); }

private:
    void line(char corner, char fill);

    std::ostream& mOs;
    std::vector<int> mWidths;
    std::size_t mColumn = 0;
    bool mRowOpen = false;
};

// Collects the text of one cell; ext::nextrow hands it to the table.
class Table::Sentry
{
public:
    explicit Sentry(Table& table) : mTable(table) {}
    ~Sentry() { mTable.endrow(); }
    Sentry(const Sentry&) = delete;
    Sentry& operator=(const Sentry&) = delete;

    Sentry& operator<<(const char* text);
    Sentry& operator<<(const std::string& text);
    Sentry& operator<<(int value);
    Sentry& operator<<(unsigned int value);
    Sentry& operator<<(const Measure& m);
    Sentry& operator<<(Sentry& (*manip)(Sentry&)) { return manip(*this); }

    Table& table() { return mTable; }
    std::string& text() { return mText; }

private:
    Table& mTable;
    std::string mText;
};

Table::Sentry& nextrow(Table::Sentry& s);
Table::Sentry& beginrow(Table::Sentry& s);
Table::Sentry& delimeter(Table::Sentry& s);

} // namespace ext
