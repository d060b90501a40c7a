#include "foundation/NotificationUtil.h"

#include "foundation/Const.h"
#include "foundation/Log.h"
#include "platform/UserNotificationCenter.h"

namespace tavo {

void NotificationUtil::deliverNotificationWithSubtile(const std::optional<std::string>& subtitle,
                                                      const std::optional<std::string>& informativeText) {
    platform::UserNotification notification;
    notification.title = kClientAppName;
    notification.subtitle = subtitle.value_or("-");
    notification.informativeText = informativeText.value_or("");
    platform::UserNotificationCenter::defaultCenter()->deliver(notification);
    ILog("Delivered Notification: %@", notification.subtitle);
}

void NotificationUtil::deliverNotificationWithSubtile(const std::optional<std::string>& subtitle) {
    deliverNotificationWithSubtile(subtitle, std::nullopt);
}

}  // namespace tavo
