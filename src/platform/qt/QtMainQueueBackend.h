#pragma once

#include "foundation/MainQueue.h"

namespace tavo::platform {

class MainQueueDispatcher;

// The main queue on the Qt event loop of the application object: work posted
// from any thread runs on the GUI thread in order, delayed work by deadline
// (equal deadlines in submission order), between the toolkit's own events.
// run() is the application's exec(), quit() ends it from any thread (a quit()
// before run() ends the next run at once); runUntil() and drain() process Qt
// events as well as queued work.
//
// Construct it on the GUI thread after the QCoreApplication/QApplication and
// install it with MainQueue::main().setBackend(); uninstall it before the
// application object goes away.
class QtMainQueueBackend : public MainQueueBackend {
public:
    QtMainQueueBackend();
    ~QtMainQueueBackend() override;
    QtMainQueueBackend(const QtMainQueueBackend&) = delete;
    QtMainQueueBackend& operator=(const QtMainQueueBackend&) = delete;

    void post(std::function<void()> work) override;
    void postDelayed(Clock::Duration delay, std::function<void()> work) override;

    bool drivesLoop() const override { return true; }
    void run() override;
    void quit() override;
    bool runUntil(const std::function<bool()>& done, Clock::Duration timeout) override;
    void drain() override;

private:
    // Lives on the GUI thread and holds the queued work; deleted there, after
    // the backend, so that events already posted to it never outlive it.
    MainQueueDispatcher* dispatcher_;
};

}  // namespace tavo::platform
