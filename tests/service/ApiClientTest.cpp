#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "RawHttpCapture.h"
#include "ServiceFixture.h"
#include "foundation/FileUtil.h"
#include "foundation/MainQueue.h"
#include "foundation/NotificationCenter.h"
#include "foundation/SerialQueue.h"
#include "service/CustomerApi.h"
#include "service/DownloadTask.h"
#include "service/NoticeApi.h"
#include "service/OVError.h"
#include "support/TestCertificate.h"

using namespace tavo;
using tavo::test::loggedHeader;

namespace {

class ApiClientTest : public tavo::test::ServiceFixture {};

// Keeps the body of its download and how it ended; onEnd runs on the
// delegate queue as the end is reported.
struct BodyDelegate : DownloadDelegate {
    std::function<void()> onEnd;
    std::optional<std::string> body;
    std::optional<Error> error;
    std::promise<void> completed;
    bool wantsProgress() const override { return false; }
    void didFinishDownloadingToURL(const std::string& location, const HttpUrlResponse&) override {
        body = FileUtil::readFile(location);
    }
    void didCompleteWithError(const std::optional<Error>& taskError,
                              const std::optional<HttpUrlResponse>&) override {
        error = taskError;
        if (onEnd)
            onEnd();
        completed.set_value();
    }
};

// Records notifications of one name until destroyed.
struct Recorder {
    explicit Recorder(const std::string& name) {
        token =
            NotificationCenter::defaultCenter().addObserver(name, [this](const Notification& n) {
                std::lock_guard lock(mutex);
                seen.push_back(n.userInfo);
            });
    }
    ~Recorder() { NotificationCenter::defaultCenter().removeObserver(token); }
    size_t count() {
        std::lock_guard lock(mutex);
        return seen.size();
    }
    std::mutex mutex;
    std::vector<UserInfo> seen;
    NotificationCenter::Token token;
};

}  // namespace

TEST_F(ApiClientTest, ExpiredAccessTokenIsRenewedOnceAndTheRequestRepeatedWithIt) {
    signIn();
    const auto oldToken = *client.accessToken();
    expireTokens(true, false);

    std::optional<Error> error;
    const auto customer = CustomerApi(client).getCustomerWithError(&error);
    EXPECT_FALSE(error);
    ASSERT_EQ(customer.resultCode(), 0);
    EXPECT_EQ(customer.data->firstName, "Ada");

    EXPECT_EQ(requests("/api/v1/token").size(), 1u);
    const auto calls = requests("/api/v1/customer");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(loggedHeader(calls[0], "Authorization"), "Bearer " + oldToken);
    EXPECT_NE(*client.accessToken(), oldToken);
    EXPECT_EQ(loggedHeader(calls[1], "Authorization"), "Bearer " + *client.accessToken());
}

TEST_F(ApiClientTest, RefusedRenewalReportsTheErrorAndRepeatsOnceWithTheOldToken) {
    signIn();
    expireTokens(true, true);
    Recorder errors(kOVErrorNotificationKeyErrorEvent);

    const auto customer = CustomerApi(client).getCustomerWithError(nullptr);
    EXPECT_EQ(customer.resultCode(),
              kHttpResponceCodeAccessTokenExpired);  // the repetition's answer
    EXPECT_EQ(requests("/api/v1/token").size(), 1u);
    EXPECT_EQ(requests("/api/v1/customer").size(), 2u);

    // The refusal reaches the application on the main queue.
    ASSERT_TRUE(MainQueue::main().runUntil([&] { return errors.count() == 1; }, seconds(5)));
    EXPECT_EQ(std::any_cast<std::string>(errors.seen[0].at(kOVErrorUserInfoKeyCode)), "1008");
}

TEST_F(ApiClientTest, NoRenewalOnTheTokenPathItself) {
    signIn();
    addFault({{"path", "/api/v1/token"},
              {"status", 400},
              {"body", R"({"code":1007,"message":"expired"})"},
              {"count", 1}});
    const auto response = client.requestAtPath("/api/v1/token", kHttpPost,
                                               ApiParams{{"refreshToken", *client.refreshToken()}},
                                               ApiHeaders{{kHeaderDeviceId, *client.deviceId()}});
    EXPECT_EQ(response.statusCode(), 400);
    EXPECT_EQ(requests("/api/v1/token").size(), 1u);
}

