// Routing through protocol stacks: recording layers show which layer is called
// in which order, and where each packet, activation and status ends up.
#include "control/protocol.hpp"

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using Log = std::vector<std::string>;

// A layer that records each call and then does what a real layer does.
class Layer : public Protocol
{
public:
    Layer(Log* log, char name, unsigned head) : tag(1, name), mLog(log), mHead(head) {}
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
        return fail_init ? Protocol_status(new Protocol_status_error(this, tag + " failed"))
                         : Protocol::local_initialize();
    }

    const std::string tag;
    bool fail_init = false;

private:
    void note(std::string const& what) { mLog->push_back(tag + "." + what); }
    Log* mLog;
    unsigned mHead;
};

// Counts the status objects alive, so that sharing shows up as one deletion.
struct CountedError : Protocol_status_error {
    static int alive;
    CountedError(Protocol_info const* r, std::string const& t) : Protocol_status_error(r, t) { ++alive; }
    ~CountedError() override { --alive; }
};
int CountedError::alive = 0;

// The end of a stack: records what reaches it.
class Owner : public ProtocolsList
{
public:
    explicit Owner(Log* log) : mLog(log) {}
    void on_activated(Protocol* p) override { mLog->push_back("owner.on_activated(" + who(p) + ")"); }
    void on_deactivated(Protocol* p, Protocol_status s) override
    {
        mLog->push_back("owner.on_deactivated(" + who(p) + "," + s->message() + ")");
        last = s.get();
    }
    void transmit(Packet&) override { mLog->push_back("owner.transmit"); }
    void on_message(Packet&) override { mLog->push_back("owner.on_message"); }
    Internal_protocol_status* last = nullptr;

private:
    static std::string who(Protocol* p)
    {
        return dynamic_cast<Layer*>(p) ? dynamic_cast<Layer*>(p)->tag : "?";
    }
    Log* mLog;
};

// Recording layers under an owner, bottom first: "abc" is three layers, with
// 1, 2 and 3 octets of head room; "a[xy]c" puts layers x and y in a family.
struct Stack {
    Log log;
    Owner owner{&log};
    ProtocolsFamily* family = nullptr;
    std::map<char, Layer*> layers;
    explicit Stack(const std::string& spec)
    {
        ProtocolsList* into = &owner;
        for (char c : spec) {
            if (c == '[')
                into = family = static_cast<ProtocolsFamily*>(owner.add_protocol_tail(new ProtocolsFamily));
            else if (c == ']')
                into = &owner;
            else
                layers[c] = static_cast<Layer*>(
                    into->add_protocol_tail(new Layer(&log, c, unsigned(layers.size() + 1))));
        }
    }
    Layer& operator[](char c) { return *layers.at(c); }
};

// Runs "<layer> <call>" pairs on a stack (F is the family) and returns the
// log, space-separated. "head" adds the head room taken, "init" the status,
// "fail" makes a layer's initialisation fail, "error:x" reports an error x.
std::string run(Stack& s, const std::string& script)
{
    std::istringstream in(script);
    for (std::string who, call; in >> who >> call;) {
        Protocol& p = who == "F" ? static_cast<Protocol&>(*s.family) : s[who[0]];
        Packet packet;
        if (call == "activate")
            p.activate();
        else if (call == "deactivate")
            p.deactivate();
        else if (call == "message")
            p.message(packet);
        else if (call == "receive")
            p.receive(packet);
        else if (call == "fail")
            s[who[0]].fail_init = true;
        else if (call == "init")
            s.log.push_back(p.initialize()->message());
        else if (call == "head")
            p.prepare_head(packet),
                s.log.push_back("room " + std::to_string(packet_max_size - packet.tailroom()));
        else
            p.on_deactivate(Protocol_status(new Protocol_status_error(&p, call.substr(6))));
    }
    std::string out;
    for (const std::string& line : s.log)
        out += (out.empty() ? "" : " ") + line;
    return out;
}

