// The status item as far as the account state needs it: building it, its
// icon, its button, and what follows a completed sign-in. The menu's
// entries and progress lines build on these.
#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "platform/StatusItem.h"
#include "resident/AppDelegate.h"
#include "resident/ResidentNames.h"
#include "service/ApiClient.h"
#include "update/ProgramController.h"

namespace tavo {

void AppDelegate::setStatusItem() {
    if (!env_.statusItem)
        return;
    env_.statusItem->setTitle(kClientAppName);
    const bool optionalUpdate =
        env_.programController && env_.programController->isAvailableOptionalUpdate();
    TAVO_DLOG("isAvailableOptionalUpdate = %@", optionalUpdate ? "YES" : "NO");
    env_.statusItem->setItemHidden(kMenuTagUpdate, !optionalUpdate);
    TAVO_DLOG("menuItemUpdate.hidden = %@", optionalUpdate ? "NO" : "YES");
    if (optionalUpdate)
        isRedBadge = true;
    if (!client().isLoginStatus)
        env_.statusItem->setImage(kStatusIconLogout);
    else if (appUpdated)
        env_.statusItem->setImage(kStatusIconFinish);
    else if (isRedBadge)
        env_.statusItem->setImage(kStatusIconNotified);
    else
        env_.statusItem->setImage(kStatusIconLogin);
}

void AppDelegate::openMenu() {
    TAVO_DLOG("start");
    ILog("Signed in: the status menu follows the account");
    client().isLoginStatus = true;
    settingScheduleCheckUserRereshToken();
    TAVO_DLOG("calling connectNotifications");
    if (env_.programController)
        env_.programController->connectNotifications();
    setStatusIcon(appUpdated ? kStatusIconFinish
                             : (isRedBadge ? kStatusIconNotified : kStatusIconLogin));
    startSynchronization(
        "Skip authenticated performing font synchronization because of already running",
        "Perfroming font synchronization at authentication",
        "Authenticated performing font synchronization");
    TAVO_DLOG("end");
}

std::string AppDelegate::updateCustomerItem() const {
    ILog("Start AppDelegate update customer item");
    const auto config = Config::userConfig();
    const auto value = [&](const char* key) {
        return config ? Config::decryptedValue(*config, key).value_or("") : std::string();
    };
    const std::string text =
        value(kConfigLastName) + " " + value(kConfigFirstName) + "\n" + value(kConfigMailAddress);
    TAVO_DLOG("mutableAttString with account informatinon [%@]", text);
    ILog("End AppDelegate update customer item");
    return text;
}

void AppDelegate::setStatusIcon(const std::string& imageName) {
    if (MainQueue::isMainThread()) {
        if (env_.statusItem)
            env_.statusItem->setImage(imageName);
        return;
    }
    submitToMainQueue([imageName](AppDelegate& self) { self.setStatusIcon(imageName); });
}

void AppDelegate::setStatusItemEnabled(bool enabled) {
    if (MainQueue::isMainThread()) {
        if (env_.statusItem)
            env_.statusItem->setEnabled(enabled);
        return;
    }
    submitToMainQueue([enabled](AppDelegate& self) { self.setStatusItemEnabled(enabled); });
}

}  // namespace tavo
