#include "platform/linux/LoggingUserNotificationCenter.h"

#include "foundation/Log.h"

namespace tavo::platform {

void LoggingUserNotificationCenter::deliver(const UserNotification& notification) {
    ILog("User notification: title=[%@], subtitle=[%@], text=[%@]", notification.title,
         notification.subtitle, notification.informativeText);
}

}  // namespace tavo::platform
