// The admin interface and the smaller endpoints: loopback-only access, the
// request log, account data and pages, versions and archives, seeds.
#include <gtest/gtest.h>

#include "ServiceFixture.h"
#include "refservice/AdminGuard.h"
#include "refservice/DemoSeed.h"

namespace tavo::refservice::test {
namespace {

using Json = nlohmann::json;

class AdminTest : public ServiceFixture {};

TEST(AdminGuardTest, OnlyLoopbackPeersAreAdmitted) {
    const std::pair<const char*, bool> cases[] = {
        {"127.0.0.1", true},        {"127.8.9.10", true}, {"::1", true},
        {"::ffff:127.0.0.1", true}, {"10.0.0.5", false},  {"192.168.1.20", false},
        {"::ffff:10.0.0.5", false}, {"fe80::1", false},   {"", false},
        {"localhost", false},       {"128.0.0.1", false}, {"1.127.0.0", false},
    };
    for (const auto& [address, loopback] : cases)
        EXPECT_EQ(AdminGuard::isLoopback(address), loopback) << address;
}

TEST(AdminGuardTest, ForeignCallersAreRefusedBeforeTheActionRuns) {
    bool ran = false;
    auto handler = AdminGuard::wrap([&](const httplib::Request&, const Json&) {
        ran = true;
        return AdminGuard::ok();
    });
    httplib::Request req;
    httplib::Response res;
    req.remote_addr = "203.0.113.7";
    req.headers.emplace("X-Forwarded-For", "127.0.0.1");
    handler(req, res);
    EXPECT_EQ(res.status, 403);
    EXPECT_FALSE(ran);

    req.remote_addr = "127.0.0.1";
    handler(req, res);
    EXPECT_EQ(res.status, 200);
    EXPECT_TRUE(ran);
}

TEST_F(AdminTest, RequestLogKeepsWhatTheClientSent) {
    Session session = signIn(kUser);
    httplib::Client("127.0.0.1", service.apiPort()).Delete("/admin/requests");
    get("/api/v1/install-fonts?contains=availableFonts&limit=1000&offset=0", headers(session));
    post("/api/v1/logout", Json::object(), headers(session));

    Json all = adminGet("/admin/requests")["requests"];
    ASSERT_EQ(all.size(), 2u) << "admin calls are not logged";
    const Json list = all[0];
    EXPECT_EQ(list["method"], "GET");
    EXPECT_EQ(list["path"], "/api/v1/install-fonts");
    EXPECT_EQ(list["query"],
              (Json{{"contains", "availableFonts"}, {"limit", "1000"}, {"offset", "0"}}));
    EXPECT_EQ(list["headers"]["X-TAVO-DEVICEID"], session.deviceId);
    EXPECT_EQ(list["headers"]["Authorization"], "Bearer " + session.accessToken);
    EXPECT_EQ(list["remoteAddr"], "127.0.0.1");
    EXPECT_EQ(list["listener"], "api");

    Json logout = adminGet("/admin/requests?path=/api/v1/logout")["requests"];
    ASSERT_EQ(logout.size(), 1u);
    EXPECT_EQ(Json::parse(logout[0]["body"].get<std::string>()), Json::object());
}

TEST_F(AdminTest, CustomerNoticeAndScreens) {
    Session session = signIn(kUser);
    Json customer = json(get("/api/v1/customer", headers(session)))["data"];
    EXPECT_EQ(customer,
              (Json{{"mailAddress", kUser}, {"firstName", "Ada"}, {"lastName", "Lovelace"}}));
    EXPECT_EQ(json(get("/api/v1/notice", headers(session)))["data"],
              (Json{{"total", 3}, {"existsLatestNotice", true}}));
    admin("/admin/accounts/update", {{"mailAddress", kUser}, {"notice", {{"total", 0}}}});
    EXPECT_EQ(json(get("/api/v1/notice", headers(session)))["data"]["total"], 0);

    for (const char* open : {"password-reset", "member-registration"}) {
        auto result = get(std::string("/api/v1/screens/") + open + "/url");
        ASSERT_EQ(code(result), 0) << open;
        const std::string url = json(result)["data"]["url"];
        EXPECT_EQ(url, service.apiUrl() + "/pages/" + open);
        auto page = get(url.substr(service.apiUrl().size()));
        EXPECT_EQ(page->status, 200);
        EXPECT_NE(page->get_header_value("Content-Type").find("text/html"), std::string::npos);
    }
    EXPECT_EQ(code(get("/api/v1/screens/font-list/url")), 1009);
    EXPECT_EQ(get("/help")->status, 200);
    EXPECT_EQ(get("/pages/unknown")->status, 404);
}

TEST_F(AdminTest, VersionsAndArchives) {
    Session session = signIn(kUser);
    EXPECT_EQ(json(get("/api/v1/client-apps/version", headers(session)))["data"],
              (Json{{"appId", "TAVO"}}));
    EXPECT_FALSE(json(get("/api/v1/client-apps/update-info", headers(session))).contains("data"));

    admin("/admin/client-apps",
          {{"specifiedVersion", "2.1.0"}, {"offeredVersion", "2.2.0"}, {"isForcedUpdate", true}});
    EXPECT_EQ(json(get("/api/v1/client-apps/version", headers(session)))["data"]["version"],
              "2.1.0");
    Json info = json(get("/api/v1/client-apps/update-info", headers(session)))["data"];
    EXPECT_EQ(info["version"], "2.2.0");
    EXPECT_EQ(info["isForcedUpdate"], true);
    EXPECT_EQ(info["appId"], "TAVO");
    const std::string url = info["url"];
    ASSERT_EQ(url, service.apiUrl() + "/api/v1/client-apps/archives/TAVO-Ver2.2.0.zip");

    auto archive = get(url.substr(service.apiUrl().size()));  // no headers, as the updater asks
    ASSERT_EQ(archive->status, 200);
    EXPECT_EQ(archive->get_header_value("Content-Type"), "application/zip");
    EXPECT_EQ(archive->body.substr(0, 2), "PK");
    EXPECT_NE(archive->body.find("TAVO-Ver2.2.0/TAVO.app/Contents/Info.plist"), std::string::npos);
    EXPECT_EQ(get("/api/v1/client-apps/archives/TAVO-Ver9.zip")->status, 404);

    const std::string file = sandbox.root() + "/given.zip";
    tavo::test::Sandbox::writeFile(file, "PK-given-archive");
    admin("/admin/client-apps", {{"offeredVersion", "3.0"}, {"archive", file}});
    EXPECT_EQ(get("/api/v1/client-apps/archives/TAVO-Ver3.0.zip")->body, "PK-given-archive");
    EXPECT_EQ(post("/admin/client-apps", {{"offeredVersion", "../evil"}})->status, 400);
}

TEST_F(AdminTest, AccountsCanBeAddedAtRunTime) {
    admin("/admin/accounts", {{"mailAddress", "new@example.com"},
                              {"password", kPassword},
                              {"fonts", {{{"fontId", "1002"}, {"activate", false}}}}});
    Session session = signIn("new@example.com");
    Json fonts = json(
        get("/api/v1/install-fonts?contains=availableFonts", headers(session)))["data"]["fonts"];
    ASSERT_EQ(fonts.size(), 1u);
    EXPECT_EQ(fonts[0]["activateFlg"], false);
    EXPECT_EQ(post("/admin/accounts", {{"mailAddress", "x@example.com"}})->status, 400);
    EXPECT_EQ(post("/admin/accounts/update", {{"mailAddress", "nobody@example.com"}})->status, 400);
    EXPECT_EQ(post("/admin/fonts/activate", {{"mailAddress", kUser}, {"fontId", "nope"}})->status,
              400);
}

TEST_F(AdminTest, MalformedSeedsStopTheStart) {
    service.stop();
    RefService other;
    std::string error;
    ServiceOptions options = defaultOptions();
    options.seed = Json{{"accounts", {{{"mailAddress", "a@example.com"}}}}};
    EXPECT_FALSE(other.start(options, &error));
    EXPECT_NE(error.find("password"), std::string::npos) << error;
    options.seed = Json{{"fonts", {{{"fontId", "1"}, {"source", "missing.ttf"}}}}};
    EXPECT_FALSE(other.start(options, &error));
    options.seed = Json{{"accounts", "many"}};
    EXPECT_FALSE(other.start(options, &error));
    options.seed.reset();
    options.seedFile = sandbox.root() + "/seed.json";
    tavo::test::Sandbox::writeFile(options.seedFile, "{ not json");
    EXPECT_FALSE(other.start(options, &error));
    EXPECT_NE(error.find("not JSON"), std::string::npos) << error;
}

TEST_F(AdminTest, DemoSeedHasItsFourAccounts) {
    ServiceOptions options = defaultOptions();
    options.seed.reset();
    options.demo = true;
    restart(options);
    Session session = signIn(DemoSeed::kMailAddress, "KEY-1", DemoSeed::kPassword);
    Json fonts = json(
        get("/api/v1/install-fonts?contains=availableFonts", headers(session)))["data"]["fonts"];
    EXPECT_FALSE(fonts.empty());

    const std::string device = registerDevice(DemoSeed::kMailAddress, "KEY-X", DemoSeed::kPassword);
    auto login = [&](const char* mail) {
        return code(post("/api/v1/login",
                         {{"mailAddress", mail}, {"password", DemoSeed::kPassword}},
                         deviceHeader(device)));
    };
    EXPECT_EQ(login(DemoSeed::kTwoFactorMailAddress), 100);
    EXPECT_EQ(login(DemoSeed::kLockedMailAddress), 1004);
    EXPECT_EQ(login(DemoSeed::kLimitMailAddress), 1005);
}

}  // namespace
}  // namespace tavo::refservice::test
