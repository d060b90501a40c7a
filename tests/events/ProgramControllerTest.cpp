// The connection manager against the reference service: events in order and
// the stored last event id, reconnection delays through the clock seam and
// resumption from the stored id, our own close, refused answers, attempts
// without an answer, and nothing scheduled while signed out.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "StreamServiceFixture.h"
#include "events/SSEConstants.h"
#include "foundation/Config.h"
#include "foundation/MainQueue.h"
#include "foundation/NotificationCenter.h"
#include "session/SessionState.h"
#include "update/ProgramController.h"

namespace tavo {
namespace {

using namespace std::chrono_literals;

class ProgramControllerTest : public test::StreamServiceFixture {
protected:
    void SetUp() override {
        StreamServiceFixture::SetUp();
        Config::createConfigPlist(std::nullopt);
        client.isLoginStatus = true;
        client.isOnlineStatusApi = true;
        client.setSerialDispatchQueue(queue);
        observer = NotificationCenter::defaultCenter().addObserver(
            kSSENotificationKeyServerSentEvent, [this](const Notification& note) {
                std::lock_guard lock(notesMutex);
                notes.push_back(note.userInfo);
            });
        controller = std::make_shared<ProgramController>(client, sessionState);
    }

    void TearDown() override {
        client.isLoginStatus = false;  // no new attempt from here on
        queue->sync([] {});
        controller->finish();
        queue->sync([] {});
        NotificationCenter::defaultCenter().removeObserver(observer);
        controller.reset();
        MainQueue::main().drain();
        Clock::setCurrent(nullptr);
        StreamServiceFixture::TearDown();
    }

    void scaleTime() { Clock::setCurrent(std::make_shared<ScaledClock>(0.001)); }

    std::size_t count(const std::string& key) {
        std::lock_guard lock(notesMutex);
        return std::count_if(notes.begin(), notes.end(),
                             [&](const UserInfo& info) { return info.count(key) > 0; });
    }
    // The notifications that carry an event: (event name, event, data text).
    std::vector<std::tuple<std::string, SSEEvents, std::string>> events() {
        std::lock_guard lock(notesMutex);
        std::vector<std::tuple<std::string, SSEEvents, std::string>> found;
        for (const auto& info : notes) {
            if (!info.count(kFMUserInfoKeyJsonData))
                continue;
            for (const auto& [key, value] : info) {
                if (key != kFMUserInfoKeyJsonData)
                    found.emplace_back(key, std::any_cast<SSEEvents>(value),
                                       std::any_cast<std::string>(info.at(kFMUserInfoKeyJsonData)));
            }
        }
        return found;
    }
    // The manager's current stream is open, and it is the nth attempt.
    bool streamOpen(std::size_t attempts) {
        const auto stream = controller->serverSentEvent();
        return streamRequests().size() == attempts && stream && stream->isOpen();
    }
    static std::optional<std::int64_t> storedLastEventId() {
        const auto config = Config::userConfig();
        const auto* id = config ? plistGet<std::int64_t>(*config, kConfigLastEventID) : nullptr;
        return id ? std::optional<std::int64_t>(*id) : std::nullopt;
    }
    static void storeLastEventId(const PlistValue& id) {
        auto config = Config::userConfig().value();
        config[kConfigLastEventID] = id;
        ASSERT_TRUE(Config::writeToUserConfig(config, true, nullptr));
    }
    static std::optional<PlistValue> storedLastEventIdValue() {
        const auto config = Config::userConfig();
        const auto it = config ? config->find(kConfigLastEventID) : PlistDict::const_iterator{};
        return config && it != config->end() ? std::optional<PlistValue>(it->second) : std::nullopt;
    }
    // One stream answer of the service that carries the given text, once.
    void answerOnceWith(const std::string& text) {
        admin("/admin/faults", {{"path", "/notifications"},
                                {"status", 200},
                                {"contentType", "text/event-stream"},
                                {"body", text},
                                {"count", 1}});
    }
    void receive(const SSEEvents::Fields& fields) {
        controller->serverSentEvent(nullptr, *SSEEvents::eventWithFields(fields));
    }
    // (delay, reason) of every "Retrying to connect notification" line.
    static std::vector<std::pair<int, std::string>> retries(const std::string& log) {
        static const std::regex line(
            R"(Retrying to connect notification at [0-9: -]+ \(after (\d+) seconds\), reason: ([a-z ]+)\.)");
        std::vector<std::pair<int, std::string>> found;
        for (auto it = std::sregex_iterator(log.begin(), log.end(), line);
             it != std::sregex_iterator(); ++it)
            found.emplace_back(std::stoi((*it)[1]), (*it)[2]);
        return found;
    }
    static void pump(std::chrono::milliseconds duration) {
        waitUntil([] { return false; }, duration);
    }

