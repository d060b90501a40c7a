#include "StreamServiceFixture.h"

#include "foundation/MainQueue.h"
#include "refservice/Http.h"
#include "refservice/ServiceContext.h"

namespace tavo::test {

namespace {

nlohmann::json seed() {
    nlohmann::json user = {{"mailAddress", StreamServiceFixture::kUser},
                           {"password", StreamServiceFixture::kPassword},
                           {"contractIds", {"c-1"}},
                           {"fonts", "all"}};
    return {{"systemFonts", {{"limit", 3}, {"firstFontId", 1001}}}, {"accounts", {user}}};
}

}  // namespace

void StreamServiceFixture::SetUp() {
    restartService(std::chrono::milliseconds(200));
    signIn();
}

void StreamServiceFixture::TearDown() {
    service.stop();
}

void StreamServiceFixture::restartService(std::chrono::milliseconds keepAlive) {
    service.stop();
    refservice::ServiceOptions options;
    options.seed = seed();
    options.keepAliveInterval = keepAlive;
    options.connectionKeepAliveSeconds = 1;  // stops sooner with a client connection open
    std::string error;
    ASSERT_TRUE(service.start(options, &error)) << error;
    client.setApiEndpoint(service.apiUrl());
    client.setSseEndpoint(service.sseUrl());
}

void StreamServiceFixture::signIn() {
    httplib::Client http("127.0.0.1", service.apiPort());
    auto registered = http.Post("/api/v1/deviceId",
                                nlohmann::json{{"mailAddress", kUser},
                                               {"password", kPassword},
                                               {"hostname", "test-host"},
                                               {"osUserName", "tester"},
                                               {"deviceKey", "KEY-1"}}
                                    .dump(),
                                "application/json");
    ASSERT_TRUE(registered && registered->status == 200);
    deviceId = nlohmann::json::parse(registered->body)["data"].value("deviceId", "");
    auto login = http.Post("/api/v1/login", {{"X-TAVO-DEVICEID", deviceId}},
                           nlohmann::json{{"mailAddress", kUser}, {"password", kPassword}}.dump(),
                           "application/json");
    ASSERT_TRUE(login && login->status == 200);
    accessToken = nlohmann::json::parse(login->body)["data"].value("accessToken", "");
    ASSERT_FALSE(accessToken.empty());
    client.setDeviceId(deviceId);
    client.setAccessToken(accessToken);
    client.setUserAgent("TAVO/2.1.0 (Linux test)");
}

nlohmann::json StreamServiceFixture::admin(const std::string& path, const nlohmann::json& body) {
    httplib::Client http("127.0.0.1", service.apiPort());
    auto result = http.Post(path, body.dump(), "application/json");
    EXPECT_TRUE(result && result->status == 200) << path;
    return result ? nlohmann::json::parse(result->body, nullptr, false) : nlohmann::json();
}

long StreamServiceFixture::activate(const std::string& fontId, bool active) {
    const auto reply = admin(active ? "/admin/fonts/activate" : "/admin/fonts/deactivate",
                             {{"mailAddress", kUser}, {"fontId", fontId}});
    return reply.value("eventId", -1L);
}

void StreamServiceFixture::dropStreams(bool clean) {
    admin("/admin/streams/drop", {{"clean", clean}});
}

nlohmann::json StreamServiceFixture::streamRequests() const {
    return service.context()->requests.entries("/notifications");
}

int StreamServiceFixture::openStreams() const {
    return service.context()->openStreams.load();
}

bool StreamServiceFixture::waitUntil(const std::function<bool()>& condition,
                                     std::chrono::milliseconds timeout) {
    return MainQueue::main().runUntil(condition, timeout);
}

}  // namespace tavo::test
