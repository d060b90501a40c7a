// The second-instance check, the installer watch, the dispatch of stream
// events and fonts-added events, and logout.
#include <gtest/gtest.h>
#include <unistd.h>

#include <future>
#include <mutex>

#include "AppDelegateFixture.h"
#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "platform/Bundle.h"
#include "resident/FileURL.h"

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
    EXPECT_EQ(logCount("Skipping check process with empty bundle: PID: [4244]"), 1u);
    EXPECT_EQ(logCount("Detected the same bundle oskavelle.TAVO"), 2u);

    workspace->set({app(::getpid(), same, "TAVO"), app(4245, same, "TAVO")});
    EXPECT_TRUE(delegate->doubleStartupOSOwnUserProcesses());
    EXPECT_EQ(logCount("Already another process is alive: bundle: oskavelle.TAVO [4245]"), 1u);
}

TEST_F(StartUpTest, ASecondInstanceEndsBeforeReadingTheConfiguration) {
    const std::string same = makeBundle("TAVO", "oskavelle.TAVO", Const::getCurrentAppVersion());
    workspace->set({app(4245, same, "TAVO")});
    delegate->applicationDidFinishLaunching();
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(logCount("Loaded user configuration"), 0u);
    EXPECT_FALSE(client.serialDispatchQueue() && client.serialDispatchQueue() != queue);
    EXPECT_TRUE(statusItem->images.empty());
}

TEST_F(StartUpTest, TheUpdatedArgumentMarksTheProcess) {
    AppEnvironment env = delegate->environment();
    env.arguments = {"TAVO", "--headless", "-Updated"};
    auto updated = std::make_shared<AppDelegate>(env);
    updated->applicationDidFinishLaunching();
    EXPECT_TRUE(updated->appUpdated);
    updated->applicationWillTerminate();

    env.arguments = {"TAVO", "-Updatedx"};
    auto plain = std::make_shared<AppDelegate>(env);
    plain->applicationDidFinishLaunching();
    EXPECT_FALSE(plain->appUpdated);
    plain->applicationWillTerminate();
}

TEST_F(StartUpTest, TheInstallerWatchOpensTheSignInWindowOnceTheInstallerEnds) {
    delegate->applicationDidFinishLaunching();  // no configuration: the watch runs
    ASSERT_TRUE(delegate->installerCheckTimer);
    workspace->set({app(5000, "", "TAVO-Installer")});
    delegate->installerCheckObservation();
    delegate->installerCheckObservation();
    EXPECT_EQ(logCount("Found active installer process."), 1u);
    EXPECT_EQ(windows->signInWindows, 0);

    workspace->set({});
    delegate->installerCheckObservation();
    EXPECT_EQ(windows->signInWindows, 1);
    EXPECT_FALSE(delegate->installerCheckTimer);
}

TEST_F(StartUpTest, TheInstallerWatchOpensNoSecondSignInWindow) {
    delegate->applicationDidFinishLaunching();
    workspace->set({app(5000, "", "TAVO-Installer")});
    delegate->installerCheckObservation();
    sessionState.setWindowAppear(kWindowAppearLogin);
    workspace->set({});
    delegate->installerCheckObservation();
    EXPECT_EQ(windows->signInWindows, 0);
    EXPECT_EQ(logCount("Skip opening account certification window because already opened"), 1u);
    sessionState.unsetWindowAppear(kWindowAppearLogin);
}

TEST_F(StartUpTest, AnInstallerNeverSeenEndsTheWatchAtTheFirstTick) {
    delegate->applicationDidFinishLaunching();
    delegate->installerCheckObservation();
    EXPECT_EQ(logCount("Could not found Installer process."), 1u);
    EXPECT_FALSE(delegate->installerCheckTimer);
    EXPECT_EQ(windows->signInWindows, 0);
}

