#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

class QObject;

// One thread for the drive's slow library calls (listing the drives, opening one, reading a
// table of contents), so the thread that owns it never stands still while a disc spins up.
// Jobs run one at a time, in the order posted; each job's `done` part then runs on the owner's
// thread. The ripping library is not thread-safe: while a job is queued or running (Idle()
// false) the owner makes no library call of its own.
class TDriveThread
{
public:
    using TWork = std::function<void()>;

    TDriveThread();
    // Jobs not yet started are dropped, and no `done` part runs any more. A job still running is
    // waited for up to ExitWaitMs, then left to end on its own: it touches nothing of its owner,
    // and Outstanding() counts it until it ends.
    ~TDriveThread();

    TDriveThread(const TDriveThread&) = delete;
    TDriveThread& operator=(const TDriveThread&) = delete;

    // Runs `work` on the drive thread, then `done` on the owner's thread: from its event loop,
    // or from WaitIdle. `work` must not raise.
    void Post(TWork work, TWork done);
    // True when no job is queued or running.
    bool Idle() const;
    // Waits up to `ms` for every job to end, running the `done` parts of those that did (and
    // waiting for what they post in turn); true when idle at the end.
    bool WaitIdle(int ms);

    static constexpr int ExitWaitMs = 1500;
    // Jobs still running after their thread's owner went. Whatever they call (the library) must
    // not be torn down under them: a program ending with some left ends without its static
    // destructors.
    static int Outstanding();

private:
    struct TShared;
    void Deliver();

    std::shared_ptr<TShared> FShared;
    std::unique_ptr<QObject> FNotifier;
    std::thread FThread;
};

// When a drive whose disc does not read (a blank or scratched disc, a drive that says it is
// becoming ready for ever) is tried again: at the next poll after the first failure, then after
// ever longer waits up to MaxWait polls. A new medium, a pick of the drive or Eject start over.
class TReadBackoff
{
public:
    static constexpr int MaxWait = 30;

    // The next poll reads.
    void Reset();
    // One poll passed; true when it is the one to read at.
    bool Tick();
    // A read found no disc: the wait before the next one doubles.
    void Failed();
    int Failures() const { return FFailures; }

private:
    int FFailures = 0;
    int FWait = 0; // polls still to pass before the next read
};
