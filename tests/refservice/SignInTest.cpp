// Sign-in from the outside: device registration, login with and without a
// second factor, the account states and the device limit.
#include <gtest/gtest.h>

#include "ServiceFixture.h"

namespace tavo::refservice::test {
namespace {

using Json = nlohmann::json;

class SignInTest : public ServiceFixture {
protected:
    int login(const std::string& mail, const std::string& password, const std::string& deviceId) {
        return code(post("/api/v1/login", {{"mailAddress", mail}, {"password", password}},
                         deviceHeader(deviceId)));
    }
};

TEST_F(SignInTest, DeviceRegistrationChecksCredentialsAndReusesTheDeviceKey) {
    const std::string first = registerDevice(kUser, "KEY-A");
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(registerDevice(kUser, "KEY-A"), first);
    EXPECT_NE(registerDevice(kUser, "KEY-B"), first);

    Json missingKey = {{"mailAddress", kUser}, {"password", kPassword}};
    EXPECT_EQ(code(post("/api/v1/deviceId", missingKey)), 1001);
    Json wrong = {{"mailAddress", kUser}, {"password", "nope"}, {"deviceKey", "K"}};
    EXPECT_EQ(code(post("/api/v1/deviceId", wrong)), 1002);
    Json locked = {{"mailAddress", kLocked}, {"password", kPassword}, {"deviceKey", "K"}};
    EXPECT_EQ(code(post("/api/v1/deviceId", locked)), 1004);

    auto notJson = httplib::Client("127.0.0.1", service.apiPort())
                       .Post("/api/v1/deviceId", "{not json", "application/json");
    EXPECT_EQ(code(notJson), 1001);
    EXPECT_EQ(notJson->status, 400);
}

TEST_F(SignInTest, LoginAnswersEachAccountState) {
    const std::string device = registerDevice(kUser, "KEY-1");
    auto ok = post("/api/v1/login", {{"mailAddress", kUser}, {"password", kPassword}},
                   deviceHeader(device));
    ASSERT_EQ(code(ok), 0);
    EXPECT_EQ(ok->status, 200);
    EXPECT_EQ(json(ok)["message"], "ok");
    EXPECT_FALSE(json(ok)["data"].value("accessToken", "").empty());
    EXPECT_FALSE(json(ok)["data"].value("refreshToken", "").empty());

    EXPECT_EQ(login(kUser, "wrong", device), 1002);
    EXPECT_EQ(login("nobody@example.com", kPassword, device), 1002);
    EXPECT_EQ(login(kUser, "", device), 1001);
    EXPECT_EQ(login(kUser, kPassword, "UNKNOWN-DEVICE"), 1001);
    EXPECT_EQ(login(kUser, kPassword, ""), 1001);
    EXPECT_EQ(login(kLocked, kPassword, device), 1004);
    EXPECT_EQ(login(kExpired, kPassword, device), 1006);
    EXPECT_EQ(login(kUnauthorized, kPassword, device), 1009);

    auto refused = post("/api/v1/login", {{"mailAddress", kUser}, {"password", "wrong"}},
                        deviceHeader(device));
    EXPECT_EQ(refused->status, 400);
    EXPECT_EQ(refused->get_header_value("Content-Type"), "application/json");
    EXPECT_FALSE(json(refused).contains("data"));
}

TEST_F(SignInTest, SecondFactorIsRequiredCheckedAndExpires) {
    const std::string device = registerDevice(kTwoFactor, "KEY-2FA");
    auto asked = post("/api/v1/login", {{"mailAddress", kTwoFactor}, {"password", kPassword}},
                      deviceHeader(device));
    EXPECT_EQ(code(asked), 100);
    EXPECT_EQ(asked->status, 200);
    EXPECT_FALSE(json(asked).contains("data"));

    auto submit = [&](const std::string& code) {
        return post("/api/v1/auth2fact", {{"twoFactCode", code}}, deviceHeader(device));
    };
    EXPECT_EQ(code(submit("WRONG123")), 1002);
    EXPECT_EQ(code(post("/api/v1/auth2fact", Json::object(), deviceHeader(device))), 1001);
    EXPECT_EQ(
        code(post("/api/v1/auth2fact", {{"twoFactCode", kTwoFactorCode}}, deviceHeader("ANOTHER"))),
        1002);

    auto accepted = submit(kTwoFactorCode);
    ASSERT_EQ(code(accepted), 0);
    EXPECT_FALSE(json(accepted)["data"].value("refreshToken", "").empty());
    EXPECT_EQ(code(submit(kTwoFactorCode)), 1002) << "a code is used once";

    // A new login, then the code expires before it is typed.
    post("/api/v1/login", {{"mailAddress", kTwoFactor}, {"password", kPassword}},
         deviceHeader(device));
    EXPECT_EQ(admin("/admin/two-factor/expire", {{"mailAddress", kTwoFactor}})["expired"], 1);
    EXPECT_EQ(code(submit(kTwoFactorCode)), 1003);

    // Locked after the code was asked for.
    post("/api/v1/login", {{"mailAddress", kTwoFactor}, {"password", kPassword}},
         deviceHeader(device));
    admin("/admin/accounts/update", {{"mailAddress", kTwoFactor}, {"locked", true}});
    EXPECT_EQ(code(submit(kTwoFactorCode)), 1004);
}

TEST_F(SignInTest, DeviceLimitIssuesTokensForTheDeviceDialogOnly) {
    const std::string device = registerDevice(kFull, "KEY-FULL");
    auto limited = post("/api/v1/login", {{"mailAddress", kFull}, {"password", kPassword}},
                        deviceHeader(device));
    ASSERT_EQ(code(limited), 1005);
    Session session{device, json(limited)["data"].value("accessToken", ""),
                    json(limited)["data"].value("refreshToken", "")};
    ASSERT_FALSE(session.accessToken.empty());
    ASSERT_FALSE(session.refreshToken.empty());

    // The dialog lists the devices in use; the font list is closed.
    auto devices = get("/api/v1/devices", headers(session));
    ASSERT_EQ(code(devices), 0);
    ASSERT_EQ(json(devices)["data"].size(), 1u);
    const Json other = json(devices)["data"][0];
    EXPECT_EQ(other["deviceId"], "OTHER-DEVICE-1");
    EXPECT_EQ(other["hostname"], "other-mac");
    EXPECT_EQ(other["osUserName"], "bob");
    for (const char* member : {"userDeviceId", "osType", "osVersion"})
        EXPECT_TRUE(other.contains(member)) << member;
    EXPECT_EQ(code(get("/api/v1/install-fonts?contains=availableFonts", headers(session))), 1005);

    // Still at the limit: in-use is refused without new tokens.
    auto refused = post("/api/v1/device/in-use", Json::object(), headers(session));
    EXPECT_EQ(code(refused), 1005);
    EXPECT_FALSE(json(refused).contains("data"));

    EXPECT_EQ(code(post("/api/v1/device/out-of-use", {{"targetDeviceId", "NOT-IN-USE"}},
                        headers(session))),
              1001);
    EXPECT_EQ(code(post("/api/v1/device/out-of-use", Json::object(), headers(session))), 1001);
    ASSERT_EQ(code(post("/api/v1/device/out-of-use", {{"targetDeviceId", "OTHER-DEVICE-1"}},
                        headers(session))),
              0);

    auto inUse = post("/api/v1/device/in-use", Json::object(), headers(session));
    ASSERT_EQ(code(inUse), 0);
    session.accessToken = json(inUse)["data"].value("accessToken", "");
    EXPECT_FALSE(json(inUse)["data"].value("refreshToken", "").empty());
    EXPECT_EQ(code(get("/api/v1/install-fonts?contains=availableFonts", headers(session))), 0);

    auto now = json(get("/api/v1/devices", headers(session)))["data"];
    ASSERT_EQ(now.size(), 1u);
    EXPECT_EQ(now[0]["deviceId"], device);
    EXPECT_EQ(now[0]["hostname"], "test-host");
}

TEST_F(SignInTest, LogoutReleasesTheDeviceAndItsTokens) {
    Session session = signIn(kUser);
    EXPECT_EQ(code(post("/api/v1/logout", Json::object(), headers(session))), 0);
    EXPECT_EQ(code(get("/api/v1/customer", headers(session))), 1007);
    EXPECT_EQ(code(post("/api/v1/token", {{"refreshToken", session.refreshToken}},
                        deviceHeader(session.deviceId))),
              1008);
    const Json account = adminGet("/admin/accounts?mailAddress=user@example.com");
    EXPECT_TRUE(account["devicesInUse"].empty());
}

TEST_F(SignInTest, AdminRemovalTakesTheDeviceOutOfTheList) {
    Session session = signIn(kUser);
    Session second = signIn(kUser, "KEY-2");
    admin("/admin/devices/remove", {{"mailAddress", kUser}, {"deviceId", session.deviceId}});
    auto devices = json(get("/api/v1/devices", headers(second)))["data"];
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]["deviceId"], second.deviceId);
    EXPECT_EQ(code(get("/api/v1/devices", headers(session))), 1007);
}

}  // namespace
}  // namespace tavo::refservice::test
