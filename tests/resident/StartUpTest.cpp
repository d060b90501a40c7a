// Start-up and shutdown: the second-instance check, the installer watch,
// and the notifications and signals start-up hands to the controllers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <future>
#include <mutex>
#include <set>

#include "AppDelegateFixture.h"
#include "events/SSEConstants.h"
#include "foundation/Const.h"
#include "platform/Bundle.h"
#include "resident/EventRouter.h"
#include "resident/PeriodicWork.h"
#include "resident/ResidentNames.h"
#include "resident/StatusMenuController.h"
#include "resident/StatusProgress.h"
#include "service/OVError.h"
#include "update/UpdateNotifications.h"

namespace tavo::test {
namespace {

class StartUpTest : public AppDelegateFixture {
protected:
    // A bundle in the sandbox with the given identifier and version.
    std::string makeBundle(const std::string& name, const std::string& identifier,
                           const std::string& version) {
        const std::string path = sandbox.path("/apps/" + name + "-" + version + ".app");
        Sandbox::writeFile(path + "/Contents/Info.plist",
                           PlistValue(PlistDict{{"CFBundleName", name},
                                                {"CFBundleIdentifier", identifier},
                                                {"CFBundleShortVersionString", version},
                                                {"CFBundleVersion", std::string("7")}})
                               .toXml());
        return path;
    }

