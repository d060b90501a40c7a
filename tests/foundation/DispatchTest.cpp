#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "foundation/Clock.h"
#include "foundation/ConcurrentQueue.h"
#include "foundation/MainQueue.h"
#include "foundation/Timer.h"
#include "foundation/SerialQueue.h"

namespace tavo {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

constexpr auto kPatience = 2s;  // upper bound for waits that end much sooner

// Installs a clock for one test and restores the real one afterwards.
struct ScopedClock {
    explicit ScopedClock(double factor) {
        Clock::setCurrent(std::make_shared<ScaledClock>(factor));
    }
    ~ScopedClock() { Clock::setCurrent(nullptr); }
};

// Waits on a worker thread for a count to reach a value.
class Latch {
public:
    void countUp() {
        std::lock_guard lock(mutex_);
        ++count_;
        wake_.notify_all();
    }
    bool waitFor(int count) {
        std::unique_lock lock(mutex_);
        return wake_.wait_for(lock, kPatience, [&] { return count_ >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    int count_ = 0;
};

// SerialQueue

TEST(SerialQueueTest, RunsWorkOneAtATimeInSubmissionOrderOffTheCaller) {
    SerialQueue queue("TAVO.SerialDispatchQueue");
    EXPECT_EQ(queue.label(), "TAVO.SerialDispatchQueue");
    std::vector<int> order;
    std::atomic<int> running{0};
    bool overlapped = false;
    for (int i = 0; i < 100; ++i) {
        queue.async([&, i] {
            overlapped |= running.fetch_add(1) != 0;
            order.push_back(i);
            running.fetch_sub(1);
        });
    }
    bool onQueue = false;
    queue.sync([&] { onQueue = queue.isCurrent() && !MainQueue::isMainThread(); });
    EXPECT_TRUE(onQueue);
    EXPECT_FALSE(queue.isCurrent());
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[i], i);
}

TEST(SerialQueueTest, SyncFromAnotherThreadWaitsForEarlierWork) {
    SerialQueue queue("sync");
    bool earlierDone = false;
    queue.async([&] {
        std::this_thread::sleep_for(20ms);
        earlierDone = true;
    });
    bool seen = false;
    std::thread other([&] { queue.sync([&] { seen = earlierDone; }); });
    other.join();
    EXPECT_TRUE(seen);
}

TEST(SerialQueueTest, SyncFromTheQueueItselfRunsAtOnce) {
    SerialQueue queue("nested");
    std::vector<int> order;
    queue.sync([&] {
        order.push_back(1);
        queue.sync([&] { order.push_back(2); });  // would deadlock if it waited
        order.push_back(3);
    });
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(SerialQueueTest, DestructionRunsEverythingAlreadyQueued) {
    std::atomic<int> done{0};
    {
        SerialQueue queue("drain");
        for (int i = 0; i < 20; ++i) {
            queue.async([&] {
                std::this_thread::sleep_for(1ms);
                done.fetch_add(1);
            });
        }
    }
    EXPECT_EQ(done.load(), 20);
}

TEST(SerialQueueTest, LastOwnerLettingGoOnTheWorkerDoesNotDeadlock) {
    auto queue = std::make_shared<SerialQueue>("self");
    auto gate = std::make_shared<Latch>();
    auto done = std::make_shared<Latch>();
    queue->async([gate] { gate->waitFor(1); });
    queue->async([owner = queue] {});  // the last owner goes with this item, on the worker
    queue->async([done] { done->countUp(); });
    queue.reset();
    gate->countUp();
    EXPECT_TRUE(done->waitFor(1));  // what was queued behind it still runs
}

// ConcurrentQueue

TEST(ConcurrentQueueTest, GlobalQueueRunsItemsAtTheSameTime) {
    auto arrived = std::make_shared<Latch>();
    std::atomic<int> metPartner{0};
    Latch finished;
    for (int i = 0; i < 2; ++i) {
        globalQueue().async([arrived, &metPartner, &finished] {
            arrived->countUp();
            // Each item waits for the other: only concurrent items both get there.
            if (arrived->waitFor(2))
                metPartner.fetch_add(1);
            finished.countUp();
        });
    }
    ASSERT_TRUE(finished.waitFor(2));
    EXPECT_EQ(metPartner.load(), 2);
}

TEST(ConcurrentQueueTest, DestructionRunsEverythingAlreadyQueued) {
    std::atomic<int> done{0};
    {
        ConcurrentQueue pool(3);
        for (int i = 0; i < 30; ++i)
            pool.async([&] { done.fetch_add(1); });
    }
    EXPECT_EQ(done.load(), 30);
}

// MainQueue

class MainQueueTest : public ::testing::Test {
protected:
    void TearDown() override { MainQueue::main().drain(); }
    MainQueue& main = MainQueue::main();
};

TEST_F(MainQueueTest, TheTestThreadIsTheMainThread) {
    EXPECT_TRUE(MainQueue::isMainThread());
    bool other = true;
    std::thread([&] { other = MainQueue::isMainThread(); }).join();
    EXPECT_FALSE(other);
}

TEST_F(MainQueueTest, WorkFromOtherThreadsRunsOnTheMainThreadInOrder) {
    constexpr int kThreads = 4;
    constexpr int kItems = 50;
    std::vector<std::pair<int, int>> seen;  // touched on the main thread only
    bool allOnMain = true;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kItems; ++i) {
                main.async([&, t, i] {
                    allOnMain &= MainQueue::isMainThread();
                    seen.emplace_back(t, i);
                });
            }
        });
    }
    for (auto& poster : posters)
        poster.join();
    ASSERT_TRUE(main.runUntil([&] { return seen.size() == kThreads * kItems; }, kPatience));
    EXPECT_TRUE(allOnMain);
    std::vector<int> next(kThreads, 0);
    for (auto [t, i] : seen)
        EXPECT_EQ(i, next[t]++) << "thread " << t;
}

