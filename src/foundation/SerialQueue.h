#pragma once

#include <functional>
#include <string>

#include "foundation/ConcurrentQueue.h"

namespace tavo {

// A named queue with one worker thread: work runs one item at a time, in the
// order it was submitted. The worker starts with the first item and ends when
// the queue has been idle for a few seconds; the thread lists of the system
// show it under the label (without its first dotted part).
class SerialQueue {
public:
    explicit SerialQueue(std::string label, std::chrono::milliseconds idleWorkerTime =
                                                ConcurrentQueue::kIdleWorkerTime);
    // Runs what is already queued, then stops the worker. Destroyed from its
    // own worker (the last owner let go inside a work item), it does not wait:
    // the worker finishes the queued work on its own and ends.
    ~SerialQueue();

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void async(std::function<void()> work);

    // Runs work on the queue and waits for it. Called from the queue's own
    // worker it runs at once, where a blocking wait would deadlock.
    void sync(const std::function<void()>& work);

    const std::string& label() const { return label_; }
    bool isCurrent() const;
    // Whether the worker thread runs now (busy, or idle for a moment).
    bool hasWorker() const { return queue_.liveWorkers() > 0; }

private:
    std::string label_;
    ConcurrentQueue queue_;  // one worker: items run one at a time, in order
};

}  // namespace tavo
