#pragma once
// T.38 soft slots: a fax call relayed between a transparent channel of the
// multi-channel controller and a T.38 peer by the outside program
// "/usr/local/sbin/t38", run as a child with the channel as its standard
// input. The slot joins the channel, reports the program's end as `abort`
// with the raw wait status, and stops the program when it is destroyed.
#include <ostream>
#include <string>
#include <vector>

#include "runtime/child_wait.hpp"
#include "slots/factory.hpp"
#include "slots/slot.hpp"

class T38SoftSlot : public Slot
{
public:
    T38SoftSlot(int pid, int channel);

    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return mChannel; }
    int IGetReceiveChannel() override { return mChannel; }
    char const* GetName() const override { return "t38 soft"; }

    void OnT38Terminate(int status);
    int child() const { return mChild; }

private:
    int mChild;
    int mChannel;
    ChildWait mWait;
};

class T38SoftFactory : public SlotFactory
{
public:
    // At most this many `args` texts reach the program.
    static constexpr unsigned kMaxArgs = 27;
    // A program that ignores SIGTERM gets SIGKILL after this long.
    static constexpr unsigned kKillDelay = 5000;
    // How long the instance query waits for the program's line (ms).
    static constexpr int kQueryWait = 1000;

    static T38SoftFactory& instance();
    // Whatever still waits for a program's end goes with the factory.
    ~T38SoftFactory() override;

    char const* GetName() const override { return "T.38 soft"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources& resources) override;
    // Runs "t38 --num-of-instances" and waits for its line: it blocks the loop
    // (feeding the watchdog) until the line or the end of the output has
    // come, at most kQueryWait ms. The program and its process group are
    // killed at once when it stayed silent that long, else kQueryWait ms after
    // its line, or as soon as it has ended; the child-wait service reaps it.
    int QueryNumOfInstances();
    std::ostream& PutHeader(std::ostream& os) const { return os << "t38soft: "; }

    // The program's command line for these parameters, the program first.
    static std::vector<std::string> Arguments(LGCP::T38Soft const& params);
};
