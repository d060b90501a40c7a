#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/PowerEvents.h"

namespace tavo::platform {

// Sleep and wake from logind: org.freedesktop.login1.Manager's
// PrepareForSleep signal on the system bus, true before the machine sleeps,
// false after it woke.
//
// While started, a QThread of its own runs an event loop that receives the
// signal and calls willSleep and didWake. The program needs a
// QCoreApplication, created before start() and destroyed after the object;
// Qt's event loop need not run on the main thread. Without one, or without
// the system bus or logind (containers, servers), start() says so once in
// the log and returns false.
class LogindPowerEvents : public PowerEvents {
public:
    // Listens on the system bus at busAddress (empty: the one the
    // environment names).
    explicit LogindPowerEvents(std::string busAddress = {});
    // Stops; must not be destroyed from its own callbacks.
    ~LogindPowerEvents() override;

    LogindPowerEvents(const LogindPowerEvents&) = delete;
    LogindPowerEvents& operator=(const LogindPowerEvents&) = delete;

    // The factory the programs install.
    static std::shared_ptr<PowerEvents> create();

    // True at once when already started.
    bool start(std::function<void()> willSleep, std::function<void()> didWake) override;
    // Returns once the thread has ended; called from a callback, it returns
    // at once and the thread ends after the callback (joined by the next
    // stop() or the destructor).
    void stop() override;

private:
    struct Watch;

    std::string address_;
    std::mutex mutex_;
    std::unique_ptr<Watch> watch_;
    std::unique_ptr<Watch> ending_;  // stopped from its own thread, not joined yet
    bool reportedAbsence_ = false;
};

}  // namespace tavo::platform