    std::shared_ptr<SerialQueue> queue = std::make_shared<SerialQueue>("TAVO.SerialDispatchQueue");
    SessionState sessionState;
    std::shared_ptr<ProgramController> controller;
    NotificationCenter::Token observer = 0;
    std::mutex notesMutex;
    std::vector<UserInfo> notes;
};

TEST_F(ProgramControllerTest, EventsArriveInOrderAndTheLastIdIsStored) {
    controller->connectNotifications();
    ASSERT_TRUE(waitUntil([this] { return streamOpen(1); }));
    queue->sync([] {});  // the connection's own step ends after the stream opened
    EXPECT_TRUE(client.isOnlineStatusSse);
    EXPECT_EQ(count(kPCUserInfoKeyOpen), 1u);  // offline to online, once
    const long first = activate("1002", false);
    const long second = activate("1002", true);
    const long third = activate("1003", false);
    ASSERT_TRUE(waitUntil([this] { return events().size() == 3; }));

    const auto received = events();
    EXPECT_EQ(std::get<0>(received[0]), "font-deactivate");
    EXPECT_EQ(std::get<0>(received[1]), "font-activate");
    EXPECT_EQ(std::get<0>(received[2]), "font-deactivate");
    EXPECT_EQ(std::get<1>(received[0]).identifier(), std::to_string(first));
    EXPECT_EQ(std::get<1>(received[1]).identifier(), std::to_string(second));
    EXPECT_EQ(nlohmann::json::parse(std::get<2>(received[1]))["fontId"], "1002");
    EXPECT_EQ(std::get<2>(received[1]), *std::get<1>(received[1]).data());
    EXPECT_EQ(storedLastEventId(), third);
    EXPECT_EQ(controller->lastEventId(), std::to_string(third));
}

TEST_F(ProgramControllerTest, TheStoredIdGoesOutWithTheFirstConnection) {
    const long seen = activate("1001", false);
    const long missed = activate("1001", true);
    storeLastEventId(seen);
    controller->connectNotifications();
    ASSERT_TRUE(waitUntil([this] { return events().size() == 1; }));
    EXPECT_EQ(std::get<1>(events()[0]).identifier(), std::to_string(missed));
    EXPECT_EQ(streamRequests()[0]["headers"]["Last-Event-ID"], std::to_string(seen));
}

TEST_F(ProgramControllerTest, AfterTheServerEndsTheStreamItReconnectsInFiveSecondsFromTheStoredId) {
    scaleTime();
    test::LogCapture log(sandbox.path("/events.log"));
    controller->connectNotifications();
    ASSERT_TRUE(waitUntil([this] { return streamOpen(1); }));
    EXPECT_FALSE(streamRequests()[0]["headers"].contains("Last-Event-ID"));
    const long id = activate("1001", false);
    ASSERT_TRUE(waitUntil([this] { return events().size() == 1; }));

    dropStreams(true);
    ASSERT_TRUE(waitUntil([this] { return streamOpen(2); }));
    EXPECT_EQ(streamRequests()[1]["headers"]["Last-Event-ID"], std::to_string(id));
    EXPECT_EQ(retries(log.text()),
              (std::vector<std::pair<int, std::string>>{{5, "closed connection by server"}}));
    EXPECT_TRUE(client.isOnlineStatusSse);
    EXPECT_FALSE(controller->isActiveSSERetryTimer());
}

TEST_F(ProgramControllerTest, AfterAWakeTheFirstLossRetriesAtOnceAndTheNextOneWaitsLonger) {
    scaleTime();
    test::LogCapture log(sandbox.path("/events.log"));
    sessionState.setAwakenTimestamp(std::chrono::system_clock::now() - 120s);
    controller->connectNotifications();
    ASSERT_TRUE(waitUntil([this] { return streamOpen(1); }));
    dropStreams(false);
    ASSERT_TRUE(waitUntil([this] { return streamOpen(2); }));
    dropStreams(false);
    ASSERT_TRUE(waitUntil([this] { return streamOpen(3); }));

    const auto lines = retries(log.text());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], (std::pair<int, std::string>{5, "awakes from sleep"}));
    EXPECT_EQ(lines[1].second, "lost connection");
    EXPECT_GE(lines[1].first, 10);
    EXPECT_LE(lines[1].first, 299);
    EXPECT_NE(log.text().find("MSG_E0001"), std::string::npos);
}

