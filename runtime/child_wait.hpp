#pragma once
// Child-process exits delivered inside the event loop. The SIGCHLD handler
// reaps every exited child and passes an 8-byte record {pid, status} for each
// through a datagram socket pair; the loop reads the records, logs them and
// calls the wait attached for that pid. The wait is unlinked before its
// handler runs, so the owner may destroy it or attach it again from there.
#include <csignal>
#include <cstddef>
#include <new>
#include <vector>

#include "runtime/event.hpp"
#include "runtime/fd.hpp"
#include "runtime/lists.hpp"

class ChildWaitService;

class ChildWait : public F_dual_list_item<ChildWait>
{
public:
    class Handler
    {
    public:
        virtual ~Handler() = default;
        virtual void Invoke(ChildWait& wait, int status) = 0;
        // Handlers live inside their ChildWait, never on the heap.
        static void operator delete(void*) {}
    };

    class DummyHandler : public Handler
    {
    public:
        void Invoke(ChildWait&, int) override {}
    };

    template <class T> class THandler1 : public Handler
    {
    public:
        using Action = void (T::*)(int);
        THandler1(T& owner, Action action) : mOwner(owner), mAction(action) {}
        void Invoke(ChildWait&, int status) override { (mOwner.*mAction)(status); }

    private:
        T& mOwner;
        Action mAction;
    };

    // Placed in every file that uses ChildWait: the service exists from the
    // first file's static initialisation until the last one's destruction.
    class Init
    {
    public:
        Init();
        ~Init();
    };

    ChildWait();
    ~ChildWait();
    ChildWait(const ChildWait&) = delete;
    ChildWait& operator=(const ChildWait&) = delete;

    template <class T> void Bind(T* owner, void (T::*action)(int))
    {
        static_assert(sizeof(THandler1<T>) <= kStorage, "child wait handler too large");
        static_assert(alignof(THandler1<T>) <= alignof(std::max_align_t), "child wait handler over-aligned");
        destroy_handler();
        mHandler = new (mStorage) THandler1<T>(*owner, action);
    }

    void Attach(int pid);
    void Detach();
    int pid() const { return mPid; }
    bool is_attached() const { return mLinked; }

    // Sends `sig` to a child of this process (to its process group when
    // `group` is set) unless the service has reaped it already: its end is
    // then on the way to its wait, and its number may be another process's by
    // now. SIGCHLD is held meanwhile, so the child cannot be reaped between the
    // look and the signal. False when nothing was sent.
    static bool SignalUnreaped(int pid, int sig, bool group = false);

    // fork() for a child that runs a program: the child starts with every
    // signal at its default disposition and nothing blocked, so that a signal
    // sent to it at once (a hang-up or stop right after its start) acts on it
    // as on the program and is never taken by a copy of this process's
    // handlers. Signals are held in this process meanwhile. Returns as fork().
    // The child's syslog client forgets the records that wait for the reader
    // (they are this process's to send) before the child writes anything; in
    // daemon mode it gives the child's standard output and error a connection
    // of their own to the syslog reader there now, and SIGPIPE is ignored
    // (SysLogManager::forked).
    //
    // With `group` the child leads a process group of its own (set in both
    // processes, so the group exists whichever runs first), and whatever the
    // program leaves running in that group is killed with SIGKILL the moment
    // the child is reaped, and at the daemon's stop (Cleanup): nothing the
    // program started keeps a descriptor, a channel or a pipe of the daemon
    // once the program has ended, or outlives the daemon. The group is killed
    // only while its leader is not reaped, as only then its number cannot be
    // another group's.
    static int Fork(bool group = false);

    // Kills (SIGKILL) the process group of a child started with a group of
    // its own, the child included, unless the child has been reaped: its group
    // was killed then. False when nothing was sent.
    static bool KillGroup(int pid);

    static void Activate();
    static void Initialize();
    static void Cleanup();
    static int UsageCounter;

private:
    friend class ChildWaitService;
    static constexpr std::size_t kStorage = 64;
    void destroy_handler() { mHandler->~Handler(); }

    int mPid = 0;
    alignas(std::max_align_t) unsigned char mStorage[kStorage];
    Handler* mHandler;
    bool mLinked = false;
};

static ChildWait::Init childWaitInit;

class ChildWaitService : public Event
{
public:
    ChildWaitService() = default;
    ~ChildWaitService() override;

    // Creates the socket pair, watches its reading end and installs the
    // SIGCHLD handler. A second call changes nothing.
    void Activate();
    void Attach(ChildWait* wait);
    void Detach(ChildWait* wait);
    unsigned waiting() const { return mWaits.count(); }
    // The groups of children started with a group of their own and not yet
    // reaped.
    std::vector<int> const& groups() const { return mGroups; }
    const Fd& writer() const { return mWriter; }

    static void SigChldHandlerWrapper(int sig, siginfo_t* info, void* context);
    void SigChldHandler();
    void OnChildEvent(int fd, short revents);

    static ChildWaitService* childWaitService;

private:
    friend class ChildWait;
    // The groups are changed only with SIGCHLD held (or in its handler).
    void AddGroup(int pid);
    bool KillGroup(int pid);
    // Kills every group and reaps its leader; run when the service goes.
    void KillGroups();

    Fd mWriter;
    F_dual_list<ChildWait> mWaits;
    std::vector<int> mGroups;
    bool mHandlerInstalled = false;
};
