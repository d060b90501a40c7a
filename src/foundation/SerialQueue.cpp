#include "foundation/SerialQueue.h"

#include <condition_variable>
#include <mutex>

namespace tavo {

namespace {

// "TAVO.SerialDispatchQueue" shows as "SerialDispatchQ": the system keeps
// 15 bytes of a thread's name, and the first part is the same for most.
std::string threadNameOf(const std::string& label) {
    const auto dot = label.find('.');
    return dot == std::string::npos || dot + 1 == label.size() ? label : label.substr(dot + 1);
}

}  // namespace

SerialQueue::SerialQueue(std::string label, std::chrono::milliseconds idleWorkerTime)
    : label_(std::move(label)), queue_(1, threadNameOf(label_), idleWorkerTime) {}

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

bool SerialQueue::isCurrent() const {
    return queue_.isCurrent();
}

}  // namespace tavo
