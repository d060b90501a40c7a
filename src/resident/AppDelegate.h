#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/NotificationCenter.h"
#include "foundation/Timer.h"
#include "service/Reachability.h"

namespace tavo {

class AccountState;
class ApiClient;
class EventRouter;
class FontManagementController;
class PeriodicWork;
class ProgramController;
class SessionState;
class StatusMenuController;
class StatusProgress;
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
    ApiClient* apiClient = nullptr;        // never null once the delegate runs
    SessionState* sessionState = nullptr;  // never null once the delegate runs
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

// The resident application: start-up and shutdown, the refusal of a second
// instance and the installer watch. It creates the application's
// controllers, links each to the operations of the others it needs, and
// hands each the notifications and platform signals it handles:
// - StatusMenuController with StatusProgress: the tray;
// - PeriodicWork: the timers and connectivity;
// - AccountState: tokens, the first online processing and logout;
// - EventRouter: stream events and the other in-process notifications.
// Main thread. Always owned through a shared_ptr: the installer watch holds
// it weakly.
class AppDelegate : public std::enable_shared_from_this<AppDelegate> {
public:
    explicit AppDelegate(AppEnvironment environment);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    void applicationDidFinishLaunching();
    void installerCheckObservation();
    bool doubleStartupOSOwnUserProcesses();
    void applicationWillTerminate();
    // The application's user notifications show even while it is active.
    bool shouldPresentNotification() const { return true; }

    // ---- state
    std::string apiServerAddress() const;
    std::string sseServerAddress() const;
    bool isInstallerWatchRunning() const { return installerCheckTimer_ != nullptr; }
    std::shared_ptr<Reachability> reachability() const { return reachability_; }
    const AppEnvironment& environment() const { return env_; }

    // ---- the controllers
    StatusMenuController& statusMenu() const { return *statusMenu_; }
    StatusProgress& statusProgress() const { return *statusProgress_; }
    PeriodicWork& periodicWork() const { return *periodicWork_; }
    AccountState& accountState() const { return *accountState_; }
    EventRouter& eventRouter() const { return *eventRouter_; }

private:
    ApiClient& client() const { return *env_.apiClient; }
    SessionState& session() const { return *env_.sessionState; }
    void linkControllers();
    template <typename T>
    void addObserver(const std::string& name, const std::shared_ptr<T>& target,
                     void (T::*handler)(const Notification&));
    void startPowerEvents();
    void loadServerAddresses();

    AppEnvironment env_;
    std::shared_ptr<StatusProgress> statusProgress_;
    std::shared_ptr<StatusMenuController> statusMenu_;
    std::shared_ptr<PeriodicWork> periodicWork_;
    std::shared_ptr<AccountState> accountState_;
    std::shared_ptr<EventRouter> eventRouter_;

    mutable std::mutex mutex_;
    std::string apiServerAddress_;
    std::string sseServerAddress_;
    std::atomic<bool> isInstallerStatus_{false};
    std::shared_ptr<Timer> installerCheckTimer_;  // main thread only
    std::vector<NotificationCenter::Token> observers_;
    std::shared_ptr<Reachability> reachability_;
};

}  // namespace tavo
