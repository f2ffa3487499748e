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
#include "slots/mcc/mcc_slot.hpp"
#include "slots/slot.hpp"

class T38SoftSlot : public Slot, public ChannelHolder
{
public:
    T38SoftSlot(int pid, int channel);

    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool IOnOutputStream() override { return mChannel >= 0; }
    bool IOnInputStream() override { return mChannel >= 0; }
    int IGetTransmitChannel() override { return mChannel; }
    int IGetReceiveChannel() override { return mChannel; }
    char const* GetName() const override { return "t38 soft"; }

    void OnT38Terminate(int status);
    int child() const { return mChild; }

    // The driver handed the channel to a new user: the slot leaves it (its
    // joins both ways, its switch output). The daemon holds no descriptor of
    // it; the program, whose standard input it is, ends as when its channel
    // fails, and that end is reported as any other.
    int held_channel() const override { return mChannel; }
    void let_channel_go() override;

private:
    int mChild;
    int mChannel;
    ChildWait mWait;
};

class T38SoftFactory : public MccPoolFactory
{
public:
    // At most this many `args` texts reach the program.
    static constexpr unsigned kMaxArgs = 27;
    // A program that ignores SIGTERM gets SIGKILL after this long.
    static constexpr unsigned kKillDelay = 5000;
    // How long the instance query waits for the program's line (ms).
    static constexpr int kQueryWait = 1000;
    // The wait the query's read uses: kQueryWait in the daemon. A test on a
    // loaded machine gives it longer, so that a helper slow to start is not
    // taken for a silent one.
    static int queryReadWait;

    static T38SoftFactory& instance();
    // Whatever still waits for a program's end goes with the factory.
    ~T38SoftFactory() override;

    char const* GetName() const override { return "T.38 soft"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources& resources) override;
    // Runs "t38 --num-of-instances" and waits for its line: it blocks the loop
    // (feeding the watchdog) until the line or the end of the output has
    // come, at most kQueryWait ms (queryReadWait). The program and its
    // process group are killed at once when it stayed silent that long, else
    // kQueryWait ms after its line, or as soon as it has ended; the
    // child-wait service reaps it.
    int QueryNumOfInstances();
    std::ostream& PutHeader(std::ostream& os) const { return os << "t38soft: "; }

    // The program's command line for these parameters, the program first.
    static std::vector<std::string> Arguments(LGCP::T38Soft const& params);
};
