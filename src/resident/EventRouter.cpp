// What the resident application does with stream events, with the messages
// of finished synchronizations, with fonts the font manager made available
// by itself, and with refused requests.
#include "resident/EventRouter.h"

#include "events/SSEConstants.h"
#include "events/SSEEvents.h"
#include "fonts/FontManagementController.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/NotificationUtil.h"
#include "resident/FileURL.h"
#include "resident/ResidentQueues.h"
#include "resident/WeakCall.h"
#include "service/ApiClient.h"
#include "service/OVError.h"
#include "service/ResultCodes.h"
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

EventRouter::EventRouter(ApiClient& client, SessionState& sessionState)
    : client_(client), sessionState_(sessionState) {}

void EventRouter::sseServerSentEvent(const Notification& notification) {
    const UserInfo& info = notification.userInfo;
    if (info.empty())
        return;
    if (info.count(kPCUserInfoKeyOpen) && !sessionState_.isOnlineFirstProcessingExecuted) {
        submitToMainQueue(shared_from_this(), [](EventRouter& self) {
            callIfSet(self.links_.applicationDidFinishLaunchingOrOnlineFirstDetection);
        });
    }
    // "close" needs nothing here: the stream schedules its own reconnection.
    if (info.count(kEventFontActivate)) {
        submitToSerialQueue(client_, shared_from_this(), [info](EventRouter& self) {
            callIfSet(self.links_.activateFontOnWeb, info);
        });
    }
    if (info.count(kEventFontDeactivate)) {
        submitToSerialQueue(client_, shared_from_this(), [info](EventRouter& self) {
            callIfSet(self.links_.deactivateFontOnWeb, info);
        });
    }
    if (info.count(kEventFontAllUninstall))
        ILog("Event All-Uninstall-Deactivated");
}

void EventRouter::notifyFMCommonMessage(const Notification& notification) {
    TAVO_DLOG("start");
    const auto* heading = userInfoText(notification.userInfo, kFMCommonMessageHeading);
    const auto* detail = userInfoText(notification.userInfo, kFMCommonMessageDetail);
    if (detail)
        NotificationUtil::deliverNotificationWithSubtile(
            heading ? std::optional(localized(*heading)) : std::nullopt, localized(*detail));
    TAVO_DLOG("end");
}

void EventRouter::changeNoticeRegisteredFontManager(const Notification& notification) {
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
    if (client_.isLoginStatus) {
        ILog("Something to do for font checker with logged in (%ld fonts)",
             static_cast<long>(paths.size()));
        callIfSet(links_.deactivateFromAvailableFonts, paths);
    } else {
        ILog("Nothing to do for font checker without logged in (%ld fonts)",
             static_cast<long>(paths.size()));
    }
}

void EventRouter::apiErrorDetection(const Notification& notification) {
    TAVO_DLOG("start");
    const auto text = [&](const char* key) {
        const auto* value = userInfoText(notification.userInfo, key);
        return value ? *value : std::string();
    };
    const std::string code = text(kOVErrorUserInfoKeyCode);
    if (hasIntegerValue(code) && integerValue(code) == kHttpResponceCodeRefreshTokenExpired) {
        ILog("Forced logout because of expired refresh token: code=%@, message=%@", code,
             text(kOVErrorUserInfoKeyMessage));
        callIfSet(links_.forcedLogout);
    }
    TAVO_DLOG("end");
}

}  // namespace tavo
