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
    std::mutex mutex;
    std::condition_variable wake;   // work arrived, or the queue is stopping
    std::condition_variable ended;  // a worker ended
    std::deque<std::function<void()>> work;
    unsigned maxWorkers = 1;
    unsigned live = 0;  // workers started and not yet ended
    unsigned idle = 0;  // workers waiting for work
    bool stopping = false;
    std::string threadName;
    std::chrono::milliseconds idleWorkerTime{0};
    Priority priority = Priority::Normal;

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
                ++self->idle;
                const bool woken = self->wake.wait_for(lock, self->idleWorkerTime, [&] {
                    return self->stopping || !self->work.empty();
                });
                --self->idle;
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
    state_->wake.notify_all();
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
        // Every waiting worker takes one item; more items than that get a
        // worker of their own while the pool has room.
        start = state_->work.size() > state_->idle && state_->live < state_->maxWorkers;
        if (start)
            ++state_->live;
    }
    state_->wake.notify_one();
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
