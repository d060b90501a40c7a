#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>

#include "fonts/FontSyncGate.h"
#include "foundation/Clock.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Timer.h"

namespace tavo {

class ApiClient;
class FontManagementController;
class ProgramController;
class Reachability;
class SessionState;

// The periodic checks of the resident application: the half-hour check of
// tokens, device registration and event stream, the once-a-day regular
// processing, the refresh-token schedule, the stream watchdog, and the
// reactions to reachability, sleep and wake. Timers and the platform's
// callbacks run on the main thread; the network work on the client's serial
// queue. Always owned through a shared_ptr: timers and queued work hold it
// weakly.
class PeriodicWork : public std::enable_shared_from_this<PeriodicWork> {
public:
    // What the checks ask of the rest of the application.
    struct Links {
        // The account state.
        std::function<void(int attempts)> getAccessToken;
        std::function<void()> forcedLogout;
        // The status menu: the notice entry's title and the badge.
        std::function<void(const std::string& title)> setNoticeInfoTitle;
        std::function<void()> raiseNoticeBadge;
    };

    PeriodicWork(ApiClient& client, SessionState& sessionState,
                 std::shared_ptr<FontManagementController> fontController,
                 std::shared_ptr<ProgramController> programController);
    ~PeriodicWork();
    PeriodicWork(const PeriodicWork&) = delete;
    PeriodicWork& operator=(const PeriodicWork&) = delete;

    void setLinks(Links links) { links_ = std::move(links); }
    // The watcher whose changes reachabilityChanged() reports.
    void setReachability(std::shared_ptr<Reachability> reachability);

    void updateHalfHourTimer();
    void updateTwentyFourHourTimer();
    void performRegularProcessing();
    void updateUserRefreshTokenScheduled();
    void settingScheduleCheckUserRereshToken();
    void sseWatchDog();
    void reachabilityChanged(const Notification& notification);
    void receiveSleepNotification();
    void receiveAwakeNotification();

    // Stops both timers for good (shutdown).
    void invalidateTimers();

    // ---- state
    bool hasHalfHourCheckTimer() const { return halfHourCheckTimer_ != nullptr; }
    bool hasTwentyFourHourCheckTimer() const { return twentyFourHourCheckTimer_ != nullptr; }
    // When the last regular processing started; none before the first.
    std::optional<Clock::SystemTime> updateTwentyFourHourTimerDate() const;
    void setUpdateTwentyFourHourTimerDate(std::optional<Clock::SystemTime> date);

private:
    bool isOwnDeviceRegistered(bool* fetched);
    void runSynchronization(FontSyncGate::Hold hold);

    ApiClient& client_;
    SessionState& sessionState_;
    std::shared_ptr<FontManagementController> fontController_;
    std::shared_ptr<ProgramController> programController_;  // none: no stream or update side
    Links links_;

    // Main thread only.
    std::shared_ptr<Timer> halfHourCheckTimer_;
    std::shared_ptr<Timer> twentyFourHourCheckTimer_;
    std::shared_ptr<Reachability> reachability_;

    mutable std::mutex mutex_;
    std::optional<Clock::SystemTime> updateTwentyFourHourTimerDate_;
    std::mt19937 random_;
};

}  // namespace tavo