TEST_F(ApiClientTest, RequestWithoutBearerIsRepeatedWithoutOne) {
    signIn();
    addFault({{"path", "/api/v1/notice"},
              {"status", 400},
              {"body", R"({"code":1007,"message":"expired"})"},
              {"count", 1}});
    client.requestAtPath("/api/v1/notice", kHttpGet, std::nullopt,
                         ApiHeaders{{kHeaderDeviceId, "x"}});
    const auto calls = requests("/api/v1/notice");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(requests("/api/v1/token").size(), 1u);
    EXPECT_FALSE(loggedHeader(calls[1], "Authorization"));
}

TEST(ApiClientWire, EmptyDeviceIdIsStillSent) {
    // The reference service drops empty headers, so look at the bytes.
    test::RawHttpCapture capture;
    ApiClient client;
    client.setApiEndpoint(capture.url());
    client.timeoutIntervalForRequest = 5;
    client.setDeviceId("");
    LoginApi(client).loginWithMailAddress("a@example.com", "pw", nullptr);
    const std::string request = capture.request();
    EXPECT_NE(request.find("\r\nX-TAVO-DEVICEID:\r\n"), std::string::npos) << request;
    EXPECT_EQ(request.find("Authorization"), std::string::npos) << request;
}

TEST_F(ApiClientTest, RequestsAreBuiltAsTheServerExpects) {
    LoginApi(client).loginWithMailAddress(kMail, "wrong", nullptr);
    auto login = requests("/api/v1/login").at(0);
    EXPECT_FALSE(loggedHeader(login, "Authorization"));
    EXPECT_EQ(loggedHeader(login, "User-Agent"), "TAVO/2.1.0 (Mac 12.0)");
    EXPECT_EQ(loggedHeader(login, "Content-Type"), "application/json; charset=UTF-8");
    EXPECT_EQ(nlohmann::json::parse(login["body"].get<std::string>()),
              (nlohmann::json{{"mailAddress", kMail}, {"password", "wrong"}}));

    LoginApi(client).deviceIdWithMailAddress(kMail, kPassword, "h", "u", "k", nullptr);
    const auto device = requests("/api/v1/deviceId").at(0);
    EXPECT_FALSE(loggedHeader(device, kHeaderDeviceId));
    EXPECT_FALSE(loggedHeader(device, "Authorization"));

    const auto get =
        client.buildRequestAtPath("/api/v1/install-fonts", kHttpGet,
                                  ApiParams{{"limit", "1000"}, {"offset", "0"}}, std::nullopt);
    ASSERT_TRUE(get);
    EXPECT_EQ(get->url, service.apiUrl() + "/api/v1/install-fonts?limit=1000&offset=0");
    EXPECT_EQ(client.buildRequestAtPath("/x", kHttpGet, ApiParams{}, std::nullopt)->url,
              service.apiUrl() + "/x");
    EXPECT_FALSE(client.buildRequestAtPath("/x", "PUT", std::nullopt, std::nullopt));
}

TEST_F(ApiClientTest, BodilessPostsSendAnEmptyObject) {
    signIn();
    LoginApi(client).deviceInUseWithError(nullptr);
    LoginApi(client).logoutWithError(nullptr);
    for (const char* path : {"/api/v1/device/in-use", "/api/v1/logout"}) {
        const auto call = requests(path).at(0);
        EXPECT_EQ(nlohmann::json::parse(call["body"].get<std::string>()), nlohmann::json::object())
            << path;
        EXPECT_EQ(loggedHeader(call, "Content-Length"), "2") << path;
    }
}

TEST_F(ApiClientTest, OnlineStateFollowsTheLastAnswer) {
    LoginApi(client).loginWithMailAddress(kMail, "wrong", nullptr);  // 1002 with status 400
    EXPECT_TRUE(client.isOnlineStatusApi);

    for (int status : {401, 500}) {
        client.isOnlineStatusApi = true;
        addFault({{"path", "/api/v1/notice"}, {"status", status}, {"count", 1}});
        NoticeApi(client).getNoticeWithError(nullptr);
        EXPECT_FALSE(client.isOnlineStatusApi) << status;
    }

    client.isOnlineStatusApi = true;
    client.setApiEndpoint("http://127.0.0.1:1");  // nobody listens
    std::optional<Error> error;
    NoticeApi(client).getNoticeWithError(&error);
    EXPECT_TRUE(error);
    EXPECT_FALSE(client.isOnlineStatusApi);
}

