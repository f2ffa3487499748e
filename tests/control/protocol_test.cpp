// Routing through protocol stacks: recording layers show which layer is called
// in which order, and where each packet, activation and status ends up.
#include "control/protocol.hpp"

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using Log = std::vector<std::string>;

// Counts the status objects alive, so that sharing shows up as one deletion.
struct CountedError : Protocol_status_error {
    static int alive;
    CountedError(Protocol_info const* r, std::string const& t) : Protocol_status_error(r, t) { ++alive; }
    ~CountedError() override { --alive; }
};
int CountedError::alive = 0;

// A layer that records each call and then does what a real layer does.
class Layer : public Protocol
{
public:
    Layer(Log* log, std::string tag, unsigned head = 0) : mLog(log), mTag(std::move(tag)), mHead(head) {}
    ~Layer() override { note("deleted"); }

    void local_prepare_head(Packet& p) override { note("head"), p.reserve_head(mHead); }
    void local_activate() override { note("local_activate"), Protocol::local_activate(); }
    void local_deactivate() override { note("local_deactivate"), Protocol::local_deactivate(); }
    void on_deactivate(Protocol_status s) override
    {
        note("on_deactivate(" + s->message() + ")"), Protocol::on_deactivate(s);
    }
    void message(Packet& p) override { note("message"), transmit(p); }
    void receive(Packet& p) override { note("receive"), on_message(p); }
    Protocol_status local_initialize() override
    {
        note("init");
        return mFailInit ? Protocol_status(new Protocol_status_error(this, mTag + " failed"))
                         : Protocol::local_initialize();
    }

    bool mFailInit = false;

private:
    void note(std::string const& what) { mLog->push_back(mTag + "." + what); }

    Log* mLog;
    std::string mTag;
    unsigned mHead;
};

// The end of a stack: records what reaches the owner.
class Owner : public ProtocolsList
{
public:
    explicit Owner(Log* log, std::string tag = "owner") : mLog(log), mTag(std::move(tag)) {}
    void on_activated(Protocol* p) override { mLog->push_back(mTag + ".on_activated(" + who(p) + ")"); }
    void on_deactivated(Protocol* p, Protocol_status s) override
    {
        mLog->push_back(mTag + ".on_deactivated(" + who(p) + "," + s->message() + ")");
        last = s.get();
    }
    void transmit(Packet&) override { mLog->push_back(mTag + ".transmit"); }
    void on_message(Packet&) override { mLog->push_back(mTag + ".on_message"); }

    std::vector<Layer*> layers;
    Internal_protocol_status* last = nullptr;

    std::string who(Protocol* p)
    {
        for (std::size_t i = 0; i < layers.size(); ++i)
            if (layers[i] == p)
                return std::string(1, char('a' + i));
        return "?";
    }

private:
    Log* mLog;
    std::string mTag;
};

// A stack of n recording layers a (bottom), b, c ... under an owner.
struct Stack {
    Log log;
    Owner owner{&log};
    explicit Stack(unsigned n)
    {
        for (unsigned i = 0; i < n; ++i)
            owner.layers.push_back(static_cast<Layer*>(
                owner.add_protocol_tail(new Layer(&log, std::string(1, char('a' + i)), i + 1))));
    }
    Layer& at(unsigned i) { return *owner.layers[i]; }
};

