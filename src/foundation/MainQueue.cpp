#include "foundation/MainQueue.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <condition_variable>
#include <map>

namespace tavo {

using SteadyClock = std::chrono::steady_clock;

namespace {
constexpr auto kPredicatePoll = std::chrono::milliseconds(5);
}  // namespace

// The built-in loop: one list of work ordered by deadline (immediate work is
// due at the moment it is queued), so async work keeps its order and delayed
// work runs by deadline, ties in submission order.
struct MainQueue::Builtin {
    std::mutex mutex;
    std::condition_variable wake;
    std::multimap<SteadyClock::time_point, std::function<void()>> work;
    bool quitRequested = false;

    void post(Clock::Duration delay, std::function<void()> item) {
        {
            std::lock_guard lock(mutex);
            const auto now = SteadyClock::now();
            const auto deadline = delay > Clock::Duration::zero() ? now + delay : now;
            work.emplace(deadline, std::move(item));  // after equal deadlines
        }
        wake.notify_all();
    }

    // Takes the first item if it is due; false when nothing is due.
    bool takeDue(std::unique_lock<std::mutex>& lock, std::function<void()>& item) {
        (void)lock;
        if (work.empty() || work.begin()->first > SteadyClock::now())
            return false;
        item = std::move(work.begin()->second);
        work.erase(work.begin());
        return true;
    }

    static void runItem(std::unique_lock<std::mutex>& lock, std::function<void()>& item) {
        lock.unlock();
        item();
        item = nullptr;  // what the work captured goes away outside the lock
        lock.lock();
    }

    // Processes work until stop() holds (checked between items), quit() is
    // called or the loop deadline passes. Returns whether stop() held.
    bool loop(const std::function<bool()>& stop, SteadyClock::time_point until) {
        std::unique_lock lock(mutex);
        for (;;) {
            if (quitRequested) {
                quitRequested = false;
                return false;
            }
            if (stop) {
                lock.unlock();
                const bool stopped = stop();
                lock.lock();
                if (stopped)
                    return true;
            }
            std::function<void()> item;
            if (takeDue(lock, item)) {
                runItem(lock, item);
                continue;
            }
            const auto now = SteadyClock::now();
            if (now >= until)
                return false;
            auto wakeAt = until;
            if (!work.empty() && work.begin()->first < wakeAt)
                wakeAt = work.begin()->first;
            // A predicate may turn true without any work arriving: look again soon.
            if (stop && now + kPredicatePoll < wakeAt)
                wakeAt = now + kPredicatePoll;
            wake.wait_until(lock, wakeAt);
        }
    }
};

MainQueue::MainQueue() : builtin_(std::make_shared<Builtin>()) {}

MainQueue& MainQueue::main() {
    // Never destroyed: work may still be posted while the program exits.
    static MainQueue* queue = new MainQueue();
    return *queue;
}

bool MainQueue::isMainThread() {
    return syscall(SYS_gettid) == getpid();
}

std::shared_ptr<MainQueueBackend> MainQueue::backend() const {
    std::lock_guard lock(backendMutex_);
    return backend_;
}

void MainQueue::setBackend(std::shared_ptr<MainQueueBackend> backend) {
    std::lock_guard lock(backendMutex_);
    backend_ = std::move(backend);
}

void MainQueue::async(std::function<void()> work) {
    if (!work)
        return;
    if (auto other = backend())
        other->post(std::move(work));
    else
        builtin_->post(Clock::Duration::zero(), std::move(work));
}

void MainQueue::after(Clock::Duration delay, std::function<void()> work) {
    afterReal(Clock::current().realDelay(delay), std::move(work));
}

void MainQueue::afterReal(Clock::Duration delay, std::function<void()> work) {
    if (!work)
        return;
    if (delay < Clock::Duration::zero())
        delay = Clock::Duration::zero();
    if (auto other = backend())
        other->postDelayed(delay, std::move(work));
    else
        builtin_->post(delay, std::move(work));
}

std::shared_ptr<MainQueueBackend> MainQueue::loopBackend() const {
    auto other = backend();
    return other && other->drivesLoop() ? other : nullptr;
}

void MainQueue::run() {
    if (auto loop = loopBackend())
        return loop->run();
    builtin_->loop(nullptr, SteadyClock::time_point::max());
}

void MainQueue::quit() {
    if (auto loop = loopBackend())
        return loop->quit();
    {
        std::lock_guard lock(builtin_->mutex);
        builtin_->quitRequested = true;
    }
    builtin_->wake.notify_all();
}

bool MainQueue::runUntil(const std::function<bool()>& done, Clock::Duration timeout) {
    if (auto loop = loopBackend())
        return loop->runUntil(done, timeout);
    const auto now = SteadyClock::now();
    const auto until = timeout >= SteadyClock::time_point::max() - now
                           ? SteadyClock::time_point::max()
                           : now + timeout;
    if (builtin_->loop(done, until))
        return true;
    return done ? done() : false;
}

void MainQueue::drain() {
    if (auto loop = loopBackend())
        return loop->drain();
    std::unique_lock lock(builtin_->mutex);
    std::function<void()> item;
    while (builtin_->takeDue(lock, item))
        Builtin::runItem(lock, item);
}

}  // namespace tavo
