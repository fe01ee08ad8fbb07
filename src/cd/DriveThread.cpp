#include "cd/DriveThread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

namespace {

std::atomic<int> gOutstanding{0};

const QEvent::Type DeliverEvent = QEvent::Type(QEvent::registerEventType());

class TNotifier final : public QObject
{
public:
    explicit TNotifier(std::function<void()> deliver) : FDeliver(std::move(deliver)) {}

    bool event(QEvent* event) override
    {
        if (event->type() != DeliverEvent)
            return QObject::event(event);
        FDeliver();
        return true;
    }

private:
    std::function<void()> FDeliver;
};

template <class Predicate>
bool WaitFor(std::condition_variable& changed, std::unique_lock<std::mutex>& lock,
             std::chrono::milliseconds ms, Predicate ready)
{
#if defined(__SANITIZE_THREAD__)
    // This compiler's ThreadSanitizer cannot follow a wait on the monotonic clock; under it the
    // wait is timed by the system clock.
    return changed.wait_until(lock, std::chrono::system_clock::now() + ms, ready);
#else
    return changed.wait_for(lock, ms, ready);
#endif
}

} // namespace

struct TDriveThread::TShared
{
    std::mutex Mutex;
    std::condition_variable Changed;
    std::deque<std::pair<TWork, TWork>> Queue;
    std::vector<TWork> Finished; // the `done` parts of the jobs that ended
    bool Running = false;
    bool Quit = false;
    bool Exited = false;
    bool Detached = false;
    QObject* Notifier = nullptr; // null once the owner has gone

    void Run()
    {
        std::unique_lock<std::mutex> lock(Mutex);
        for (;;) {
            Changed.wait(lock, [this] { return Quit || !Queue.empty(); });
            if (Queue.empty())
                break;
            std::pair<TWork, TWork> job = std::move(Queue.front());
            Queue.pop_front();
            Running = true;
            lock.unlock();
            try {
                job.first();
            } catch (...) {
                // A job hands its failures back in its result; nothing may end this thread.
            }
            job.first = nullptr;
            lock.lock();
            Running = false;
            if (!Quit) {
                Finished.push_back(std::move(job.second));
                if (Notifier != nullptr)
                    QCoreApplication::postEvent(Notifier, new QEvent(DeliverEvent));
            }
            Changed.notify_all();
        }
        Exited = true;
        if (Detached)
            --gOutstanding;
        Changed.notify_all();
    }
};

TDriveThread::TDriveThread()
    : FShared(std::make_shared<TShared>()),
      FNotifier(std::make_unique<TNotifier>([this] { Deliver(); }))
{
    FShared->Notifier = FNotifier.get();
    FThread = std::thread([shared = FShared] { shared->Run(); });
}

TDriveThread::~TDriveThread()
{
    std::deque<std::pair<TWork, TWork>> dropped;
    std::vector<TWork> undelivered;
    bool exited = false;
    {
        std::unique_lock<std::mutex> lock(FShared->Mutex);
        FShared->Notifier = nullptr;
        FShared->Quit = true;
        dropped.swap(FShared->Queue);
        undelivered.swap(FShared->Finished);
        FShared->Changed.notify_all();
        exited = WaitFor(FShared->Changed, lock, std::chrono::milliseconds(ExitWaitMs),
                         [this] { return FShared->Exited; });
        if (!exited) {
            FShared->Detached = true;
            ++gOutstanding;
        }
    }
    if (exited)
        FThread.join();
    else
        FThread.detach();
}

void TDriveThread::Post(TWork work, TWork done)
{
    {
        const std::lock_guard<std::mutex> lock(FShared->Mutex);
        FShared->Queue.emplace_back(std::move(work), std::move(done));
    }
    FShared->Changed.notify_all();
}

bool TDriveThread::Idle() const
{
    const std::lock_guard<std::mutex> lock(FShared->Mutex);
    return !FShared->Running && FShared->Queue.empty();
}

bool TDriveThread::WaitIdle(int ms)
{
    using TClock = std::chrono::steady_clock;
    const TClock::time_point deadline = TClock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(FShared->Mutex);
            const auto left = std::max(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()),
                std::chrono::milliseconds(0));
            WaitFor(FShared->Changed, lock, left,
                    [this] { return !FShared->Running && FShared->Queue.empty(); });
        }
        Deliver();
        // What the `done` parts posted is waited for too, within the same time, and what ended
        // meanwhile is handed back before this returns.
        const std::lock_guard<std::mutex> lock(FShared->Mutex);
        const bool idle = !FShared->Running && FShared->Queue.empty();
        if (idle && FShared->Finished.empty())
            return true;
        if (!idle && TClock::now() >= deadline)
            return false;
    }
}

void TDriveThread::Deliver()
{
    std::vector<TWork> done;
    {
        const std::lock_guard<std::mutex> lock(FShared->Mutex);
        done.swap(FShared->Finished);
    }
    for (TWork& part : done)
        if (part)
            part();
}

int TDriveThread::Outstanding()
{
    return gOutstanding.load();
}

void TReadBackoff::Reset()
{
    FFailures = 0;
    FWait = 0;
}

bool TReadBackoff::Tick()
{
    if (FWait > 0)
        --FWait;
    return FWait == 0;
}

void TReadBackoff::Failed()
{
    ++FFailures;
    // 1, 2, 4, 8, 16, then MaxWait polls between reads.
    FWait = std::min(MaxWait, 1 << std::min(FFailures - 1, 5));
}