TEST(ProtocolStack, CallsTravelThroughTheLayersInOrder)
{
    struct Case {
        const char* what;
        unsigned layers;
        std::function<void(Stack&)> act;
        Log expected;
    };
    const std::vector<Case> cases = {
        {"one layer activates and reports at once",
         1,
         [](Stack& s) { s.at(0).activate(); },
         {"a.local_activate", "owner.on_activated(a)"}},
        {"activation asked of the top climbs from the bottom",
         3,
         [](Stack& s) { s.at(2).activate(); },
         {"a.local_activate", "b.local_activate", "c.local_activate", "owner.on_activated(c)"}},
        {"orderly deactivation descends and ends at the bottom",
         3,
         [](Stack& s) { s.at(2).deactivate(); },
         {"c.local_deactivate", "c.on_deactivate(success)", "b.local_deactivate", "b.on_deactivate(success)",
          "a.local_deactivate", "a.on_deactivate(success)", "owner.on_deactivated(a,success)"}},
        {"deactivating the bottom leaves the layers above alone",
         3,
         [](Stack& s) { s.at(0).deactivate(); },
         {"a.local_deactivate", "a.on_deactivate(success)", "owner.on_deactivated(a,success)"}},
        {"an error climbs without deactivating the layers above",
         3,
         [](Stack& s) {
             s.at(0).on_deactivate(Protocol_status(new Protocol_status_error(&s.at(0), "boom")));
         },
         {"a.on_deactivate(boom)", "b.on_deactivate(boom)", "c.on_deactivate(boom)",
          "owner.on_deactivated(c,boom)"}},
        {"a message goes down and leaves through the owner",
         3,
         [](Stack& s) {
             Packet p;
             s.at(2).message(p);
         },
         {"c.message", "b.message", "a.message", "owner.transmit"}},
        {"received bytes climb and leave through the owner",
         3,
         [](Stack& s) {
             Packet p;
             s.at(0).receive(p);
         },
         {"a.receive", "b.receive", "c.receive", "owner.on_message"}},
        {"head room is reserved from the bottom up",
         3,
         [](Stack& s) {
             Packet p;
             s.at(2).prepare_head(p);
             s.log.push_back("room " + std::to_string(p.tailroom() == packet_max_size - 6 ? 6 : -1));
         },
         {"a.head", "b.head", "c.head", "room 6"}},
        {"initialisation runs bottom first",
         3,
         [](Stack& s) { s.log.push_back(s.at(2).initialize()->message()); },
         {"a.init", "b.init", "c.init", "success"}},
        {"a failed initialisation below is returned at once",
         3,
         [](Stack& s) {
             s.at(1).mFailInit = true;
             s.log.push_back(s.at(2).initialize()->message());
         },
         {"a.init", "b.init", "b failed"}},
    };
    for (const Case& c : cases) {
        Stack s(c.layers);
        c.act(s);
        EXPECT_EQ(s.log, c.expected) << c.what;
        s.log.clear();
    }
}

TEST(ProtocolStack, OneErrorStatusReachesTheOwnerUnchangedAndDiesOnce)
{
    Stack s(3);
    {
        Protocol_status error(new CountedError(&s.at(0), "read error: x"));
        s.at(0).on_deactivate(error);
        EXPECT_EQ(s.owner.last, error.get());
        EXPECT_EQ(CountedError::alive, 1);
    }
    EXPECT_EQ(CountedError::alive, 0);
}

TEST(ProtocolStack, SearchFindsOnlyNamedLayers)
{
    struct Named : Protocol {
        Protocol_name_str n{"TPKT"};
        Protocol_name const& name() const override { return n; }
        bool compare_name(Protocol_name const& o) const override { return n.compare(o); }
    };
    Stack s(1);
    std::ostringstream os;
    os << static_cast<Protocol_info const&>(s.at(0));
    EXPECT_EQ(os.str(), "(no name)");
    EXPECT_EQ(s.owner.search(Protocol_name_null()), nullptr);
    Protocol* named = s.owner.add_protocol_tail(new Named);
    EXPECT_EQ(s.owner.search(Protocol_name_str("TPKT")), named);
    EXPECT_EQ(s.owner.search(Protocol_name_str("TPK")), nullptr);
}

TEST(ProtocolStack, ListDeletesTopFirstAndAMemberLeavesItsList)
{
    Log log;
    {
        auto owner = std::make_unique<Owner>(&log);
        owner->add_protocol_tail(new Layer(&log, "a"));
        Protocol* b = owner->add_protocol_tail(new Layer(&log, "b"));
        owner->add_protocol_tail(new Layer(&log, "c"));
        owner->add_protocol_head(new Layer(&log, "z"));
        delete b;
        EXPECT_EQ(owner->members(), 3u);
        EXPECT_EQ(owner->bottom()->above()->above(), owner->top());
    }
    EXPECT_EQ(log, (Log{"b.deleted", "c.deleted", "a.deleted", "z.deleted"}));
}