    platform::RunningApplication app(pid_t pid, const std::string& bundle,
                                     const std::string& name) {
        return {pid, bundle.empty() ? "/usr/bin/" + name : bundle + "/Contents/MacOS/" + name,
                bundle, name};
    }
};

TEST_F(StartUpTest, OnlyAnotherProcessOfTheSameVersionCountsAsASecondInstance) {
    const std::string version = Const::getCurrentAppVersion();
    const std::string same = makeBundle("TAVO", "oskavelle.TAVO", version);
    const std::string older = makeBundle("TAVO", "oskavelle.TAVO", "0.9.0");
    const std::string other = makeBundle("Other", "example.Other", version);

    workspace->set({app(::getpid(), same, "TAVO"), app(4242, older, "TAVO"),
                    app(4243, other, "Other"), app(4244, "", "bash")});
    EXPECT_FALSE(delegate->doubleStartupOSOwnUserProcesses());

    workspace->set({app(::getpid(), same, "TAVO"), app(4245, same, "TAVO")});
    EXPECT_TRUE(delegate->doubleStartupOSOwnUserProcesses());
}

TEST_F(StartUpTest, ASecondInstanceEndsBeforeReadingTheConfiguration) {
    const std::string same = makeBundle("TAVO", "oskavelle.TAVO", Const::getCurrentAppVersion());
    workspace->set({app(4245, same, "TAVO")});
    delegate->applicationDidFinishLaunching();
    EXPECT_EQ(terminations, 1);
    EXPECT_FALSE(client.serialDispatchQueue() && client.serialDispatchQueue() != queue);
    EXPECT_TRUE(statusItem->images.empty());
}

TEST_F(StartUpTest, TheUpdatedArgumentMarksTheProcess) {
    AppEnvironment env = environment();
    env.arguments = {"TAVO", "--headless", "-Updated"};
    auto updated = std::make_shared<AppDelegate>(env);
    updated->applicationDidFinishLaunching();
    EXPECT_TRUE(updated->statusMenu().appUpdated());
    updated->applicationWillTerminate();

    env.arguments = {"TAVO", "-Updatedx"};
    auto plain = std::make_shared<AppDelegate>(env);
    plain->applicationDidFinishLaunching();
    EXPECT_FALSE(plain->statusMenu().appUpdated());
    plain->applicationWillTerminate();
}

TEST_F(StartUpTest, TheInstallerWatchOpensTheSignInWindowOnceTheInstallerEnds) {
    delegate->applicationDidFinishLaunching();  // no configuration: the watch runs
    ASSERT_TRUE(delegate->isInstallerWatchRunning());
    workspace->set({app(5000, "", "TAVO-Installer")});
    delegate->installerCheckObservation();
    delegate->installerCheckObservation();
    EXPECT_EQ(windows->signInWindows, 0);

    workspace->set({});
    delegate->installerCheckObservation();
    EXPECT_EQ(windows->signInWindows, 1);
    EXPECT_FALSE(delegate->isInstallerWatchRunning());
}

TEST_F(StartUpTest, TheInstallerWatchOpensNoSecondSignInWindow) {
    delegate->applicationDidFinishLaunching();
    workspace->set({app(5000, "", "TAVO-Installer")});
    delegate->installerCheckObservation();
    sessionState.setWindowAppear(kWindowAppearLogin);
    workspace->set({});
    delegate->installerCheckObservation();
    EXPECT_EQ(windows->signInWindows, 0);
    EXPECT_FALSE(delegate->isInstallerWatchRunning());
    sessionState.unsetWindowAppear(kWindowAppearLogin);
}

TEST_F(StartUpTest, AnInstallerNeverSeenEndsTheWatchAtTheFirstTick) {
    delegate->applicationDidFinishLaunching();
    delegate->installerCheckObservation();
    EXPECT_FALSE(delegate->isInstallerWatchRunning());
    EXPECT_EQ(windows->signInWindows, 0);
}

TEST_F(StartUpTest, TwoOpenNotificationsBeforeTheFirstOnlineProcessingStartOneSynchronization) {
    signIn();
    storeClientSignIn();
    client.isOnlineStatusApi = true;
    client.isOnlineStatusSse = true;
    // Hold the serial queue so the synchronization stays queued meanwhile.
    std::promise<void> release;
    auto released = release.get_future().share();
    queue->async([released] { released.wait(); });
    const Notification open{kSSENotificationKeyServerSentEvent, {{kPCUserInfoKeyOpen, true}}};
    delegate->eventRouter().sseServerSentEvent(open);
    delegate->eventRouter().sseServerSentEvent(open);
    MainQueue::main().drain();
    EXPECT_TRUE(sessionState.isOnlineFirstProcessingExecuted);
    EXPECT_TRUE(controller->syncGate().inFontSynchroizing());
    release.set_value();
    settle();
    controller->waitForActivationBatches();
    // One run: each page of the list was asked for once.
    const auto pages = requests("/api/v1/install-fonts");
    ASSERT_GE(pages.size(), 1u);
    std::set<std::string> offsets;
    for (const auto& page : pages)
        offsets.insert(page["query"].value("offset", std::string()));
    EXPECT_EQ(offsets.size(), pages.size());
}

TEST_F(StartUpTest, StartUpHandsEachNotificationToItsController) {
    signIn();
    storeClientSignIn();
    storeServerAddresses();
    delegate->applicationDidFinishLaunching();
    settle();
    EXPECT_TRUE(client.isLoginStatus);
    EXPECT_EQ(client.apiEndpoint(), service.apiUrl());
    ASSERT_TRUE(statusItem->delegate.menuWillOpen);
    EXPECT_FALSE(delegate->isInstallerWatchRunning());  // configured: no installer watch
    ASSERT_TRUE(powerEvents->wake);

    // Download and update progress reach the tray.
    NotificationCenter::defaultCenter().post(
        kFMUpdateProgressNotification, {{kFMStartProgress, 1}, {kFMTypeface, std::string("Zeta")}});
    EXPECT_EQ(statusItem->itemTitles[kMenuTagAccountInfo], "Downloading fonts 0%\nZeta");
    NotificationCenter::defaultCenter().post(kPCNotificationKeyUpdateProgress,
                                             {{kPCUserInfoKeyIsCopyStarted, true}});
    EXPECT_TRUE(delegate->statusProgress().isUpdateAnimating());

    // A wake reaches the periodic checks.
    powerEvents->wake();
    settle();
    EXPECT_EQ(sessionState.awakenTimestamp(), clock->systemNow());

    // The message of a finished synchronization becomes a user notification.
    const std::size_t before = userNotifications->all().size();
    NotificationCenter::defaultCenter().post(
        kFMCommonMessageNotification,
        {{kFMCommonMessageHeading, std::string("Font Synchronization Completed")},
         {kFMCommonMessageDetail, std::string("Finished the font synchronization")}});
    EXPECT_EQ(userNotifications->all().size(), before + 1);

    // An expired refresh token logs out.
    NotificationCenter::defaultCenter().post(kOVErrorNotificationKeyErrorEvent,
                                             {{kOVErrorUserInfoKeyCode, std::string("1008")}});
    settle();
    EXPECT_FALSE(client.isLoginStatus);
    EXPECT_EQ(statusItem->image(), kStatusIconLogout);

    // A completed sign-in signs in again.
    NotificationCenter::defaultCenter().post(kLMUserInfoKeyLoginSucess);
    EXPECT_TRUE(client.isLoginStatus);
}

TEST_F(StartUpTest, TheSynchronizeEntryFollowsARunWhileTheMenuStaysOpen) {
    signIn();
    storeClientSignIn();
    storeServerAddresses();
    delegate->applicationDidFinishLaunching();
    settle();
    ASSERT_TRUE(statusItem->delegate.menuWillOpen);
    statusItem->delegate.menuWillOpen();
    settle();
    ASSERT_TRUE(statusItem->enabledItems[kMenuTagSyncFont]);

    // A half-hour check starts a run and ends it while the menu is open.
    FontSyncGate::Hold hold = controller->syncGate().tryAcquire();
    ASSERT_TRUE(hold);
    settle();
    EXPECT_FALSE(statusItem->enabledItems[kMenuTagSyncFont]);
    hold.release();
    settle();
    EXPECT_TRUE(statusItem->enabledItems[kMenuTagSyncFont]);
    EXPECT_EQ(statusItem->itemImages[kMenuTagSyncFont], "");
    statusItem->delegate.menuDidClose();
}

TEST_F(StartUpTest, ShutdownStopsEveryTimer) {
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(delegate->isInstallerWatchRunning());
    delegate->periodicWork().updateTwentyFourHourTimer();
    delegate->statusProgress().statusMenuProgressUpdate(
        {kPCNotificationKeyUpdateProgress, {{kPCUserInfoKeyIsCopyStarted, true}}});
    ASSERT_TRUE(delegate->periodicWork().hasTwentyFourHourCheckTimer());
    delegate->applicationWillTerminate();
    EXPECT_FALSE(delegate->isInstallerWatchRunning());
    EXPECT_FALSE(delegate->periodicWork().hasTwentyFourHourCheckTimer());
    EXPECT_FALSE(delegate->periodicWork().hasHalfHourCheckTimer());
    EXPECT_FALSE(delegate->statusProgress().isAnimating());
}

}  // namespace
}  // namespace tavo::test
