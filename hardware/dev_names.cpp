#include "hardware/dev_names.hpp"

#include <cerrno>
#include <cstring>

#include "platform/devices.hpp"

const char* GetVoiceDevName()
{
    return "/dev/voice";
}
const char* GetMixerDevName()
{
    return "/dev/mixer";
}
const char* GetDTMFDevName()
{
    return "/dev/dtmf";
}
const char* GetDSPDevName()
{
    return "/dev/dsp";
}
const char* GetRtpDevName()
{
    return "/dev/rtp";
}
const char* GetRtpExtDevName()
{
    return "/dev/rtp_ext";
}
const char* GetModemDevName()
{
    return "/dev/mctl";
}
const char* GetMaintenance()
{
    return platform::maintenance::kPath;
}
const char* GetSpiTdmDevName()
{
    return "/dev/spi_tdm";
}

const char* GetCodecAsStr(int codec)
{
    static const char* const names[] = {"unknown",  "g711",     "g723",     "g729", "tonec",
                                        "g711-rtp", "g729-rtp", "g723-rtp", "conf"};
    if (codec < 0 || codec >= int(sizeof names / sizeof names[0]))
        return "invalid";
    return names[codec];
}

RtpErr::RtpErr(int code) : mCode(code), mErrno(errno) {}

void RtpErr::Put(std::ostream& os) const
{
    os << std::strerror(mErrno);
}

std::ostream& operator<<(std::ostream& os, RtpErr const& e)
{
    e.Put(os);
    return os;
}

namespace platform
{
namespace rtp
{

namespace
{
const char kIndent[] = "  ";

std::ostream& open_block(std::ostream& os, const char* name)
{
    return os << kIndent << name << std::endl << kIndent << "{" << std::endl;
}
std::ostream& close_block(std::ostream& os)
{
    return os << kIndent << "}" << std::endl;
}
} // namespace

std::ostream& operator<<(std::ostream& os, rtp_connection_params const& p)
{
    open_block(os, "rtp_connection_params");
    os << kIndent << " packet_factor = " << p.packet_factor << std::endl;
    os << kIndent << " rx_pt = " << p.rx_pt << std::endl;
    os << kIndent << " tx_pt = " << p.tx_pt << std::endl;
    os << kIndent << " ssrc = " << p.ssrc << std::endl;
    return close_block(os);
}

std::ostream& operator<<(std::ostream& os, rtp_attach_session_params const& p)
{
    open_block(os, "rtp_attach_session_params");
    os << kIndent << " fd_rtp = " << p.fd_rtp << std::endl;
    os << kIndent << " pid_rtp = " << p.pid_rtp << std::endl;
    return close_block(os);
}

std::ostream& operator<<(std::ostream& os, rtp_ext_attach_session_params const& p)
{
    open_block(os, "rtp_ext_attach_session_params");
    os << kIndent << " fd_rtp = " << p.fd_rtp << std::endl;
    os << kIndent << " pid_rtp = " << p.pid_rtp << std::endl;
    return close_block(os);
}

std::ostream& operator<<(std::ostream& os, rtp_ext_init_params const& p)
{
    open_block(os, "rtp_ext_init_params");
    os << kIndent << " etype = " << p.etype << std::endl;
    return close_block(os);
}

std::ostream& operator<<(std::ostream& os, rtp_channel_info const& p)
{
    return os << "rtp_channel_info"
              << " {"
              << " tdm=" << p.tdm << " dev_no=" << p.dev_no << " chn=" << p.chn << " }";
}

} // namespace rtp
} // namespace platform
