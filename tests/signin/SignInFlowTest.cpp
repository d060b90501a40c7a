// The first page of the sign-in window without its window: the input check,
// device key and id, POST /login and what each answer leads to.
#include <gtest/gtest.h>

#include "SignInFixture.h"
#include "foundation/Log.h"
#include "platform/SystemInfo.h"

namespace tavo::test {
namespace {

using signin::SignInFlow;
using signin::StepOutcome;

std::string repeated(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

struct InputCase {
    std::string mailAddress;
    std::string password;
    bool mailValid;
    bool passwordValid;
};

TEST(SignInInputCheck, LimitsCountCharactersAsATextFieldDoes) {
    const std::string e = "\xC3\xA9";             // é: two bytes, one unit
    const std::string note = "\xF0\x9D\x84\x9E";  // U+1D11E: four bytes, two units
    const InputCase cases[] = {
        {repeated("a", 121), "p", true, true},
        {repeated("a", 122), "p", false, true},
        {"a", repeated("p", 128), true, true},
        {"a", repeated("p", 129), true, false},
        {"", "p", false, true},
        {"a", "", true, false},
        {"", repeated("p", 129), false, false},
        {repeated(e, 121), repeated(e, 128), true, true},
        {repeated(note, 60) + "a", repeated(note, 64), true, true},    // 121 and 128 units
        {repeated(note, 61), repeated(note, 64) + "p", false, false},  // 122 and 129 units
    };
    for (const auto& c : cases) {
        const auto check = SignInFlow::inputCheck(c.mailAddress, c.password);
        EXPECT_EQ(check.mailAddressValid, c.mailValid) << c.mailAddress.size() << " bytes";
        EXPECT_EQ(check.passwordValid, c.passwordValid) << c.password.size() << " bytes";
        EXPECT_EQ(check.ok(), c.mailValid && c.passwordValid);
    }
}

TEST(SignInInputCheck, CodeHasExactlyEightCharacters) {
    EXPECT_TRUE(SignInFlow::isValidAuthorizationCode("24681357"));
    EXPECT_TRUE(SignInFlow::isValidAuthorizationCode(repeated("\xC3\xA9", 8)));
    EXPECT_FALSE(SignInFlow::isValidAuthorizationCode("2468135"));
    EXPECT_FALSE(SignInFlow::isValidAuthorizationCode("246813579"));
    EXPECT_FALSE(SignInFlow::isValidAuthorizationCode(""));
}

class SignInInputLogTest : public SandboxTest {};

TEST_F(SignInInputLogTest, EachFailingFieldLogsItsCode) {
    LogCapture log(sandbox.path("/signin.log"));
    SignInFlow::inputCheck("", repeated("p", 129));
    SignInFlow::isValidAuthorizationCode("1234567");
    const std::string text = log.text();
    EXPECT_NE(text.find("code=MSG_E2002, message=not inputted correctly"), std::string::npos)
        << text;
    EXPECT_NE(text.find("code=MSG_E2003, message=not inputted correctly"), std::string::npos)
        << text;
    EXPECT_NE(text.find("code=MSG_E2005, message=not inputted correctly"), std::string::npos)
        << text;
}

class SignInLoginTest : public SignInFixture {
protected:
    void expectRefused(const StepOutcome& outcome, const char* text) {
        EXPECT_FALSE(outcome.segue);
        EXPECT_FALSE(outcome.closeWindow);
        EXPECT_TRUE(outcome.showError);
        EXPECT_EQ(outcome.errorText, std::optional<std::string>(text));
        EXPECT_TRUE(outcome.enableButton);
    }
};

TEST_F(SignInLoginTest, FirstSignInRegistersTheDeviceAndLaterOnesReuseIt) {
    const StepOutcome outcome = flow.login(kMail, kPassword);
    EXPECT_EQ(outcome.segue, std::optional<std::string>(signin::kSegueLoginCompletion));
    EXPECT_FALSE(outcome.showError);

    const std::string key = client.deviceKey().value_or("");
    ASSERT_EQ(key.size(), 32u);
    EXPECT_EQ(key.find_first_not_of("0123456789ABCDEF"), std::string::npos) << key;
    EXPECT_EQ(requestCount("/api/v1/deviceId"), 1u);
    const auto device = requests("/api/v1/deviceId")[0]["body"].dump();
    EXPECT_NE(device.find(key), std::string::npos);
    EXPECT_NE(device.find(platform::SystemInfo::loginName()), std::string::npos);

    // Key and id are stored encrypted: the raw values are not the texts.
    const auto config = *Config::userConfig();
    const auto* rawKey = plistGet<PlistData>(config, kConfigDeviceKey);
    const auto* rawId = plistGet<PlistData>(config, kConfigDeviceId);
    ASSERT_TRUE(rawKey && rawId);
    EXPECT_EQ(CryptorUtil::decryptStringWithData(*rawKey), key);
    EXPECT_EQ(CryptorUtil::decryptStringWithData(*rawId), client.deviceId());

    // The same machine later, as the application loads it at start: the key
    // and the id of the configuration, no new registration.
    ApiClient later;
    later.setApiEndpoint(service.apiUrl());
    later.setDeviceKey(stored(kConfigDeviceKey));
    EXPECT_EQ(SignInFlow(later).login(kMail, kPassword).segue,
              std::optional<std::string>(signin::kSegueLoginCompletion));
    EXPECT_EQ(requestCount("/api/v1/deviceId"), 1u);
    EXPECT_EQ(requestCount("/api/v1/login"), 2u);
    EXPECT_EQ(later.deviceId(), client.deviceId());
    EXPECT_EQ(stored(kConfigDeviceId), client.deviceId());
}

TEST_F(SignInLoginTest, ANewDeviceKeyIsRegisteredAgain) {
    ASSERT_TRUE(flow.login(kMail, kPassword).segue);
    const auto firstId = client.deviceId();
    ApiClient other;  // a client without the stored key makes a key of its own
    other.setApiEndpoint(service.apiUrl());
    ASSERT_TRUE(SignInFlow(other).login(kMail, kPassword).segue);
    EXPECT_EQ(requestCount("/api/v1/deviceId"), 2u);
    EXPECT_NE(other.deviceKey(), client.deviceKey());
    EXPECT_NE(other.deviceId(), firstId);
    EXPECT_EQ(stored(kConfigDeviceId), other.deviceId());
}

TEST_F(SignInLoginTest, TokensAreStoredEncryptedAndTheOldSignInIsDropped) {
    storeSignIn("OLD-DEVICE", "old-refresh-token");
    auto config = *Config::userConfig();
    config[kConfigUpdateVersion] = "2.2.0";
    config[kConfigMailAddress] = *CryptorUtil::encryptString("old@example.com");
    ASSERT_TRUE(Config::writeToUserConfig(config, true, nullptr));

    ASSERT_EQ(flow.login(kMail, kPassword).segue,
              std::optional<std::string>(signin::kSegueLoginCompletion));
    const std::string refresh = client.refreshToken().value_or("");
    ASSERT_FALSE(refresh.empty());
    EXPECT_FALSE(client.accessToken().value_or("").empty());

    config = *Config::userConfig();
    const auto* raw = plistGet<PlistData>(config, kConfigRefreshTokens);
    ASSERT_TRUE(raw);
    EXPECT_EQ(std::string(raw->begin(), raw->end()).find(refresh), std::string::npos);
    EXPECT_EQ(CryptorUtil::decryptStringWithData(*raw), refresh);
    EXPECT_EQ(*plistGet<std::string>(config, kConfigUpdateVersion), "2.2.0");
    EXPECT_FALSE(config.count(kConfigMailAddress));
    EXPECT_NE(stored(kConfigDeviceId), std::optional<std::string>("OLD-DEVICE"));
}

TEST_F(SignInLoginTest, TwoFactorAccountGoesToTheCodePageAndStoresNothing) {
    const StepOutcome outcome = flow.login(kTwoFactorMail, kPassword);
    EXPECT_EQ(outcome.segue, std::optional<std::string>(signin::kSegueTwoAuthorization));
    EXPECT_FALSE(outcome.showError);
    EXPECT_EQ(stored(kConfigRefreshTokens), std::optional<std::string>(""));
    EXPECT_FALSE(client.refreshToken());
    EXPECT_FALSE(stored(kConfigDeviceId).value_or("").empty());
}

TEST_F(SignInLoginTest, DeviceLimitHoldsTheTokensUnstoredAndGoesToTheDevicePage) {
    storeSignIn("OLD-DEVICE", "old-refresh-token");
    const StepOutcome outcome = flow.login(kLimitMail, kPassword);
    EXPECT_EQ(outcome.segue, std::optional<std::string>(signin::kSegueThirdUnitNgDialog));
    EXPECT_FALSE(outcome.showError);
    EXPECT_FALSE(client.accessToken().value_or("").empty());
    EXPECT_FALSE(client.refreshToken().value_or("").empty());
    // Abandoned here, the sign-in leaves this machine signed out: neither the
    // limited tokens nor an earlier sign-in's are stored.
    EXPECT_EQ(stored(kConfigRefreshTokens), std::optional<std::string>(""));
    EXPECT_EQ(flow.devices().size(), 2u);  // the held tokens open the device page
}

TEST_F(SignInLoginTest, ADeviceTheServiceForgotIsRegisteredAgainOnce) {
    ASSERT_TRUE(flow.login(kMail, kPassword).segue);
    const std::string forgotten = client.deviceId().value_or("");
    ASSERT_FALSE(forgotten.empty());
    {
        auto& state = *service.context()->state;
        std::lock_guard lock(state.mutex);
        state.devices.erase(forgotten);
    }

    // The same machine later: its stored id is refused with 1001.
    ApiClient later;
    later.setApiEndpoint(service.apiUrl());
    later.setDeviceKey(stored(kConfigDeviceKey));
    const StepOutcome outcome = SignInFlow(later).login(kMail, kPassword);
    EXPECT_EQ(outcome.segue, std::optional<std::string>(signin::kSegueLoginCompletion));
    EXPECT_FALSE(outcome.showError);
    EXPECT_EQ(requestCount("/api/v1/deviceId"), 2u);
    EXPECT_EQ(requestCount("/api/v1/login"), 3u);
    const std::string renewed = later.deviceId().value_or("");
    EXPECT_FALSE(renewed.empty());
    EXPECT_NE(renewed, forgotten);
    EXPECT_EQ(stored(kConfigDeviceId), renewed);
    EXPECT_FALSE(stored(kConfigRefreshTokens).value_or("").empty());
    EXPECT_EQ(loggedHeader(requests("/api/v1/login").back(), kHeaderDeviceId),
              std::optional<std::string>(renewed));

    // A 1001 that stays after the new registration is told as wrong
    // credentials; the device is registered once per attempt, not more.
    addFault({{"path", "/api/v1/login"},
              {"status", 400},
              {"body", nlohmann::json{{"code", 1001}, {"message", "unknown device"}}.dump()},
              {"count", 2}});
    expectRefused(SignInFlow(later).login(kMail, kPassword), signin::kWrongCredentialsText);
    EXPECT_EQ(requestCount("/api/v1/deviceId"), 3u);
    EXPECT_EQ(requestCount("/api/v1/login"), 5u);

    // An id registered in this very attempt is not registered again.
    ApiClient fresh;
    fresh.setApiEndpoint(service.apiUrl());
    answerOnce("/api/v1/login", 400, {{"code", 1001}, {"message", "unknown device"}});
    expectRefused(SignInFlow(fresh).login(kMail, kPassword), signin::kWrongCredentialsText);
    EXPECT_EQ(requestCount("/api/v1/deviceId"), 4u);
    EXPECT_EQ(requestCount("/api/v1/login"), 6u);
}

TEST_F(SignInLoginTest, WrongCredentialsAndLockedAccountsAreTold) {
    LogCapture log(sandbox.path("/signin.log"));
    expectRefused(flow.login(kMail, "wrong"),
                  signin::kWrongCredentialsText);  // refused at POST /deviceId
    EXPECT_EQ(requestCount("/api/v1/login"), 0u);
    EXPECT_NE(log.text().find("code=MSG_E2001, message=email address or password is wrong"),
              std::string::npos);

    ASSERT_TRUE(flow.login(kMail, kPassword).segue);  // the device is registered now
    expectRefused(flow.login(kMail, "wrong"), signin::kWrongCredentialsText);
    answerOnce("/api/v1/login", 400, {{"code", 1002}, {"message", "authentication failed"}});
    expectRefused(flow.login(kMail, kPassword), signin::kWrongCredentialsText);

    expectRefused(flow.login(kLockedMail, kPassword),
                  signin::kAccountLockedText);  // at POST /deviceId
    setLocked(kMail, true);
    expectRefused(flow.login(kMail, kPassword), signin::kAccountLockedText);  // at POST /login
    EXPECT_EQ(log.text().find(kPassword), std::string::npos);
}

TEST_F(SignInLoginTest, RegistrationRefusalsOtherThanCredentialsAskToRetry) {
    for (int code : {1001, 1005, 2000}) {
        answerOnce("/api/v1/deviceId", 400, {{"code", code}, {"message", "refused"}});
        expectRefused(flow.login(kMail, kPassword), signin::kNetworkErrorText);
    }
    answerOnce("/api/v1/deviceId", 400, {{"code", 1002}});  // no message
    expectRefused(flow.login(kMail, kPassword), signin::kNetworkErrorText);
    // Accepted, but without a device id that could be sent back.
    answerOnce("/api/v1/deviceId", 200,
               {{"code", 0}, {"message", "ok"}, {"data", {{"deviceId", "A\r\nX-Evil: 1"}}}});
    expectRefused(flow.login(kMail, kPassword), signin::kNetworkErrorText);
    EXPECT_EQ(requestCount("/api/v1/login"), 0u);
    EXPECT_EQ(stored(kConfigDeviceId), std::optional<std::string>(""));
}

TEST_F(SignInLoginTest, NetworkFailuresAskToRetry) {
    dropOnce("/api/v1/deviceId");
    expectRefused(flow.login(kMail, kPassword), signin::kNetworkErrorText);
    dropOnce("/api/v1/login");
    expectRefused(flow.login(kMail, kPassword), signin::kNetworkErrorText);
    answerOnce("/api/v1/login", 500, {{"code", 2000}, {"message", "server error"}});
    expectRefused(flow.login(kMail, kPassword), signin::kNetworkErrorText);
    addFault({{"path", "/api/v1/login"}, {"status", 502}, {"emptyBody", true}, {"count", 1}});
    expectRefused(flow.login(kMail, kPassword), signin::kNetworkErrorText);
    EXPECT_EQ(stored(kConfigRefreshTokens), std::optional<std::string>(""));

    service.stop();
    expectRefused(flow.login(kMail, kPassword), signin::kNetworkErrorText);
}

TEST_F(SignInLoginTest, AcceptedAnswerWithoutARefreshTokenIsNotASignIn) {
    ASSERT_TRUE(flow.login(kMail, kPassword).segue);
    answerOnce("/api/v1/login", 200,
               {{"code", 0}, {"message", "ok"}, {"data", {{"accessToken", "a"}}}});
    expectRefused(flow.login(kMail, kPassword), signin::kNetworkErrorText);
    EXPECT_EQ(stored(kConfigRefreshTokens), std::optional<std::string>(""));
}

TEST_F(SignInLoginTest, NoSecretReachesTheLogEvenInDebugMode) {
    LogCapture log(sandbox.path("/signin.log"));
    Log::defaultLog().applyLogMode(kLogModeDebug);
    ASSERT_TRUE(flow.login(kTwoFactorMail, kPassword).segue);
    ASSERT_TRUE(flow.submitCode(kTwoFactorCode).segue);
    const std::string text = log.text();
    EXPECT_NE(text.find("Generating device key"), std::string::npos);
    EXPECT_NE(text.find("TwoAuthorization set refresh token"), std::string::npos);
    EXPECT_NE(text.find("received deviceId=[" + client.deviceId().value_or("?") + "]"),
              std::string::npos);
    for (const std::string& secret :
         {std::string(kPassword), std::string(kTwoFactorCode), client.deviceKey().value_or("?"),
          client.refreshToken().value_or("?"), client.accessToken().value_or("?")})
        EXPECT_EQ(text.find(secret), std::string::npos) << secret;
}

}  // namespace
}  // namespace tavo::test
