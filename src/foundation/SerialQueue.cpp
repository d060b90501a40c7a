#include "foundation/SerialQueue.h"

#include <condition_variable>
#include <mutex>

namespace tavo {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {}

// The worker pool drains what is queued, and does not wait when it is
// destroyed from its own worker.
SerialQueue::~SerialQueue() = default;

void SerialQueue::async(std::function<void()> work) {
    if (work)
        queue_.async(std::move(work));
}

void SerialQueue::sync(const std::function<void()>& work) {
    if (!work)
        return;
    if (isCurrent()) {
        work();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneWake;
    bool done = false;
    async([&] {
        work();
        std::lock_guard lock(doneMutex);
        done = true;
        doneWake.notify_one();
    });
    std::unique_lock lock(doneMutex);
    doneWake.wait(lock, [&] { return done; });
}

bool SerialQueue::isCurrent() const { return queue_.isCurrent(); }

}  // namespace tavo
