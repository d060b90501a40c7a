// Injected faults, as the client's failure handling is tested against them:
// status codes, delays, wrong content types, cut bodies, dropped
// connections and streams.
#include <gtest/gtest.h>

#include "ServiceFixture.h"
#include "StreamReader.h"

namespace tavo::refservice::test {
namespace {

using Json = nlohmann::json;
using namespace std::chrono_literals;

class FaultTest : public ServiceFixture {
protected:
    void SetUp() override {
        ServiceFixture::SetUp();
        session = signIn(kUser);
    }
    void inject(const Json& fault) { admin("/admin/faults", fault); }

    Session session;
};

TEST_F(FaultTest, StatusFaultAnswersInsteadOfTheEndpointForItsCount) {
    inject({{"path", "/api/v1/customer"}, {"status", 503}, {"count", 2}});
    for (int i = 0; i < 2; ++i) {
        auto faulty = get("/api/v1/customer", headers(session));
        EXPECT_EQ(faulty->status, 503);
        EXPECT_EQ(code(faulty), 2000);
    }
    EXPECT_EQ(get("/api/v1/customer", headers(session))->status, 200);
    EXPECT_TRUE(adminGet("/admin/faults")["faults"].empty());
}

TEST_F(FaultTest, FaultsMatchPathPrefixAndMethod) {
    inject({{"path", "/api/v1/screens/*"},
            {"method", "GET"},
            {"status", 500},
            {"body", R"({"code":2000,"message":"maintenance"})"}});
    auto faulty = get("/api/v1/screens/help/url", headers(session));
    EXPECT_EQ(faulty->status, 500);
    EXPECT_EQ(json(faulty)["message"], "maintenance");
    EXPECT_EQ(get("/api/v1/screens/password-reset/url")->status, 500);
    EXPECT_EQ(get("/api/v1/customer", headers(session))->status, 200);
    EXPECT_EQ(adminGet("/admin/faults")["faults"].size(), 1u);
    ASSERT_TRUE(httplib::Client("127.0.0.1", service.apiPort()).Delete("/admin/faults"));
    EXPECT_EQ(get("/api/v1/screens/help/url", headers(session))->status, 200);
}

TEST_F(FaultTest, AFaultBodyTakesTheRequestsParameters) {
    inject({{"path", "/api/v1/install-fonts"},
            {"status", 200},
            {"body", R"({"code":0,"data":{"fonts":[{"fontId":"x{{offset}}"}],"hasNext":true},)"
                     R"("other":"{{missing}}"})"}});
    auto page = get("/api/v1/install-fonts?contains=availableFonts&limit=1000&offset=2000",
                    headers(session));
    ASSERT_EQ(page->status, 200);
    EXPECT_EQ(json(page)["data"]["fonts"][0]["fontId"], "x2000");
    EXPECT_EQ(json(page)["other"], "");
}

TEST_F(FaultTest, DelayHoldsTheAnswerBack) {
    inject({{"path", "/api/v1/notice"}, {"delayMs", 300}, {"count", 1}});
    const auto started = std::chrono::steady_clock::now();
    auto delayed = get("/api/v1/notice", headers(session));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);
    EXPECT_EQ(code(delayed), 0);
}

TEST_F(FaultTest, WrongContentTypeOnAFontDownload) {
    inject({{"path", "/api/v1/fonts/1001"}, {"contentType", "application/json"}, {"count", 1}});
    auto download = get("/api/v1/fonts/1001", headers(session));
    EXPECT_EQ(download->status, 200);
    EXPECT_EQ(download->get_header_value("Content-Type"), "application/json");
    EXPECT_EQ(get("/api/v1/fonts/1001", headers(session))->get_header_value("Content-Type"),
              "application/octet-stream");
}

TEST_F(FaultTest, CutBodyPromisesMoreThanItSends) {
    inject({{"path", "/api/v1/fonts/1001"}, {"cutAfterBytes", 1000}, {"count", 1}});
    std::string received;
    httplib::Client client("127.0.0.1", service.apiPort());
    auto cut = client.Get("/api/v1/fonts/1001", headers(session),
                          [&](const char* data, std::size_t length) {
                              received.append(data, length);
                              return true;
                          });
    EXPECT_FALSE(cut) << "the transfer ends short of Content-Length";
    EXPECT_EQ(received.size(), 1000u);

    inject({{"path", "/api/v1/customer"}, {"drop", true}, {"count", 1}});
    EXPECT_FALSE(get("/api/v1/customer", headers(session)));
    EXPECT_EQ(code(get("/api/v1/customer", headers(session))), 0);
}

TEST_F(FaultTest, StreamFaults) {
    httplib::Headers h = headers(session);
    inject({{"path", "/notifications"}, {"status", 503}, {"count", 1}});
    StreamReader refused(service.ssePort(), h);
    ASSERT_TRUE(refused.waitForEnd());
    EXPECT_EQ(refused.status(), 503);

    inject({{"path", "/notifications"}, {"drop", true}, {"count", 1}});
    StreamReader dropped(service.ssePort(), h);
    ASSERT_TRUE(dropped.waitForEnd());
    EXPECT_EQ(dropped.status(), 200);
    EXPECT_NE(dropped.error(), httplib::Error::Success);
    EXPECT_TRUE(dropped.text().empty());

    inject({{"path", "/notifications"}, {"cutAfterBytes", 5}, {"count", 1}});
    StreamReader cut(service.ssePort(), h);
    ASSERT_TRUE(cut.waitForEnd());
    EXPECT_EQ(cut.text(), ": con");

    StreamReader healthy(service.ssePort(), h);
    EXPECT_TRUE(healthy.waitFor(
        [](const std::string& text) { return text.find(": keep-alive") != std::string::npos; }));
}

TEST_F(FaultTest, MalformedFaultsAreRefused) {
    for (const Json& fault :
         {Json{{"status", 500}}, Json{{"path", "api"}, {"status", 500}},
          Json{{"path", "/x"}, {"status", 42}}, Json{{"path", "/x"}, {"count", 0}},
          Json{{"path", "/x"}, {"delayMs", "soon"}}})
        EXPECT_EQ(post("/admin/faults", fault)->status, 400) << fault.dump();
}

}  // namespace
}  // namespace tavo::refservice::test