TEST(ProtocolFamily, EmptyFamilyDoesNothingAndFailsInitialisation)
{
    Log log;
    Owner outer(&log);
    auto* family = static_cast<ProtocolsFamily*>(outer.add_protocol_tail(new ProtocolsFamily));
    outer.layers.push_back(nullptr);
    Packet p;
    family->message(p);
    family->receive(p);
    family->activate();
    family->deactivate();
    EXPECT_TRUE(log.empty());
    Protocol_status s = family->initialize();
    EXPECT_FALSE(s->success());
    EXPECT_EQ(s->message(), "error");
    std::ostringstream os;
    os << *s;
    EXPECT_EQ(os.str(), "error");
}

// A family of two layers x (bottom) and y sits between layer a (bottom) and
// layer c of an outer stack.
TEST(ProtocolFamily, ActsAsOneLayerOfTheOuterStack)
{
    struct Case {
        const char* what;
        std::function<void(Layer& a, ProtocolsFamily& f, Layer& x, Layer& y, Layer& c)> act;
        Log expected;
    };
    const std::vector<Case> cases = {
        {"activation climbs through the family into the outer stack",
         [](Layer&, ProtocolsFamily&, Layer&, Layer&, Layer& c) { c.activate(); },
         {"a.local_activate", "x.local_activate", "y.local_activate", "c.local_activate",
          "owner.on_activated(c)"}},
        {"a message crosses the family's members on its way down",
         [](Layer&, ProtocolsFamily&, Layer&, Layer&, Layer& c) {
             Packet p;
             c.message(p);
         },
         {"c.message", "y.message", "x.message", "a.message", "owner.transmit"}},
        {"received bytes cross the family on their way up",
         [](Layer& a, ProtocolsFamily&, Layer&, Layer&, Layer&) {
             Packet p;
             a.receive(p);
         },
         {"a.receive", "x.receive", "y.receive", "c.receive", "owner.on_message"}},
        {"an error of any member becomes the family's own",
         [](Layer&, ProtocolsFamily&, Layer& x, Layer&, Layer&) {
             x.on_deactivate(Protocol_status(new Protocol_status_error(&x, "lost")));
         },
         {"x.on_deactivate(lost)", "y.on_deactivate(lost)", "c.on_deactivate(lost)",
          "owner.on_deactivated(c,lost)"}},
        {"deactivating the family descends through its members, then below it",
         [](Layer&, ProtocolsFamily& f, Layer&, Layer&, Layer&) { f.deactivate(); },
         {"y.local_deactivate", "y.on_deactivate(success)", "x.local_deactivate", "x.on_deactivate(success)",
          "a.local_deactivate", "a.on_deactivate(success)", "owner.on_deactivated(a,success)"}},
        {"head room: outer bottom, then the members, then the top",
         [](Layer&, ProtocolsFamily&, Layer&, Layer&, Layer& c) {
             Packet p;
             c.prepare_head(p);
         },
         {"a.head", "x.head", "y.head", "c.head"}},
    };
    for (const Case& k : cases) {
        Log log;
        Owner outer(&log);
        auto* a = static_cast<Layer*>(outer.add_protocol_tail(new Layer(&log, "a")));
        auto* f = static_cast<ProtocolsFamily*>(outer.add_protocol_tail(new ProtocolsFamily));
        auto* x = static_cast<Layer*>(f->add_protocol_tail(new Layer(&log, "x")));
        auto* y = static_cast<Layer*>(f->add_protocol_tail(new Layer(&log, "y")));
        auto* c = static_cast<Layer*>(outer.add_protocol_tail(new Layer(&log, "c")));
        outer.layers = {a, nullptr, c};
        k.act(*a, *f, *x, *y, *c);
        EXPECT_EQ(log, k.expected) << k.what;
        log.clear();
    }
}

} // namespace
