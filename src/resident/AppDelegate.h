#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "fonts/FontSyncGate.h"
#include "foundation/Clock.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Timer.h"
#include "service/Reachability.h"

namespace tavo {

class ApiClient;
class FontManagementController;
class ProgramController;
namespace platform {
class FontManager;
class PowerEvents;
class StatusItem;
class Windows;
class Workspace;
}  // namespace platform

// What the resident application works with. The program passes the shared
// instances and the platform's backends; tests pass their own.
struct AppEnvironment {
    ApiClient* apiClient = nullptr;  // never null once the delegate runs
    std::shared_ptr<ProgramController> programController;
    std::shared_ptr<FontManagementController> fontController;
    std::shared_ptr<platform::Workspace> workspace;
    std::shared_ptr<platform::PowerEvents> powerEvents;  // none: no sleep and wake signals
    std::shared_ptr<platform::FontManager> fontManager;  // its fonts-added events
    std::shared_ptr<platform::StatusItem> statusItem;
    std::shared_ptr<platform::Windows> windows;
    Reachability::Source reachabilitySource;  // none: from the installed factory
    std::vector<std::string> arguments;       // the process's arguments, program name first
    std::function<void()> terminate;          // ends the application's main loop
};

// The resident application's controller: start-up and shutdown, the timers
// and connectivity, the reaction to stream events and in-process
// notifications, and the account state with logout.
//
// Start-up, shutdown, timers and status-item work run on the main thread;
// every long operation runs on the client's serial queue. Always owned
// through a shared_ptr: timers, observers and queued work hold it weakly.
class AppDelegate : public std::enable_shared_from_this<AppDelegate> {
public:
    explicit AppDelegate(AppEnvironment environment);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // ---- start-up and shutdown (AppDelegate.cpp)
    void applicationDidFinishLaunching();
    void installerCheckObservation();
    bool doubleStartupOSOwnUserProcesses();
    void applicationWillTerminate();
    // The application's user notifications show even while it is active.
    bool shouldPresentNotification() const { return true; }

    // ---- periodic work and connectivity (PeriodicWork.cpp)
    void updateHalfHourTimer();
    void updateTwentyFourHourTimer();
    void performRegularProcessing();
    void updateUserRefreshTokenScheduled();
    void settingScheduleCheckUserRereshToken();
    void sseWatchDog();
    void reachabilityChanged(const Notification& notification);
    void receiveSleepNotification();
    void receiveAwakeNotification();
    void apiErrorDetection(const Notification& notification);

    // ---- event handling (EventHandling.cpp)
    void sseServerSentEvent(const Notification& notification);
    void notifyFMCommonMessage(const Notification& notification);
    void changeNoticeRegisteredFontManager(const Notification& notification);
    void fontDownLoadNotification();

    // ---- status item and its menu (StatusMenu.cpp)
    void setStatusItem();
    void menuWillOpen();
    void menuDidClose();
    void openMenu();
    // Sets the status icon on the main queue (at once on the main thread).
    void setStatusIcon(const std::string& imageName);
    void setStatusItemEnabled(bool enabled);

    // ---- the account line (CustomerItem.cpp)
    // From the user configuration.
    std::string updateCustomerItem() const;
    // Brings the stored name and mail address up to date with the server's;
    // true when one changed. Blocking.
    bool getCustomerItemByServer();
    // The account line, fetched again from the server when online. Blocking.
    std::string setCustomerItemMenu();

    // ---- menu actions (MenuActions.cpp); the page addresses are fetched
    // off the main thread, so the tray never waits for the network.
    void menuItemActivated(int tag);
    void account();
    void font();
    void syncfont();
    void info();
    void showversion();
    void helppage();
    void logout();
    void optionupdate();
    // The help page address: the server's, else the stored one, else the
    // built-in one; stored for the next time. Blocking.
    void updateHelpURL(const std::function<void(const std::string&)>& completion);

    // ---- download and update progress in the status item (StatusProgress.cpp)
    void statusMenuFontDownload(const Notification& notification);
    void statusMenuProgressUpdate(const Notification& notification);
    void statusIconUpdateAnimation();
    // The status line during downloads: text, a line break, the font names
    // cut to 20 characters.
    std::string setFontDownLoadNameList(const std::string& text) const;

    // ---- account state and logout (AccountState.cpp)
    void applicationDidFinishLaunchingOrOnlineFirstDetection();
    void setApiClient();
    void getAccessToken(int attempts);
    void performLogout(bool forced);
    void forcedLogout();

    // ---- state
    std::atomic<bool> appUpdated{false};
    std::atomic<bool> isRedBadge{false};
    std::atomic<bool> isDownloadCompleteStatus{false};
    std::atomic<bool> isInstallerStatus{false};
    std::atomic<bool> openingHelpPage{false};
    std::atomic<long> statusMenuIconAnimationFrameCount{0};
    std::string apiServerAddress() const;
    std::string sseServerAddress() const;
    std::optional<Clock::SystemTime> updateTwentyFourHourTimerDate() const;
    void setUpdateTwentyFourHourTimerDate(std::optional<Clock::SystemTime> date);
    std::vector<std::string> fontDownloadComplateList() const;
    void setFontDownloadComplateList(std::vector<std::string> names);

    // Download batch (main thread only).
    long progress = 0;
    long fontDownloadCount = 0;
    long fontDownloadSumCount = 0;
    long fontDownloadErrorSumCount = 0;
    std::string fontNameList;

    // Timers (main thread only).
    std::shared_ptr<Timer> halfHourCheckTimer;
    std::shared_ptr<Timer> twentyFourHourCheckTimer;
    std::shared_ptr<Timer> installerCheckTimer;
    std::shared_ptr<Timer> statusMenuIconAnimationTimer;
    std::shared_ptr<Timer> statusMenuIconAnimationTimerP;

    std::shared_ptr<Reachability> reachability() const { return reachability_; }
    const AppEnvironment& environment() const { return env_; }

private:
    ApiClient& client() const { return *env_.apiClient; }
    // Runs work on the serial queue, after the queue's debug line.
    void submitToSerialQueue(std::function<void(AppDelegate&)> work);
    // Runs work on the main queue with this delegate, if it is still there.
    void submitToMainQueue(std::function<void(AppDelegate&)> work);
    void addObserver(const std::string& name, void (AppDelegate::*handler)(const Notification&));
    void startPowerEvents();
    void loadServerAddresses();
    // Starts a full synchronization on the serial queue unless one is
    // queued or running; the log lines name the occasion.
    bool startSynchronization(const char* skipLine, const char* startLine, const char* runLine);
    void runSynchronization(FontSyncGate::Hold hold);
    bool isOwnDeviceRegistered(bool* fetched);
    void invalidateTimers();
    void startIconAnimation(std::shared_ptr<Timer>& timer);
    static void stopIconAnimation(std::shared_ptr<Timer>& timer);
    void setStatusLine(const std::string& text);
    // Fetches a page address off the main thread and opens it.
    void openPageInBackground(const char* name,
                              std::function<std::optional<std::string>(ApiClient&)> fetch);

    AppEnvironment env_;
    mutable std::mutex mutex_;
    std::string apiServerAddress_;
    std::string sseServerAddress_;
    std::optional<Clock::SystemTime> updateTwentyFourHourTimerDate_;
    std::vector<std::string> fontDownloadComplateList_;
    std::vector<NotificationCenter::Token> observers_;
    std::shared_ptr<Reachability> reachability_;
    std::atomic<bool> loggingOut_{false};
    std::mt19937 random_;
};

}  // namespace tavo
