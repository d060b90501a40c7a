#pragma once

#include "platform/UserNotificationCenter.h"

namespace tavo::platform {

// Writes each notification to the program's log instead of showing it: the
// centre for machines without a desktop notification service.
class LoggingUserNotificationCenter : public UserNotificationCenter {
public:
    void deliver(const UserNotification& notification) override;
};

}  // namespace tavo::platform