TEST_F(StartUpTest, TwoOpenNotificationsBeforeTheFirstOnlineProcessingStartOneSynchronization) {
    client.isOnlineStatusApi = true;
    client.isOnlineStatusSse = true;
    // Hold the serial queue so the synchronization stays queued meanwhile.
    std::promise<void> release;
    auto released = release.get_future().share();
    queue->async([released] { released.wait(); });
    const Notification open{"serverSentEvent", {{"open", true}}};
    delegate->sseServerSentEvent(open);
    delegate->sseServerSentEvent(open);
    MainQueue::main().drain();
    EXPECT_TRUE(sessionState.isOnlineFirstProcessingExecuted);
    EXPECT_EQ(logCount("Perfroming font synchronization at first"), 1u);
    EXPECT_EQ(logCount("Skip first performing font synchronization because of already running"),
              1u);

    delegate->sseServerSentEvent(open);  // after the first processing: ignored
    MainQueue::main().drain();
    EXPECT_EQ(logCount("Perfroming font synchronization at first"), 1u);
    EXPECT_EQ(logCount("Skip first performing"), 1u);
    release.set_value();
    settle();
}

TEST_F(StartUpTest, FontsAddedWhileSignedOutAreLeftAlone) {
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(fontManager->fontsAdded);
    const std::string folder = Const::userFontDirectoryPath().value_or("");
    fontManager->announce({folder + "/A Font.otf", folder + "/B%.ttf"});
    EXPECT_EQ(logCount("Nothing to do for font checker without logged in (2 fonts)"), 1u);
    controller->waitForActivationBatches();
    EXPECT_TRUE(fontManager->unregistered.empty());

    client.isLoginStatus = true;
    fontManager->announce({folder + "/A Font.otf"});
    EXPECT_EQ(logCount("Something to do for font checker with logged in (1 fonts)"), 1u);
    client.isLoginStatus = false;
}

TEST_F(StartUpTest, FontEventsRunOnTheSerialQueueAfterWhatIsQueued) {
    // A synchronization holds the queue: the web action waits behind it.
    std::promise<void> release;
    auto released = release.get_future().share();
    queue->async([released] { released.wait(); });
    delegate->sseServerSentEvent(
        {"serverSentEvent",
         {{"font-activate", std::string()}, {"jsonData", std::string(R"({"fontId":"77"})")}}});
    delegate->sseServerSentEvent({"serverSentEvent", {{"font-all-uninstall", std::string()}}});
    EXPECT_EQ(logCount("Event Font-Activate: Id: 77"), 0u);
    EXPECT_EQ(logCount("Event All-Uninstall-Deactivated"), 1u);
    release.set_value();
    settle();
    EXPECT_EQ(logCount("Event Font-Activate: Id: 77"), 1u);
}

TEST_F(StartUpTest, LogoutKeepsTheDeviceKeyAndDropsTheSignIn) {
    signIn();
    storeClientSignIn();
    Config::createFontPlist();
    ASSERT_TRUE(FileUtil::exists(*Config::fontListPath()));
    client.isLoginStatus = true;
    delegate->performLogout(false);
    settle();
    EXPECT_FALSE(client.isLoginStatus);
    EXPECT_FALSE(FileUtil::exists(*Config::fontListPath()));
    const auto config = Config::userConfig();
    ASSERT_TRUE(config);
    EXPECT_EQ(Config::decryptedValue(*config, kConfigDeviceKey), "device-key");
    EXPECT_TRUE(Config::decryptedValue(*config, kConfigDeviceId).value_or("").empty());
    EXPECT_TRUE(Config::decryptedValue(*config, kConfigRefreshTokens).value_or("").empty());
    EXPECT_EQ(statusItem->enabledChanges, (std::vector<bool>{false, true}));
    EXPECT_EQ(statusItem->image(), "QXRStatusBarItemIconlogout");
    EXPECT_EQ(requests("/api/v1/logout").size(), 1u);
    EXPECT_TRUE(userNotifications->all().empty());  // not a forced one
}

TEST(FileURLTest, PathsSurviveTheRoundTripThroughURLs) {
    for (const std::string path : {"/home/u/.local/share/fonts/Oskavelle/Plain.otf",
                                   "/f/With Space & 100%.ttf", "/f/Zoë#?.otc"}) {
        const std::string url = fileURLFromPath(path);
        EXPECT_EQ(url.find(' '), std::string::npos) << url;
        EXPECT_EQ(pathFromFileURL(url), path) << url;
    }
    EXPECT_EQ(pathFromFileURL("file://localhost/a%20b"), "/a b");
    EXPECT_EQ(pathFromFileURL("http://example.com/a"), "");
    EXPECT_EQ(pathFromFileURL("file://otherhost/a"), "");
    EXPECT_EQ(pathFromFileURL("file:///a%2"), "/a%2");
}

}  // namespace
}  // namespace tavo::test
