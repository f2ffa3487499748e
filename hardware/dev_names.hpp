#pragma once
// The paths of the board's media drivers, so that every user opens the same
// name, and diagnostic helpers for the RTP driver's records: printers that
// dump a record, a codec-name lookup and an error wrapper.
#include <ostream>

#include "platform/devices.hpp"

const char* GetVoiceDevName();  // "/dev/voice"
const char* GetMixerDevName();  // "/dev/mixer"
const char* GetDTMFDevName();   // "/dev/dtmf"
const char* GetDSPDevName();    // "/dev/dsp"
const char* GetRtpDevName();    // "/dev/rtp"
const char* GetRtpExtDevName(); // "/dev/rtp_ext"
const char* GetModemDevName();  // "/dev/mctl"
const char* GetMaintenance();   // "/dev/maintenance"
const char* GetSpiTdmDevName(); // "/dev/spi_tdm"

// The name of a driver codec number 0..8, "invalid" for any other.
const char* GetCodecAsStr(int codec);

// An RTP driver error: the code and the errno of the moment, shown as the system's text.
class RtpErr
{
public:
    explicit RtpErr(int code);
    int code() const { return mCode; }
    void Put(std::ostream& os) const;

private:
    int mCode;
    int mErrno;
};
std::ostream& operator<<(std::ostream& os, RtpErr const& e);

namespace platform
{
namespace rtp
{
// Blocks of indented lines: the record's name, "{", one line per field, "}".
std::ostream& operator<<(std::ostream& os, rtp_connection_params const& p);
std::ostream& operator<<(std::ostream& os, rtp_attach_session_params const& p);
std::ostream& operator<<(std::ostream& os, rtp_ext_attach_session_params const& p);
std::ostream& operator<<(std::ostream& os, rtp_ext_init_params const& p);
// One line, without its end.
std::ostream& operator<<(std::ostream& os, rtp_channel_info const& p);
} // namespace rtp
} // namespace platform
