#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "events/NotificationConnection.h"
#include "platform/StatusItem.h"
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

    // ---- what the update side uses of the program

    // Alerts and questions; none: nobody is asked (every question is declined).
    void setWindows(std::shared_ptr<platform::Windows> windows);
    // Ends this program (on the main queue).
    void setTerminateHandler(std::function<void()> terminate);
    // Shows the forced-update window; none: the program has no windows.
    void setForceUpdatePresenter(std::function<void()> present);
    // The key update archives must be signed with (base64 of its 32 bytes);
    // by default the main bundle's "TAVOUpdatePublicKey".
    void setUpdatePublicKey(std::string key);
    // The privileged helper; by default tavo-update-helper beside the
    // main bundle's executable.
    void setHelperPath(std::string path);
    // Bytes of the update download so far and expected (-1: unknown), on the
    // downloads' delegate queue.
    void setDownloadProgressHandler(std::function<void(std::int64_t, std::int64_t)> progress);

    // ---- the version to run and the next one (ProgramControllerUpdate.cpp)

    // At launch: the version the server names for this machine (online), or
    // the one stored last (offline); another installed version is started
    // and this program ends.
    void startSpecifiedVersionOnLine();
    void startSpecifiedVersionOffLine();
    void startSpecifiedVersion(const std::optional<std::string>& version);
    // Shows the forced-update window when a forced update is downloaded.
    void showForceUpdateDialog();
    // Starts the download of the next version's archive when one is due;
    // true when a download was started.
    bool nextVersionDownloadInBackground();
    bool isAvailableOptionalUpdate() const;
    // Asks the user whether to install the downloaded optional update.
    void confirmationDialogForOptionalUpdate();
    // Whether the user is an administrator; the error alert when not.
    bool checkAccountPrivilege();
    std::string getTemporaryUpdaterPath(const std::string& version) const;
    void saveVersionUserConfig(const std::string& version);

    std::string clientAppsVersion() const;
    bool clientAppsForcedUpdate() const { return clientAppsForcedUpdate_.load(); }
    bool isUpdaterDownloading() const { return isUpdaterDownloading_.load(); }
    void setUpdaterDownloading(bool value) { isUpdaterDownloading_ = value; }
    std::string updatePublicKey() const;
    void reportDownloadProgress(std::int64_t written, std::int64_t expected) const;

    // ---- applying the update (ProgramControllerApply.cpp)

    // Queues the worker on the serial queue.
    void startUpdate();
    // The worker: checks and extracts the archive, then hands the install
    // step to the main queue.
    void startFileCopy();
    bool isStartUpdate() const { return isStartUpdate_.load(); }

private:
    bool startUpdaterDownload(const std::string& version, const std::string& url, bool forced);
    struct Run;  // what the worker and the install step of one update share
    void performInstall(const std::shared_ptr<Run>& run);
    void relaunch(const std::shared_ptr<Run>& run);
    void failUpdate(const std::string& message);
    std::string helperPath() const;
    // Ends the program through the main queue.
    void terminateProgram();

    ApiClient& apiClient_;
    SessionState& sessionState_;
    std::shared_ptr<NotificationConnection> notifications_;

    mutable std::mutex updateMutex_;  // guards the texts and handlers below
    std::string clientAppsVersion_;
    std::shared_ptr<platform::Windows> windows_;
    std::function<void()> terminate_;
    std::function<void()> forceUpdatePresenter_;
    std::optional<std::string> updatePublicKey_;
    std::optional<std::string> helperPath_;
    std::function<void(std::int64_t, std::int64_t)> downloadProgress_;
    std::atomic<bool> clientAppsForcedUpdate_{false};
    std::atomic<bool> isUpdaterDownloading_{false};
    std::atomic<bool> isStartUpdate_{false};
};

}  // namespace tavo
