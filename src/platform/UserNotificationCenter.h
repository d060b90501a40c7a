#pragma once

#include <memory>
#include <string>

namespace tavo::platform {

struct UserNotification {
    std::string title;
    std::string subtitle;
    std::string informativeText;
};

// Shows notifications to the user, even while the application is active.
class UserNotificationCenter {
public:
    virtual ~UserNotificationCenter() = default;
    virtual void deliver(const UserNotification& notification) = 0;

    // The program's centre; until a program sets one, deliveries go nowhere.
    static std::shared_ptr<UserNotificationCenter> defaultCenter();
    static void setDefaultCenter(std::shared_ptr<UserNotificationCenter> center);
};

}  // namespace tavo::platform
