// The pages after the first one: the two-factor code, the device limit and
// the addresses of the service's web pages.
#include <gtest/gtest.h>

#include "SignInFixture.h"

namespace tavo::test {
namespace {

using signin::StepOutcome;

class SignInStepsTest : public SignInFixture {
protected:
    void expectShown(const StepOutcome& outcome, const char* text) {
        EXPECT_FALSE(outcome.segue);
        EXPECT_TRUE(outcome.showError);
        EXPECT_EQ(outcome.errorText, std::optional<std::string>(text));
        EXPECT_TRUE(outcome.enableButton);
    }
    void expectSegue(const StepOutcome& outcome, const char* segue) {
        EXPECT_EQ(outcome.segue, std::optional<std::string>(segue));
        EXPECT_FALSE(outcome.showError);
        EXPECT_FALSE(outcome.closeWindow);
    }
    // Signs in to an account at its device limit: the device page is next.
    void reachDevicePage() {
        expectSegue(flow.login(kLimitMail, kPassword), signin::kSegueThirdUnitNgDialog);
    }
};

TEST_F(SignInStepsTest, RightCodeStoresTheTokensAfterWrongOnes) {
    LogCapture log(sandbox.path("/signin.log"));
    expectSegue(flow.login(kTwoFactorMail, kPassword), signin::kSegueTwoAuthorization);
    expectShown(flow.submitCode("00000000"), signin::kWrongCodeText);
    EXPECT_NE(log.text().find("code=MSG_E2004, message=wrong authorization code"),
              std::string::npos);
    EXPECT_EQ(stored(kConfigRefreshTokens), std::optional<std::string>(""));

    expectSegue(flow.submitCode(kTwoFactorCode), signin::kSegueLoginCompletion);
    ASSERT_FALSE(client.refreshToken().value_or("").empty());
    EXPECT_EQ(stored(kConfigRefreshTokens), client.refreshToken());
    EXPECT_FALSE(client.accessToken().value_or("").empty());
}

TEST_F(SignInStepsTest, ExpiredCodeIsToldAndTheButtonComesBack) {
    LogCapture log(sandbox.path("/signin.log"));
    expectSegue(flow.login(kTwoFactorMail, kPassword), signin::kSegueTwoAuthorization);
    expireTwoFactorCodes();
    expectShown(flow.submitCode(kTwoFactorCode), signin::kCodeExpiredText);
    EXPECT_NE(log.text().find("code=MSG_E2006, message=authentication code has expired"),
              std::string::npos);
}

TEST_F(SignInStepsTest, CodeRefusalsFollowTheirTable) {
    LogCapture log(sandbox.path("/signin.log"));
    expectSegue(flow.login(kTwoFactorMail, kPassword), signin::kSegueTwoAuthorization);
    answerOnce("/api/v1/auth2fact", 400, {{"code", 1001}, {"message", "invalid"}});
    expectShown(flow.submitCode(kTwoFactorCode), signin::kWrongCodeText);
    EXPECT_EQ(log.text().find("MSG_E2004"), std::string::npos);  // only a 1002 is logged as wrong
    answerOnce("/api/v1/auth2fact", 400, {{"code", 1004}, {"message", "locked"}});
    expectShown(flow.submitCode(kTwoFactorCode), signin::kAccountLockedText);
    answerOnce("/api/v1/auth2fact", 500, {{"code", 2000}, {"message", "server error"}});
    expectShown(flow.submitCode(kTwoFactorCode), signin::kNetworkErrorText);
    addFault({{"path", "/api/v1/auth2fact"}, {"status", 200}, {"body", "<html>"}, {"count", 1}});
    expectShown(flow.submitCode(kTwoFactorCode), signin::kNetworkErrorText);  // unreadable
    EXPECT_EQ(stored(kConfigRefreshTokens), std::optional<std::string>(""));
    // The sign-in is still pending: the right code goes through.
    expectSegue(flow.submitCode(kTwoFactorCode), signin::kSegueLoginCompletion);

    expectSegue(flow.login(kTwoFactorMail, kPassword), signin::kSegueTwoAuthorization);
    dropOnce("/api/v1/auth2fact");
    expectShown(flow.submitCode(kTwoFactorCode), signin::kNetworkErrorText);
    EXPECT_EQ(stored(kConfigRefreshTokens), std::optional<std::string>(""));
}

TEST_F(SignInStepsTest, CodeAtTheDeviceLimitHoldsTheTokensAndGoesToTheDevicePage) {
    expectSegue(flow.login(kTwoFactorLimitMail, kPassword), signin::kSegueTwoAuthorization);
    expectSegue(flow.submitCode(kTwoFactorCode), signin::kSegueThirdUnitNgDialog);
    ASSERT_FALSE(client.refreshToken().value_or("").empty());
    EXPECT_EQ(stored(kConfigRefreshTokens), std::optional<std::string>(""));  // held, not stored

    const auto devices = flow.devices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].name, "home-mac ada");
    ASSERT_TRUE(flow.releaseDevice(devices[0].deviceId));
    expectSegue(flow.takeIntoUse(), signin::kSegueLoginCompletion);
    EXPECT_EQ(stored(kConfigRefreshTokens), client.refreshToken());
}

