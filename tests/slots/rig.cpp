#include "tests/slots/rig.hpp"

#include <iostream>

#include "asn1/asn1.hpp"
#include "hardware/hw_mux.hpp"
#include "platform/board.hpp"
#include "platform/sim/hal_model.hpp"
#include "slots/echo.hpp"
#include "slots/ext.hpp"
#include "slots/map.hpp"

namespace slottest
{

int Rig::pauses = 0;

platform::SimBoard& board()
{
    static platform::SimBoard* sim = [] {
        auto* b = new platform::SimBoard;
        platform::setBoard(b);
        return b;
    }();
    return *sim;
}

std::string hal()
{
    const std::string prefix = "ioctl /dev/hal ";
    std::string out;
    for (const std::string& line : board().journal()) {
        if (line.compare(0, prefix.size(), prefix) != 0)
            continue;
        out += (out.empty() ? "" : " | ") + line.substr(prefix.size());
    }
    board().clear_journal();
    return out;
}

Probe::~Probe()
{
    note("deleted");
}

void Probe::note(const char* what)
{
    std::ostringstream os;
    os << *this << ' ' << what;
    *mLog += (mLog->empty() ? "" : ", ") + os.str();
}

ProbeFactory& ProbeFactory::instance()
{
    static ProbeFactory factory;
    return factory;
}

Slot* ProbeFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.mcc_isSelected())
        return nullptr;
    return new Probe(next, &log);
}

void ProbeFactory::SelfSignal(LGCP::Signal const& signal)
{
    if (signal.trunkStatus_isSelected())
        trunk_status = signal.get_trunkStatus().get_trunk().getValue();
}

LGCP::Command create(LGCP::CreateParams const& params)
{
    LGCP::Command c;
    c.select_create(params);
    return c;
}

LGCP::Command connect(unsigned n)
{
    LGCP::Command c;
    c.select_connect(n);
    return c;
}

LGCP::Command command(int alternative)
{
    LGCP::Command c;
    switch (alternative) {
    case LGCP::Command::query::value:
        c.select_query();
        break;
    case LGCP::Command::disconnect::value:
        c.select_disconnect();
        break;
    case LGCP::Command::destroy::value:
        c.select_destroy();
        break;
    case LGCP::Command::activate::value:
        c.select_activate().select_empty();
        break;
    case LGCP::Command::deactivate::value:
        c.select_deactivate();
        break;
    case LGCP::Command::userData::value:
        c.select_userData(std::vector<char>{'x'});
        break;
    case LGCP::Command::ioctl::value:
        c.select_ioctl().select_deactivateRecord();
        break;
    case LGCP::Command::ping::value:
        c.select_ping();
        break;
    }
    return c;
}

LGCP::CreateParams trunk(unsigned trunk, unsigned timeslot)
{
    LGCP::CreateParams p;
    p.select_trunk().set_trunk(trunk);
    p.ref_trunk().set_timeslot(timeslot);
    return p;
}

LGCP::CreateParams bri(unsigned bri, unsigned channel)
{
    LGCP::CreateParams p;
    p.select_trunk_bri().set_trunk(bri);
    p.ref_trunk_bri().set_timeslot(channel);
    return p;
}

LGCP::CreateParams map(int tx, int rx)
{
    LGCP::CreateParams p;
    LGCP::MapParams& m = p.select_map();
    if (tx >= 0) {
        m.set_transmitter().set_bus(unsigned(tx / 128));
        m.ref_transmitter().set_channel(unsigned(tx % 128));
    }
    if (rx >= 0) {
        m.set_receiver().set_bus(unsigned(rx / 128));
        m.ref_receiver().set_channel(unsigned(rx % 128));
    }
    return p;
}

LGCP::CreateParams ext(int tx, int rx)
{
    LGCP::CreateParams p;
    p.select_ext().set_transmitter(tx);
    p.ref_ext().set_receiver(rx);
    return p;
}

LGCP::CreateParams echo(int bus, int channel)
{
    LGCP::CreateParams p;
    p.select_echo().set_bus(bus);
    p.ref_echo().set_channel(channel);
    return p;
}

LGCP::CreateParams probe()
{
    LGCP::CreateParams p;
    p.select_mcc().set_type(LGCP::MccType::data);
    p.ref_mcc().set_mode(LGCP::MccMode::standard);
    return p;
}

