// The stream transport against the reference service: the request, events
// in order, resumption, our close, the server's end, refused answers,
// connections that never answer or stall, and listeners.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "StreamServiceFixture.h"
#include "events/NotificationsApi.h"
#include "events/ServerSentEvent.h"

namespace tavo {
namespace {

using namespace std::chrono_literals;

// Records what a stream tells its delegate.
class RecordingDelegate : public ServerSentEventDelegate {
public:
    void serverSentEventDidOpen(const std::shared_ptr<ServerSentEvent>&) override {
        record([this] { ++opened; });
    }
    void serverSentEvent(const std::shared_ptr<ServerSentEvent>&, const SSEEvents& e) override {
        record([&] { events.push_back(e); });
    }
    void serverSentEvent(const std::shared_ptr<ServerSentEvent>&,
                         const std::optional<Error>& error) override {
        record([&] { failures.push_back(error); });
    }
    void serverSentEventDidClose(const std::shared_ptr<ServerSentEvent>&) override {
        record([this] { ++closed; });
    }

    bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, condition);
    }

    std::mutex mutex;
    std::condition_variable changed;
    int opened = 0;
    int closed = 0;
    std::vector<SSEEvents> events;
    std::vector<std::optional<Error>> failures;

private:
    void record(const std::function<void()>& change) {
        {
            std::lock_guard lock(mutex);
            change();
        }
        changed.notify_all();
    }
};

class ServerSentEventTest : public test::StreamServiceFixture {
protected:
    std::shared_ptr<ServerSentEvent> connect(
        std::optional<std::string> lastEventId = std::nullopt) {
        return NotificationsApi(client).getNotificationsAsyncWithLastEventId(lastEventId, delegate);
    }
    bool ended() {
        return delegate->waitFor(
            [this] { return delegate->closed + delegate->failures.size() > 0; });
    }

    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
};

TEST_F(ServerSentEventTest, EventsArriveInOrderOnARequestWithTheStreamHeaders) {
    auto stream = connect();
    EXPECT_TRUE(stream->isTaskRunning());  // started when the call returns
    ASSERT_TRUE(delegate->waitFor([this] { return delegate->opened == 1; }));
    EXPECT_TRUE(stream->isOpen());
    const long first = activate("1002", false);
    const long second = activate("1002", true);
    admin("/admin/fonts/all-uninstall", {{"mailAddress", kUser}});
    ASSERT_TRUE(delegate->waitFor([this] { return delegate->events.size() == 3; }));

    const auto& events = delegate->events;
    EXPECT_EQ(events[0].event(), "font-deactivate");
    EXPECT_EQ(events[0].identifier(), std::to_string(first));
    EXPECT_EQ(events[1].event(), "font-activate");
    EXPECT_EQ(events[1].identifier(), std::to_string(second));
    EXPECT_EQ(events[2].event(), "font-all-uninstall");
    EXPECT_EQ(nlohmann::json::parse(*events[1].data())["fontId"], "1002");

    const auto requests = streamRequests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& headers = requests[0]["headers"];
    EXPECT_EQ(headers["Accept"], "text/event-stream");
    EXPECT_EQ(headers["Cache-Control"], "no-cache");
    EXPECT_EQ(headers["Connection"], "keep-alive");
    EXPECT_EQ(headers["User-Agent"], "TAVO/2.1.0 (Linux test)");
    EXPECT_EQ(headers["X-TAVO-DEVICEID"], deviceId);
    EXPECT_EQ(headers["Authorization"], "Bearer " + accessToken);
    EXPECT_FALSE(headers.contains("Last-Event-ID"));

    stream->close();
    ASSERT_TRUE(ended());
    EXPECT_EQ(delegate->closed, 1);
    EXPECT_TRUE(delegate->failures.empty());
}

TEST_F(ServerSentEventTest, TheLastEventIdResumesAfterIt) {
    const long seen = activate("1001", false);
    const long missed = activate("1001", true);
    auto stream = connect(std::to_string(seen));
    ASSERT_TRUE(delegate->waitFor([this] { return delegate->events.size() == 1; }));
    EXPECT_EQ(delegate->events[0].identifier(), std::to_string(missed));
    EXPECT_EQ(streamRequests()[0]["headers"]["Last-Event-ID"], std::to_string(seen));
    stream->close();
    ASSERT_TRUE(ended());
}

TEST_F(ServerSentEventTest, OurCloseEndsPromptlyInDidCloseAndNeverInAFailure) {
    auto stream = connect();
    ASSERT_TRUE(delegate->waitFor([this] { return delegate->opened == 1; }));
    const auto before = std::chrono::steady_clock::now();
    stream->close();
    EXPECT_TRUE(stream->isClosing() || stream->isClosed());
    ASSERT_TRUE(delegate->waitFor([this] { return delegate->closed == 1; }));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_TRUE(stream->isClosed());
    stream->close();  // closing again changes nothing
    EXPECT_TRUE(waitUntil([this] { return openStreams() == 0; }));
    EXPECT_EQ(delegate->closed, 1);
    EXPECT_TRUE(delegate->failures.empty());
}

