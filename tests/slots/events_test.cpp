// The media slots' event decoders: every record kind, as the signal the
// controller receives (value notation) or the line that drops it.
#include <cstring>

#include "slots/slot.hpp"
#include "slots/slots.hpp"
#include "tests/runtime/test_util.hpp"
#include "tests/slots/signal_spy.hpp"

namespace
{

using testutil::Capture;

using Spy = slotstest::SignalSpy;

class MediaSlot : public Slot
{
public:
    char const* GetName() const override { return "media"; }
};

struct Decoded {
    std::vector<std::string> signals;
    std::string errors;
};

template <class Decode> Decoded decode(Decode feed)
{
    CtrlSrv::Server server;
    Spy spy;
    server.Bind(&Slots::instance());
    server.Bind(&spy);
    Capture cerr(std::cerr), clog(std::clog);
    MediaSlot slot;
    feed(slot);
    server.Deactivate();
    // Only the decoders' own lines: the unbound server complains of every send.
    std::istringstream lines(cerr.text());
    std::string errors;
    for (std::string line; std::getline(lines, line);)
        if (line.find("ignored.") != std::string::npos)
            errors += line + "\n";
    return Decoded{spy.signals, errors};
}

TEST(Events, ToneCodes)
{
    const struct Case {
        std::int32_t code;
        const char* signal; // "" none
    } cases[] = {
        {17, "tonec : { timestamp 9, event ced : NULL }"},
        {18, "tonec : { timestamp 9, event cng : NULL }"},
        {0, "tonec : { timestamp 9, event dtmf : 0 }"},
        {127, "tonec : { timestamp 9, event dtmf : 127 }"},
        {0x1400, "tonec : { timestamp 9, event iva : code : 20 }"},
        {0x1500, "tonec : { timestamp 9, event iva : ringoff : NULL }"},
        {0x1600, ""},
        {128, ""},
        {-1, ""},
    };
    for (const Case& c : cases) {
        const Decoded d = decode([&](Slot& s) { s.processTonecEvent({c.code, 9}); });
        EXPECT_EQ(*c.signal ? std::vector<std::string>{c.signal} : std::vector<std::string>{}, d.signals)
            << c.code;
        EXPECT_EQ(*c.signal ? "" : "bad DTMF code, ignored.\n", d.errors) << c.code;
    }
}

TEST(Events, DspRecords)
{
    // clang-format off
    const struct Case {
        const char* what;
        void (*feed)(Slot&);
        std::vector<std::string> signals;
        const char* errors;
    } cases[] = {
        {"vad tx only", [](Slot& s) { s.processVADEvent({-1, 0}); }, {"vad : { vad-tx FALSE }"}, ""},
        {"vad both", [](Slot& s) { s.processVADEvent({1, 0}); }, {"vad : { vad-rx TRUE, vad-tx FALSE }"}, ""},
        {"vad none", [](Slot& s) { s.processVADEvent({-1, -1}); }, {}, "bad VAD event, ignored.\n"},
        {"sd", [](Slot& s) { s.processSDEvent(Hardware::DSProcSDEvent{1}); }, {"sd : { sd-rx TRUE }"}, ""},
        {"sd none", [](Slot& s) { s.processSDEvent(Hardware::DSProcSDEvent{-1}); }, {},
         "bad SD event, ignored.\n"},
        {"bss", [](Slot& s) { const dsproc_bss_event e{0.5f, {0, 0}}; s.processBSSEvent(&e); },
         {"bss : { score \"0.500000\" }"}, ""},
        {"bss long score cut to 31 characters",
         [](Slot& s) { const dsproc_bss_event e{1e30f, {0, 0}}; s.processBSSEvent(&e); },
         {"bss : { score \"1000000015047466219876688855040\" }"}, ""},
        {"tone absent", [](Slot& s) { const dsproc_tone_event e{2100, 0, {}}; s.processToneFltEvent(&e); },
         {"tonec : { timestamp 0, event tone-presence : { freq 2100, presence FALSE } }"}, ""},
        {"flags vad and selcal",
         [](Slot& s) { const dsproc_flags_event e{0xA0000000u, 0xE0000000u, 0}; s.processFlagsEvent(&e); },
         {"vad : { vad-rx TRUE, vad-tx FALSE }", "selcal : { in-progress TRUE }"}, ""},
        {"flags selcal only",
         [](Slot& s) { const dsproc_flags_event e{0, 0x80000000u, 0}; s.processFlagsEvent(&e); },
         {"selcal : { in-progress FALSE }"}, ""},
        {"flags none reported",
         [](Slot& s) { const dsproc_flags_event e{0xFFFFFFFFu, 0x1FFFFFFFu, 0}; s.processFlagsEvent(&e); },
         {}, ""},
        {"generator done", [](Slot& s) { s.processToneGenEvent(); },
         {"tonec : { timestamp 0, event dtmfDone : NULL }"}, ""},
        {"rtp pd", [](Slot& s) { s.processRtpEvent(platform::rtp::rtp_event{1, 3, 500, {}}); },
         {"rtp : pd : { value 3, timeout 500 }"}, ""},
        {"rtp other type", [](Slot& s) { s.processRtpEvent(platform::rtp::rtp_event{2, 3, 500, {}}); },
         {}, ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        const Decoded d = decode(c.feed);
        EXPECT_EQ(c.signals, d.signals) << c.what;
        EXPECT_EQ(c.errors, d.errors) << c.what;
    }
}

} // namespace
