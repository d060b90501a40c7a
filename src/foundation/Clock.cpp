#include "foundation/Clock.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace tavo {

namespace {

// The installed clock is read through a plain atomic pointer so current() costs
// one load. A replaced clock is kept alive for the rest of the process: a
// caller on another thread may still hold the reference current() gave it.
struct ClockSlot {
    std::atomic<Clock*> current;
    std::mutex mutex;
    std::vector<std::shared_ptr<Clock>> installed;

    ClockSlot() : current(realClock()) {}

    static Clock* realClock() {
        static Clock* real = new Clock();
        return real;
    }
};

ClockSlot& slot() {
    static ClockSlot* s = new ClockSlot();
    return *s;
}

}  // namespace

void Clock::sleepFor(Duration duration) {
    if (duration > Duration::zero())
        std::this_thread::sleep_for(duration);
}

Clock& Clock::current() {
    return *slot().current.load(std::memory_order_acquire);
}

void Clock::setCurrent(std::shared_ptr<Clock> clock) {
    ClockSlot& s = slot();
    std::lock_guard lock(s.mutex);
    Clock* next = clock ? clock.get() : ClockSlot::realClock();
    if (clock)
        s.installed.push_back(std::move(clock));
    s.current.store(next, std::memory_order_release);
}

void ScaledClock::sleepFor(Duration duration) {
    Clock::sleepFor(realDelay(duration));
}

Clock::Duration ScaledClock::realDelay(Duration duration) const {
    if (duration <= Duration::zero() || factor_ <= 0)
        return Duration::zero();
    using Seconds = std::chrono::duration<double>;
    return std::chrono::duration_cast<Duration>(Seconds(duration) * factor_);
}

}  // namespace tavo
