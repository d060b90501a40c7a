// The periodic checks: the once-a-day gate, the half-hour check's
// decisions, the stream watchdog, the refresh-token schedule, and the
// reactions to reachability, sleep and wake.
#include <gtest/gtest.h>

#include <set>

#include "ResidentFixture.h"
#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "foundation/MainQueue.h"
#include "resident/PeriodicWork.h"
#include "service/Reachability.h"

namespace tavo::test {
namespace {

using namespace std::chrono_literals;

class PeriodicWorkTest : public ResidentFixture {
protected:
    void SetUp() override {
        ResidentFixture::SetUp();
        if (HasFatalFailure())
            return;
        work = std::make_shared<PeriodicWork>(client, sessionState, controller, program);
        work->setLinks({
            calls.recorder<int>("getAccessToken"),
            calls.recorder<>("forcedLogout"),
            calls.recorder<const std::string&>("setNoticeInfoTitle"),
            calls.recorder<>("raiseNoticeBadge"),
        });
    }

    void TearDown() override {
        if (work) {
            settle();
            work->invalidateTimers();
            work.reset();
        }
        ResidentFixture::TearDown();
    }

    void signInAndStore() {
        signIn();
        storeClientSignIn();
    }

    void setNotice(long total, bool latest) {
        auto& state = *service.context()->state;
        std::lock_guard lock(state.mutex);
        auto* account = state.findAccount(kMail);
        account->notice.total = total;
        account->notice.existsLatestNotice = latest;
    }

    // Moves this device out of the account's device list.
    void forgetOwnDevice() {
        ASSERT_TRUE(Config::updateUserConfig([](PlistDict& dict) {
            dict[kConfigDeviceId] = *CryptorUtil::encryptString("DEVICE-UNKNOWN");
        }));
    }

