#include "slots/slot.hpp"

#include <algorithm>
#include <iomanip>
#include <iostream>

#include "slots/factory.hpp"
#include "slots/join.hpp"
#include "slots/slots.hpp"

bool Slot::IHwConnectTransmitter(Slot& receiver)
{
    return MuxConnect(*this, receiver);
}

bool Slot::IHwConnectReceiver(Slot& transmitter)
{
    return MuxConnect(transmitter, *this);
}

bool Slot::IHwDisconnectTransmitter(Slot& receiver)
{
    return MuxDisconnect(receiver);
}

bool Slot::IHwDisconnectReceiver(Slot&)
{
    return MuxDisconnect(*this);
}

void Slot::Put(std::ostream& os) const
{
    if (mId < 1024) {
        os << std::setfill('0') << std::setw(2) << mId;
        // Later fields of the same line must not come out zero-padded.
        os.fill(' ');
    } else if (mId == kUnassigned) {
        os << "na";
    } else {
        os << 'i' << mId;
    }
    os << ':' << GetName();
}

std::ostream& operator<<(std::ostream& os, Slot const& slot)
{
    slot.Put(os);
    return os;
}

void Slot::SendSignal(LGCP::Signal const& signal)
{
    Slots::instance().SendSignal(mId, signal);
}

void Slot::OnTonecEvent(LGCP::TonecEvent const& event)
{
    SendSignal(LGCP::Signal(LGCP::Signal::tonec::value, event));
}

void Slot::OnNumber(std::string const& number)
{
    SendSignal(LGCP::Signal(LGCP::Signal::number::value, number));
}

void Slot::OnModem(TERM::ModemProceeding const& record)
{
    SendSignal(LGCP::Signal(LGCP::Signal::modemProceeding::value, record));
}

void Slot::OnModem(TERM::ModemInformation const& record)
{
    SendSignal(LGCP::Signal(LGCP::Signal::modemInformation::value, record));
}

void Slot::OnActivated()
{
    SendSignal(LGCP::Signal(LGCP::Signal::activated::value, ASN1::Null()));
}

void Slot::OnDeactivated()
{
    SendSignal(LGCP::Signal(LGCP::Signal::deactivated::value, LGCP::DeactivateCause::networkError));
}

void Slot::OnAbort(int code)
{
    SendSignal(LGCP::Signal(LGCP::Signal::abort::value, code));
}

void Slot::OnUserData(std::vector<char> const& data)
{
    SendSignal(LGCP::Signal(LGCP::Signal::userData::value, data));
}

void Slot::OnIoctlResponse(LGCP::IoctlResponse const& response)
{
    SendSignal(LGCP::Signal(LGCP::Signal::ioctl::value, response));
}

void Slot::OnRtpRadioEvent(TERM::RtpRadioRequest const& request)
{
    SendSignal(LGCP::Signal(LGCP::Signal::rtpExt::value, request));
}

void Slot::OnVADEvent(LGCP::VADEvent const& event)
{
    SendSignal(LGCP::Signal(LGCP::Signal::vad::value, event));
}

void Slot::OnProtoLemzEvent(LEMZGW::ProtoLemzPackets const& packets)
{
    SendSignal(LGCP::Signal(LGCP::Signal::protoLemz::value, packets));
}

void Slot::OnSDEvent(LGCP::SDEvent const& event)
{
    SendSignal(LGCP::Signal(LGCP::Signal::sd::value, event));
}

void Slot::OnRtpEvent(LGCP::RtpEvent const& event)
{
    SendSignal(LGCP::Signal(LGCP::Signal::rtp::value, event));
}

void Slot::OnChangeInputStream(bool active)
{
    if (active == mInputStream)
        return;
    LGCP::Stream stream;
    if (active) {
        stream.select_active(IGetReceiveChannel());
    } else {
        stream.select_inactive();
        Disconnect(*this);
    }
    mInputStream = active;
    SendSignal(LGCP::Signal(LGCP::Signal::receiver::value, stream));
}

void Slot::OnChangeOutputStream(bool active)
{
    if (active == mOutputStream)
        return;
    LGCP::Stream stream;
    if (active) {
        stream.select_active(IGetTransmitChannel());
    } else {
        stream.select_inactive();
        for (std::size_t n = mOutputs.size(); n > 0; --n) {
            if (mOutputs.empty()) {
                std::cerr << "mux: internal error: expected slots not exists." << std::endl;
                break;
            }
            Disconnect(*mOutputs.front());
        }
    }
    mOutputStream = active;
    SendSignal(LGCP::Signal(LGCP::Signal::transmitter::value, stream));
}

void Slot::LogicalConnect(Slot& source)
{
    mSource = &source;
    std::vector<Slot*>& outputs = source.mOutputs;
    const auto at = std::lower_bound(outputs.begin(), outputs.end(), this, std::less<Slot*>());
    if (at == outputs.end() || *at != this)
        outputs.insert(at, this);
}

void Slot::LogicalDisconnect()
{
    if (!mSource)
        return;
    std::vector<Slot*>& outputs = mSource->mOutputs;
    outputs.erase(std::remove(outputs.begin(), outputs.end(), this), outputs.end());
    mSource = nullptr;
}

bool Slot::BeforeDestroy()
{
    if (!IBeforeDestroy())
        return false;
    if (mFactory)
        mFactory->Remove(this);
    else
        std::cerr << "slot: internal error!!! BeforeDestroy() not connected to factory" << std::endl;
    return true;
}

void Slot::on_release()
{
    if (!mReleasing)
        return;
    if (mFactory)
        mFactory->Remove(this);
    Slots::instance().on_release(this);
}
