// Access and refresh tokens: every authorised endpoint answers 1007 once the
// access token expired, /token renews it until the refresh token expires
// (1008), and requests without a valid token pair are refused.
#include <gtest/gtest.h>

#include "ServiceFixture.h"

namespace tavo::refservice::test {
namespace {

using Json = nlohmann::json;

struct Endpoint {
    const char* method;
    const char* path;
};

const Endpoint kAuthorised[] = {
    {"GET", "/api/v1/devices"},
    {"POST", "/api/v1/device/in-use"},
    {"POST", "/api/v1/device/out-of-use"},
    {"POST", "/api/v1/refresh-token"},
    {"POST", "/api/v1/logout"},
    {"GET", "/api/v1/customer"},
    {"GET", "/api/v1/notice"},
    {"GET", "/api/v1/screens/help/url"},
    {"GET", "/api/v1/screens/home/url"},
    {"GET", "/api/v1/screens/notice/url"},
    {"GET", "/api/v1/screens/font-list/url"},
    {"GET", "/api/v1/screens/font-under-contract-list/url"},
    {"GET", "/api/v1/install-fonts?contains=availableFonts&limit=1000&offset=0"},
    {"GET", "/api/v1/fonts/1001"},
    {"GET", "/api/v1/client-apps/version"},
    {"GET", "/api/v1/client-apps/update-info"},
};

class TokenTest : public ServiceFixture {
protected:
    httplib::Result call(const Endpoint& endpoint, const httplib::Headers& headers) {
        if (std::string(endpoint.method) == "GET")
            return get(endpoint.path, headers);
        return post(endpoint.path, Json::object(), headers);
    }
};

TEST_F(TokenTest, ExpiredAccessTokenIsAnswered1007EverywhereUntilRenewed) {
    Session session = signIn(kUser);
    admin("/admin/tokens/expire", {{"mailAddress", kUser}});
    for (const Endpoint& endpoint : kAuthorised) {
        auto result = call(endpoint, headers(session));
        ASSERT_TRUE(result) << endpoint.path;
        EXPECT_EQ(code(result), 1007) << endpoint.path;
        EXPECT_EQ(result->status, 400) << endpoint.path;
        EXPECT_EQ(result->get_header_value("Content-Type"), "application/json") << endpoint.path;
    }

    auto renewed = post("/api/v1/token", {{"refreshToken", session.refreshToken}},
                        deviceHeader(session.deviceId));
    ASSERT_EQ(code(renewed), 0);
    session.accessToken = json(renewed)["data"].value("accessToken", "");
    EXPECT_FALSE(json(renewed)["data"].contains("refreshToken"));
    EXPECT_EQ(code(get("/api/v1/customer", headers(session))), 0);
}

TEST_F(TokenTest, ExpiredRefreshTokenIsAnswered1008) {
    Session session = signIn(kUser);
    admin("/admin/tokens/expire", {{"mailAddress", kUser}, {"access", false}, {"refresh", true}});
    EXPECT_EQ(code(get("/api/v1/customer", headers(session))), 0) << "access token still valid";
    auto refused = post("/api/v1/token", {{"refreshToken", session.refreshToken}},
                        deviceHeader(session.deviceId));
    EXPECT_EQ(code(refused), 1008);
    EXPECT_EQ(refused->status, 400);
    EXPECT_EQ(code(post("/api/v1/token", {{"refreshToken", "rt-unknown"}},
                        deviceHeader(session.deviceId))),
              1008);
    EXPECT_EQ(code(post("/api/v1/token", Json::object(), deviceHeader(session.deviceId))), 1001);
}

TEST_F(TokenTest, RefreshTokenBelongsToItsDevice) {
    Session session = signIn(kUser);
    Session second = signIn(kUser, "KEY-2");
    EXPECT_EQ(code(post("/api/v1/token", {{"refreshToken", session.refreshToken}},
                        deviceHeader(second.deviceId))),
              1008);
    EXPECT_EQ(code(post("/api/v1/token", {{"refreshToken", session.refreshToken}},
                        deviceHeader(session.deviceId))),
              0);
}

TEST_F(TokenTest, RefreshTokenEndpointRotatesThePair) {
    Session session = signIn(kUser);
    auto rotated = post("/api/v1/refresh-token", Json::object(), headers(session));
    ASSERT_EQ(code(rotated), 0);
    const Json data = json(rotated)["data"];
    EXPECT_NE(data.value("refreshToken", ""), session.refreshToken);
    EXPECT_NE(data.value("accessToken", ""), session.accessToken);
    EXPECT_EQ(code(post("/api/v1/token", {{"refreshToken", session.refreshToken}},
                        deviceHeader(session.deviceId))),
              1008);
    EXPECT_EQ(code(post("/api/v1/token", {{"refreshToken", data["refreshToken"]}},
                        deviceHeader(session.deviceId))),
              0);
}

TEST_F(TokenTest, RequestsWithoutAValidPairAreRefused) {
    Session session = signIn(kUser);
    EXPECT_EQ(code(get("/api/v1/customer", deviceHeader(session.deviceId))), 1009);
    EXPECT_EQ(code(get("/api/v1/customer", {{"X-TAVO-DEVICEID", session.deviceId},
                                            {"Authorization", session.accessToken}})),
              1009);
    EXPECT_EQ(code(get("/api/v1/customer", {{"X-TAVO-DEVICEID", "SOMEONE-ELSE"},
                                            {"Authorization", "Bearer " + session.accessToken}})),
              1009);
    EXPECT_EQ(code(get("/api/v1/customer", {{"X-TAVO-DEVICEID", session.deviceId},
                                            {"Authorization", "Bearer at-unknown"}})),
              1007);
}

TEST_F(TokenTest, AccountStateChangesReachSignedInClients) {
    Session session = signIn(kUser);
    admin("/admin/accounts/update", {{"mailAddress", kUser}, {"contractExpired", true}});
    EXPECT_EQ(code(get("/api/v1/customer", headers(session))), 1006);
    admin("/admin/accounts/update",
          {{"mailAddress", kUser}, {"contractExpired", false}, {"locked", true}});
    EXPECT_EQ(code(get("/api/v1/customer", headers(session))), 1004);
    EXPECT_EQ(code(post("/api/v1/token", {{"refreshToken", session.refreshToken}},
                        deviceHeader(session.deviceId))),
              1004);
}

}  // namespace
}  // namespace tavo::refservice::test
