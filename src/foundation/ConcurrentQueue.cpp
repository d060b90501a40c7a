#include "foundation/ConcurrentQueue.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tavo {

namespace {
thread_local const void* tCurrentPool = nullptr;
constexpr unsigned kGlobalWorkers = 4;
constexpr int kBackgroundNice = 10;
constexpr std::size_t kThreadNameBytes = 15;  // the system keeps 15 bytes and a NUL

// A worker whose work is over for now hands what the work freed back to the
// system, instead of leaving it with the allocator until the next burst.
void releaseFreedMemory() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}
}  // namespace

struct ConcurrentQueue::State {
    // An idle worker, waiting to be handed work.
    struct Waiter {
        std::condition_variable wake;
        bool woken = false;
    };

    std::mutex mutex;
    std::condition_variable ended;  // a worker ended
    std::deque<std::function<void()>> work;
    // The idle workers, the one idle for the shortest time last. Work goes
    // to that one: its caches are warm, and a transfer worker still holds
    // the kept-alive connection of the previous exchange. The others stay
    // idle and end in time.
    std::vector<Waiter*> idle;
    unsigned handed = 0;  // workers woken for work that have not yet taken it
    unsigned maxWorkers = 1;
    unsigned live = 0;  // workers started and not yet ended
    bool stopping = false;
    std::string threadName;
    std::chrono::milliseconds idleWorkerTime{0};
    Priority priority = Priority::Normal;

    // Called with the mutex held, so a waiter cannot end and go away first.
    void wakeLastIdle() {
        Waiter* waiter = idle.back();
        idle.pop_back();
        waiter->woken = true;
        ++handed;
        waiter->wake.notify_one();
    }

    void wakeAllIdle() {
        while (!idle.empty())
            wakeLastIdle();
    }

    // One worker: takes items until none is queued for a while (or none is
    // left once the queue stops), then ends.
    static void run(const std::shared_ptr<State>& self) {
        tCurrentPool = self.get();
        // Named, or a worker would show the name of the thread that started it.
        pthread_setname_np(pthread_self(),
                           self->threadName.empty() ? "worker" : self->threadName.c_str());
        // A thread of its own has a priority of its own; it is never raised
        // again (that takes privileges), and the thread ends with the queue.
        if (self->priority == Priority::Background)
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), kBackgroundNice);
        std::unique_lock lock(self->mutex);
        for (;;) {
            if (self->work.empty()) {
                if (self->stopping)
                    break;
                Waiter waiter;
                self->idle.push_back(&waiter);
                const bool woken =
                    waiter.wake.wait_for(lock, self->idleWorkerTime, [&] { return waiter.woken; });
                if (waiter.woken)
                    --self->handed;
                else
                    std::erase(self->idle, &waiter);
                if (!woken) {
                    lock.unlock();
                    releaseFreedMemory();
                    lock.lock();
                    if (self->work.empty())
                        break;  // else work came meanwhile: this worker takes it
                }
                continue;
            }
            std::function<void()> item = std::move(self->work.front());
            self->work.pop_front();
            lock.unlock();
            item();
            item = nullptr;  // what the work captured goes away outside the lock
            lock.lock();
        }
        --self->live;
        tCurrentPool = nullptr;
        self->ended.notify_all();
    }
};

ConcurrentQueue::ConcurrentQueue(unsigned workers, std::string threadName,
                                 std::chrono::milliseconds idleWorkerTime, Priority priority)
    : state_(std::make_shared<State>()) {
    state_->idleWorkerTime = idleWorkerTime;
    state_->priority = priority;
    state_->maxWorkers = workers == 0 ? 1 : workers;
    if (threadName.size() > kThreadNameBytes)
        threadName.resize(kThreadNameBytes);
    state_->threadName = std::move(threadName);
}

ConcurrentQueue::~ConcurrentQueue() {
    std::unique_lock lock(state_->mutex);
    state_->stopping = true;
    state_->wakeAllIdle();
    if (isCurrent())
        return;  // the workers finish what is queued on their own and end
    state_->ended.wait(lock, [this] { return state_->live == 0; });
}

void ConcurrentQueue::async(std::function<void()> work) {
    if (!work)
        return;
    bool start = false;
    {
        std::lock_guard lock(state_->mutex);
        state_->work.push_back(std::move(work));
        // The worker idle for the shortest time takes the item; items more
        // than the workers woken for them get a worker of their own while
        // the pool has room.
        if (!state_->idle.empty())
            state_->wakeLastIdle();
        start = state_->work.size() > state_->handed && state_->live < state_->maxWorkers;
        if (start)
            ++state_->live;
    }
    if (!start)
        return;
    try {
        std::thread([state = state_] { State::run(state); }).detach();
    } catch (const std::system_error&) {
        // No thread to spare now: a running worker takes the item, or the
        // next submission starts one.
        std::lock_guard lock(state_->mutex);
        --state_->live;
        state_->ended.notify_all();
    }
}

bool ConcurrentQueue::isCurrent() const {
    return tCurrentPool == state_.get();
}

unsigned ConcurrentQueue::liveWorkers() const {
    std::lock_guard lock(state_->mutex);
    return state_->live;
}

unsigned ConcurrentQueue::idleWorkers() const {
    std::lock_guard lock(state_->mutex);
    return static_cast<unsigned>(state_->idle.size());
}

ConcurrentQueue& globalQueue() {
    static ConcurrentQueue* queue = new ConcurrentQueue(kGlobalWorkers, "globalQueue");
    return *queue;
}

ConcurrentQueue& backgroundQueue() {
    static ConcurrentQueue* queue =
        new ConcurrentQueue(1, "backgroundQueue", ConcurrentQueue::kIdleWorkerTime,
                            ConcurrentQueue::Priority::Background);
    return *queue;
}

}  // namespace tavo