TEST_F(ApiClientTest, ComingOnlineAnnouncesTheStreamOnlyWhenItIsUp) {
    Recorder opened(kSSENotificationKeyServerSentEvent);
    client.isOnlineStatusSse = false;
    NoticeApi(client).getNoticeWithError(nullptr);
    EXPECT_EQ(opened.count(), 0u);

    client.isOnlineStatusApi = false;
    client.isOnlineStatusSse = true;
    NoticeApi(client).getNoticeWithError(nullptr);
    ASSERT_EQ(opened.count(), 1u);  // posted on the requesting thread
    EXPECT_TRUE(std::any_cast<bool>(opened.seen[0].at("open")));
    NoticeApi(client).getNoticeWithError(nullptr);  // already online: nothing more
    EXPECT_EQ(opened.count(), 1u);
}

TEST_F(ApiClientTest, HostileAnswersFailClearlyAndTheClientCarriesOn) {
    signIn();
    const std::string huge = R"({"code":0,"message":")" +
                             std::string(HttpTransport::kMaximumBodySize + 1024, 'x') + R"("})";
    const std::vector<nlohmann::json> faults = {
        {{"path", "/api/v1/notice"},
         {"status", 200},
         {"body", "\xff\xfe{\"code\":0}"},
         {"count", 1}},
        {{"path", "/api/v1/notice"}, {"status", 200}, {"body", "[1,2,3]"}, {"count", 1}},
        {{"path", "/api/v1/notice"}, {"status", 200}, {"body", huge}, {"count", 1}},
        {{"path", "/api/v1/notice"}, {"cutAfterBytes", 5}, {"count", 1}},
        {{"path", "/api/v1/notice"}, {"contentType", "text/html"}, {"count", 1}},
    };
    for (const auto& fault : faults) {
        addFault(fault);
        std::optional<Error> error;
        const auto notice = NoticeApi(client).getNoticeWithError(&error);
        if (!fault.contains("contentType")) {
            EXPECT_FALSE(notice.data && notice.resultCode() == 0) << fault.dump().substr(0, 120);
        }
        const auto next = NoticeApi(client).getNoticeWithError(&error);
        EXPECT_EQ(next.resultCode(), 0) << fault.dump().substr(0, 120);
    }
}

TEST_F(ApiClientTest, StalledExchangeEndsAfterTheTimeout) {
    client.timeoutIntervalForRequest = 1;
    addFault({{"path", "/api/v1/notice"}, {"delayMs", 4000}, {"count", 1}});
    std::optional<Error> error;
    NoticeApi(client).getNoticeWithError(&error);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, -1001);
}

TEST_F(ApiClientTest, StoppedTransfersEndAtOnceAndLaterOnesDoNotStart) {
    signIn();
    addFault({{"path", "/api/v1/notice"}, {"delayMs", 20000}, {"count", 1}});
    std::thread stopper([this] {
        // Once the server holds the request back, the program ends.
        for (int i = 0; i < 1000 && requests("/api/v1/notice").empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        client.stopTransfers();
    });
    std::optional<Error> error;
    NoticeApi(client).getNoticeWithError(&error);
    stopper.join();
    ASSERT_TRUE(error) << "ended before the server answered";
    EXPECT_EQ(error->code, kURLErrorCancelled);
    EXPECT_TRUE(client.transfersStopped());

    service.context()->requests.clear();
    NoticeApi(client).getNoticeWithError(&error);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, kURLErrorCancelled);
    EXPECT_TRUE(requests("/api/v1/notice").empty()) << "never sent";
}

