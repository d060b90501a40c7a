#include "platform/UserNotificationCenter.h"

#include <mutex>

namespace tavo::platform {

namespace {

// Until a program sets its centre, deliveries go nowhere.
class SilentUserNotificationCenter : public UserNotificationCenter {
public:
    void deliver(const UserNotification&) override {}
};

std::mutex& centerMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<UserNotificationCenter>& centerValue() {
    static std::shared_ptr<UserNotificationCenter> center =
        std::make_shared<SilentUserNotificationCenter>();
    return center;
}

}  // namespace

std::shared_ptr<UserNotificationCenter> UserNotificationCenter::defaultCenter() {
    std::lock_guard lock(centerMutex());
    return centerValue();
}

void UserNotificationCenter::setDefaultCenter(std::shared_ptr<UserNotificationCenter> center) {
    if (!center)
        center = std::make_shared<SilentUserNotificationCenter>();
    std::lock_guard lock(centerMutex());
    centerValue() = std::move(center);
}

}  // namespace tavo::platform
