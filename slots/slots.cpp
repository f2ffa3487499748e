#include "slots/slots.hpp"

#include <iostream>
#include <unistd.h>

#include "messages/lgcp/LGCP.hpp"
#include "slots/factory.hpp"
#include "slots/join.hpp"
#include "slots/slot.hpp"

namespace
{

void SleepOneSecond()
{
    ::sleep(1);
}

} // namespace

Slots::Pause Slots::pause = SleepOneSecond;

Slots& Slots::instance()
{
    static Slots slots;
    return slots;
}

Slots::Slots() : mTable() {}

bool Slots::OnCommand(LGCP::Command const& command)
{
    return IsSlotPresent() ? OnSlotCommand(command) : OnBaseCommand(command);
}

bool Slots::OnBaseCommand(LGCP::Command const& command)
{
    if (!command.query_isSelected())
        return false;
    CmdQuery();
    return true;
}

bool Slots::OnSlotCommand(LGCP::Command const& command)
{
    if (command.connect_isSelected())
        CmdConnect(command.get_connect().getValue());
    else if (command.disconnect_isSelected())
        CmdDisconnect();
    else if (command.create_isSelected())
        CmdCreate(command.get_create());
    else if (command.destroy_isSelected())
        CmdDestroy();
    else if (command.activate_isSelected())
        CmdActivate(command.get_activate());
    else if (command.deactivate_isSelected())
        CmdDeactivate();
    else if (command.userData_isSelected())
        CmdUserData(command.get_userData());
    else if (command.ioctl_isSelected())
        CmdIoctl(command.get_ioctl());
    else
        return false;
    return true;
}

void Slots::OnSignal(LGCP::Signal const& signal)
{
    if (!signal.trunkStatus_isSelected())
        return;
    for (SlotFactory* f = firstFactory; f; f = f->GetNext())
        f->SelfSignal(signal);
}

Slot* Slots::Usable(unsigned n)
{
    Slot* slot = GetSlotAt(n);
    if (!slot)
        Error(LGCP::ErrorCause::slotNotExists);
    return slot;
}

void Slots::CmdQuery()
{
    Success();
    UpdateHardwareResources();
}

void Slots::CmdConnect(unsigned n)
{
    if (!CheckSlot(n)) {
        Error(LGCP::ErrorCause::invalidSlot);
        return;
    }
    Slot* source = GetSlotAt(GetSlot());
    Slot* target = GetSlotAt(n);
    if (!source || !target) {
        Error(LGCP::ErrorCause::slotNotExists);
        return;
    }
    // A slot on its way out is joined to nothing more: the join would be
    // left behind when the slot is deleted.
    if (source->is_releasing() || target->is_releasing()) {
        Error(LGCP::ErrorCause::destroyInProgress);
        return;
    }
    if (!Connect(*source, *target)) {
        Error(LGCP::ErrorCause::connectFail);
        return;
    }
    Success();
}

void Slots::CmdDisconnect()
{
    Slot* slot = Usable(GetSlot());
    if (!slot)
        return;
    if (!Disconnect(*slot)) {
        Error(LGCP::ErrorCause::disconnectFail);
        return;
    }
    Success();
}

void Slots::CmdCreate(LGCP::CreateParams const& params)
{
    const unsigned n = GetSlot();
    if (Slot* old = mTable[n]) {
        if (old->is_releasing()) {
            Error(LGCP::ErrorCause::destroyInProgress);
            return;
        }
        Destroy(old);
        if (mTable[n]) {
            Error(LGCP::ErrorCause::slotIdBusy);
            return;
        }
    }
    Slot* slot = nullptr;
    for (SlotFactory* f = firstFactory; f && !slot; f = f->GetNext())
        slot = f->NewSlot(params);
    if (!slot) {
        Error(LGCP::ErrorCause::insufficientResources);
        return;
    }
    slot->mId = n;
    mLive.push_back(slot);
    mTable[n] = slot;
    Success();
    slot->IAfterCreate();
}