TEST_F(MainQueueTest, DelayedWorkRunsByDeadlineAfterImmediateWork) {
    std::vector<int> order;
    main.after(seconds(0.030), [&] { order.push_back(3); });
    main.after(seconds(0.010), [&] { order.push_back(1); });
    main.after(seconds(0.020), [&] { order.push_back(2); });
    main.async([&] { order.push_back(0); });
    main.drain();
    EXPECT_EQ(order, std::vector<int>{0});  // nothing delayed is due yet
    const auto start = Steady::now();
    ASSERT_TRUE(main.runUntil([&] { return order.size() == 4; }, kPatience));
    EXPECT_GE(Steady::now() - start, 25ms);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(MainQueueTest, WorkFromAnotherThreadWakesALoopAsleepUntilLaterWork) {
    main.after(seconds(60), [] {});  // the loop sleeps until this deadline at most
    std::thread other([&] {
        std::this_thread::sleep_for(20ms);
        main.async([] {});
        main.async([&] { main.quit(); });  // a second item of the burst
    });
    const auto start = Steady::now();
    main.run();
    other.join();
    EXPECT_LT(Steady::now() - start, kPatience);
}

TEST_F(MainQueueTest, DrainRunsWorkThatWorkQueues) {
    std::vector<int> order;
    main.async([&] {
        order.push_back(1);
        main.async([&] { order.push_back(2); });
    });
    main.drain();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST_F(MainQueueTest, QuitFromAnotherThreadEndsRun) {
    std::thread other([&] {
        std::this_thread::sleep_for(10ms);
        main.quit();
    });
    const auto start = Steady::now();
    main.run();
    other.join();
    EXPECT_LT(Steady::now() - start, kPatience);
    main.quit();  // a quit before run() ends the next run at once
    main.run();
}

TEST_F(MainQueueTest, RunUntilGivesUpAfterItsTimeout) {
    const auto start = Steady::now();
    EXPECT_FALSE(main.runUntil([] { return false; }, 30ms));
    const auto waited = Steady::now() - start;
    EXPECT_GE(waited, 30ms);
    EXPECT_LT(waited, kPatience);
}

TEST_F(MainQueueTest, BackendReceivesWorkWithClockConvertedDelays) {
    struct Recorder : MainQueueBackend {
        std::mutex mutex;
        int posted = 0;
        std::vector<Clock::Duration> delays;
        void post(std::function<void()>) override {
            std::lock_guard lock(mutex);
            ++posted;
        }
        void postDelayed(Clock::Duration delay, std::function<void()>) override {
            std::lock_guard lock(mutex);
            delays.push_back(delay);
        }
    };
    ScopedClock clock(0.001);
    auto recorder = std::make_shared<Recorder>();
    main.setBackend(recorder);
    bool ranBuiltin = false;
    main.async([&] { ranBuiltin = true; });
    main.after(seconds(10), [&] { ranBuiltin = true; });
    main.setBackend(nullptr);
    main.drain();
    EXPECT_FALSE(ranBuiltin);
    EXPECT_EQ(recorder->posted, 1);
    ASSERT_EQ(recorder->delays.size(), 1u);
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(recorder->delays[0]), 10ms);
}

// Timer

class TimerTest : public MainQueueTest {};

TEST_F(TimerTest, RepeatingTimerFiresUntilInvalidated) {
    int fired = 0;
    auto timer = Timer::scheduledTimer(seconds(0.010), true, [&] { ++fired; });
    ASSERT_TRUE(main.runUntil([&] { return fired >= 3; }, kPatience));
    EXPECT_TRUE(timer->isValid());
    timer->invalidate();
    EXPECT_FALSE(timer->isValid());
    const int atInvalidation = fired;
    main.runUntil([] { return false; }, 40ms);
    EXPECT_EQ(fired, atInvalidation);
}

TEST_F(TimerTest, InvalidationFromInsideTheCallbackStopsIt) {
    int fired = 0;
    std::shared_ptr<Timer> timer;
    timer = Timer::scheduledTimer(seconds(0.005), true, [&] {
        if (++fired == 3)
            timer->invalidate();
    });
    main.runUntil([] { return false; }, 80ms);
    EXPECT_EQ(fired, 3);
    EXPECT_FALSE(timer->isValid());
}

TEST_F(TimerTest, InvalidationFromAnotherThreadStopsIt) {
    std::atomic<int> fired{0};
    auto timer = Timer::scheduledTimer(seconds(0.005), true, [&] { fired.fetch_add(1); });
    std::thread other([&] {
        while (fired.load() < 2)
            std::this_thread::sleep_for(1ms);
        timer->invalidate();
    });
    ASSERT_TRUE(main.runUntil([&] { return !timer->isValid(); }, kPatience));
    other.join();
    main.drain();
    const int atInvalidation = fired.load();
    main.runUntil([] { return false; }, 40ms);
    EXPECT_EQ(fired.load(), atInvalidation);
}

TEST_F(TimerTest, OneShotTimerFiresOnceAndEndsInvalid) {
    int fired = 0;
    auto timer = Timer::scheduledTimer(seconds(0.005), false, [&] { ++fired; });
    main.runUntil([] { return false; }, 50ms);
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(timer->isValid());
}

TEST_F(TimerTest, ZeroIntervalRepeatingTimerDoesNotSpin) {
    int fired = 0;
    auto timer = Timer::scheduledTimer(Clock::Duration::zero(), true, [&] { ++fired; });
    main.runUntil([] { return false; }, 100ms);
    timer->invalidate();
    EXPECT_GE(fired, 2);
    EXPECT_LE(fired, 11);  // at most one firing per minimum interval
}

TEST_F(TimerTest, InvalidatedTimerLetsGoOfItsCallback) {
    auto payload = std::make_shared<int>(0);
    std::weak_ptr<int> watch = payload;
    auto timer = Timer::scheduledTimer(seconds(60), true, [payload] { ++*payload; });
    payload.reset();
    EXPECT_FALSE(watch.expired());
    timer->invalidate();
    main.drain();
    EXPECT_TRUE(watch.expired());  // no cycle through a callback that holds its owner
}

// Clock

TEST(ClockTest, ScaledClockShortensPausesTimersAndDelayedWork) {
    ScopedClock clock(0.001);
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(
                  Clock::current().realDelay(seconds(30))),
              30ms);
    const auto start = Steady::now();
    Clock::current().sleepFor(seconds(30));
    bool delayed = false;
    MainQueue::main().after(seconds(60), [&] { delayed = true; });
    int fired = 0;
    auto timer = Timer::scheduledTimer(seconds(20), true, [&] { ++fired; });
    EXPECT_TRUE(MainQueue::main().runUntil([&] { return delayed && fired >= 2; }, kPatience));
    timer->invalidate();
    EXPECT_LT(Steady::now() - start, 1s);
}

TEST(ClockTest, RestoringTheRealClockUndoesTheScale) {
    Clock::setCurrent(std::make_shared<ScaledClock>(0.5));
    Clock::setCurrent(nullptr);
    EXPECT_EQ(Clock::current().realDelay(seconds(3)), seconds(3));
}

TEST(ClockTest, SwappingTheClockWhileOtherThreadsUseItIsSafe) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int i = 0; i < 2; ++i) {
        readers.emplace_back([&] {
            while (!stop.load())
                Clock::current().sleepFor(Clock::current().realDelay(seconds(0.0001)));
        });
    }
    for (int i = 0; i < 200; ++i)
        Clock::setCurrent(i % 2 ? nullptr : std::make_shared<ScaledClock>(0.01));
    stop.store(true);
    for (auto& reader : readers)
        reader.join();
    Clock::setCurrent(nullptr);
}

}  // namespace
}  // namespace tavo
