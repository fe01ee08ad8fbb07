// The drive's thread: jobs off the owner's thread, in order, their results back on it; an owner
// that goes while a job blocks neither waits for it long nor is reached by it; and the waits
// before a disc that does not read is tried again.
#include "cd/DriveThread.h"

#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Holds a job inside "the library" until opened, as a drive spinning a disc up does.
struct TGate
{
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Open = false;
    bool Entered = false;

    void Pass()
    {
        std::unique_lock<std::mutex> lock(Mutex);
        Entered = true;
        Changed.notify_all();
        Changed.wait(lock, [this] { return Open; });
    }
    void WaitEntered()
    {
        std::unique_lock<std::mutex> lock(Mutex);
        Changed.wait(lock, [this] { return Entered; });
    }
    void Release()
    {
        {
            const std::lock_guard<std::mutex> lock(Mutex);
            Open = true;
        }
        Changed.notify_all();
    }
};

TEST(DriveThread, RunsJobsInOrderOffTheOwnersThreadAndHandsTheResultsBackOnIt)
{
    TDriveThread drive;
    const std::thread::id owner = std::this_thread::get_id();
    auto gate = std::make_shared<TGate>();
    std::vector<int> order; // touched by the jobs one at a time, read after WaitIdle
    std::vector<int> done;
    bool offThread = true;
    drive.Post(
        [&, gate] {
            gate->Pass();
            offThread = offThread && std::this_thread::get_id() != owner;
            order.push_back(1);
        },
        [&] {
            EXPECT_EQ(std::this_thread::get_id(), owner);
            done.push_back(1);
        });
    drive.Post([&] { order.push_back(2); }, [&] { done.push_back(2); });
    gate->WaitEntered();
    // The owner is not held up by a job that blocks.
    EXPECT_FALSE(drive.WaitIdle(0));
    EXPECT_FALSE(drive.Idle());
    EXPECT_TRUE(done.empty());
    gate->Release();
    ASSERT_TRUE(drive.WaitIdle(10000));
    EXPECT_TRUE(offThread);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(done, (std::vector<int>{1, 2}));
}

TEST(DriveThread, AnOwnerGoneWhileAJobBlocksIsNeitherHeldLongNorReachedAfterwards)
{
    auto gate = std::make_shared<TGate>();
    auto reached = std::make_shared<std::atomic<bool>>(false);
    bool doneRan = false;
    {
        auto drive = std::make_unique<TDriveThread>();
        drive->Post([gate] { gate->Pass(); }, [&doneRan] { doneRan = true; });
        drive->Post([reached] { *reached = true; }, [&doneRan] { doneRan = true; });
        gate->WaitEntered();
        // Returns while the job still blocks (the gate opens only after it).
        drive.reset();
    }
    EXPECT_EQ(TDriveThread::Outstanding(), 1);
    gate->Release();
    while (TDriveThread::Outstanding() > 0)
        std::this_thread::yield();
    // The job queued behind the blocked one was dropped, and nothing came back.
    EXPECT_FALSE(*reached);
    EXPECT_FALSE(doneRan);
}

TEST(ReadBackoff, WaitsGrowToHalfAMinuteAndStartOverOnReset)
{
    TReadBackoff backoff;
    std::vector<int> reads;
    for (int tick = 1; tick <= 130; ++tick)
        if (backoff.Tick()) {
            reads.push_back(tick);
            backoff.Failed();
        }
    EXPECT_EQ(reads, (std::vector<int>{1, 2, 4, 8, 16, 32, 62, 92, 122}));
    backoff.Reset();
    EXPECT_TRUE(backoff.Tick());
}

} // namespace
