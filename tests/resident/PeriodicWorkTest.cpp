// The timers' decisions: the once-a-day gate, the stream watchdog, the
// refresh-token schedule, and the reactions to reachability and refusals.
#include <gtest/gtest.h>

#include <set>

#include "AppDelegateFixture.h"
#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "foundation/NotificationCenter.h"
#include "service/OVError.h"

namespace tavo::test {
namespace {

using namespace std::chrono_literals;

class PeriodicWorkTest : public AppDelegateFixture {};

TEST_F(PeriodicWorkTest, RegularProcessingRunsOncePerStartThenOnlyAfterADay) {
    const auto start = clock->systemNow();
    delegate->updateTwentyFourHourTimer();  // first of this process: runs
    settle();
    EXPECT_EQ(logCount("Start regular process for user license"), 1u);
    EXPECT_EQ(delegate->updateTwentyFourHourTimerDate(), start);
    ASSERT_TRUE(delegate->twentyFourHourCheckTimer);

    clock->setNow(start + 10h);  // a wake ten hours later
    delegate->updateTwentyFourHourTimer();
    settle();
    EXPECT_EQ(logCount("Start regular process for user license"), 1u);
    EXPECT_EQ(delegate->updateTwentyFourHourTimerDate(), start);

    clock->setNow(start + 25h);
    delegate->updateTwentyFourHourTimer();
    settle();
    EXPECT_EQ(logCount("Start regular process for user license"), 2u);
    EXPECT_EQ(delegate->updateTwentyFourHourTimerDate(), start + 25h);
}

TEST_F(PeriodicWorkTest, ATimerFiringASecondEarlyStillPasses) {
    const auto start = clock->systemNow();
    delegate->setUpdateTwentyFourHourTimerDate(start);
    clock->setNow(start + 86399s);
    delegate->updateTwentyFourHourTimer();
    settle();
    EXPECT_EQ(logCount("Start regular process for user license"), 1u);

    clock->setNow(start + 86399s + 86398s);  // two seconds early
    delegate->updateTwentyFourHourTimer();
    settle();
    EXPECT_EQ(logCount("Start regular process for user license"), 1u);
}

TEST_F(PeriodicWorkTest, TheWatchdogLeavesAStreamOfExactlySixHoursAlone) {
    const auto now = clock->systemNow();
    client.setLastRetryTimestamp(now - 6h);
    delegate->sseWatchDog();
    EXPECT_EQ(logCount("calling connectNotifications by watch dog"), 0u);

    client.setLastRetryTimestamp(now - 6h - 1s);
    delegate->sseWatchDog();
    EXPECT_EQ(logCount("Update access token by watch dog"), 1u);
    EXPECT_EQ(logCount("calling connectNotifications by watch dog (21600 seconds has passed since"),
              1u);

    client.setLastRetryTimestamp(std::nullopt);  // never connected
    delegate->sseWatchDog();
    EXPECT_EQ(logCount("has passed since no experience"), 1u);
}

TEST_F(PeriodicWorkTest, TheRefreshTokenScheduleIsSevenToTwelveWholeDaysAhead) {
    Config::createConfigPlist(std::nullopt);
    clock->setNow(std::chrono::floor<std::chrono::seconds>(clock->systemNow()));  // as stored
    const auto now = clock->systemNow();
    std::set<long long> days;
    for (int i = 0; i < 200; ++i) {
        delegate->settingScheduleCheckUserRereshToken();
        const auto config = Config::userConfig();
        ASSERT_TRUE(config);
        const auto* date = plistGet<PlistDate>(*config, kConfigScheduledDate);
        ASSERT_TRUE(date);
        const auto ahead = std::chrono::duration_cast<std::chrono::seconds>(*date - now).count();
        ASSERT_EQ(ahead % 86400, 0) << ahead;
        days.insert(ahead / 86400);
    }
    EXPECT_EQ(days, (std::set<long long>{7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(logCount("Initial setting schedule for next check to refresh token"), 1u);
}

TEST_F(PeriodicWorkTest, AScheduleNotYetReachedRenewsNothing) {
    signIn();
    storeClientSignIn();
    delegate->settingScheduleCheckUserRereshToken();
    const std::string before = *client.refreshToken();
    delegate->updateUserRefreshTokenScheduled();
    EXPECT_EQ(logCount("No reached schedule timestamp makes nothing to update refresh token"), 1u);
    EXPECT_EQ(*client.refreshToken(), before);

    // Thirteen days on, the token is renewed and stored, and a new schedule set.
    clock->setNow(clock->systemNow() + 13 * 24h);
    delegate->updateUserRefreshTokenScheduled();
    EXPECT_EQ(logCount("Configuration gets new refresh token"), 1u);
    EXPECT_NE(*client.refreshToken(), before);
    const auto config = *Config::userConfig();
    EXPECT_EQ(Config::decryptedValue(config, kConfigRefreshTokens), client.refreshToken());
    EXPECT_EQ(logCount("Setting schedule for next check to refresh token"), 1u);
}

TEST_F(PeriodicWorkTest, OnlyAnExpiredRefreshTokenForcesALogout) {
    signIn();
    storeClientSignIn();
    delegate->apiErrorDetection(
        {kOVErrorNotificationKeyErrorEvent, {{kOVErrorUserInfoKeyCode, std::string("1007")}}});
    EXPECT_TRUE(client.isLoginStatus);

    delegate->apiErrorDetection({kOVErrorNotificationKeyErrorEvent,
                                 {{kOVErrorUserInfoKeyCode, std::string("1008")},
                                  {kOVErrorUserInfoKeyMessage, std::string("expired")}}});
    settle();
    EXPECT_FALSE(client.isLoginStatus);
    EXPECT_EQ(logCount("Forced logout because of expired refresh token: code=1008"), 1u);
    const auto delivered = userNotifications->all();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].subtitle, "You have been logged out");

    // Further refusals after the logout add no second logout or notice.
    delegate->apiErrorDetection(
        {kOVErrorNotificationKeyErrorEvent, {{kOVErrorUserInfoKeyCode, std::string("1008")}}});
    EXPECT_EQ(userNotifications->all().size(), 1u);
    EXPECT_EQ(statusItem->image(), "QXRStatusBarItemIconlogout");
}

TEST_F(PeriodicWorkTest, LosingReachabilityTakesTheClientOffline) {
    client.isOnlineStatusApi = true;
    client.isOnlineStatusSse = true;
    // The delegate has no watcher until start-up: none counts as unreachable.
    delegate->reachabilityChanged({});
    EXPECT_FALSE(client.isOnlineStatusApi);
    EXPECT_FALSE(client.isOnlineStatusSse);
    EXPECT_EQ(logCount("MSG_E0001"), 1u);
}

TEST_F(PeriodicWorkTest, WakingRenewsTheStreamOnlyWhenNoRetryIsAhead) {
    signIn();
    storeClientSignIn();
    client.setNextRetryTimestamp(clock->systemNow() + 60s);
    delegate->receiveAwakeNotification();
    settle();
    EXPECT_EQ(logCount("Calling connectNotifications because of the host awoken"), 0u);
    EXPECT_EQ(client.awakenTimestamp(), clock->systemNow());
    EXPECT_EQ(logCount("Call the timer process by twenty four hour because of the host awoken"),
              1u);

    client.setNextRetryTimestamp(clock->systemNow() - 1s);
    delegate->receiveAwakeNotification();
    settle();
    EXPECT_EQ(logCount("Calling connectNotifications because of the host awoken"), 1u);
}

// A signed-in user whose account holds three fonts under contract, active.
class PeriodicSynchronizationTest : public AppDelegateFixture {
protected:
    nlohmann::json seed() const override { return contractedAccountSeed(); }
};

TEST_F(PeriodicSynchronizationTest, AFailedSynchronizationLeavesTheNextHalfHourCheckFree) {
    signIn();
    storeClientSignIn();
    // Offline before the check: it synchronizes once the client is back.
    client.isOnlineStatusApi = false;
    addFault({{"path", "/api/v1/install-fonts"}, {"status", 500}, {"count", 1}});
    delegate->updateHalfHourTimer();
    settle();
    ASSERT_EQ(requests("/api/v1/install-fonts").size(), 1u);
    EXPECT_EQ(logCount("Regular performing font synchronization"), 1u);

    // The service was down a while longer: the next check finds the client
    // off line, and with the fault gone its synchronization installs the fonts.
    client.isOnlineStatusApi = false;
    delegate->updateHalfHourTimer();
    const bool done = MainQueue::main().runUntil(
        [&] {
            queue->sync([] {});
            return requests("/api/v1/install-fonts").size() == 2u &&
                   !controller->syncGate().inFontSynchroizing();
        },
        20s);
    settle();
    ASSERT_TRUE(done);
    EXPECT_EQ(logCount("Skip regular performing font synchronization because of already running"),
              0u);
    const auto list = Config::fontList();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->size(), 3u);
    for (const auto& [id, value] : *list) {
        const auto* record = value.get<PlistDict>();
        ASSERT_TRUE(record);
        EXPECT_EQ(*plistGet<std::string>(*record, kFontStatusType), kFontStatusInstalled) << id;
        EXPECT_TRUE(FileUtil::exists(*Const::userFontDirectoryPath() + "/" +
                                     *plistGet<std::string>(*record, kFontFileName)));
    }
}

}  // namespace
}  // namespace tavo::test
