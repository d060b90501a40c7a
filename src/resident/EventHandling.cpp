// What the resident application does with stream events, with the messages
// of finished synchronizations and downloads, and with fonts the font
// manager made available by itself.
#include "events/SSEConstants.h"
#include "fonts/FontManagementController.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/NotificationUtil.h"
#include "platform/StatusItem.h"
#include "resident/AppDelegate.h"
#include "resident/FileURL.h"
#include "resident/ResidentNames.h"
#include "service/ApiClient.h"
#include "session/SessionState.h"

namespace tavo {

namespace {

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i ? separator : std::string()) + parts[i];
    return text;
}

}  // namespace

std::vector<std::string> AppDelegate::fontDownloadComplateList() const {
    std::lock_guard lock(mutex_);
    return fontDownloadComplateList_;
}

void AppDelegate::setFontDownloadComplateList(std::vector<std::string> names) {
    std::lock_guard lock(mutex_);
    fontDownloadComplateList_ = std::move(names);
}

void AppDelegate::sseServerSentEvent(const Notification& notification) {
    const UserInfo& info = notification.userInfo;
    if (info.empty())
        return;
    if (info.count(kPCUserInfoKeyOpen) && !session().isOnlineFirstProcessingExecuted) {
        submitToMainQueue(
            [](AppDelegate& self) { self.applicationDidFinishLaunchingOrOnlineFirstDetection(); });
    }
    // "close" needs nothing here: the stream schedules its own reconnection.
    if (info.count(kEventFontActivate)) {
        submitToSerialQueue(
            [info](AppDelegate& self) { self.env_.fontController->activateFontOnWeb(info); });
    }
    if (info.count(kEventFontDeactivate)) {
        submitToSerialQueue(
            [info](AppDelegate& self) { self.env_.fontController->deactivateFontOnWeb(info); });
    }
    if (info.count(kEventFontAllUninstall))
        ILog("Event All-Uninstall-Deactivated");
}

void AppDelegate::notifyFMCommonMessage(const Notification& notification) {
    TAVO_DLOG("start");
    const auto* heading = userInfoText(notification.userInfo, kFMCommonMessageHeading);
    const auto* detail = userInfoText(notification.userInfo, kFMCommonMessageDetail);
    if (detail)
        NotificationUtil::deliverNotificationWithSubtile(
            heading ? std::optional(localized(*heading)) : std::nullopt, localized(*detail));
    TAVO_DLOG("end");
}

void AppDelegate::changeNoticeRegisteredFontManager(const Notification& notification) {
    const auto it = notification.userInfo.find(kFontManagerAvailableFontURLsAdded);
    if (it == notification.userInfo.end())
        return;
    const auto* urls = std::any_cast<std::vector<std::string>>(&it->second);
    if (!urls)
        return;
    std::vector<std::string> paths;
    for (const auto& url : *urls)
        if (auto path = pathFromFileURL(url); !path.empty())
            paths.push_back(std::move(path));
    TAVO_DLOG("targetFonts: %@", joined(paths, ","));
    if (client().isLoginStatus) {
        ILog("Something to do for font checker with logged in (%ld fonts)",
             static_cast<long>(paths.size()));
        env_.fontController->deactivateFromAvailableFonts(paths);
    } else {
        ILog("Nothing to do for font checker without logged in (%ld fonts)",
             static_cast<long>(paths.size()));
    }
}

void AppDelegate::fontDownLoadNotification() {
    TAVO_DLOG("start");
    isDownloadCompleteStatus = true;
    submitToMainQueue([](AppDelegate& self) {
        if (!self.env_.statusItem)
            return;
        self.env_.statusItem->setItemTitle(kMenuTagAccountInfo, localized("Font Download Success"));
        self.env_.statusItem->setImage(kStatusIconFinish);
    });
    const auto names = fontDownloadComplateList();
    const std::string subtitle = localized("Font Download Success");
    const std::string text =
        std::to_string(names.size()) + localized("Font Count") + "\n" + joined(names, ", ");
    ILog("Delivered Notification: %@", subtitle);
    NotificationUtil::deliverNotificationWithSubtile(subtitle, text);
    TAVO_DLOG("end");
}

}  // namespace tavo