namespace
{

const char* const kCauses[] = {"invalidParams",     "insufficientResources",
                               "invalidSlot",       "slotNotExists",
                               "unexpectedMsgType", "internal",
                               "unsupported",       "reconnectionFail",
                               "disconnectFail",    "connectFail",
                               "busError",          "slotIdBusy",
                               "destroyInProgress"};

const char* const kSignals[] = {"query",       "tonec",       "number", "modemProceeding", "modemInformation",
                                "activated",   "deactivated", "abort",  "userData",        "receiver",
                                "transmitter", "trunkStatus", "ioctl",  "loadAvg",         "cas",
                                "rtpExt",      "vad",         "power",  "protoLemz",       "sd",
                                "bss",         "rtp",         "selcal"};

std::string describe(LGCP::Message const& m)
{
    std::ostringstream os;
    LGCP::PDU const& pdu = m.get_pdu();
    if (pdu.response_isSelected()) {
        LGCP::Response const& r = pdu.get_response();
        os << (r.success_isSelected() ? "ok" : kCauses[int(r.get_error())]);
        if (m.seq_isPresent())
            os << " #" << m.get_seq().getValue();
        if (m.slot_isPresent())
            os << " @" << m.get_slot().getValue();
        return os.str();
    }
    if (m.slot_isPresent())
        os << '@' << m.get_slot().getValue() << ' ';
    if (m.seq_isPresent())
        os << "#" << m.get_seq().getValue() << ' ';
    LGCP::Signal const& s = pdu.get_signal();
    os << kSignals[s.currentSelection()];
    LGCP::Stream const* stream = s.receiver_isSelected()      ? &s.get_receiver()
                                 : s.transmitter_isSelected() ? &s.get_transmitter()
                                                              : nullptr;
    if (stream && stream->active_isSelected())
        os << ' ' << stream->get_active().getValue();
    else if (stream)
        os << " off";
    if (s.abort_isSelected())
        os << ' ' << s.get_abort().getValue();
    if (s.deactivated_isSelected())
        os << ' ' << int(s.get_deactivated());
    return os.str();
}

} // namespace

unsigned disables(int channel)
{
    return board().model<platform::sim::HalModel>()->disables(channel);
}

void Rig::SetUp()
{
    mQuiet.reset(new ctltest::Capture(std::clog));
    board();
    {
        // The kinds' factories, as start-up makes them.
        ctltest::Capture clog(std::clog);
        MapFactory::instance();
        ExtFactory::instance();
        EchoFactory::instance();
        HwMux::instance();
    }
    Slots::pause = [] { ++pauses; };
    pauses = 0;
    server.Bind(&Slots::instance());
    server.Activate(new ctltest::NullLink);
    ctltest::Capture clog(std::clog);
    static_cast<ctltest::NullLink*>(server.GetLink())->Connected(pair.server, pair.peer);
    pair.server.close();
    ProbeFactory::instance().next = ProbeSpec();
    ProbeFactory::instance().log.clear();
    hal();
}

void Rig::TearDown()
{
    {
        ctltest::Capture cerr(std::cerr);
        server.Deactivate();
    }
    EXPECT_TRUE(Slots::instance().GetLive().empty());
    mQuiet.reset();
}

std::string Rig::frames()
{
    const std::string in = ctltest::read_now(pair.client);
    std::string out;
    for (std::size_t at = 0; at + 4 <= in.size();) {
        const std::size_t n =
            std::size_t(static_cast<unsigned char>(in[at + 2])) << 8 | static_cast<unsigned char>(in[at + 3]);
        LGCP::Message m;
        ASN1::CoderEnv env;
        env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
        const char* payload = in.data() + at + 4;
        out += out.empty() ? "" : " | ";
        out += ASN1::decode(payload, payload + (n - 4), &env, m, true) ? describe(m) : "(undecodable)";
        at += n;
    }
    return out;
}

std::string Rig::send(int seq, int slot, LGCP::Command const& command)
{
    LGCP::Message m;
    if (seq >= 0)
        m.set_seq(seq);
    if (slot >= 0)
        m.set_slot(unsigned(slot));
    m.set_pdu().select_command(command);
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    std::vector<char> bytes;
    EXPECT_TRUE(ASN1::encode(m, &env, std::back_inserter(bytes)));
    server.OnMessage(bytes.data(), int(bytes.size()));
    return frames();
}

Probe* Rig::make_probe(unsigned n, ProbeSpec spec)
{
    ProbeFactory::instance().next = spec;
    EXPECT_EQ("ok @" + std::to_string(n), send(-1, int(n), create(probe())));
    return static_cast<Probe*>(at(n));
}

} // namespace slottest
