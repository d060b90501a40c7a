// The main queue on Qt's event loop: order, delays, other threads, the loop.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "foundation/Clock.h"
#include "foundation/MainQueue.h"
#include "foundation/Timer.h"
#include "platform/GuiTestApplication.h"

namespace tavo::platform {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;
using QtMainQueueBackendTest = test::QtMainQueueTest;

constexpr auto kPatience = 5s;

TEST_F(QtMainQueueBackendTest, WorkFromOtherThreadsRunsOnTheGuiThreadInOrder) {
    constexpr int kThreads = 4;
    constexpr int kItems = 50;
    std::vector<std::pair<int, int>> seen;  // GUI thread only
    bool allOnGuiThread = true;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kItems; ++i) {
                main.async([&, t, i] {
                    allOnGuiThread &=
                        QThread::currentThread() == qApp->thread() && MainQueue::isMainThread();
                    seen.emplace_back(t, i);
                });
            }
        });
    }
    for (auto& poster : posters)
        poster.join();
    ASSERT_TRUE(main.runUntil([&] { return seen.size() == kThreads * kItems; }, kPatience));
    EXPECT_TRUE(allOnGuiThread);
    std::vector<int> next(kThreads, 0);
    for (auto [t, i] : seen)
        EXPECT_EQ(i, next[t]++) << "thread " << t;
}

TEST_F(QtMainQueueBackendTest, DelayedWorkRunsByDeadlineAfterItsRealDelay) {
    std::vector<int> order;
    main.after(seconds(0.030), [&] { order.push_back(3); });
    main.after(seconds(0.010), [&] { order.push_back(1); });
    main.after(seconds(0.020), [&] { order.push_back(2); });
    main.after(seconds(0.020), [&] { order.push_back(22); });  // equal deadline: queued later
    main.async([&] { order.push_back(0); });
    main.drain();
    EXPECT_EQ(order, std::vector<int>{0});  // nothing delayed is due yet
    const auto start = Steady::now();
    ASSERT_TRUE(main.runUntil([&] { return order.size() == 5; }, kPatience));
    EXPECT_GE(Steady::now() - start, 25ms);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 22, 3}));
}

TEST_F(QtMainQueueBackendTest, DelayedWorkFromAnotherThreadRunsOnTheGuiThread) {
    std::atomic<bool> ran{false};
    bool onGuiThread = false;
    std::thread([&] {
        main.after(seconds(0.010), [&] {
            onGuiThread = MainQueue::isMainThread();
            ran = true;
        });
    }).join();
    ASSERT_TRUE(main.runUntil([&] { return ran.load(); }, kPatience));
    EXPECT_TRUE(onGuiThread);
}

TEST_F(QtMainQueueBackendTest, DrainRunsWorkThatWorkQueuesAndQtEvents) {
    std::vector<int> order;
    main.async([&] {
        order.push_back(1);
        main.async([&] { order.push_back(2); });
    });
    bool qtEvent = false;
    QTimer::singleShot(0, qApp, [&] { qtEvent = true; });
    main.drain();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_TRUE(qtEvent);
}

TEST_F(QtMainQueueBackendTest, RunUntilProcessesQtEventsAndGivesUpAfterItsTimeout) {
    bool qtEvent = false;
    QTimer::singleShot(5, qApp, [&] { qtEvent = true; });
    EXPECT_TRUE(main.runUntil([&] { return qtEvent; }, kPatience));

    const auto start = Steady::now();
    EXPECT_FALSE(main.runUntil([] { return false; }, 30ms));
    const auto waited = Steady::now() - start;
    EXPECT_GE(waited, 30ms);
    EXPECT_LT(waited, kPatience);
}

TEST_F(QtMainQueueBackendTest, RunEndsOnQuitFromAnyThreadAndAQuitBeforeRunEndsItAtOnce) {
    // From another thread, while the loop runs; work keeps running meanwhile.
    bool ranInLoop = false;
    main.after(seconds(0.005), [&] { ranInLoop = true; });
    std::thread other([&] {
        std::this_thread::sleep_for(30ms);
        main.quit();
    });
    auto start = Steady::now();
    main.run();
    other.join();
    EXPECT_LT(Steady::now() - start, kPatience);
    EXPECT_TRUE(ranInLoop);

    // From work on the GUI thread.
    main.async([&] { main.quit(); });
    start = Steady::now();
    main.run();
    EXPECT_LT(Steady::now() - start, kPatience);

    // Before the run, even when events are processed in between.
    main.quit();
    main.drain();
    start = Steady::now();
    main.run();
    EXPECT_LT(Steady::now() - start, kPatience);

    // The quit was used up: the next run lasts until the next quit.
    bool quitFromTimer = false;
    main.after(seconds(0.020), [&] {
        quitFromTimer = true;
        main.quit();
    });
    main.run();
    EXPECT_TRUE(quitFromTimer);
}

TEST_F(QtMainQueueBackendTest, TimersFireOnTheQtLoopAtTheClocksPace) {
    Clock::setCurrent(std::make_shared<ScaledClock>(0.001));
    int fired = 0;
    auto timer = Timer::scheduledTimer(seconds(5), true, [&] { ++fired; });
    const auto start = Steady::now();
    EXPECT_TRUE(main.runUntil([&] { return fired >= 3; }, kPatience));
    EXPECT_LT(Steady::now() - start, 2s);
    timer->invalidate();
    Clock::setCurrent(nullptr);
}

TEST_F(QtMainQueueBackendTest, WorkMayUninstallTheBackendItRunsOn) {
    bool after = false;
    main.async([&] {
        main.setBackend(nullptr);
        backend.reset();  // the last owner goes while the backend runs this work
        main.async([&] { after = true; });
    });
    main.async([] {});  // still queued when its backend goes
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    main.drain();  // the built-in loop again
    EXPECT_TRUE(after);
}

TEST_F(QtMainQueueBackendTest, TheLastOwnerMayBeAnotherThread) {
    bool ran = false;
    main.async([&] { ran = true; });
    main.setBackend(nullptr);
    std::thread([owner = std::move(backend)]() mutable { owner.reset(); }).join();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);  // its work went with it
}

}  // namespace
}  // namespace tavo::platform
