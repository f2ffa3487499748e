#pragma once
// The factory of RTP streams: builds an RtpSlot from an `rtp` create without
// a radio part (the radio factories take those), and reports how many RTP
// channels of each codec the voice driver can still serve, read again at
// every resource query.
#include <cstdint>
#include <ostream>

#include "slots/factory.hpp"

class RtpFactory : public SlotFactory
{
public:
    // The codec masks the voice driver is asked about.
    enum Mask : std::uint32_t { kG711 = 1, kG723 = 2, kG729 = 4, kG711mcc = 8, kUniversal = 65 };

    static RtpFactory& instance();

    RtpFactory();

    char const* GetName() const override { return "RTP"; }
    Slot* INewSlot(LGCP::CreateParams const& p) override;
    void Query(LGCP::Resources& resources) override;

    void IQuery();
    // "rtp[<g723>,<g729>,<g711>,<universal>]: "
    std::ostream& PutHeader(std::ostream& os) const;

    // The RTP payload type of a codec, -1 for one the driver does not know.
    static int translateCodec(TERM::Payload::NamedNumber payload);
    // The payload type of `payload`, or of `other` when that is a different plain G.711 law.
    static int translateCodec(TERM::Payload::NamedNumber payload, TERM::Payload::NamedNumber other);

    unsigned g729 = 0;
    unsigned g723 = 0;
    unsigned g711 = 0;
    unsigned g711mcc = 0;
    unsigned universal = 0;
};
