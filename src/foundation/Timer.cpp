#include "foundation/Timer.h"

#include "foundation/MainQueue.h"

namespace tavo {

Timer::Timer(Clock::Duration interval, bool repeats, std::function<void()> fire)
    : interval_(interval), repeats_(repeats), fire_(std::move(fire)) {}

std::shared_ptr<Timer> Timer::scheduledTimer(Clock::Duration interval, bool repeats,
                                             std::function<void()> fire) {
    std::shared_ptr<Timer> timer(new Timer(interval, repeats, std::move(fire)));
    timer->schedule();
    return timer;
}

void Timer::schedule() {
    Clock::Duration delay = Clock::current().realDelay(interval_);
    if (repeats_ && delay < kMinimumRepeat)
        delay = kMinimumRepeat;
    MainQueue::main().afterReal(delay, [self = shared_from_this()] { self->tick(); });
}

void Timer::tick() {
    if (valid_.load() && fire_) {
        firing_ = true;
        fire_();
        firing_ = false;
        if (!repeats_)
            valid_.store(false);
    }
    if (valid_.load())
        schedule();
    else
        fire_ = nullptr;
}

void Timer::invalidate() {
    if (!valid_.exchange(false))
        return;
    // The callback (and what it holds) is released on the main thread, later:
    // the caller may be running inside it, or be an object it keeps alive.
    MainQueue::main().async([self = shared_from_this()] {
        if (!self->firing_)
            self->fire_ = nullptr;
    });
}

bool Timer::isValid() const {
    return valid_.load();
}

}  // namespace tavo
