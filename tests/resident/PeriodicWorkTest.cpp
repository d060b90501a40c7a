// The timers' decisions: the once-a-day gate, the stream watchdog, the
// refresh-token schedule, and the reactions to reachability and refusals.
#include <gtest/gtest.h>

#include <set>

#include "AppDelegateFixture.h"
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
    sessionState.setLastRetryTimestamp(now - 6h);
    delegate->sseWatchDog();
    EXPECT_EQ(logCount("calling connectNotifications by watch dog"), 0u);

    sessionState.setLastRetryTimestamp(now - 6h - 1s);
    delegate->sseWatchDog();
    EXPECT_EQ(logCount("Update access token by watch dog"), 1u);
    EXPECT_EQ(logCount("calling connectNotifications by watch dog (21600 seconds has passed since"),
              1u);

    sessionState.setLastRetryTimestamp(std::nullopt);  // never connected
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
    sessionState.setNextRetryTimestamp(clock->systemNow() + 60s);
    delegate->receiveAwakeNotification();
    settle();
    EXPECT_EQ(logCount("Calling connectNotifications because of the host awoken"), 0u);
    EXPECT_EQ(sessionState.awakenTimestamp(), clock->systemNow());
    EXPECT_EQ(logCount("Call the timer process by twenty four hour because of the host awoken"),
              1u);

    sessionState.setNextRetryTimestamp(clock->systemNow() - 1s);
    delegate->receiveAwakeNotification();
    settle();
    EXPECT_EQ(logCount("Calling connectNotifications because of the host awoken"), 1u);
}

}  // namespace
}  // namespace tavo::test
