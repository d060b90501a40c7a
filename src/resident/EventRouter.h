#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/NotificationCenter.h"

namespace tavo {

class ApiClient;
class SessionState;

// Where the resident application's in-process notifications lead: stream
// events ("serverSentEvent") to the first online processing and to the web
// side's font actions, the messages of finished synchronizations
// ("fmCommonMessage") to user notifications, the fonts the font manager made
// available to their deactivation when the account says so, and refused
// requests ("errorEvent") to the forced logout. The handlers run on the
// posting thread; font actions go to the serial queue, the first online
// processing to the main queue. Always owned through a shared_ptr.
class EventRouter : public std::enable_shared_from_this<EventRouter> {
public:
    struct Links {
        // The account state.
        std::function<void()> applicationDidFinishLaunchingOrOnlineFirstDetection;
        std::function<void()> forcedLogout;
        // The font side.
        std::function<void(const UserInfo& userInfo)> activateFontOnWeb;
        std::function<void(const UserInfo& userInfo)> deactivateFontOnWeb;
        std::function<void(const std::vector<std::string>& paths)> deactivateFromAvailableFonts;
    };

    EventRouter(ApiClient& client, SessionState& sessionState);
    EventRouter(const EventRouter&) = delete;
    EventRouter& operator=(const EventRouter&) = delete;

    void setLinks(Links links) { links_ = std::move(links); }

    void sseServerSentEvent(const Notification& notification);
    void notifyFMCommonMessage(const Notification& notification);
    void changeNoticeRegisteredFontManager(const Notification& notification);
    void apiErrorDetection(const Notification& notification);

private:
    ApiClient& client_;
    SessionState& sessionState_;
    Links links_;
};

}  // namespace tavo
