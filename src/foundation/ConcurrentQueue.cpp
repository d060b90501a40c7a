#include "foundation/ConcurrentQueue.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace tavo {

namespace {
thread_local const void* tCurrentPool = nullptr;
constexpr unsigned kGlobalWorkers = 4;
}  // namespace

struct ConcurrentQueue::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> work;
    bool stopping = false;

    void run() {
        tCurrentPool = this;
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return stopping || !work.empty(); });
            if (work.empty())
                break;
            std::function<void()> item = std::move(work.front());
            work.pop_front();
            lock.unlock();
            item();
            item = nullptr;
            lock.lock();
        }
        tCurrentPool = nullptr;
    }
};

ConcurrentQueue::ConcurrentQueue(unsigned workers) : state_(std::make_shared<State>()) {
    if (workers == 0)
        workers = 1;
    workers_.reserve(workers);
    for (unsigned i = 0; i < workers; ++i)
        workers_.emplace_back([state = state_] { state->run(); });
}

ConcurrentQueue::~ConcurrentQueue() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    const bool onWorker = isCurrent();
    for (std::thread& worker : workers_) {
        if (onWorker)
            worker.detach();
        else
            worker.join();
    }
}

void ConcurrentQueue::async(std::function<void()> work) {
    if (!work)
        return;
    {
        std::lock_guard lock(state_->mutex);
        state_->work.push_back(std::move(work));
    }
    state_->wake.notify_one();
}

ConcurrentQueue& globalQueue() {
    static ConcurrentQueue* queue = new ConcurrentQueue(kGlobalWorkers);
    return *queue;
}

bool ConcurrentQueue::isCurrent() const { return tCurrentPool == state_.get(); }

}  // namespace tavo
