#include "runtime/dpc.hpp"

#include <memory>
#include <new>

#include "tests/runtime/loop_fixture.hpp"

namespace
{

using looptest::LoopTest;

std::vector<std::string> gLog;

// Deferred calls sorted by address: an array fixes their order.
struct Worker {
    std::string name;
    Dpc dpc{};
    std::function<void(Worker&)> action{};
    void run()
    {
        gLog.push_back(name);
        if (action)
            action(*this);
    }
};

class DpcTest : public LoopTest
{
public:
    // A timer that fires once marks the turn with "|" and stops the loop:
    // the second turn still runs both passes.
    void run_turns()
    {
        looptest::Action turn;
        turn.set(10, [] { gLog.push_back("|"), multiplexer.terminate(); });
        run();
    }
    Worker w[4] = {{"a"}, {"b"}, {"c"}, {"d"}};
};

TEST_F(DpcTest, ActiveCallsRunInBothPassesAndChangesDuringAPass)
{
    const std::tuple<const char*, std::function<void(DpcTest&)>, std::vector<std::string>> cases[] = {
        {"active calls run after the timer pass and before poll, in address order, once each",
         [](DpcTest& t) {
             t.w[2].dpc.Activate();
             t.w[0].dpc.Activate();
             t.w[0].dpc.Activate();
         },
         {"a", "c", "a", "c", "|", "a", "c", "a", "c"}},
        {"deactivating a later call skips it in this pass",
         [](DpcTest& t) {
             t.w[0].action = [&t](Worker&) { t.w[2].dpc.Deactivate(); };
             t.w[0].dpc.Activate();
             t.w[2].dpc.Activate();
         },
         {"a", "a", "|", "a", "a"}},
        {"activating runs from the next pass of the same turn",
         [](DpcTest& t) {
             t.w[2].action = [&t](Worker&) { t.w[1].dpc.Activate(); };
             t.w[2].dpc.Activate();
         },
         {"c", "b", "c", "|", "b", "c", "b", "c"}},
        {"a call deactivating itself runs once",
         [](DpcTest& t) {
             t.w[1].action = [](Worker& self) { self.dpc.Deactivate(); };
             t.w[1].dpc.Activate();
         },
         {"b", "|"}},
        {"destroying a later call removes it from the pass",
         [](DpcTest& t) {
             t.w[0].action = [&t](Worker&) {
                 t.w[3].dpc.~Dpc();
                 new (&t.w[3].dpc) Dpc();
             };
             t.w[0].dpc.Activate();
             t.w[3].dpc.Activate();
         },
         {"a", "a", "|", "a", "a"}},
        {"rebinding an active call takes effect at the next invoke",
         [](DpcTest& t) {
             t.w[0].action = [&t](Worker& self) { self.dpc.Bind(&t.w[1], &Worker::run); };
             t.w[0].dpc.Activate();
         },
         {"a", "b", "|", "b", "b"}},
    };
    for (const auto& [what, setup, expected] : cases) {
        SCOPED_TRACE(what);
        gLog.clear();
        for (int i = 0; i < 4; ++i) {
            w[i].action = nullptr;
            w[i].dpc.Bind(&w[i], &Worker::run);
        }
        setup(*this);
        run_turns();
        EXPECT_EQ(gLog, expected);
        for (Worker& x : w)
            x.dpc.Deactivate();
    }
}

TEST_F(DpcTest, UnboundOrPlainFunctionCalls)
{
    static int plain_calls = 0;
    plain_calls = 0;
    Dpc unbound;
    unbound.Activate();
    Dpc plain;
    plain.Bind(+[] { ++plain_calls; });
    plain.Activate();
    const unsigned before = multiplexer.dpc_measure().counter();
    run_turns();
    EXPECT_EQ(plain_calls, 4);
    EXPECT_EQ(multiplexer.dpc_measure().counter(), before + 8);
}

} // namespace