    CallLog calls;
    std::shared_ptr<PeriodicWork> work;
};

TEST_F(PeriodicWorkTest, RegularProcessingRunsOncePerStartThenOnlyAfterADay) {
    signInAndStore();
    const auto start = clock->systemNow();
    work->updateTwentyFourHourTimer();  // first of this process: runs
    settle();
    EXPECT_EQ(requestCount("/api/v1/notice"), 1u);
    EXPECT_EQ(work->updateTwentyFourHourTimerDate(), start);
    EXPECT_TRUE(work->hasTwentyFourHourCheckTimer());

    clock->setNow(start + 10h);  // a wake ten hours later
    work->updateTwentyFourHourTimer();
    settle();
    EXPECT_EQ(requestCount("/api/v1/notice"), 1u);
    EXPECT_EQ(work->updateTwentyFourHourTimerDate(), start);

    clock->setNow(start + 25h);
    work->updateTwentyFourHourTimer();
    settle();
    EXPECT_EQ(requestCount("/api/v1/notice"), 2u);
    EXPECT_EQ(work->updateTwentyFourHourTimerDate(), start + 25h);
}

TEST_F(PeriodicWorkTest, ATimerFiringASecondEarlyStillPasses) {
    signInAndStore();
    const auto start = clock->systemNow();
    work->setUpdateTwentyFourHourTimerDate(start);
    clock->setNow(start + 86399s);
    work->updateTwentyFourHourTimer();
    settle();
    EXPECT_EQ(requestCount("/api/v1/notice"), 1u);

    clock->setNow(start + 86399s + 86398s);  // two seconds early
    work->updateTwentyFourHourTimer();
    settle();
    EXPECT_EQ(requestCount("/api/v1/notice"), 1u);
}

TEST_F(PeriodicWorkTest, ANewNoticeTitlesTheEntryAndRaisesTheBadge) {
    signInAndStore();
    setNotice(2, true);
    work->performRegularProcessing();
    EXPECT_EQ(calls.all(),
              (std::vector<std::string>{"setNoticeInfoTitle Notices(2 new)", "raiseNoticeBadge"}));

    calls.clear();
    setNotice(0, false);
    work->performRegularProcessing();
    EXPECT_EQ(calls.all(), (std::vector<std::string>{"setNoticeInfoTitle Notices"}));
}

TEST_F(PeriodicWorkTest, ARegularProcessingSignedOutAsksTheServiceNothing) {
    client.isLoginStatus = false;
    controller->chainState().isDiskSpaceInsufficientNotified = true;
    work->performRegularProcessing();
    EXPECT_EQ(requestCount("/api/v1/notice"), 0u);
    EXPECT_TRUE(calls.all().empty());
    EXPECT_FALSE(
        controller->chainState().isDiskSpaceInsufficientNotified);  // the warning may come again
}

TEST_F(PeriodicWorkTest, TheHalfHourCheckLogsOutADeviceTheAccountNoLongerLists) {
    signInAndStore();
    forgetOwnDevice();
    client.isOnlineStatusApi = true;
    client.isOnlineStatusSse = true;
    work->updateHalfHourTimer();
    settle();
    EXPECT_TRUE(work->hasHalfHourCheckTimer());
    EXPECT_EQ(requestCount("/api/v1/devices"), 1u);
    EXPECT_EQ(calls.count("forcedLogout"), 1u);
}

TEST_F(PeriodicWorkTest, AFailedDeviceListLogsNobodyOut) {
    signInAndStore();
    addFault({{"path", "/api/v1/devices"}, {"status", 500}});
    sessionState.setLastRetryTimestamp(clock->systemNow());  // a fresh stream
    work->updateHalfHourTimer();
    settle();
    EXPECT_EQ(calls.count("forcedLogout"), 0u);
    EXPECT_EQ(calls.count("getAccessToken 1"), 0u);  // the watchdog left the stream alone
}

TEST_F(PeriodicWorkTest, BackOnlineARegisteredDeviceSynchronizesInTheCheck) {
    signInAndStore();
    sessionState.setLastRetryTimestamp(clock->systemNow());
    // Offline before the check; its first request brings the client back.
    client.isOnlineStatusApi = false;
    work->updateHalfHourTimer();
    settle();
    EXPECT_GE(requestCount("/api/v1/install-fonts"), 1u);
    EXPECT_EQ(calls.count("forcedLogout"), 0u);

    // Online before and after: no synchronization of its own.
    const std::size_t before = requestCount("/api/v1/install-fonts");
    client.isOnlineStatusApi = true;
    client.isOnlineStatusSse = true;
    work->updateHalfHourTimer();
    settle();
    EXPECT_EQ(requestCount("/api/v1/install-fonts"), before);
}

TEST_F(PeriodicWorkTest, TheHalfHourCheckDoesNothingSignedOut) {
    client.isLoginStatus = false;
    work->updateHalfHourTimer();
    settle();
    EXPECT_TRUE(work->hasHalfHourCheckTimer());  // it keeps running for a later sign-in
    EXPECT_EQ(requestCount("/api/v1/devices"), 0u);
}

TEST_F(PeriodicWorkTest, TheHalfHourCheckAsksForAMissingAccessTokenOnce) {
    signInAndStore();
    client.setAccessToken(std::string());
    sessionState.setLastRetryTimestamp(clock->systemNow());
    work->updateHalfHourTimer();
    settle();
    EXPECT_EQ(calls.count("getAccessToken 1"), 1u);
}

TEST_F(PeriodicWorkTest, TheWatchdogLeavesAStreamOfExactlySixHoursAlone) {
    const auto now = clock->systemNow();
    sessionState.setLastRetryTimestamp(now - 6h);
    work->sseWatchDog();
    EXPECT_TRUE(calls.all().empty());

    sessionState.setLastRetryTimestamp(now - 6h - 1s);
    work->sseWatchDog();
    EXPECT_EQ(calls.all(), (std::vector<std::string>{"getAccessToken 1"}));

    sessionState.setLastRetryTimestamp(std::nullopt);  // never connected
    work->sseWatchDog();
    EXPECT_EQ(calls.count("getAccessToken 1"), 2u);
}

TEST_F(PeriodicWorkTest, TheRefreshTokenScheduleIsSevenToTwelveWholeDaysAhead) {
    Config::createConfigPlist(std::nullopt);
    clock->setNow(std::chrono::floor<std::chrono::seconds>(clock->systemNow()));  // as stored
    const auto now = clock->systemNow();
    std::set<long long> days;
    for (int i = 0; i < 200; ++i) {
        work->settingScheduleCheckUserRereshToken();
        const auto config = Config::userConfig();
        ASSERT_TRUE(config);
        const auto* date = plistGet<PlistDate>(*config, kConfigScheduledDate);
        ASSERT_TRUE(date);
        const auto ahead = std::chrono::duration_cast<std::chrono::seconds>(*date - now).count();
        ASSERT_EQ(ahead % 86400, 0) << ahead;
        days.insert(ahead / 86400);
    }
    EXPECT_EQ(days, (std::set<long long>{7, 8, 9, 10, 11, 12}));
}

TEST_F(PeriodicWorkTest, AScheduleNotYetReachedRenewsNothing) {
    signInAndStore();
    work->settingScheduleCheckUserRereshToken();
    const std::string before = *client.refreshToken();
    work->updateUserRefreshTokenScheduled();
    EXPECT_EQ(requestCount("/api/v1/refresh-token"), 0u);
    EXPECT_EQ(*client.refreshToken(), before);
    const auto firstSchedule = *plistGet<PlistDate>(*Config::userConfig(), kConfigScheduledDate);

    // Thirteen days on, the token is renewed and stored, and a new schedule set.
    clock->setNow(clock->systemNow() + 13 * 24h);
    work->updateUserRefreshTokenScheduled();
    EXPECT_EQ(requestCount("/api/v1/refresh-token"), 1u);
    EXPECT_NE(*client.refreshToken(), before);
    const auto config = *Config::userConfig();
    EXPECT_EQ(Config::decryptedValue(config, kConfigRefreshTokens), client.refreshToken());
    EXPECT_GT(*plistGet<PlistDate>(config, kConfigScheduledDate), firstSchedule);
}

TEST_F(PeriodicWorkTest, AFailedRenewalKeepsTokensAndSchedule) {
    signInAndStore();
    clock->setNow(clock->systemNow() - 13 * 24h);
    work->settingScheduleCheckUserRereshToken();
    clock->setNow(clock->systemNow() + 13 * 24h);
    const auto schedule = *plistGet<PlistDate>(*Config::userConfig(), kConfigScheduledDate);
    const std::string before = *client.refreshToken();
    addFault({{"path", "/api/v1/refresh-token"}, {"status", 500}});
    work->updateUserRefreshTokenScheduled();
    EXPECT_EQ(*client.refreshToken(), before);
    EXPECT_EQ(*plistGet<PlistDate>(*Config::userConfig(), kConfigScheduledDate), schedule);
}

TEST_F(PeriodicWorkTest, LosingReachabilityTakesTheClientOffline) {
    client.isOnlineStatusApi = true;
    client.isOnlineStatusSse = true;
    // No watcher yet: none counts as unreachable.
    work->reachabilityChanged({kReachabilityChangedNotification, {}});
    EXPECT_FALSE(client.isOnlineStatusApi);
    EXPECT_FALSE(client.isOnlineStatusSse);
    EXPECT_EQ(logCount("MSG_E0001"), 1u);
}

TEST_F(PeriodicWorkTest, ReachabilityBackStartsNoSecondSynchronization) {
    signInAndStore();
    work->setReachability(Reachability::reachabilityWithURL(service.apiUrl()));
    auto running = controller->syncGate().tryAcquire();  // one is queued or running
    client.setAccessToken(std::string());
    work->reachabilityChanged({kReachabilityChangedNotification, {}});
    settle();
    EXPECT_EQ(requestCount("/api/v1/install-fonts"), 0u);
    EXPECT_EQ(calls.count("getAccessToken 2"), 0u);
    running.release();

    work->reachabilityChanged({kReachabilityChangedNotification, {}});
    settle();
    EXPECT_EQ(calls.count("getAccessToken 2"), 1u);  // the token first, then the run
    EXPECT_GE(requestCount("/api/v1/install-fonts"), 1u);
}

TEST_F(PeriodicWorkTest, WakingRecordsTheMomentAndRunsTheDailyGate) {
    signInAndStore();
    sessionState.setNextRetryTimestamp(clock->systemNow() + 60s);
    work->receiveAwakeNotification();
    settle();
    EXPECT_EQ(sessionState.awakenTimestamp(), clock->systemNow());
    // The daily gate ran: the first regular processing of this process.
    EXPECT_EQ(work->updateTwentyFourHourTimerDate(), clock->systemNow());
    EXPECT_EQ(requestCount("/api/v1/notice"), 1u);
}

// A signed-in user whose account holds three fonts under contract, active.
class PeriodicSynchronizationTest : public PeriodicWorkTest {
protected:
    nlohmann::json seed() const override { return contractedAccountSeed(); }
};

TEST_F(PeriodicSynchronizationTest, AFailedSynchronizationLeavesTheNextHalfHourCheckFree) {
    signInAndStore();
    // Offline before the check: it synchronizes once the client is back.
    client.isOnlineStatusApi = false;
    addFault({{"path", "/api/v1/install-fonts"}, {"status", 500}, {"count", 1}});
    work->updateHalfHourTimer();
    settle();
    ASSERT_EQ(requestCount("/api/v1/install-fonts"), 1u);
    EXPECT_FALSE(controller->syncGate().inFontSynchroizing()) << "the failed run let go";

    // The service was down a while longer: the next check finds the client
    // off line, and with the fault gone its synchronization installs the fonts.
    client.isOnlineStatusApi = false;
    work->updateHalfHourTimer();
    const bool done = MainQueue::main().runUntil(
        [&] {
            queue->sync([] {});
            return requestCount("/api/v1/install-fonts") == 2u &&
                   !controller->syncGate().inFontSynchroizing();
        },
        20s);
    settle();
    ASSERT_TRUE(done);
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