TEST(ProtocolStack, CallsTravelThroughTheLayersInOrder)
{
    const struct Case {
        const char *spec, *script, *log;
    } cases[] = {
        // Activation climbs from the bottom; an orderly deactivation descends
        // from where it is asked and ends at the bottom.
        {"abc", "c activate", "a.local_activate b.local_activate c.local_activate owner.on_activated(c)"},
        {"abc", "c deactivate",
         "c.local_deactivate c.on_deactivate(success) b.local_deactivate b.on_deactivate(success) "
         "a.local_deactivate a.on_deactivate(success) owner.on_deactivated(a,success)"},
        {"abc", "a deactivate",
         "a.local_deactivate a.on_deactivate(success) owner.on_deactivated(a,success)"},
        // An error climbs without deactivating the layers above.
        {"abc", "a error:boom",
         "a.on_deactivate(boom) b.on_deactivate(boom) c.on_deactivate(boom) owner.on_deactivated(c,boom)"},
        // Packets leave through the owner; head room is reserved bottom up.
        {"abc", "c message", "c.message b.message a.message owner.transmit"},
        {"abc", "a receive", "a.receive b.receive c.receive owner.on_message"},
        {"abc", "c head", "a.head b.head c.head room 6"},
        // Initialisation runs bottom first; a failure below is returned at once.
        {"abc", "c init", "a.init b.init c.init success"},
        {"abc", "b fail c init", "a.init b.init b failed"},
        // A family acts as one layer of the outer stack.
        {"a[xy]c", "c activate",
         "a.local_activate x.local_activate y.local_activate c.local_activate owner.on_activated(c)"},
        {"a[xy]c", "c message", "c.message y.message x.message a.message owner.transmit"},
        {"a[xy]c", "a receive", "a.receive x.receive y.receive c.receive owner.on_message"},
        {"a[xy]c", "x error:lost",
         "x.on_deactivate(lost) y.on_deactivate(lost) c.on_deactivate(lost) owner.on_deactivated(c,lost)"},
        {"a[xy]c", "F deactivate",
         "y.local_deactivate y.on_deactivate(success) x.local_deactivate x.on_deactivate(success) "
         "a.local_deactivate a.on_deactivate(success) owner.on_deactivated(a,success)"},
        {"a[xy]c", "c head", "a.head x.head y.head c.head room 10"},
        // An empty family passes nothing and fails its initialisation.
        {"[]", "F message F receive F activate F deactivate F init", "error"},
    };
    for (const Case& c : cases) {
        Stack s(c.spec);
        EXPECT_EQ(run(s, c.script), c.log) << c.spec << ": " << c.script;
        s.log.clear();
    }
}

TEST(ProtocolStack, OneErrorStatusReachesTheOwnerUnchangedAndDiesOnce)
{
    Stack s("abc");
    {
        Protocol_status status(new CountedError(&s['a'], "read error: x"));
        s['a'].on_deactivate(status);
        EXPECT_EQ(s.owner.last, status.get());
        EXPECT_EQ(CountedError::alive, 1);
    }
    EXPECT_EQ(CountedError::alive, 0);
}

TEST(ProtocolStack, ListDeletesTopFirstAndAMemberLeavesItsList)
{
    Log log;
    {
        Owner owner(&log);
        owner.add_protocol_tail(new Layer(&log, 'a', 0));
        Protocol* b = owner.add_protocol_tail(new Layer(&log, 'b', 0));
        owner.add_protocol_tail(new Layer(&log, 'c', 0));
        owner.add_protocol_head(new Layer(&log, 'z', 0));
        delete b;
        EXPECT_EQ(owner.members(), 3u);
        EXPECT_EQ(owner.bottom()->above()->above(), owner.top());
    }
    EXPECT_EQ(log, (Log{"b.deleted", "c.deleted", "a.deleted", "z.deleted"}));
}

} // namespace
