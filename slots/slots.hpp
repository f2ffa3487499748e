#pragma once
// The slot manager: the controller-facing service that owns every slot. It
// runs the slot commands on the slot named in the message header, answers
// the base command query with the resource report, turns every failure into
// an error cause, hands trunk status to the factories and destroys every slot
// when the controller link drops. Bound second, after the heartbeat.
#include <cstddef>
#include <list>

#include "control/ctrl_server.hpp"
#include "messages/lgcp/LGCP.hpp"

class Slot;

class Slots : public CtrlSrv::Service
{
public:
    static constexpr unsigned kTableSize = 1024;

    static Slots& instance();

    Slots();
    // Frees the live list; the slots themselves are left to the process exit.
    ~Slots() override = default;

    void OnConnect() override {}
    void OnDisconnect() override;
    bool OnCommand(LGCP::Command const& command) override;
    void OnSignal(LGCP::Signal const& signal) override;

    static bool CheckSlot(unsigned n) { return n < kTableSize; }

    // Detaches the slot and starts its release; true when it is gone, false
    // when the release is pending (the slot stays in the table).
    bool Destroy(Slot* slot);
    // A pending release has finished: the promised answer, then the delete.
    void on_release(Slot* slot);
    void UpdateHardwareResources();

    Slot* GetSlotAt(unsigned n) const { return CheckSlot(n) ? mTable[n] : nullptr; }
    std::list<Slot*> const& GetLive() const { return mLive; }

    // The pause after controller loss; tests count it instead of sleeping.
    using Pause = void (*)();
    static Pause pause;

private:
    bool OnSlotCommand(LGCP::Command const& command);
    bool OnBaseCommand(LGCP::Command const& command);
    // The header slot's entry, or null after answering slotNotExists. A
    // releasing slot is usable: only a join to it is refused.
    Slot* Usable(unsigned n);

    void CmdQuery();
    void CmdConnect(unsigned n);
    void CmdDisconnect();
    void CmdCreate(LGCP::CreateParams const& params);
    void CmdDestroy();
    void CmdActivate(TERM::TermActivateParams const& params);
    void CmdDeactivate();
    void CmdUserData(std::vector<char> const& data);
    void CmdIoctl(LGCP::IoctlParams const& params);

    void int_destroy(Slot* slot);

    Slot* mTable[kTableSize];
    std::list<Slot*> mLive;
};
