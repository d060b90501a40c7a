#include "foundation/SerialQueue.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace tavo {

namespace {
// The queue state whose worker is the calling thread, if any.
thread_local const void* tCurrentQueue = nullptr;
}  // namespace

struct SerialQueue::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> work;
    bool stopping = false;

    void run() {
        tCurrentQueue = this;
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return stopping || !work.empty(); });
            if (work.empty())
                break;
            std::function<void()> item = std::move(work.front());
            work.pop_front();
            lock.unlock();
            item();
            item = nullptr;  // what it captured goes away outside the lock
            lock.lock();
        }
        tCurrentQueue = nullptr;
    }
};

SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label)), state_(std::make_shared<State>()) {
    worker_ = std::thread([state = state_] { state->run(); });
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    if (isCurrent())
        worker_.detach();
    else
        worker_.join();
}

void SerialQueue::async(std::function<void()> work) {
    if (!work)
        return;
    {
        std::lock_guard lock(state_->mutex);
        state_->work.push_back(std::move(work));
    }
    state_->wake.notify_one();
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
    return tCurrentQueue == state_.get();
}

}  // namespace tavo
