// The worker threads of the queues: started by work, as many as the work
// needs up to the pool's size, ended after an idle spell and started again
// by later work, and named so the system's thread lists tell them apart.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/ConcurrentQueue.h"
#include "foundation/SerialQueue.h"

namespace tavo {
namespace {

using namespace std::chrono_literals;

constexpr auto kIdle = 50ms;    // the tests' idle spell before a worker ends
constexpr auto kPatience = 5s;  // upper bound for waits that end much sooner

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// The names of this process's threads.
std::vector<std::string> threadNames() {
    std::vector<std::string> names;
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return names;
    while (dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string name;
        if (std::getline(comm, name))
            names.push_back(name);
    }
    closedir(tasks);
    return names;
}

size_t threadsNamed(const std::string& name) {
    size_t count = 0;
    for (const auto& each : threadNames())
        count += each == name ? 1 : 0;
    return count;
}

// Work items that wait until released, and say how many have started.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    int started = 0;
    bool open = false;

    std::function<void()> item() {
        return [this] {
            std::unique_lock lock(mutex);
            ++started;
            changed.notify_all();
            changed.wait(lock, [this] { return open; });
        };
    }
    bool waitForStarted(int count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kPatience, [&] { return started >= count; });
    }
    void release() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
};

TEST(QueueWorkersTest, AQueueHoldsNoThreadUntilWorkArrivesAndNoneOnceIdle) {
    SerialQueue queue("TAVO.IdleTestQueue", kIdle);
    EXPECT_FALSE(queue.hasWorker());
    EXPECT_EQ(threadsNamed("IdleTestQueue"), 0u);

    std::atomic<bool> onQueue{false};
    queue.sync([&] { onQueue = queue.isCurrent(); });
    EXPECT_TRUE(onQueue);
    EXPECT_TRUE(eventually([&] { return !queue.hasWorker(); }));
    EXPECT_TRUE(eventually([] { return threadsNamed("IdleTestQueue") == 0; }));

    // Later work starts a worker again, in order as before.
    std::vector<int> order;
    for (int i = 0; i < 3; ++i)
        queue.async([&order, i] { order.push_back(i); });
    queue.sync([&] { onQueue = queue.isCurrent(); });
    EXPECT_TRUE(onQueue);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(eventually([&] { return !queue.hasWorker(); }));
}

TEST(QueueWorkersTest, WorkersAreNamedAfterTheirQueue) {
    SerialQueue queue("TAVO.NamedTestQueue", kIdle);
    std::string name;
    queue.sync([&] {
        std::ifstream comm("/proc/thread-self/comm");
        std::getline(comm, name);
    });
    EXPECT_EQ(name, "NamedTestQueue");

    ConcurrentQueue pool(1, "a-name-longer-than-fifteen-bytes", kIdle);
    std::atomic<bool> ran{false};
    pool.async([&] {
        std::ifstream comm("/proc/thread-self/comm");
        std::getline(comm, name);
        ran = true;
    });
    ASSERT_TRUE(eventually([&] { return ran.load(); }));
    EXPECT_EQ(name, "a-name-longer-t");
}

// A background pool gives way to the rest of the program: its workers run
// at a lower priority, and the threads of other queues keep theirs.
TEST(QueueWorkersTest, ABackgroundPoolsWorkersRunAtALowerPriority) {
    const auto nice = [] {
        errno = 0;
        return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
    };
    const int own = nice();
    if (own >= 19)
        GTEST_SKIP() << "this process runs at the lowest priority already";
    std::atomic<int> background{own}, normal{own - 100};
    std::atomic<int> ran{0};
    ConcurrentQueue low(1, "low", kIdle, ConcurrentQueue::Priority::Background);
    ConcurrentQueue plain(1, "plain", kIdle);
    low.async([&] {
        background = nice();
        ++ran;
    });
    plain.async([&] {
        normal = nice();
        ++ran;
    });
    ASSERT_TRUE(eventually([&] { return ran == 2; }));
    EXPECT_GT(background.load(), own);
    EXPECT_EQ(normal.load(), own);
}

TEST(QueueWorkersTest, APoolStartsOnlyTheWorkersItsWorkNeedsUpToItsSize) {
    ConcurrentQueue pool(3, "poolTest", kIdle);
    // One item after another: one worker serves them all.
    for (int i = 0; i < 5; ++i) {
        std::atomic<bool> done{false};
        pool.async([&] { done = true; });
        ASSERT_TRUE(eventually([&] { return done.load(); }));
    }
    EXPECT_EQ(pool.liveWorkers(), 1u);

    // Five items at once: three run together, the others after them.
    Gate gate;
    for (int i = 0; i < 5; ++i)
        pool.async(gate.item());
    ASSERT_TRUE(gate.waitForStarted(3));
    EXPECT_EQ(pool.liveWorkers(), 3u);
    {
        std::lock_guard lock(gate.mutex);
        EXPECT_EQ(gate.started, 3);
    }
    gate.release();
    EXPECT_TRUE(gate.waitForStarted(5));
    EXPECT_TRUE(eventually([&] { return pool.liveWorkers() == 0; }));
}

// Work goes to the worker that became idle last (its caches are warm, and a
// transfer worker still holds the connection it used); the others stay idle
// and end in time.
TEST(QueueWorkersTest, WorkGoesToTheWorkerThatBecameIdleLast) {
    ConcurrentQueue pool(3, "poolTest", 10s);
    Gate gate;
    for (int i = 0; i < 3; ++i)
        pool.async(gate.item());
    ASSERT_TRUE(gate.waitForStarted(3));
    gate.release();
    ASSERT_TRUE(eventually([&] { return pool.idleWorkers() == 3; }));

    std::vector<long> threads;
    for (int i = 0; i < 6; ++i) {
        std::atomic<long> thread{0};
        pool.async([&] { thread = static_cast<long>(::syscall(SYS_gettid)); });
        ASSERT_TRUE(eventually([&] { return thread != 0 && pool.idleWorkers() == 3; }));
        threads.push_back(thread);
    }
    for (long thread : threads)
        EXPECT_EQ(thread, threads.front());
    EXPECT_EQ(pool.liveWorkers(), 3u);
}

TEST(QueueWorkersTest, DestructionWaitsForWorkersStillRunning) {
    std::atomic<int> ran{0};
    {
        ConcurrentQueue pool(2, "poolTest", 10s);  // workers that would linger
        for (int i = 0; i < 4; ++i)
            pool.async([&] {
                std::this_thread::sleep_for(10ms);
                ++ran;
            });
    }
    EXPECT_EQ(ran.load(), 4);
}

}  // namespace
}  // namespace tavo