TEST_F(SignInStepsTest, ReleasingADeviceLetsThisOneIntoUse) {
    LogCapture log(sandbox.path("/signin.log"));
    reachDevicePage();
    const std::string limitedRefresh = client.refreshToken().value_or("");

    const auto devices = flow.devices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].name, "office-mac ada");
    EXPECT_EQ(devices[0].deviceId, "DEVICE0000000001");
    EXPECT_EQ(devices[1].name, "studio-mac ada");
    EXPECT_TRUE(devices[0].active && devices[1].active);
    EXPECT_NE(log.text().find("Using device detected: studio-mac"), std::string::npos);

    ASSERT_TRUE(flow.releaseDevice(devices[1].deviceId));
    EXPECT_FALSE(flow.releaseDevice(devices[1].deviceId));  // no longer in use
    EXPECT_NE(log.text().find("code=MSG_E2007, message=failed logout the device"),
              std::string::npos);

    expectSegue(flow.takeIntoUse(), signin::kSegueLoginCompletion);
    const std::string refresh = client.refreshToken().value_or("");
    ASSERT_FALSE(refresh.empty());
    EXPECT_NE(refresh, limitedRefresh);
    EXPECT_EQ(stored(kConfigRefreshTokens), refresh);
    EXPECT_NE(log.text().find("Third Unit set refresh token"), std::string::npos);
    ASSERT_EQ(flow.devices().size(), 2u);  // the first one and this one
}

TEST_F(SignInStepsTest, TakingIntoUseWithoutFreeingADeviceGoesBackToTheFirstPage) {
    reachDevicePage();
    expectSegue(flow.takeIntoUse(), signin::kSegueLogin);
    EXPECT_EQ(stored(kConfigRefreshTokens), std::optional<std::string>(""));  // still signed out
}

TEST_F(SignInStepsTest, ANetworkFailureWhenTakingIntoUseClosesTheWindow) {
    reachDevicePage();
    dropOnce("/api/v1/device/in-use");
    const StepOutcome outcome = flow.takeIntoUse();
    EXPECT_TRUE(outcome.closeWindow);
    EXPECT_FALSE(outcome.segue);
}

TEST_F(SignInStepsTest, AFailedDeviceListIsEmpty) {
    reachDevicePage();
    dropOnce("/api/v1/devices");
    EXPECT_TRUE(flow.devices().empty());
    answerOnce("/api/v1/devices", 400, {{"code", 1009}, {"message", "not authorized"}});
    EXPECT_TRUE(flow.devices().empty());
}

TEST_F(SignInStepsTest, PageAddressesComeFromTheServiceWhenOpenable) {
    EXPECT_EQ(flow.passwordResetUrl(), service.apiUrl() + "/pages/password-reset");
    EXPECT_EQ(flow.memberRegistrationUrl(), service.apiUrl() + "/pages/member-registration");
    EXPECT_FALSE(flow.fontListUrl());  // only for a signed-in device
    expectSegue(flow.login(kMail, kPassword), signin::kSegueLoginCompletion);
    EXPECT_EQ(flow.fontListUrl(), service.apiUrl() + "/pages/font-list");

    for (const char* url :
         {"file:///etc/passwd", "javascript:alert(1)", "-oProxyCommand=x", "https://a b"}) {
        answerOnce("/api/v1/screens/password-reset/url", 200,
                   {{"code", 0}, {"message", "ok"}, {"data", {{"url", url}}}});
        EXPECT_FALSE(flow.passwordResetUrl()) << url;
    }
    dropOnce("/api/v1/screens/member-registration/url");
    EXPECT_FALSE(flow.memberRegistrationUrl());
}

}  // namespace
}  // namespace tavo::test
