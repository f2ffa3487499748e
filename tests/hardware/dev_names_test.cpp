// Codec names and the RTP record printers, text for text.
#include "hardware/dev_names.hpp"

#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace
{

TEST(DevNames, CodecNamesEndAtTheTable)
{
    const struct {
        int codec;
        const char* name;
    } cases[] = {{-1, "invalid"}, {0, "unknown"}, {5, "g711-rtp"}, {8, "conf"}, {9, "invalid"}};
    for (auto c : cases)
        EXPECT_STREQ(c.name, GetCodecAsStr(c.codec)) << c.codec;
}

TEST(DevNames, PrintersWriteTheDriverFields)
{
    platform::rtp::rtp_connection_params session{};
    session.rx_pt = 8;
    session.tx_pt = 18;
    session.packet_factor = 2;
    session.ssrc = 4000000000u;
    platform::rtp::rtp_ext_init_params init{7};
    platform::rtp::rtp_attach_session_params attach{5, -1};
    platform::rtp::rtp_channel_info channel{1025, -1, 3, 0};
    std::ostringstream os;
    os << session << init << attach << channel;
    EXPECT_EQ("  rtp_connection_params\n  {\n   packet_factor = 2\n   rx_pt = 8\n   tx_pt = 18\n"
              "   ssrc = 4000000000\n  }\n"
              "  rtp_ext_init_params\n  {\n   etype = 7\n  }\n"
              "  rtp_attach_session_params\n  {\n   fd_rtp = 5\n   pid_rtp = -1\n  }\n"
              "rtp_channel_info { tdm=1025 dev_no=-1 chn=3 }",
              os.str());
}

} // namespace