TEST_F(ServerSentEventTest, TheServerEndingTheStreamIsAFailureWithOrWithoutAnError) {
    auto clean = connect();
    ASSERT_TRUE(delegate->waitFor([this] { return delegate->opened == 1; }));
    dropStreams(true);
    ASSERT_TRUE(ended());
    EXPECT_FALSE(delegate->failures[0]);  // a clean end carries no error
    EXPECT_EQ(clean->httpUrlResponse()->statusCode, 200);
    EXPECT_TRUE(clean->isFailed());

    delegate = std::make_shared<RecordingDelegate>();
    auto abrupt = connect();
    ASSERT_TRUE(delegate->waitFor([this] { return delegate->opened == 1; }));
    dropStreams(false);
    ASSERT_TRUE(ended());
    ASSERT_TRUE(delegate->failures[0]);
    EXPECT_EQ(delegate->failures[0]->code, -1005);
    EXPECT_EQ(abrupt->httpUrlResponse()->statusCode, 200);
}

TEST_F(ServerSentEventTest, ARefusedAnswerNeitherOpensNorYieldsEvents) {
    client.setAccessToken("not-a-token");
    auto refused = connect();
    ASSERT_TRUE(ended());
    EXPECT_EQ(delegate->opened, 0);
    EXPECT_FALSE(delegate->failures[0]);
    EXPECT_EQ(refused->httpUrlResponse()->statusCode, 400);

    // An error answer whose body looks like events is still no event stream.
    admin("/admin/faults", {{"path", "/notifications"},
                            {"status", 503},
                            {"body", "id: 9\nevent: font-activate\ndata: {}\n\n"},
                            {"contentType", "text/event-stream"},
                            {"count", 1}});
    client.setAccessToken(accessToken);
    delegate = std::make_shared<RecordingDelegate>();
    auto faulty = connect();
    ASSERT_TRUE(ended());
    EXPECT_EQ(faulty->httpUrlResponse()->statusCode, 503);
    EXPECT_EQ(delegate->opened, 0);
    EXPECT_TRUE(delegate->events.empty());
}

TEST_F(ServerSentEventTest, AServerThatIsNotThereFailsWithoutAnAnswer) {
    const std::string address = service.sseUrl();
    service.stop();
    client.setSseEndpoint(address);
    auto stream = connect();
    ASSERT_TRUE(ended());
    ASSERT_TRUE(delegate->failures[0]);
    EXPECT_EQ(delegate->failures[0]->code, -1004);
    EXPECT_FALSE(stream->httpUrlResponse());
}

TEST_F(ServerSentEventTest, AStalledConnectionIsNoticed) {
    restartService(std::chrono::seconds(30));  // nothing after the greeting for 30 s
    signIn();
    SessionConfiguration configuration = NotificationsApi(client).sessionConfiguration({});
    configuration.timeoutIntervalForIdle = 0.3;
    auto stream =
        ServerSentEvent::initWithURL(client.sseEndpoint() + "/notifications", configuration);
    stream->setDelegate(delegate);
    stream->open();
    ASSERT_TRUE(delegate->waitFor([this] { return delegate->opened == 1; }));
    ASSERT_TRUE(ended());
    ASSERT_TRUE(delegate->failures[0]);
    EXPECT_EQ(delegate->failures[0]->code, StreamTask::kErrorTimedOut);
}

TEST_F(ServerSentEventTest, ListenersHearTheirEventUntilRemoved) {
    auto stream = connect();
    std::mutex mutex;
    std::vector<std::string> heard;
    auto listen = [&](const std::string& tag) {
        return [&, tag](const SSEEvents& event) {
            std::lock_guard lock(mutex);
            heard.push_back(tag + ":" + event.identifier().value_or(""));
        };
    };
    const auto a = stream->addListenerForEvent("font-activate", listen("a"));
    const auto b = stream->addListenerForEvent("font-activate", listen("b"));
    stream->addListenerForEvent("font-deactivate", listen("d"));
    EXPECT_NE(a, b);
    ASSERT_TRUE(delegate->waitFor([this] { return delegate->opened == 1; }));

    const long first = activate("1003", true);
    ASSERT_TRUE(delegate->waitFor([this] { return delegate->events.size() == 1; }));
    stream->removeEventListenerWithIdentifier(a);
    stream->removeAllListenersForEvent("font-deactivate");
    activate("1003", false);
    const long third = activate("1003", true);
    ASSERT_TRUE(delegate->waitFor([this] { return delegate->events.size() == 3; }));
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(heard.size(), 3u);
        std::sort(heard.begin(), heard.begin() + 2);  // listeners of one event: any order
        EXPECT_EQ(heard, (std::vector<std::string>{"a:" + std::to_string(first),
                                                   "b:" + std::to_string(first),
                                                   "b:" + std::to_string(third)}));
    }
    stream->close();
    ASSERT_TRUE(delegate->waitFor([this] { return delegate->closed == 1; }));
}

TEST_F(ServerSentEventTest, ACopyOrAnArchiveIsANewUnstartedStreamForTheSameAddress) {
    auto stream = ServerSentEvent::initWithURL("http://127.0.0.1:1/notifications");
    PlistDict coder;
    stream->encodeWithCoder(coder);
    EXPECT_EQ(coder, (PlistDict{{"URL", "http://127.0.0.1:1/notifications"}}));
    for (const auto& other : {stream->copy(), ServerSentEvent::initWithCoder(coder)}) {
        ASSERT_TRUE(other);
        EXPECT_NE(other, stream);
        EXPECT_EQ(other->URL(), stream->URL());
        EXPECT_TRUE(other->isConnecting());
        EXPECT_FALSE(other->taskState());
    }
    // Closing a stream that never started still reports the close.
    stream->setDelegate(delegate);
    stream->close();
    ASSERT_TRUE(delegate->waitFor([this] { return delegate->closed == 1; }));
}

}  // namespace
}  // namespace tavo
