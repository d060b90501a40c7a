// The status item: building it, opening and closing its menu, its icon,
// and what follows a completed sign-in.
#include "foundation/ConcurrentQueue.h"
#include "foundation/Const.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "platform/StatusItem.h"
#include "resident/AppDelegate.h"
#include "resident/ResidentNames.h"
#include "service/ApiClient.h"
#include "session/SessionState.h"
#include "update/ProgramController.h"

namespace tavo {

namespace {

constexpr int kFirstMenuTag = kMenuTagAccountInfo;
constexpr int kLastMenuTag = kMenuTagUpdate;

}  // namespace

void AppDelegate::setStatusItem() {
    if (!env_.statusItem)
        return;
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    env_.statusItem->setDelegate({
        [weak] {
            if (auto self = weak.lock())
                self->menuWillOpen();
        },
        [weak] {
            if (auto self = weak.lock())
                self->menuDidClose();
        },
        [weak](int tag) {
            if (auto self = weak.lock())
                self->menuItemActivated(tag);
        },
    });
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

void AppDelegate::menuWillOpen() {
    ILog("Opening menu");
    if (!env_.statusItem)
        return;
    auto& item = *env_.statusItem;
    const bool windowShown = session().isWindowAppear(kWindowAppearAnything);
    TAVO_DLOG("isWindowAppear = %d", windowShown ? 1 : 0);
    if (windowShown) {
        ILog("Already opened");
        for (int tag = kFirstMenuTag; tag <= kLastMenuTag; ++tag)
            item.setItemHidden(tag, true);
        return;
    }
    if (!client().isLoginStatus) {
        ILog("Opening menu while signed out: showing the sign-in window");
        for (int tag = kFirstMenuTag; tag <= kLastMenuTag; ++tag)
            item.setItemHidden(tag, true);
        item.setImage(kStatusIconLogout);
        if (env_.windows)
            env_.windows->showSignInWindow();
        return;
    }
    ILog("Opening menu while signed in");
    for (int tag = kFirstMenuTag; tag <= kLastMenuTag; ++tag)
        item.setItemHidden(tag, false);

    const bool animating = statusMenuIconAnimationTimer || statusMenuIconAnimationTimerP;
    if (isRedBadge) {
        if (isDownloadCompleteStatus)
            item.setImage(kStatusIconLogin);
    } else if (isDownloadCompleteStatus || !animating) {
        item.setImage(kStatusIconLogin);
    }

    const bool updating = env_.programController && env_.programController->isStartUpdate();
    const bool optionalUpdate =
        env_.programController && env_.programController->isAvailableOptionalUpdate();
    item.setItemHidden(kMenuTagLogout, updating);
    item.setItemHidden(kMenuTagUpdate, updating || !optionalUpdate);

    if (appUpdated) {
        submitToMainQueue([](AppDelegate& self) {
            self.setStatusLine(localized("Update completed"));
            self.appUpdated = false;
        });
    } else if (!animating && !isDownloadCompleteStatus) {
        // The stored account line at once; the server's, should it differ,
        // as soon as it has answered, so the menu never waits for the network.
        submitToMainQueue([](AppDelegate& self) {
            self.setStatusLine(self.updateCustomerItem());
            if (!self.client().isOnlineStatus())
                return;
            std::weak_ptr<AppDelegate> weak = self.weak_from_this();
            globalQueue().async([weak] {
                auto self = weak.lock();
                if (!self || !self->getCustomerItemByServer())
                    return;
                self->submitToMainQueue([](AppDelegate& self) {
                    // A download or update that began meanwhile owns the line.
                    if (!self.statusMenuIconAnimationTimer && !self.statusMenuIconAnimationTimerP)
                        self.setStatusLine(self.updateCustomerItem());
                });
            });
        });
    }
    isDownloadCompleteStatus = false;
}

void AppDelegate::menuDidClose() {
    if (env_.statusItem)
        env_.statusItem->setImage(client().isLoginStatus ? kStatusIconLogin : kStatusIconLogout);
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
