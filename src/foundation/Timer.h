#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "foundation/Clock.h"

namespace tavo {

// A one-shot or repeating timer on the main queue. The timer keeps itself
// alive while scheduled; invalidate() stops it for good, from any thread
// (also from inside its own callback). The interval is measured by the
// current clock; a repeating timer waits at least kMinimumRepeat between
// firings, so an interval of zero means "as often as sensible".
class Timer : public std::enable_shared_from_this<Timer> {
public:
    static constexpr Clock::Duration kMinimumRepeat = std::chrono::milliseconds(10);

    static std::shared_ptr<Timer> scheduledTimer(Clock::Duration interval, bool repeats,
                                                 std::function<void()> fire);
    void invalidate();
    bool isValid() const;
    Clock::Duration interval() const { return interval_; }

private:
    Timer(Clock::Duration interval, bool repeats, std::function<void()> fire);
    void schedule();
    void tick();

    Clock::Duration interval_;
    bool repeats_;
    std::function<void()> fire_;  // touched on the main thread only
    bool firing_ = false;         // main thread only
    std::atomic<bool> valid_{true};
};

}  // namespace tavo
