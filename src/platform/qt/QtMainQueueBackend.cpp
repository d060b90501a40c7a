#include "platform/qt/QtMainQueueBackend.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>

namespace tavo::platform {

using SteadyClock = std::chrono::steady_clock;

namespace {
// How often runUntil() looks at its predicate while no event arrives.
constexpr auto kPredicatePoll = std::chrono::milliseconds(5);
}  // namespace

// One list of work ordered by deadline (immediate work is due when it is
// queued), like the built-in loop, and one timer armed for the earliest
// deadline. Posting from another thread wakes the GUI thread with one queued
// call, not one per item.
class MainQueueDispatcher : public QObject {
public:
    MainQueueDispatcher() {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { service(); });
    }

    // Any thread.
    void add(Clock::Duration delay, std::function<void()> item) {
        {
            std::lock_guard lock(mutex_);
            const auto now = SteadyClock::now();
            const auto deadline = delay > Clock::Duration::zero() ? now + delay : now;
            work_.emplace(deadline, std::move(item));  // after equal deadlines
        }
        if (!wakePosted_.exchange(true)) {
            QMetaObject::invokeMethod(
                this,
                [this] {
                    wakePosted_.store(false);
                    service();
                },
                Qt::QueuedConnection);
        }
    }

    // Any thread.
    void requestQuit() {
        quitRequested_.store(true);
        QMetaObject::invokeMethod(
            this,
            [this] {
                // Only a running loop ends here; otherwise the request waits
                // for the next run().
                if (running_ > 0 && quitRequested_.exchange(false))
                    QCoreApplication::exit(0);
            },
            Qt::QueuedConnection);
    }

    // GUI thread.
    void run() {
        if (quitRequested_.exchange(false))
            return;
        ++running_;
        if (running_ == 1) {
            QCoreApplication::exec();
        } else {
            QEventLoop nested;
            nested.exec();
        }
        --running_;
    }

    bool runUntil(const std::function<bool()>& done, Clock::Duration timeout) {
        const auto now = SteadyClock::now();
        const auto until = timeout >= SteadyClock::time_point::max() - now
                               ? SteadyClock::time_point::max()
                               : now + timeout;
        QTimer poll;  // wakes the wait below so the predicate and deadline are seen
        poll.start(kPredicatePoll);
        for (;;) {
            if (done && done())
                return true;
            if (quitRequested_.exchange(false) || SteadyClock::now() >= until)
                break;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return done ? done() : false;
    }

    void drain() {
        QCoreApplication::processEvents();
        runDue(false);
        QCoreApplication::processEvents();
        rearm();
    }

private:
    // Runs the work that is due: what was due when it started (from the
    // event loop, so the toolkit's events get their turn between rounds), or
    // also what the work queues meanwhile (drain).
    void runDue(bool onlyDueAtStart) {
        const auto start = SteadyClock::now();
        ++dispatching_;
        struct Leave {
            int& depth;
            ~Leave() { --depth; }
        } leave{dispatching_};
        for (;;) {
            std::function<void()> item;
            {
                std::lock_guard lock(mutex_);
                const auto limit = onlyDueAtStart ? start : SteadyClock::now();
                if (work_.empty() || work_.begin()->first > limit)
                    break;
                item = std::move(work_.begin()->second);
                work_.erase(work_.begin());
            }
            item();
        }
    }

    void service() {
        runDue(true);
        rearm();
    }

    void rearm() {
        SteadyClock::time_point next;
        {
            std::lock_guard lock(mutex_);
            if (work_.empty()) {
                timer_.stop();
                return;
            }
            next = work_.begin()->first;
        }
        const auto wait = next - SteadyClock::now();
        const auto ms = wait > SteadyClock::duration::zero()
                            ? std::chrono::ceil<std::chrono::milliseconds>(wait)
                            : std::chrono::milliseconds(0);
        timer_.start(ms);
    }

    std::mutex mutex_;
    std::multimap<SteadyClock::time_point, std::function<void()>> work_;
    std::atomic<bool> wakePosted_{false};
    std::atomic<bool> quitRequested_{false};
    QTimer timer_{this};   // GUI thread only
    int running_ = 0;      // nesting depth of run(), GUI thread only
    int dispatching_ = 0;  // nesting depth of runDue(), GUI thread only

public:
    // Whether it may be deleted now, on the calling thread.
    bool deletableHere() const { return thread() == QThread::currentThread() && dispatching_ == 0; }
};

QtMainQueueBackend::QtMainQueueBackend() : dispatcher_(new MainQueueDispatcher()) {
    if (auto* app = QCoreApplication::instance(); app && dispatcher_->thread() != app->thread())
        dispatcher_->moveToThread(app->thread());
}

QtMainQueueBackend::~QtMainQueueBackend() {
    // The last owner may be another thread, or work the dispatcher is running:
    // then the dispatcher goes later, on its own thread.
    if (dispatcher_->deletableHere())
        delete dispatcher_;
    else
        dispatcher_->deleteLater();
}

void QtMainQueueBackend::post(std::function<void()> work) {
    dispatcher_->add(Clock::Duration::zero(), std::move(work));
}

void QtMainQueueBackend::postDelayed(Clock::Duration delay, std::function<void()> work) {
    dispatcher_->add(delay, std::move(work));
}

void QtMainQueueBackend::run() {
    dispatcher_->run();
}

void QtMainQueueBackend::quit() {
    dispatcher_->requestQuit();
}

bool QtMainQueueBackend::runUntil(const std::function<bool()>& done, Clock::Duration timeout) {
    return dispatcher_->runUntil(done, timeout);
}

void QtMainQueueBackend::drain() {
    dispatcher_->drain();
}

}  // namespace tavo::platform
