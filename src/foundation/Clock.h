#pragma once

#include <chrono>
#include <memory>

namespace tavo {

// The one seam for time. Every pause the system takes on purpose (retry
// waits, sleeps between checks) and every timer or delayed call goes through
// the current clock, so tests can run them in a fraction of their time.
class Clock {
public:
    using Duration = std::chrono::steady_clock::duration;
    using SteadyTime = std::chrono::steady_clock::time_point;
    using SystemTime = std::chrono::system_clock::time_point;

    virtual ~Clock() = default;

    virtual SystemTime systemNow() const { return std::chrono::system_clock::now(); }
    virtual SteadyTime steadyNow() const { return std::chrono::steady_clock::now(); }

    // A pause the system takes on purpose.
    virtual void sleepFor(Duration duration);

    // How long a timer or delayed call of the given length really waits.
    virtual Duration realDelay(Duration duration) const { return duration; }

    static Clock& current();
    // Installs a clock for the whole process; nullptr restores the real one.
    static void setCurrent(std::shared_ptr<Clock> clock);
};

// A clock whose pauses and timers take `factor` of their nominal length
// (0.001: a 30-second retry pause takes 30 ms). For tests and the demo.
class ScaledClock : public Clock {
public:
    explicit ScaledClock(double factor) : factor_(factor) {}
    void sleepFor(Duration duration) override;
    Duration realDelay(Duration duration) const override;

private:
    double factor_;
};

// Seconds as a clock duration.
inline Clock::Duration seconds(double s) {
    return std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(s));
}

}  // namespace tavo