TEST_F(ProgramControllerTest, OurOwnCloseEndsInDidCloseWithNoRetry) {
    controller->connectNotifications();
    ASSERT_TRUE(waitUntil([this] { return streamOpen(1); }));
    const auto stream = controller->serverSentEvent();
    controller->disconnectNotifications();
    EXPECT_TRUE(stream->isClosed());
    EXPECT_FALSE(controller->ssrClosing());
    EXPECT_EQ(count(kPCUserInfoKeyClose), 1u);
    EXPECT_FALSE(controller->serverSentEvent());
    pump(300ms);
    EXPECT_FALSE(sessionState.nextRetryTimestamp());  // no failure was handled
    EXPECT_FALSE(controller->isActiveSSERetryTimer());
    EXPECT_EQ(streamRequests().size(), 1u);
}

TEST_F(ProgramControllerTest, ANonOkAnswerCountsAsAFailureAndIsRetried) {
    scaleTime();
    test::LogCapture log(sandbox.path("/events.log"));
    // Answered late enough that the attempt has counted as online first.
    admin("/admin/faults",
          {{"path", "/notifications"}, {"status", 503}, {"delayMs", 200}, {"count", 1}});
    controller->connectNotifications();
    ASSERT_TRUE(waitUntil([this] { return streamOpen(2); }));
    const auto lines = retries(log.text());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].second, "lost connection");
    EXPECT_NE(log.text().find("MSG_E0003"), std::string::npos);
    // Online when the first attempt started, offline after the 503, online again.
    EXPECT_TRUE(waitUntil([this] { return count(kPCUserInfoKeyOpen) >= 2; }));
    EXPECT_EQ(count(kPCUserInfoKeyOpen), 2u);
    EXPECT_TRUE(client.isOnlineStatusSse);
}

TEST_F(ProgramControllerTest, AnAttemptWithoutAnAnswerTakesTheStreamHalfOffline) {
    const std::string address = service.sseUrl();
    service.stop();
    client.setSseEndpoint(address);
    controller->connectNotifications();
    ASSERT_TRUE(waitUntil([this] { return controller->isActiveSSERetryTimer(); }));
    EXPECT_FALSE(client.isOnlineStatusSse);
    EXPECT_FALSE(client.isOnlineStatus());
    // finish() cancels the pending reconnection.
    controller->finish();
    EXPECT_FALSE(controller->isActiveSSERetryTimer());
    EXPECT_FALSE(controller->sseRetryThereafterTimer());
}

TEST_F(ProgramControllerTest, AFailureWhileSignedOutSchedulesNothing) {
    scaleTime();
    controller->connectNotifications();
    ASSERT_TRUE(waitUntil([this] { return streamOpen(1); }));
    client.isLoginStatus = false;
    dropStreams(false);
    ASSERT_TRUE(waitUntil([this] { return sessionState.nextRetryTimestamp().has_value(); }));
    pump(400ms);  // longer than any scaled delay
    EXPECT_FALSE(controller->sseRetryThereafterTimer());
    EXPECT_EQ(streamRequests().size(), 1u);
}

TEST_F(ProgramControllerTest, ConnectingWhileSignedOutDoesNothing) {
    client.isLoginStatus = false;
    controller->connectNotifications();
    queue->sync([] {});
    pump(50ms);
    EXPECT_FALSE(controller->serverSentEvent());
    EXPECT_TRUE(streamRequests().empty());
}

TEST_F(ProgramControllerTest, OnlyNamedEventsWithNumericIdsMoveTheStoredId) {
    storeLastEventId(42);
    receive({{"event", "font-activate"}, {"data", "{}"}});  // no id
    EXPECT_EQ(storedLastEventId(), 42);
    receive({{"id", "abc"}, {"event", "font-activate"}});  // no numeric id
    EXPECT_EQ(storedLastEventId(), 42);
    receive({{"id", "50"}, {"data", "{}"}});  // no name: dropped entirely
    EXPECT_EQ(storedLastEventId(), 42);
    receive({{"id", "43"}, {"event", "font-deactivate"}});
    EXPECT_EQ(storedLastEventId(), 43);
    EXPECT_EQ(controller->lastEventId(), "43");

    const auto received = events();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(std::get<2>(received[0]), "{}");
    EXPECT_EQ(std::get<2>(received[2]), "(empty)");

    // An event may not pose as the stream's own open or close.
    receive({{"id", "44"}, {"event", "open"}});
    EXPECT_EQ(count(kPCUserInfoKeyOpen), 0u);
    EXPECT_EQ(storedLastEventId(), 44);
}

