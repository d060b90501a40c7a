#pragma once

#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace tavo {

// A small pool of worker threads for independent work (activation batches,
// background copies). Items start in submission order and may overlap.
class ConcurrentQueue {
public:
    explicit ConcurrentQueue(unsigned workers);
    // Runs what is already queued, then stops the workers. Destroyed from one
    // of its own workers, it does not wait for them.
    ~ConcurrentQueue();

    ConcurrentQueue(const ConcurrentQueue&) = delete;
    ConcurrentQueue& operator=(const ConcurrentQueue&) = delete;

    void async(std::function<void()> work);
    // Whether the calling thread is one of this queue's workers.
    bool isCurrent() const;

private:
    struct State;

    std::shared_ptr<State> state_;  // shared with the workers
    std::vector<std::thread> workers_;
};

// The process-wide pool (four workers). It is never destroyed, so work still
// running when the program exits cannot meet a destroyed queue.
ConcurrentQueue& globalQueue();

}  // namespace tavo
