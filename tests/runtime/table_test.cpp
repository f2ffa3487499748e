#include "runtime/table.hpp"

#include <functional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace
{

TEST(Table, Layouts)
{
    struct Case {
        const char* what;
        std::function<void(std::ostream&)> write;
        const char* expected;
    };
    const Case cases[] = {
        {"a long text is written in full and shifts the line",
         [](std::ostream& os) {
             ext::Table t(os, 3, 2);
             ext::Table::Sentry s(t);
             s << "abcdef" << ext::nextrow << "" << ext::nextrow;
         },
         "|abcdef|  |\n"},
        {"a delimiter completes an open row",
         [](std::ostream& os) {
             ext::Table t(os, 2, 2, 2);
             ext::Table::Sentry s(t);
             s << "a" << ext::nextrow << ext::delimeter;
         },
         "|a |  |  |\n"
         "+--+--+--+\n"},
        {"destroying the sentry completes an open row",
         [](std::ostream& os) {
             ext::Table t(os, 3, 3);
             ext::Table::Sentry s(t);
             s << 42 << ext::nextrow;
         },
         "|42 |   |\n"},
        {"text of one cell is collected from several writes",
         [](std::ostream& os) {
             ext::Table t(os, 9);
             ext::Table::Sentry s(t);
             s << "fd=" << 3 << std::string("!") << ext::nextrow;
         },
         "|  fd=3!  |\n"},
        {"a gap line",
         [](std::ostream& os) {
             ext::Table t(os, 1, 3);
             t.gap();
         },
         "| |   |\n"},
        {"columns added one by one; beginrow returns to the first",
         [](std::ostream& os) {
             ext::Table t(os);
             t.add(2);
             t.add(2);
             t.add(2);
             ext::Table::Sentry s(t);
             s << "a" << ext::nextrow << ext::beginrow;
             s << "b" << ext::nextrow << "c" << ext::nextrow << "d" << ext::nextrow;
         },
         "|a |b |c |d |\n"},
        {"a table without columns writes nothing",
         [](std::ostream& os) {
             ext::Table t(os);
             ext::Table::Sentry s(t);
             s << ext::delimeter << "x" << ext::nextrow << ext::delimeter;
             t.gap();
         },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ostringstream os;
        c.write(os);
        EXPECT_EQ(os.str(), c.expected);
    }
}

} // namespace
