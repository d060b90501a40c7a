// Start-up and shutdown of the resident application, the refusal of a
// second instance and the watch for a running installer; the controllers
// and how they are linked.
#include "resident/AppDelegate.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "fonts/FontManagementController.h"
#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "foundation/SerialQueue.h"
#include "platform/Bundle.h"
#include "platform/FontManager.h"
#include "platform/PowerEvents.h"
#include "platform/StatusItem.h"
#include "platform/SystemInfo.h"
#include "platform/Workspace.h"
#include "resident/AccountState.h"
#include "resident/EventRouter.h"
#include "resident/FileURL.h"
#include "resident/PeriodicWork.h"
#include "resident/ResidentNames.h"
#include "resident/StatusMenuController.h"
#include "resident/StatusProgress.h"
#include "resident/WeakCall.h"
#include "service/ApiClient.h"
#include "service/OVError.h"
#include "session/SessionState.h"
#include "update/ProgramController.h"
#include "update/UpdateNotifications.h"

namespace tavo {

namespace {

constexpr const char* kSerialDispatchQueueLabel = "TAVO.SerialDispatchQueue";

std::string orEmptyMark(const std::string& text) {
    return text.empty() ? std::string("(empty)") : text;
}

std::string executableURL() {
    std::error_code ec;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("(empty)") : "file://" + path.string();
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

AppDelegate::AppDelegate(AppEnvironment environment) : env_(std::move(environment)) {
    statusProgress_ = std::make_shared<StatusProgress>(client(), env_.fontController->chainState(),
                                                       env_.statusItem);
    statusMenu_ = std::make_shared<StatusMenuController>(
        StatusMenuController::Context{client(), session(), env_.programController, env_.statusItem,
                                      env_.windows, env_.workspace, statusProgress_});
    periodicWork_ = std::make_shared<PeriodicWork>(client(), session(), env_.fontController,
                                                   env_.programController);
    accountState_ = std::make_shared<AccountState>(client(), session(), env_.fontController,
                                                   env_.programController);
    eventRouter_ = std::make_shared<EventRouter>(client(), session());
    if (env_.programController) {
        // The update asks and alerts through the application's windows, and
        // ends the application after starting the new version.
        env_.programController->setWindows(env_.windows);
        env_.programController->setTerminateHandler(env_.terminate);
    }
    linkControllers();
}

// Each controller gets the few operations of the others it needs; the calls
// hold their targets weakly, so no controller keeps another alive.
void AppDelegate::linkControllers() {
    statusMenu_->setLinks({
        weakCall(accountState_, &AccountState::startSynchronization),
        weakCall(accountState_, &AccountState::performLogout),
        weakCall(periodicWork_, &PeriodicWork::settingScheduleCheckUserRereshToken),
        [weak = std::weak_ptr<FontManagementController>(env_.fontController)] {
            auto controller = weak.lock();
            return controller && controller->syncGate().inFontSynchroizing();
        },
    });
    if (env_.fontController)
        env_.fontController->syncGate().setChangeHandler(
            [menu = std::weak_ptr<StatusMenuController>(statusMenu_)](bool) {
                if (auto self = menu.lock())
                    self->synchronizingChanged();
            });
    periodicWork_->setLinks({
        weakCall(accountState_, &AccountState::getAccessToken),
        weakCall(accountState_, &AccountState::forcedLogout),
        weakCall(statusMenu_, &StatusMenuController::setNoticeInfoTitle),
        weakCall(statusMenu_, &StatusMenuController::raiseNoticeBadge),
    });
    accountState_->setLinks({
        weakCall(statusMenu_, &StatusMenuController::setStatusItemEnabled),
        weakCall(statusMenu_, &StatusMenuController::showSignedOut),
        weakCall(statusProgress_, &StatusProgress::resetIconAnimationFrame),
        weakCall(periodicWork_, &PeriodicWork::updateHalfHourTimer),
        weakCall(periodicWork_, &PeriodicWork::updateTwentyFourHourTimer),
    });
    EventRouter::Links routes{
        weakCall(accountState_, &AccountState::applicationDidFinishLaunchingOrOnlineFirstDetection),
        weakCall(accountState_, &AccountState::forcedLogout),
        {},
        {},
        {},
    };
    if (env_.fontController) {
        routes.activateFontOnWeb =
            weakCall(env_.fontController, &FontManagementController::activateFontOnWeb);
        routes.deactivateFontOnWeb =
            weakCall(env_.fontController, &FontManagementController::deactivateFontOnWeb);
        routes.deactivateFromAvailableFonts =
            weakCall(env_.fontController, &FontManagementController::deactivateFromAvailableFonts);
    }
    eventRouter_->setLinks(std::move(routes));
}

AppDelegate::~AppDelegate() {
    for (auto token : observers_)
        NotificationCenter::defaultCenter().removeObserver(token);
    if (reachability_)
        reachability_->stopNotifier();
    if (env_.powerEvents)
        env_.powerEvents->stop();
    if (env_.fontManager)
        env_.fontManager->setFontsAddedHandler({});
    if (env_.fontController)
        env_.fontController->syncGate().setChangeHandler({});
}

std::string AppDelegate::apiServerAddress() const {
    std::lock_guard lock(mutex_);
    return apiServerAddress_;
}

std::string AppDelegate::sseServerAddress() const {
    std::lock_guard lock(mutex_);
    return sseServerAddress_;
}

template <typename T>
void AppDelegate::addObserver(const std::string& name, const std::shared_ptr<T>& target,
                              void (T::*handler)(const Notification&)) {
    observers_.push_back(
        NotificationCenter::defaultCenter().addObserver(name, weakCall(target, handler)));
}

// ---- start-up

void AppDelegate::applicationDidFinishLaunching() {
    ILog("Starting version=[%@](%@)", Const::getCurrentAppVersion(),
         Const::getCurrentBuildNumber());
    ILog("Module path=[%@]", executableURL());

    Config::setAppLogMode();

    const std::string hostName = platform::SystemInfo::hostName();
    const std::string userName = platform::SystemInfo::loginName();

    bool appUpdated = false;
    for (const auto& argument : env_.arguments)
        if (argument == kAppArgUpdated)
            appUpdated = true;
    statusMenu_->setAppUpdated(appUpdated);

    if (doubleStartupOSOwnUserProcesses()) {
        if (env_.terminate)
            env_.terminate();
        return;
    }

    const auto userConfig = Config::userConfig();
    ILog("User name=[%@], host name=[%@]", userName, hostName);
    const bool configured = userConfig.has_value();
    if (configured)
        ILog("Loaded user configuration: %@", Config::userConfigPath().value_or("(empty)"));

    const std::string fontFolder = Const::userFontDirectoryPath().value_or("");
    if (!isDirectory(fontFolder))
        ILog("Font directory does not exist.: %@", fontFolder);

    loadServerAddresses();

    auto queue = std::make_shared<SerialQueue>(kSerialDispatchQueueLabel);
    client().setSerialDispatchQueue(queue);
    queue->async([label = queue->label()] {
        TAVO_DLOG("Serial dispatch queue label = [%s]", label.c_str());
    });

    if (!configured) {
        isInstallerStatus_ = false;
        TAVO_DLOG("register installerCheckObservation");
        std::weak_ptr<AppDelegate> weak = weak_from_this();
        installerCheckTimer_ =
            Timer::scheduledTimer(seconds(kInstallerCheckInterval), true, [weak] {
                if (auto self = weak.lock())
                    self->installerCheckObservation();
            });
    }

    ILog("Perform to add observer for notification");
    startPowerEvents();
    TAVO_DLOG("Observation registered");

    addObserver(kPCNotificationKeyUpdateProgress, statusProgress_,
                &StatusProgress::statusMenuProgressUpdate);
    addObserver(kOVErrorNotificationKeyErrorEvent, eventRouter_, &EventRouter::apiErrorDetection);
    addObserver(kFMUpdateProgressNotification, statusProgress_,
                &StatusProgress::statusMenuFontDownload);
    addObserver(kSSENotificationKeyServerSentEvent, eventRouter_, &EventRouter::sseServerSentEvent);
    addObserver(kFMCommonMessageNotification, eventRouter_, &EventRouter::notifyFMCommonMessage);

    TAVO_DLOG("calling setApiClient");
    accountState_->setApiClient(apiServerAddress(), sseServerAddress());

    std::weak_ptr<StatusMenuController> menu = statusMenu_;
    observers_.push_back(NotificationCenter::defaultCenter().addObserver(
        kLMUserInfoKeyLoginSucess, [menu](const Notification&) {
            if (auto self = menu.lock())
                self->openMenu();
        }));
    if (env_.fontManager) {
        std::weak_ptr<EventRouter> router = eventRouter_;
        env_.fontManager->setFontsAddedHandler([router](const std::vector<std::string>& paths) {
            if (auto self = router.lock())
                self->changeNoticeRegisteredFontManager(fontsAddedNotification(paths));
        });
    }

    // Reachability of the delivery API server itself: a server on this
    // machine is always reachable, one elsewhere needs a route to it.
    reachability_ = Reachability::reachabilityWithURL(apiServerAddress(), env_.reachabilitySource);
    if (!reachability_)
        reachability_ = Reachability::reachabilityForInternetConnection(env_.reachabilitySource);
    periodicWork_->setReachability(reachability_);
    addObserver(kReachabilityChangedNotification, periodicWork_,
                &PeriodicWork::reachabilityChanged);
    if (reachability_ && !reachability_->startNotifier())
        WLog("Reachability changes cannot be watched; the client stays as it is now");

    statusMenu_->setStatusItem();

    if (!client().isOnlineStatus()) {
        ILog("Perform process launched with offline");
        accountState_->applicationDidFinishLaunchingOrOnlineFirstDetection();
    }
}

void AppDelegate::loadServerAddresses() {
    // The server configuration's addresses, each else the built-in one.
    const std::string api = Config::deliveServerName();
    const std::string sse = Config::noticeServerName();
    {
        std::lock_guard lock(mutex_);
        apiServerAddress_ = api;
        sseServerAddress_ = sse;
    }
    ILog("Using apiServerAddress=[%@]", api);
    ILog("Using sseServerAddress=[%@]", sse);
}

void AppDelegate::startPowerEvents() {
    if (!env_.powerEvents)
        return;
    // The signals arrive on the source's thread; the handlers belong to the
    // main thread, like the timers they touch.
    auto sleep = weakCall(periodicWork_, &PeriodicWork::receiveSleepNotification);
    auto wake = weakCall(periodicWork_, &PeriodicWork::receiveAwakeNotification);
    const bool started = env_.powerEvents->start([sleep] { MainQueue::main().async(sleep); },
                                                 [wake] { MainQueue::main().async(wake); });
    if (!started)
        ILog("Sleep and wake of the host are not observed");
}

// ---- second instance

bool AppDelegate::doubleStartupOSOwnUserProcesses() {
    ILog("Start check OS own user processes");
    const pid_t ownPid = ::getpid();
    const std::string ownIdentifier = platform::Bundle::mainBundle()->identifier();
    const std::string ownVersion = Const::getCurrentAppVersion();
    TAVO_DLOG("ownBundleIdentifier: [%@]", ownIdentifier);
    TAVO_DLOG("ownVersion: [%@]", ownVersion);
    bool result = false;
    const auto workspace = env_.workspace ? env_.workspace : platform::Workspace::sharedWorkspace();
    for (const auto& app : workspace->runningApplications()) {
        const std::string path =
            app.executablePath.empty() ? "(empty)" : "file://" + app.executablePath;
        const long pid = static_cast<long>(app.processIdentifier);
        if (!isDirectory(app.bundlePath)) {
            ILog("Skipping check process with empty bundle: PID: [%ld]: path: [%@]", pid, path);
            continue;
        }
        const platform::Bundle bundle(app.bundlePath);
        const std::string name = orEmptyMark(bundle.name());
        const std::string identifier = orEmptyMark(bundle.identifier());
        const std::string version = orEmptyMark(bundle.shortVersion());
        const std::string build = orEmptyMark(bundle.version());
        ILog("Enumurated process: %@ [%ld]: bundle: %@: version: %@ (%@): path: %@", name, pid,
             identifier, version, build, path);
        if (ownIdentifier.empty() || identifier != ownIdentifier)
            continue;
        ILog("Detected the same bundle %@ [%ld]: version: %@ (%@): path: %@", identifier, pid,
             version, build, path);
        if (version == ownVersion && app.processIdentifier != ownPid) {
            result = true;
            ILog("Already another process is alive: bundle: %@ [%ld], version: %@, path: [%@]",
                 identifier, pid, version, path);
        }
    }
    ILog("End check OS own user processes");
    return result;
}

// ---- installer watch

void AppDelegate::installerCheckObservation() {
    const auto workspace = env_.workspace ? env_.workspace : platform::Workspace::sharedWorkspace();
    const auto apps = workspace->runningApplications();
    const bool installerRuns = std::any_of(apps.begin(), apps.end(), [](const auto& app) {
        return app.localizedName == kInstallerName;
    });
    if (installerRuns) {
        if (!isInstallerStatus_)
            ILog("Found active installer process.");
        isInstallerStatus_ = true;
        return;
    }
    if (installerCheckTimer_) {
        installerCheckTimer_->invalidate();
        installerCheckTimer_.reset();
    }
    if (!isInstallerStatus_) {
        ILog("Could not found Installer process.");
        return;
    }
    ILog("Detect Installer terminating, open the account certification window");
    const bool windowShown = session().isWindowAppear(kWindowAppearAnything);
    TAVO_DLOG("isWindowAppear = %d", windowShown ? 1 : 0);
    if (windowShown) {
        ILog("Skip opening account certification window because already opened");
        return;
    }
    if (env_.windows)
        env_.windows->showSignInWindow();
}

// ---- shutdown

void AppDelegate::applicationWillTerminate() {
    TAVO_DLOG("start");
    // The installer watch, the half-hour and 24-hour checks, then both
    // animations.
    if (installerCheckTimer_) {
        installerCheckTimer_->invalidate();
        installerCheckTimer_.reset();
    }
    periodicWork_->invalidateTimers();
    statusProgress_->stopIconAnimations();
    if (env_.programController)
        env_.programController->finish();
    TAVO_DLOG("end");
}

}  // namespace tavo
