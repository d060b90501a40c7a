#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "foundation/Clock.h"

namespace tavo {

// What runs the main queue: the built-in loop (headless programs and tests)
// or, in GUI programs, the toolkit's event loop.
class MainQueueBackend {
public:
    virtual ~MainQueueBackend() = default;
    virtual void post(std::function<void()> work) = 0;
    // Runs work after a real delay (already converted by the clock).
    virtual void postDelayed(Clock::Duration delay, std::function<void()> work) = 0;

    // A backend with a loop of its own (the toolkit's) answers true and takes
    // over MainQueue's run(), quit(), runUntil() and drain() with the same
    // meaning; the defaults leave them to the built-in loop.
    virtual bool drivesLoop() const { return false; }
    virtual void run() {}
    virtual void quit() {}
    virtual bool runUntil(const std::function<bool()>& done, Clock::Duration timeout) {
        (void)timeout;
        return done ? done() : false;
    }
    virtual void drain() {}
};

// The main thread's run loop: work submitted from any thread runs on the
// main thread, in order; delayed work runs once its delay has passed, in the
// order of the deadlines (equal deadlines in submission order).
class MainQueue {
public:
    static MainQueue& main();

    void async(std::function<void()> work);
    // Runs work after delay, as measured by the current clock.
    void after(Clock::Duration delay, std::function<void()> work);

    // The process's first thread is the main thread.
    static bool isMainThread();

    // The loop, driven from the main thread (the built-in one, or the
    // backend's when it drives a loop of its own). run() processes work
    // until quit() (from any thread; a quit() before run() ends the next run
    // at once); runUntil() processes work until the predicate holds or the
    // timeout (real time) passes and returns the predicate's last value;
    // drain() runs what is due now, including work that work queues.
    void run();
    void quit();
    bool runUntil(const std::function<bool()>& done, Clock::Duration timeout);
    void drain();

    // Hands the queue to another loop (the GUI's); nullptr: the built-in one.
    void setBackend(std::shared_ptr<MainQueueBackend> backend);

private:
    friend class Timer;

    MainQueue();
    // Runs work after a real delay, not converted by the clock.
    void afterReal(Clock::Duration delay, std::function<void()> work);
    std::shared_ptr<MainQueueBackend> backend() const;
    // The installed backend when it drives a loop of its own.
    std::shared_ptr<MainQueueBackend> loopBackend() const;

    struct Builtin;
    std::shared_ptr<Builtin> builtin_;
    mutable std::mutex backendMutex_;
    std::shared_ptr<MainQueueBackend> backend_;
};

}  // namespace tavo
