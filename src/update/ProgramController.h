#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "events/NotificationConnection.h"
#include "service/ApiClient.h"
#include "session/SessionState.h"

namespace tavo {

// The application's controller of updates and the owner of the
// notification stream's connection. The program uses the one shared
// instance; tests make their own with a client and session state of their
// own. Always owned through a shared_ptr: timers and queued work hold it weakly.
class ProgramController : public std::enable_shared_from_this<ProgramController> {
public:
    static std::shared_ptr<ProgramController> sharedInstance();
    ProgramController(ApiClient& apiClient, SessionState& sessionState);
    ~ProgramController();
    ProgramController(const ProgramController&) = delete;
    ProgramController& operator=(const ProgramController&) = delete;

    // ---- notification stream (events/NotificationConnection)

    void connectNotifications() { notifications_->connectNotifications(); }
    void disconnectNotifications() { notifications_->disconnectNotifications(); }
    void terminateSSERetryTimer() { notifications_->terminateSSERetryTimer(); }
    bool isActiveSSERetryTimer() const { return notifications_->isActiveSSERetryTimer(); }
    std::shared_ptr<ServerSentEvent> serverSentEvent() const {
        return notifications_->serverSentEvent();
    }
    // Hands one event to the connection as the stream would.
    void serverSentEvent(const std::shared_ptr<ServerSentEvent>& sse, const SSEEvents& event) {
        notifications_->serverSentEvent(sse, event);
    }
    std::optional<std::string> lastEventId() const { return notifications_->lastEventId(); }
    std::shared_ptr<Timer> sseRetryThereafterTimer() const {
        return notifications_->sseRetryThereafterTimer();
    }
    bool ssrClosing() const { return notifications_->ssrClosing(); }
    const std::shared_ptr<NotificationConnection>& notifications() const { return notifications_; }

    // ---- termination (ProgramController.cpp)

    // Stops the update timer and the pending reconnection, and closes the stream.
    void finish();

    // ---- updates (ProgramControllerUpdate.cpp)
    // The resident application calls these at their final places; until the
    // update side is built they check nothing and offer nothing.

    // At launch: the version the server names for this machine (online), or
    // the one stored last (offline).
    void startSpecifiedVersionOnLine();
    void startSpecifiedVersionOffLine();
    // Shows the forced-update window when a forced update is pending.
    void showForceUpdateDialog();
    // Downloads the next version's archive in the background when one is due.
    void nextVersionDownloadInBackground();
    bool isAvailableOptionalUpdate() const;
    // Offers the available optional update to the user.
    void confirmationDialogForOptionalUpdate();
    bool isStartUpdate() const { return isStartUpdate_.load(); }

private:
    ApiClient& apiClient_;
    SessionState& sessionState_;
    std::shared_ptr<NotificationConnection> notifications_;
    std::atomic<bool> isStartUpdate_{false};
};

}  // namespace tavo
