#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace tavo {

// A small pool of worker threads for independent work (activation batches,
// background copies). Items start in submission order and may overlap. An
// item goes to the worker that became idle last.
// Workers start when work arrives, up to the pool's size, and end after a few
// idle seconds, so an idle program holds no threads for its queues and no
// worker wakes up while nothing is queued.
class ConcurrentQueue {
public:
    // How long an idle worker waits for more work before it ends.
    static constexpr std::chrono::milliseconds kIdleWorkerTime{5000};

    // Background: the workers run at a lower priority and give way to the
    // rest of the program (and of the machine) when the processors are busy.
    enum class Priority { Normal, Background };

    // workers: at most this many items run at once. threadName: what the
    // system's thread lists show for the workers (15 bytes at most are kept).
    explicit ConcurrentQueue(unsigned workers, std::string threadName = {},
                             std::chrono::milliseconds idleWorkerTime = kIdleWorkerTime,
                             Priority priority = Priority::Normal);
    // Runs what is already queued, then lets the workers end and waits for
    // them. Destroyed from one of its own workers, it does not wait.
    ~ConcurrentQueue();

    ConcurrentQueue(const ConcurrentQueue&) = delete;
    ConcurrentQueue& operator=(const ConcurrentQueue&) = delete;

    void async(std::function<void()> work);
    // Whether the calling thread is one of this queue's workers.
    bool isCurrent() const;
    // Workers running now (busy or lingering idle); for tests and benchmarks.
    unsigned liveWorkers() const;
    // Workers waiting for work now; for tests.
    unsigned idleWorkers() const;

private:
    struct State;

    std::shared_ptr<State> state_;  // shared with the workers, which may outlive the queue
};

// The process-wide pool (four workers at most). It is never destroyed, so
// work still running when the program exits cannot meet a destroyed queue.
ConcurrentQueue& globalQueue();
// The process-wide pool for long work that may wait (one worker, at
// background priority), such as the fonts a long download chain registers
// on its way.
ConcurrentQueue& backgroundQueue();

}  // namespace tavo
