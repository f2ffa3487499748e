#include "runtime/table.hpp"

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using T = ext::Table&;
using S = ext::Table::Sentry&;

// Draws a table of columns added one by one, written through one sentry.
std::string draw(const std::vector<int>& widths, const std::function<void(T, S)>& write)
{
    std::ostringstream os;
    {
        ext::Table t(os);
        for (int w : widths)
            t.add(w);
        ext::Table::Sentry s(t);
        write(t, s);
    }
    return os.str();
}

TEST(Table, Layouts)
{
    // What each case shows, the column widths, what is written, the text.
    const std::tuple<const char*, std::vector<int>, std::function<void(T, S)>, const char*> cases[] = {
        {"a long text is written in full and shifts the line",
         {3, 2},
         [](T, S s) { s << "abcdef" << ext::nextrow << "" << ext::nextrow; },
         "|abcdef|  |\n"},
        {"a delimiter completes an open row",
         {2, 2, 2},
         [](T, S s) { s << "a" << ext::nextrow << ext::delimeter; },
         "|a |  |  |\n+--+--+--+\n"},
        {"destroying the sentry completes an open row",
         {3, 3},
         [](T, S s) { s << 42 << ext::nextrow; },
         "|42 |   |\n"},
        {"text of one cell is collected from several writes",
         {9},
         [](T, S s) { s << "fd=" << 3 << std::string("!") << ext::nextrow; },
         "|  fd=3!  |\n"},
        {"a gap line", {1, 3}, [](T t, S) { t.gap(); }, "| |   |\n"},
        {"beginrow returns to the first column",
         {2, 2, 2},
         [](T, S s) {
             s << "a" << ext::nextrow << ext::beginrow;
             s << "b" << ext::nextrow << "c" << ext::nextrow << "d" << ext::nextrow;
         },
         "|a |b |c |d |\n"},
        {"a table without columns writes nothing",
         {},
         [](T t, S s) {
             s << ext::delimeter << "x" << ext::nextrow << ext::delimeter;
             t.gap();
         },
         ""},
    };
    for (const auto& [what, widths, write, expected] : cases)
        EXPECT_EQ(draw(widths, write), expected) << what;
}

} // namespace