// A delegate that names a queue hears of its download there, in order (the
// download chain goes on from there without a hop); one that names none
// hears on the downloads' shared queue.
TEST_F(ApiClientTest, ADownloadReportsOnTheQueueItsDelegateNames) {
    struct Delegate : DownloadDelegate {
        std::shared_ptr<SerialQueue> named, watched;
        std::vector<std::string> seen;
        std::promise<void> completed;

        std::shared_ptr<SerialQueue> delegateQueue() const override { return named; }
        bool wantsProgress() const override { return false; }
        void didFinishDownloadingToURL(const std::string&, const HttpUrlResponse&) override {
            seen.push_back(std::string("finished on ") + where());
        }
        void didCompleteWithError(const std::optional<Error>&,
                                  const std::optional<HttpUrlResponse>&) override {
            seen.push_back(std::string("completed on ") + where());
            completed.set_value();
        }
        const char* where() const { return watched->isCurrent() ? "its own" : "another"; }
    };
    const auto own = std::make_shared<SerialQueue>("test.delegateQueue");
    for (const bool naming : {true, false}) {
        auto delegate = std::make_shared<Delegate>();
        delegate->named = naming ? own : nullptr;
        delegate->watched = own;
        auto completed = delegate->completed.get_future();
        client.asyncDownloadWithURL(service.apiUrl() + "/api/v1/notice", delegate);
        ASSERT_EQ(completed.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        const std::string queue = naming ? "its own" : "another";
        EXPECT_EQ(delegate->seen,
                  (std::vector<std::string>{"finished on " + queue, "completed on " + queue}));
    }
}

TEST_F(ApiClientTest, SecretsNeverReachTheLog) {
    test::LogCapture log(sandbox.home() + "/TAVO.log");
    signIn();
    expireTokens(true, false);
    CustomerApi(client).getCustomerWithError(nullptr);
    const std::string text = log.text();
    EXPECT_NE(text.find("request body"), std::string::npos);
    EXPECT_EQ(text.find(kPassword), std::string::npos);
    EXPECT_EQ(text.find(*client.refreshToken()), std::string::npos);
    EXPECT_EQ(text.find(*client.accessToken()), std::string::npos);
}

TEST(ApiClientTls, CertificatesAreAlwaysVerified) {
    test::Sandbox sandbox;
    const std::string cert = sandbox.root() + "/cert.pem";
    refservice::ServiceOptions options;
    options.tlsCert = cert;
    options.tlsKey = sandbox.root() + "/key.pem";
    options.connectionKeepAliveSeconds = 1;
    ASSERT_TRUE(test::makeTestCertificate(options.tlsCert, options.tlsKey));
    refservice::RefService service;
    std::string failure;
    ASSERT_TRUE(service.start(options, &failure)) << failure;
    ApiClient client;
    client.setApiEndpoint(service.apiUrl());
    client.timeoutIntervalForRequest = 5;

    std::optional<Error> error;
    LoginApi(client).getScreensPasswordResetUrlWithError(&error);
    ASSERT_TRUE(error);  // a certificate nobody vouches for
    EXPECT_EQ(error->code, -1200) << error->text();

    setenv("TAVO_CA_BUNDLE", cert.c_str(), 1);
    const auto page = LoginApi(client).getScreensPasswordResetUrlWithError(&error);
    unsetenv("TAVO_CA_BUNDLE");
    EXPECT_FALSE(error) << error->text();
    EXPECT_EQ(page.resultCode(), 0);
    service.stop();
}

// A download queued behind another starts on that one's transfer thread
// once its answer is in, and only when the answer lets it; queued too late,
// it is handed back to start the usual way.
TEST_F(ApiClientTest, ADownloadQueuedBehindAnotherStartsOnlyWhenTheAnswerLetsIt) {
    struct Delegate : DownloadDelegate {
        std::atomic<int> reports{0};
        std::promise<void> completed;
        bool wantsProgress() const override { return false; }
        void didCompleteWithError(const std::optional<Error>&,
                                  const std::optional<HttpUrlResponse>&) override {
            ++reports;
            completed.set_value();
        }
    };
    const std::string path = "/api/v1/notice";
    for (const bool lets : {true, false}) {
        SCOPED_TRACE(lets ? "let" : "held back");
        const std::size_t before = requests(path).size();
        // Long enough that the second is queued while the first is on its way.
        addFault({{"path", path}, {"delayMs", 1000}, {"count", 1}});
        auto ahead = std::make_shared<Delegate>();
        auto behind = std::make_shared<Delegate>();
        auto aheadDone = ahead->completed.get_future();
        auto behindDone = behind->completed.get_future();
        const auto aheadTask =
            client.asyncDownloadAtPath(path, "GET", std::nullopt, std::nullopt, ahead);
        auto status = std::make_shared<std::atomic<long>>(0);  // outlives a failed test
        const auto task = client.asyncDownloadAtPathAfter(
            *aheadTask, path, "GET", std::nullopt, std::nullopt, behind,
            [status, lets](const HttpUrlResponse& response) {
                *status = response.statusCode;
                return lets;
            });
        ASSERT_TRUE(task);
        EXPECT_FALSE(task->hasStarted());
        EXPECT_FALSE(client.asyncDownloadAtPathAfter(*aheadTask, path, "GET", std::nullopt,
                                                     std::nullopt, std::make_shared<Delegate>(),
                                                     [](const HttpUrlResponse&) { return true; }))
            << "one waits behind a download at most";
        ASSERT_EQ(aheadDone.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_GT(*status, 0) << "it saw the answer it waited for";
        EXPECT_EQ(task->hasStarted(), lets) << "settled before the end is reported";
        if (lets) {
            EXPECT_EQ(behindDone.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        }
        EXPECT_TRUE(client.waitForDownloads(std::chrono::seconds(10)));
        EXPECT_EQ(behind->reports, lets ? 1 : 0);
        EXPECT_EQ(requests(path).size() - before, lets ? 2u : 1u);
        EXPECT_FALSE(client.asyncDownloadAtPathAfter(*aheadTask, path, "GET", std::nullopt,
                                                     std::nullopt, std::make_shared<Delegate>(),
                                                     [](const HttpUrlResponse&) { return true; }))
            << "the transfer is over";
    }
}

// The end of a download is handed over once the download queued behind it
// has sent its request, not when that one is over: the chain installs a
// file while the next one is at the server.
TEST_F(ApiClientTest, ADownloadsEndIsReportedWhileTheOneBehindItIsAtTheServer) {
    const std::string path = "/api/v1/notice";
    // The first is held long enough for the second to queue behind it; the
    // server keeps the second until the transfers are stopped, long after
    // the wait for the first has given up.
    client.timeoutIntervalForRequest = 60;
    addFault({{"path", path}, {"delayMs", 300}, {"count", 1}, {"status", 200}, {"body", "first"}});
    addFault({{"path", path}, {"delayMs", 20000}, {"count", 1}});
    auto ahead = std::make_shared<BodyDelegate>();
    auto behind = std::make_shared<BodyDelegate>();
    auto aheadDone = ahead->completed.get_future();
    auto behindDone = behind->completed.get_future();
    const auto aheadTask =
        client.asyncDownloadAtPath(path, "GET", std::nullopt, std::nullopt, ahead);
    ASSERT_TRUE(client.asyncDownloadAtPathAfter(*aheadTask, path, "GET", std::nullopt, std::nullopt,
                                                behind,
                                                [](const HttpUrlResponse&) { return true; }));
    EXPECT_EQ(aheadDone.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "not reported while the one behind it waits";
    client.stopTransfers();
    ASSERT_EQ(behindDone.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    ASSERT_EQ(aheadDone.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    EXPECT_FALSE(ahead->error);
    EXPECT_EQ(ahead->body, "first") << "its file is whole when it is handed over";
    ASSERT_TRUE(behind->error);
    EXPECT_EQ(behind->error->code, kURLErrorCancelled);
    EXPECT_TRUE(client.waitForDownloads(std::chrono::seconds(10)));
}

// A delegate that queues the next download while it handles the end of the
// one before: the transfer in flight waits for that handling instead of
// ending the chain, even when it is over first.
TEST_F(ApiClientTest, ADownloadQueuedWhileTheEndBeforeIsHandledStillRunsInTheChain) {
    const std::string path = "/api/v1/notice";
    addFault({{"path", path}, {"delayMs", 300}, {"count", 1}, {"status", 200}, {"body", "first"}});
    addFault({{"path", path}, {"count", 1}, {"status", 200}, {"body", "second"}});
    addFault({{"path", path}, {"count", 1}, {"status", 200}, {"body", "third"}});
    const std::size_t before = requests(path).size();
    auto first = std::make_shared<BodyDelegate>();
    auto second = std::make_shared<BodyDelegate>();
    auto third = std::make_shared<BodyDelegate>();
    std::promise<std::shared_ptr<DownloadTask>> secondTask;
    std::promise<std::shared_ptr<DownloadTask>> thirdTask;
    // The second transfer, answered at once, is over long before this.
    first->onEnd = [&, task = secondTask.get_future().share()] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto ahead = task.get();
        thirdTask.set_value(ahead ? client.asyncDownloadAtPathAfter(
                                        *ahead, path, "GET", std::nullopt, std::nullopt, third,
                                        [](const HttpUrlResponse&) { return true; })
                                  : nullptr);
    };
    auto thirdQueued = thirdTask.get_future();
    auto thirdDone = third->completed.get_future();
    const auto firstTask =
        client.asyncDownloadAtPath(path, "GET", std::nullopt, std::nullopt, first);
    const auto queued =
        client.asyncDownloadAtPathAfter(*firstTask, path, "GET", std::nullopt, std::nullopt, second,
                                        [](const HttpUrlResponse&) { return true; });
    secondTask.set_value(queued);
    ASSERT_TRUE(queued);
    ASSERT_EQ(thirdQueued.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    ASSERT_TRUE(thirdQueued.get()) << "the second transfer did not wait for the handling";
    ASSERT_EQ(thirdDone.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(client.waitForDownloads(std::chrono::seconds(10)));
    EXPECT_EQ(first->body, "first");
    EXPECT_EQ(second->body, "second");
    EXPECT_EQ(third->body, "third");
    EXPECT_FALSE(third->error);
    EXPECT_EQ(requests(path).size() - before, 3u);
}