void Slots::CmdDestroy()
{
    Slot* slot = GetSlotAt(GetSlot());
    if (!slot) {
        Error(LGCP::ErrorCause::slotNotExists);
        return;
    }
    if (slot->is_releasing()) {
        Error(LGCP::ErrorCause::destroyInProgress);
        return;
    }
    if (Destroy(slot)) {
        Success();
        return;
    }
    slot->mDestroySeq = delayResponse();
    slot->mDestroyPending = true;
}

void Slots::CmdActivate(TERM::TermActivateParams const& params)
{
    if (Slot* slot = Usable(GetSlot())) {
        if (slot->IActivate(params))
            Success();
        else
            Error(LGCP::ErrorCause::unsupported);
    }
}

void Slots::CmdDeactivate()
{
    if (Slot* slot = Usable(GetSlot())) {
        if (slot->IDeactivate())
            Success();
        else
            Error(LGCP::ErrorCause::unsupported);
    }
}

void Slots::CmdUserData(std::vector<char> const& data)
{
    if (Slot* slot = Usable(GetSlot())) {
        if (slot->IUserData(data))
            Success();
        else
            Error(LGCP::ErrorCause::unsupported);
    }
}

void Slots::CmdIoctl(LGCP::IoctlParams const& params)
{
    if (Slot* slot = Usable(GetSlot())) {
        if (slot->Ioctl(params))
            Success();
        else
            Error(LGCP::ErrorCause::unsupported);
    }
}

bool Slots::Destroy(Slot* slot)
{
    Disconnect(*slot);
    for (std::size_t k = slot->mOutputs.size(); k > 0; --k) {
        if (slot->mOutputs.empty()) {
            std::cerr << "mux internal error: expected slots not exists." << std::endl;
            break;
        }
        Disconnect(*slot->mOutputs.front());
    }
    if (!slot->mOutputs.empty())
        std::cerr << "mux internal error: unexpected slots exists." << std::endl;
    slot->mReleasing = true;
    if (!slot->BeforeDestroy())
        return false;
    on_release(slot);
    return true;
}

void Slots::on_release(Slot* slot)
{
    if (slot->mDestroyPending)
        delayedSuccess(slot->mId, slot->mDestroySeq);
    int_destroy(slot);
}

void Slots::int_destroy(Slot* slot)
{
    // Whatever path brought the slot here, nothing may keep a pointer to it:
    // neither its factory's list nor a slot it feeds or is fed by.
    if (SlotFactory* f = slot->mFactory)
        f->Remove(slot);
    DisconnectAll(*slot);
    mLive.remove(slot);
    if (CheckSlot(slot->mId) && mTable[slot->mId] == slot)
        mTable[slot->mId] = nullptr;
    delete slot;
}

void Slots::OnDisconnect()
{
    std::list<Slot*> side;
    while (!mLive.empty()) {
        Slot* slot = mLive.front();
        if (!slot->is_releasing() && Destroy(slot))
            continue;
        mLive.pop_front();
        side.push_back(slot);
    }
    pause();
    for (Slot* slot : side)
        int_destroy(slot);
}

void Slots::UpdateHardwareResources()
{
    LGCP::Resources resources;
    resources.set_rtp_g729(0);
    resources.set_rtp_g723(0);
    resources.set_rtp_g711(0);
    resources.set_rtp_g711mcc(0);
    resources.set_modem(0);
    resources.set_mcc_data(0);
    resources.set_mcc_bri(0);
    resources.set_mcc_trans(0);
    resources.set_t38_instances(0);
    resources.set_digital_modems(0);
    resources.set_lin16(0);
    resources.set_mux(true);
    resources.omit_drvVersion();
    resources.set_echoBus().clear();
    resources.set_mixer().clear();
    for (SlotFactory* f = firstFactory; f; f = f->GetNext())
        f->Query(resources);
    SendSignal(LGCP::Signal(LGCP::Signal::query::value, resources));
}