// An id no 64-bit integer holds goes back to the server as it came, and
// survives a restart: it is kept as its text.
TEST_F(ProgramControllerTest, AnIdBeyondSixtyFourBitsIsSentBackExactly) {
    scaleTime();
    const std::string huge = "99999999999999999999";
    answerOnceWith("id: " + huge + "\nevent: font-all-uninstall\ndata: {}\n\n");
    controller->connectNotifications();
    // The answer ends after the event, and the stream reconnects from it.
    ASSERT_TRUE(waitUntil([this] { return streamOpen(2); }));
    EXPECT_EQ(streamRequests()[1]["headers"]["Last-Event-ID"], huge);
    EXPECT_EQ(controller->lastEventId(), huge);
    EXPECT_EQ(storedLastEventIdValue(), PlistValue(huge));

    // The next process reads it back and sends it again.
    controller->finish();
    queue->sync([] {});
    auto next = std::make_shared<ProgramController>(client, sessionState);
    next->connectNotifications();
    ASSERT_TRUE(waitUntil([&] { return streamRequests().size() == 3; }));
    EXPECT_EQ(streamRequests()[2]["headers"]["Last-Event-ID"], huge);
    client.isLoginStatus = false;
    queue->sync([] {});
    next->finish();
    queue->sync([] {});
}

// Only an id made of decimal digits is kept, exactly as sent (leading zeros
// too); anything else would come back as another id, so the stored one stays.
TEST_F(ProgramControllerTest, AnIdIsKeptExactlyOrNotAtAll) {
    test::LogCapture log(sandbox.path("/events.log"));
    storeLastEventId(42);
    for (const char* changed : {"-5", " 43", "43abc", "4.3e1", "+43", "0x2b"}) {
        receive({{"id", changed}, {"event", "font-all-uninstall"}});
        EXPECT_EQ(storedLastEventIdValue(), PlistValue(42)) << changed;
        EXPECT_EQ(controller->lastEventId(), std::nullopt) << changed;
    }
    const std::string tooLong(300, '7');
    receive({{"id", tooLong}, {"event", "font-all-uninstall"}});
    EXPECT_EQ(storedLastEventIdValue(), PlistValue(42));
    EXPECT_NE(log.text().find("Keeping the last event id"), std::string::npos) << log.text();

    receive({{"id", "007"}, {"event", "font-all-uninstall"}});
    EXPECT_EQ(storedLastEventIdValue(), PlistValue("007"));
    // Ids an integer holds are stored as integers, as they always were.
    receive({{"id", "9223372036854775807"}, {"event", "font-all-uninstall"}});
    EXPECT_EQ(storedLastEventIdValue(), PlistValue(std::int64_t{9223372036854775807}));
    receive({{"id", "9223372036854775808"}, {"event", "font-all-uninstall"}});
    EXPECT_EQ(storedLastEventIdValue(), PlistValue("9223372036854775808"));
    EXPECT_EQ(controller->lastEventId(), "9223372036854775808");
}

TEST_F(ProgramControllerTest, AStoredTextIdGoesOutAsItStands) {
    const long seen = activate("1001", false);
    storeLastEventId(std::string("000") + std::to_string(seen));
    controller->connectNotifications();
    ASSERT_TRUE(waitUntil([this] { return streamOpen(1); }));
    EXPECT_EQ(streamRequests()[0]["headers"]["Last-Event-ID"], "000" + std::to_string(seen));

    // A stored value that is no id the server could have sent is not sent.
    storeLastEventId("not an id");
    controller->connectNotifications();
    ASSERT_TRUE(waitUntil([this] { return streamOpen(2); }));
    EXPECT_FALSE(streamRequests()[1]["headers"].contains("Last-Event-ID"));
}

// The data of a font event is acted upon as a JSON object; when it is none,
// the log says so and why.
TEST_F(ProgramControllerTest, EventDataThatIsNoJsonObjectIsNamedInTheLog) {
    test::LogCapture log(sandbox.path("/events.log"));
    receive({{"id", "7"}, {"event", "font-activate"}, {"data", "{\"fontId\": 1001"}});
    receive({{"id", "8"}, {"event", "font-deactivate"}, {"data", "[1001]"}});
    receive({{"id", "9"}, {"event", "font-activate"}});
    receive({{"id", "10"}, {"event", "font-activate"}, {"data", "{\"fontId\":\"1001\"}"}});
    std::vector<std::string> warnings;
    std::istringstream in(log.text());
    for (std::string line; std::getline(in, line);)
        if (line.find("[WARN]") != std::string::npos)
            warnings.push_back(line);
    ASSERT_EQ(warnings.size(), 3u) << log.text();
    EXPECT_NE(warnings[0].find("font-activate"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("id 7"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("not valid JSON"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[1].find("an array"), std::string::npos) << warnings[1];
    EXPECT_NE(warnings[2].find("no data"), std::string::npos) << warnings[2];
    EXPECT_EQ(events().size(), 4u);  // handled as before all the same
}

}  // namespace
}  // namespace tavo
