// The account state: tokens at start-up, the first online or offline
// processing, the start of a synchronization, and logout.
#include <gtest/gtest.h>

#include <future>

#include "ResidentFixture.h"
#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "resident/AccountState.h"

namespace tavo::test {
namespace {

class AccountStateTest : public ResidentFixture {
protected:
    void SetUp() override {
        ResidentFixture::SetUp();
        if (HasFatalFailure())
            return;
        account = std::make_shared<AccountState>(client, sessionState, controller, program);
        account->setLinks({
            calls.recorder<bool>("setStatusItemEnabled"),
            calls.recorder<>("showSignedOut"),
            calls.recorder<>("resetIconAnimation"),
            calls.recorder<>("updateHalfHourTimer"),
            calls.recorder<>("updateTwentyFourHourTimer"),
        });
    }

    void TearDown() override {
        settle();
        account.reset();
        ResidentFixture::TearDown();
    }

    CallLog calls;
    std::shared_ptr<AccountState> account;
};

TEST_F(AccountStateTest, WithoutAStoredRefreshTokenTheStartIsSignedOutAndAsksNothing) {
    Config::createConfigPlist(CryptorUtil::encryptString("device-key"));
    client.isLoginStatus = true;
    account->setApiClient(service.apiUrl(), service.sseUrl());
    settle();
    EXPECT_FALSE(client.isLoginStatus);
    EXPECT_EQ(client.deviceKey(), "device-key");
    EXPECT_EQ(client.apiEndpoint(), service.apiUrl());
    EXPECT_EQ(client.sseEndpoint(), service.sseUrl());
    EXPECT_EQ(client.timeoutIntervalForRequest, 10.0);
    EXPECT_TRUE(client.accessToken().value_or("").empty());
    EXPECT_EQ(requestCount("/api/v1/token"), 0u);
}

TEST_F(AccountStateTest, AStoredRefreshTokenSignsInWithOneTokenRequest) {
    signIn();
    storeClientSignIn();
    const std::string deviceId = *client.deviceId();
    client.setAccessToken(std::string());
    client.setDeviceId(std::string());
    account->setApiClient(service.apiUrl(), service.sseUrl());
    settle();
    EXPECT_TRUE(client.isLoginStatus);
    EXPECT_EQ(client.deviceId(), deviceId);
    EXPECT_FALSE(client.accessToken().value_or("").empty());
    EXPECT_EQ(requestCount("/api/v1/token"), 1u);  // no retries queued
}

TEST_F(AccountStateTest, ARefusedTokenAtStartIsRetriedThreeTimesOnTheQueue) {
    signIn();
    storeClientSignIn();
    addFault({{"path", "/api/v1/token"}, {"status", 500}});
    account->setApiClient(service.apiUrl(), service.sseUrl());
    settle();
    EXPECT_TRUE(client.isLoginStatus);
    EXPECT_EQ(requestCount("/api/v1/token"), 1u + 3u);
    EXPECT_TRUE(client.accessToken().value_or("").empty());
}

TEST_F(AccountStateTest, TokenRetriesStopAtTheFirstToken) {
    signIn();
    client.setAccessToken(std::string());
    account->getAccessToken(3);
    EXPECT_EQ(requestCount("/api/v1/token"), 1u);
    EXPECT_FALSE(client.accessToken().value_or("").empty());
    account->getAccessToken(0);
    EXPECT_EQ(requestCount("/api/v1/token"), 1u);
}

TEST_F(AccountStateTest, OnlineTheFirstProcessingStartsTheChecksAndASynchronization) {
    signIn();
    storeClientSignIn();
    client.isOnlineStatusApi = true;
    client.isOnlineStatusSse = true;
    account->applicationDidFinishLaunchingOrOnlineFirstDetection();
    EXPECT_TRUE(sessionState.isOnlineFirstProcessingExecuted);
    EXPECT_EQ(calls.all(), (std::vector<std::string>{"resetIconAnimation", "updateHalfHourTimer"}));
    EXPECT_TRUE(controller->syncGate().inFontSynchroizing());
    settle();
    EXPECT_GE(requestCount("/api/v1/install-fonts"), 1u);
}

TEST_F(AccountStateTest, OfflineTheFirstProcessingStartsNoCheckAndNoSynchronization) {
    client.isOnlineStatusApi = false;
    account->applicationDidFinishLaunchingOrOnlineFirstDetection();
    settle();
    EXPECT_FALSE(sessionState.isOnlineFirstProcessingExecuted);
    EXPECT_TRUE(calls.all().empty());  // the daily gate comes 3 seconds later
    EXPECT_FALSE(controller->syncGate().inFontSynchroizing());
    EXPECT_EQ(requestCount("/api/v1/install-fonts"), 0u);
}

TEST_F(AccountStateTest, OneSynchronizationIsQueuedAtATime) {
    std::promise<void> release;
    auto released = release.get_future().share();
    queue->async([released] { released.wait(); });
    EXPECT_TRUE(account->startSynchronization("skip", "start", "run"));
    EXPECT_TRUE(controller->syncGate().inFontSynchroizing());
    EXPECT_FALSE(account->startSynchronization("skip", "start", "run"));
    release.set_value();
    settle();
}

TEST_F(AccountStateTest, LogoutKeepsTheDeviceKeyAndDropsTheSignIn) {
    signIn();
    storeClientSignIn();
    Config::createFontPlist();
    ASSERT_TRUE(FileUtil::exists(*Config::fontListPath()));
    account->performLogout(false);
    settle();
    EXPECT_FALSE(client.isLoginStatus);
    EXPECT_FALSE(FileUtil::exists(*Config::fontListPath()));
    const auto config = Config::userConfig();
    ASSERT_TRUE(config);
    EXPECT_EQ(Config::decryptedValue(*config, kConfigDeviceKey), "device-key");
    EXPECT_TRUE(Config::decryptedValue(*config, kConfigDeviceId).value_or("").empty());
    EXPECT_TRUE(Config::decryptedValue(*config, kConfigRefreshTokens).value_or("").empty());
    EXPECT_EQ(calls.all(), (std::vector<std::string>{"setStatusItemEnabled false", "showSignedOut",
                                                     "setStatusItemEnabled true"}));
    EXPECT_EQ(requestCount("/api/v1/logout"), 1u);
    EXPECT_TRUE(userNotifications->all().empty());  // not a forced one
}

TEST_F(AccountStateTest, AForcedLogoutTellsTheUserOnceAndAsksTheServerNothing) {
    signIn();
    storeClientSignIn();
    account->forcedLogout();
    account->forcedLogout();  // another refusal after the logout
    settle();
    EXPECT_FALSE(client.isLoginStatus);
    EXPECT_EQ(requestCount("/api/v1/logout"), 0u);
    const auto delivered = userNotifications->all();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].subtitle, "You have been logged out");
    EXPECT_EQ(calls.count("showSignedOut"), 1u);
}

}  // namespace
}  // namespace tavo::test
