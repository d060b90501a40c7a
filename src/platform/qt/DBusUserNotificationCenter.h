#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/UserNotificationCenter.h"

namespace tavo {
class SerialQueue;
}

namespace tavo::platform {

// Shows notifications through the desktop's notification service
// (org.freedesktop.Notifications on the session bus).
//
// deliver() only queues: a queue of the centre's own makes the calls, one at
// a time and in order, and gives up on one the service does not answer
// within the reply timeout. When the bus or the service is not there, the
// centre says so once in the log and from then on writes every notification
// to the log instead.
//
// Needs a QCoreApplication, created before the centre and destroyed after
// it; Qt's event loop need not run. Without one every notification goes to
// the log.
class DBusUserNotificationCenter : public UserNotificationCenter {
public:
    static constexpr std::chrono::milliseconds kReplyTimeout{2000};

    // A centre on the bus at busAddress (empty: the session bus the
    // environment names).
    explicit DBusUserNotificationCenter(const std::string& busAddress = {},
                                        std::chrono::milliseconds replyTimeout = kReplyTimeout);
    // Waits for the notifications still queued.
    ~DBusUserNotificationCenter() override;

    DBusUserNotificationCenter(const DBusUserNotificationCenter&) = delete;
    DBusUserNotificationCenter& operator=(const DBusUserNotificationCenter&) = delete;

    // The centre the programs install: this one when the session bus can be
    // reached, else a LoggingUserNotificationCenter (and a line in the log
    // saying why).
    static std::shared_ptr<UserNotificationCenter> createDesktopUserNotificationCenter();

    void deliver(const UserNotification& notification) override;

    // False once notifications go to the log instead.
    bool usesNotificationService() const;

private:
    struct State;

    std::shared_ptr<State> state_;  // shared with the queued deliveries
    std::unique_ptr<SerialQueue> queue_;
};

}  // namespace tavo::platform
