#include "ServiceFixture.h"

namespace tavo::refservice::test {

nlohmann::json ServiceFixture::testSeed() {
    auto account = [](const std::string& mail) {
        return nlohmann::json{{"mailAddress", mail}, {"password", kPassword}};
    };
    nlohmann::json user = account(kUser);
    user.update({{"firstName", "Ada"},
                 {"lastName", "Lovelace"},
                 {"contractIds", {"c-1"}},
                 {"notice", {{"total", 3}, {"existsLatestNotice", true}}},
                 {"fonts", "all"}});
    nlohmann::json other = account(kOther);
    other["fonts"] = "all";
    nlohmann::json twoFactor = account(kTwoFactor);
    twoFactor["twoFactorCode"] = kTwoFactorCode;
    nlohmann::json locked = account(kLocked);
    locked["locked"] = true;
    nlohmann::json expired = account(kExpired);
    expired["contractExpired"] = true;
    nlohmann::json unauthorized = account(kUnauthorized);
    unauthorized["notAuthorized"] = true;
    nlohmann::json full = account(kFull);
    full.update(
        {{"maxDevices", 1},
         {"devices",
          {{{"deviceId", "OTHER-DEVICE-1"}, {"hostname", "other-mac"}, {"osUserName", "bob"}}}}});
    return {{"systemFonts", {{"limit", 3}, {"firstFontId", 1001}}},
            {"accounts", {user, other, twoFactor, locked, expired, unauthorized, full}}};
}

ServiceOptions ServiceFixture::defaultOptions() {
    ServiceOptions options;
    options.seed = testSeed();
    options.keepAliveInterval = std::chrono::milliseconds(100);
    return options;
}

void ServiceFixture::SetUp() {
    restart(defaultOptions());
}

void ServiceFixture::TearDown() {
    service.stop();
}

void ServiceFixture::restart(ServiceOptions options) {
    std::string error;
    ASSERT_TRUE(service.start(options, &error)) << error;
}

httplib::Result ServiceFixture::get(const std::string& path, const httplib::Headers& headers) {
    httplib::Client client("127.0.0.1", service.apiPort());
    return client.Get(path.c_str(), headers);
}

httplib::Result ServiceFixture::post(const std::string& path, const nlohmann::json& body,
                                     const httplib::Headers& headers) {
    httplib::Client client("127.0.0.1", service.apiPort());
    return client.Post(path.c_str(), headers, body.dump(2), "application/json; charset=UTF-8");
}

nlohmann::json ServiceFixture::json(const httplib::Result& result) {
    if (!result)
        return nullptr;
    return nlohmann::json::parse(result->body, nullptr, false);
}

int ServiceFixture::code(const httplib::Result& result) {
    const nlohmann::json body = json(result);
    return body.is_object() && body.contains("code") ? body["code"].get<int>() : -1;
}

nlohmann::json ServiceFixture::admin(const std::string& path, const nlohmann::json& body) {
    auto result = post(path, body);
    EXPECT_TRUE(result && result->status == 200) << path << ": " << (result ? result->body : "");
    return json(result);
}

nlohmann::json ServiceFixture::adminGet(const std::string& path) {
    auto result = get(path);
    EXPECT_TRUE(result && result->status == 200) << path;
    return json(result);
}

std::string ServiceFixture::registerDevice(const std::string& mail, const std::string& deviceKey,
                                           const std::string& password) {
    auto result = post("/api/v1/deviceId", {{"mailAddress", mail},
                                            {"password", password},
                                            {"hostname", "test-host"},
                                            {"osUserName", "tester"},
                                            {"deviceKey", deviceKey}});
    EXPECT_EQ(code(result), 0);
    return json(result)["data"].value("deviceId", "");
}

Session ServiceFixture::signIn(const std::string& mail, const std::string& deviceKey,
                               const std::string& password) {
    Session session;
    session.deviceId = registerDevice(mail, deviceKey, password);
    auto result = post("/api/v1/login", {{"mailAddress", mail}, {"password", password}},
                       deviceHeader(session.deviceId));
    EXPECT_EQ(code(result), 0);
    const nlohmann::json data = json(result)["data"];
    session.accessToken = data.value("accessToken", "");
    session.refreshToken = data.value("refreshToken", "");
    return session;
}

httplib::Headers ServiceFixture::headers(const Session& session) {
    return {{"X-TAVO-DEVICEID", session.deviceId},
            {"Authorization", "Bearer " + session.accessToken}};
}

httplib::Headers ServiceFixture::deviceHeader(const std::string& deviceId) {
    return {{"X-TAVO-DEVICEID", deviceId}};
}

}  // namespace tavo::refservice::test
