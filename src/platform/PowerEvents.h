#pragma once

#include <functional>

namespace tavo::platform {

// The machine going to sleep and waking up.
class PowerEvents {
public:
    virtual ~PowerEvents() = default;
    // Starts watching: willSleep before the machine sleeps, didWake after it
    // woke, each on a thread of the source's. False when no source of these
    // signals is there (the program carries on without them).
    virtual bool start(std::function<void()> willSleep, std::function<void()> didWake) = 0;
    // No callback runs once this returns.
    virtual void stop() = 0;
};

}  // namespace tavo::platform
