// The real TAVO program in a sandbox root against the reference service:
// start-up, web-side switches, logout, second instances and restarts. The
// program runs with its timers at a thousandth of their length, so the
// half-hour check comes every 1.8 s.
#include <gtest/gtest.h>

#include "e2e/ResidentFixture.h"
#include "foundation/Config.h"
#include "foundation/FileUtil.h"

namespace tavo::test {
namespace {

using namespace std::chrono_literals;

class ResidentAppTest : public ResidentFixture {
protected:
    // Starts TAVO and waits until the account's fonts are in the folder and
    // visible to fontconfig.
    void launchAndSynchronize() {
        launch();
        fonts = accountFonts();
        ASSERT_EQ(fonts.size(), 3u);
        for (const auto& font : fonts) {
            const std::string path = fontPath(*font.fileName);
            ASSERT_TRUE(eventually([&] { return FileUtil::exists(path); }))
                << *font.fileName << " never arrived";
            ASSERT_TRUE(eventually([&] { return fontconfigLists(path); }))
                << *font.fileName << " is not visible to fontconfig";
        }
    }

    void expectSignedOut() {
        const auto config = Config::userConfig();
        ASSERT_TRUE(config);
        EXPECT_EQ(Config::decryptedValue(*config, kConfigDeviceKey), kDeviceKey);
        EXPECT_EQ(config->count(kConfigDeviceId) &&
                      !Config::decryptedValue(*config, kConfigDeviceId).value_or("").empty(),
                  false);
        EXPECT_TRUE(Config::decryptedValue(*config, kConfigRefreshTokens).value_or("").empty());
        EXPECT_FALSE(FileUtil::exists(*Config::fontListPath()));
    }

