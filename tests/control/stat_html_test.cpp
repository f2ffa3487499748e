// The HTML statistics generator over table cases of templates.
#include "control/html/stat_html.hpp"

#include <map>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

namespace
{

struct Obj : Stat::Object {
    std::map<std::string, std::string> values;
    std::map<std::string, Obj*> subs;
    std::map<std::string, std::vector<Obj*>> lists;

    struct Iter : Stat::IteratorBase {
        std::vector<Obj*> const& items;
        std::size_t at = 0;
        explicit Iter(std::vector<Obj*> const& i) : items(i) {}
        bool valid() const override { return at < items.size(); }
        bool next() override { return ++at <= items.size(); }
        Stat::Object& current() const override { return *items[at]; }
    };
    Stat::Value statistics_value(std::string const& n) const override
    {
        auto v = values.find(n);
        return v == values.end() ? Stat::Value() : Stat::Value(v->second);
    }
    Stat::Object* statistics_object(std::string const& n) const override
    {
        auto s = subs.find(n);
        return s == subs.end() ? nullptr : s->second;
    }
    std::unique_ptr<Stat::IteratorBase> statistics_iterator(std::string const& n) const override
    {
        auto l = lists.find(n);
        return l == lists.end() ? nullptr : std::unique_ptr<Stat::IteratorBase>(new Iter(l->second));
    }
};

TEST(StatHtml, FillsTemplates)
{
    Obj root, sub, tag, items[3];
    root.values = {{"n", "7"}};
    sub.values = {{"v", "S"}};
    tag.values = {{"t", "t"}};
    root.subs = {{"sub", &sub}};
    root.lists = {{"items", {&items[0], &items[1], &items[2]}}, {"none", {}}};
    for (int i = 0; i < 3; ++i) {
        items[i].values = {{"i", std::to_string(i + 1)}};
        items[i].subs = {{"tag", &tag}};
    }
    const struct {
        const char *in, *out;
    } cases[] = {
        {"a %n% b", "a 7 b"},
        {"%x%", "%x%"},
        {"100%% sure", "100%% sure"},
        {"<td width=50%>%n%</td>", "<td width=50%>7</td>"},
        {"50% of %n%", "50% of %n"},
        {"<!--GEN.sub-->[%v%/%n%]<!--GEN.end-->.", "[S/7]."},
        {"<!--GEN.items-->%i%,<!--GEN.end-->!", "1,2,3,!"},
        {"<!--GEN.items--><!--GEN.tag-->(%t%%i%)<!--GEN.end--><!--GEN.end-->", "(t1)(t2)(t3)"},
        {"<!--GEN.none-->x<!--GEN.end-->y", "y"},
        {"<!--GEN.nope-->x<!--GEN.sub-->z<!--GEN.end-->w<!--GEN.end-->y", "y"},
        {"<!-- c --><!--GENX--><b>", "<!-- c --><!--GENX--><b>"},
        {"<!x%n%>%n%", "<!x%n%>7"},
        {"a<!--GEN.end-->b", "a"},
        {"a%n", "a"},
        {"a<!--GEN.su", "a"},
        {"\xff%n%\xff", "\xff\x37\xff"},
        // The last body runs to the end of the input: each element still gets it.
        {"<!--GEN.items-->%i%", "123"},
    };
    for (auto const& c : cases) {
        std::istringstream in(c.in);
        std::ostringstream out;
        EXPECT_TRUE(Stat::Html::generateV1(root, out, in));
        EXPECT_EQ(out.str(), c.out) << c.in;
    }
}

} // namespace
