#include "runtime/deferred_delete.hpp"

#include <utility>

#include "tests/runtime/loop_fixture.hpp"

namespace
{

using looptest::LoopTest;

std::vector<std::string> gLog;

struct Doomed : DeferredDeletable {
    explicit Doomed(const std::string& n, std::function<void()> f = nullptr) : name(n), onDelete(std::move(f))
    {
    }
    ~Doomed() override
    {
        gLog.push_back("~" + name);
        if (onDelete)
            onDelete();
    }
    std::string name;
    std::function<void()> onDelete;
};

class DeferredDeleteTest : public LoopTest
{
public:
    // One timer pass, then the deferred passes from there on mark themselves
    // with "d".
    void run_turn(const std::function<void()>& in_timer)
    {
        mMark.Bind(+[] { gLog.push_back("d"); });
        looptest::Action t, stop;
        t.set(10, [&] {
            gLog.push_back("timer");
            mMark.Activate();
            in_timer();
            gLog.push_back("timer done");
        });
        stop.set(20);
        run();
        mMark.Deactivate();
    }

private:
    Dpc mMark;
};

TEST_F(DeferredDeleteTest, DeletedInTheNextDeferredPass)
{
    const std::tuple<const char*, std::function<void()>, std::vector<std::string>> cases[] = {
        {"handed over in a callback, deleted after it returns, before the pass's calls, once",
         [] {
             auto* d = new Doomed("a");
             multiplexer.deferredDelete(d);
             multiplexer.deferredDelete(d);
             gLog.push_back(d->deletePending() ? "pending" : "not pending");
         },
         {"timer", "pending", "timer done", "~a", "d", "d"}},
        {"handed over by a destructor: waits for the following pass",
         [] {
             multiplexer.deferredDelete(new Doomed("a", [] { multiplexer.deferredDelete(new Doomed("b")); }));
         },
         {"timer", "timer done", "~a", "d", "~b", "d"}},
    };
    for (const auto& [what, in_timer, expected] : cases) {
        SCOPED_TRACE(what);
        gLog.clear();
        run_turn(in_timer);
        // Cut at the end of the turn that fired the timer.
        gLog.resize(std::min<std::size_t>(gLog.size(), expected.size()));
        EXPECT_EQ(gLog, expected);
    }
}

// Handed over in the last dispatch: no deferred pass follows, yet it goes.
TEST_F(DeferredDeleteTest, PendingObjectsAreDeletedWhenTheLoopStops)
{
    struct Reader {
        Event event;
        void on_ready(int, short)
        {
            event.Release();
            multiplexer.deferredDelete(new Doomed("a", [] { multiplexer.deferredDelete(new Doomed("b")); }));
            multiplexer.terminate();
        }
    } reader;
    testutil::Pipe p;
    p.put();
    reader.event.Bind("reader", &Reader::on_ready, &reader);
    reader.event.Schedule(p.r, POLLIN);
    gLog.clear();
    run();
    EXPECT_EQ(gLog, (std::vector<std::string>{"~a", "~b"}));
}

} // namespace
