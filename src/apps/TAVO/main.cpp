// TAVO: the resident application. It keeps the fonts of the signed-in
// account on this machine, with an icon and menu in the desktop's tray and
// the sign-in window; without a display it runs headless, with its status
// item and windows written to the log.
#include <pthread.h>
#include <signal.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <QApplication>
#include <QCoreApplication>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fontid/FontIdReader.h"
#include "fonts/FontInstaller.h"
#include "fonts/FontManagementController.h"
#include "foundation/Clock.h"
#include "foundation/Const.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "foundation/TimeScale.h"
#include "platform/Authorization.h"
#include "platform/FontManager.h"
#include "platform/Layout.h"
#include "platform/SystemInfo.h"
#include "platform/Workspace.h"
#include "platform/linux/FontconfigFontManager.h"
#include "platform/linux/HeadlessStatusItem.h"
#include "platform/linux/HeadlessWindows.h"
#include "platform/linux/NetlinkReachabilitySource.h"
#include "platform/linux/ProcWorkspace.h"
#include "platform/linux/ProcessAuthorization.h"
#include "platform/qt/DBusUserNotificationCenter.h"
#include "platform/qt/LogindPowerEvents.h"
#include "platform/qt/QtMainQueueBackend.h"
#include "platform/qt/TrayStatusItem.h"
#include "resident/AppDelegate.h"
#include "service/ApiClient.h"
#include "service/Reachability.h"
#include "session/SessionState.h"
#include "signin/SignInWindows.h"
#include "update/ProgramController.h"
#include "update/widgets/ForceUpdateWindow.h"

namespace {

using namespace tavo;

constexpr const char* kHeadlessArgument = "--headless";
bool hasDisplay() {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return true;
    }
    return false;
}

// The operating-system gate; false when this system is below the minimum.
bool passesOsGate() {
    const bool supported = platform::SystemInfo::isSupportedOs();
    const std::string state =
        supported ? "seems the version equals 10.12 and later" : "seems the version is below 10.12";
    std::string version = platform::SystemInfo::operatingSystemVersionString();
    if (version.empty())
        version = "unknown";
    primitiveILog("It %@: %@", state, version);
    return supported;
}

// SIGTERM, SIGINT and SIGHUP end the main loop, and so the program, in order.
// They are blocked in every thread and taken by one thread of their own.
sigset_t terminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

void watchTerminationSignals(const sigset_t& set) {
    std::thread([set] {
        pthread_setname_np(pthread_self(), "signals");
        int signal = 0;
        if (sigwait(&set, &signal) == 0) {
            ILog("Terminating on signal %d", signal);
            MainQueue::main().quit();
        }
    }).detach();
}

}  // namespace

int main(int argc, char** argv) {
#ifdef __GLIBC__
    // One heap for every thread: the program's threads mostly wait for the
    // network, and an allocator heap per thread would keep what each freed.
    mallopt(M_ARENA_MAX, 1);
#endif
    const sigset_t signals = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    Log::defaultLog().init();
    if (!passesOsGate()) {
        platform::HeadlessWindows().runModalAlert(
            localized("The OS Version below 10.12 is not applicable"),
            localized("Not applicable OS version"));
        return 0;
    }

    const std::vector<std::string> arguments(argv, argv + argc);
    bool headless = !hasDisplay();
    for (const auto& argument : arguments)
        headless = headless || argument == kHeadlessArgument;
    ILog("Running headless: %@", headless ? "yes" : "no");

    TimeScale::installFromEnvironment();
    watchTerminationSignals(signals);
    // Qt's application object is never destroyed (see the end). Headless, our
    // own loop runs the main thread and the D-Bus backends receive on threads
    // of their own; with a display, Qt's event loop runs the main queue.
    if (headless) {
        new QCoreApplication(argc, argv);
    } else {
        auto* application = new QApplication(argc, argv);
        QApplication::setApplicationName(kClientAppName);
        // The sign-in window is not the application: closing it leaves the tray.
        application->setQuitOnLastWindowClosed(false);
        MainQueue::main().setBackend(std::make_shared<platform::QtMainQueueBackend>());
    }

    Reachability::setSourceFactory(platform::NetlinkReachabilitySource::create);
    platform::UserNotificationCenter::setDefaultCenter(
        platform::DBusUserNotificationCenter::createDesktopUserNotificationCenter());
    platform::Workspace::setSharedWorkspace(platform::ProcWorkspace::create());
    // The update's one administrator prompt starts its privileged helper.
    platform::Authorization::setDefaultAuthorization(
        std::make_shared<platform::ProcessAuthorization>());
    auto fontManager = platform::FontconfigFontManager::create(
        [](const std::string& path) { return fontid::FontIdReader::read(path).has_value(); });
    if (fontManager)
        platform::FontManager::setDefaultManager(fontManager);
    else
        WLog("The font manager could not be set up; fonts are installed but not activated");

    AppEnvironment environment;
    environment.apiClient = &ApiClient::defaultApiClient();
    environment.sessionState = &SessionState::sharedInstance();
    environment.programController = ProgramController::sharedInstance();
    environment.fontController = FontManagementController::sharedInstance().shared_from_this();
    environment.workspace = platform::Workspace::sharedWorkspace();
    environment.powerEvents = platform::LogindPowerEvents::create();
    environment.fontManager = fontManager;
    if (headless) {
        environment.statusItem = std::make_shared<platform::HeadlessStatusItem>();
        environment.windows = std::make_shared<platform::HeadlessWindows>();
    } else {
        environment.statusItem = std::make_shared<platform::TrayStatusItem>();
        environment.windows = std::make_shared<signin::SignInWindows>(
            *environment.apiClient, *environment.sessionState, environment.workspace);
        std::weak_ptr<ProgramController> weakController = environment.programController;
        environment.programController->setForceUpdatePresenter([weakController] {
            if (auto controller = weakController.lock())
                ForceUpdateWindow::present(controller, SessionState::sharedInstance());
        });
    }
    environment.arguments = arguments;
    environment.terminate = [] { MainQueue::main().quit(); };

    // What a run that was killed left in the download workspace.
    FontInstaller::removeLeftovers();
    auto delegate = std::make_shared<AppDelegate>(std::move(environment));
    delegate->applicationDidFinishLaunching();
    MainQueue::main().run();
    // The transfers in flight end first, at once, and take their files along.
    FontManagementController::sharedInstance().stop();
    ApiClient::defaultApiClient().stopTransfers();
    delegate->applicationWillTerminate();
    if (!ApiClient::defaultApiClient().waitForDownloads(seconds(0.5)))
        WLog("A download did not end in time; its file is removed");
    // Every change is on disk once the font list's pending write is. Work of
    // the download chain, the stream or the queues may still be finishing on
    // other threads, so the program leaves without destroying the objects
    // they use.
    FontManagementController::sharedInstance().store().flush();
    ILog("Terminated");
    Log::defaultLog().flush();
    std::_Exit(0);
}