    std::vector<Fonts> fonts;
};

TEST_F(ResidentAppTest, SignsInAtStartUpSynchronizesAndFollowsTheWebSite) {
    launchAndSynchronize();
    if (HasFatalFailure())
        return;
    EXPECT_TRUE(waitForLog("Configuration get access token"));
    EXPECT_TRUE(logContains("First performing font synchronization"));
    ASSERT_TRUE(waitForLog("moved to online mode")) << "the stream never opened";

    // Switched off on the web site: the file stays, fontconfig hides it.
    const auto& first = fonts.front();
    const std::string path = fontPath(*first.fileName);
    admin("/admin/fonts/deactivate", {{"mailAddress", kMail}, {"fontId", *first.fontId}});
    EXPECT_TRUE(eventually([&] { return !fontconfigLists(path); })) << "still visible";
    EXPECT_TRUE(FileUtil::exists(path));
    const auto afterDeactivation = storedLastEventId();
    ASSERT_TRUE(afterDeactivation);

    // Switched on again: visible again, and the stored event id moves on.
    admin("/admin/fonts/activate", {{"mailAddress", kMail}, {"fontId", *first.fontId}});
    EXPECT_TRUE(eventually([&] { return fontconfigLists(path); })) << "still hidden";
    EXPECT_TRUE(eventually([&] {
        const auto id = storedLastEventId();
        return id && *id > *afterDeactivation;
    }));
    EXPECT_EQ(processes.front()->stop(), 0);
    EXPECT_TRUE(logContains("Terminating on signal"));
}

TEST_F(ResidentAppTest, AWebActivationDownloadsAFontThatIsMissing) {
    launchAndSynchronize();
    if (HasFatalFailure())
        return;
    const auto& last = fonts.back();
    admin("/admin/fonts/deactivate", {{"mailAddress", kMail}, {"fontId", *last.fontId}});
    ASSERT_TRUE(eventually([&] { return !fontconfigLists(fontPath(*last.fileName)); }));
    // The file went away behind the program's back: activation fetches it.
    std::remove(fontPath(*last.fileName).c_str());
    admin("/admin/fonts/activate", {{"mailAddress", kMail}, {"fontId", *last.fontId}});
    EXPECT_TRUE(eventually([&] { return FileUtil::exists(fontPath(*last.fileName)); }));
    EXPECT_TRUE(eventually([&] { return fontconfigLists(fontPath(*last.fileName)); }));
}

TEST_F(ResidentAppTest, TheHalfHourCheckLogsOutWhenTheDeviceIsRemoved) {
    launchAndSynchronize();
    if (HasFatalFailure())
        return;
    // The tokens stay valid: only the device list tells that it is gone.
    admin("/admin/devices/remove",
          {{"mailAddress", kMail}, {"deviceId", *client.deviceId()}, {"keepTokens", true}});
    ASSERT_TRUE(waitForLog("Forced logout because own device is not in list"));
    ASSERT_TRUE(waitForLog("Perform forced logout"));
    EXPECT_TRUE(waitForLog("Delivered Notification: Forced logout subtitle") ||
                logContains("Delivered Notification: You have been logged out"));
    EXPECT_TRUE(eventually([&] { return !FileUtil::exists(*Config::fontListPath()); }));
    processes.front()->stop();
    expectSignedOut();
}

TEST_F(ResidentAppTest, AnExpiredRefreshTokenLogsOut) {
    launchAndSynchronize();
    if (HasFatalFailure())
        return;
    admin("/admin/tokens/expire", {{"mailAddress", kMail}, {"access", true}, {"refresh", true}});
    ASSERT_TRUE(waitForLog("Forced logout because of expired refresh token"));
    ASSERT_TRUE(waitForLog("Perform forced logout"));
    EXPECT_TRUE(eventually([&] { return !FileUtil::exists(*Config::fontListPath()); }));
    processes.front()->stop();
    expectSignedOut();
    // The next start is signed out: no token request, no stream.
    service.context()->requests.clear();
    auto& again = launch();
    ASSERT_TRUE(waitForLog("Could not load refresh token from user license configuration"));
    ASSERT_TRUE(waitForLog("Perform process launched with offline"));
    again.stop();
    EXPECT_TRUE(requests("/api/v1/token").empty());
    EXPECT_TRUE(requests("/notifications").empty());
}

TEST_F(ResidentAppTest, ASecondInstanceOfTheSameVersionEndsAtStartUp) {
    launchAndSynchronize();
    if (HasFatalFailure())
        return;
    auto& second = launch({"--headless", "-Updated"});
    const auto status = second.waitForExit(10s);
    ASSERT_TRUE(status) << "the second instance kept running";
    EXPECT_EQ(*status, 0);
    EXPECT_TRUE(logContains("Already another process is alive"));
    EXPECT_TRUE(processes.front()->running());
    EXPECT_EQ(processes.front()->stop(), 0);

    // Alone, a start with "-Updated" is the updated process.
    launch({"--headless", "-Updated"});
    EXPECT_TRUE(waitForLog("icon [QXRStatusBarItemIconfinish]"));
}

TEST_F(ResidentAppTest, ARestartResumesTheStreamAfterTheLastStoredEvent) {
    launchAndSynchronize();
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(waitForLog("moved to online mode"));
    const auto& first = fonts.front();
    admin("/admin/fonts/deactivate", {{"mailAddress", kMail}, {"fontId", *first.fontId}});
    ASSERT_TRUE(eventually([&] { return storedLastEventId().has_value(); }));
    ASSERT_TRUE(eventually([&] { return !fontconfigLists(fontPath(*first.fileName)); }));
    const long long seen = *storedLastEventId();
    EXPECT_EQ(processes.front()->stop(), 0);

    // While the program is away the subscriber switches the font on again.
    admin("/admin/fonts/activate", {{"mailAddress", kMail}, {"fontId", *first.fontId}});
    service.context()->requests.clear();
    launch();
    EXPECT_TRUE(eventually([&] { return fontconfigLists(fontPath(*first.fileName)); }));
    ASSERT_TRUE(eventually([&] { return !requests("/notifications").empty(); }));
    const auto stream = requests("/notifications").at(0);
    EXPECT_EQ(loggedHeader(stream, "Last-Event-ID"), std::to_string(seen));
    EXPECT_TRUE(eventually([&] {
        const auto id = storedLastEventId();
        return id && *id > seen;
    }));
}

}  // namespace
}  // namespace tavo::test
