// The notification stream from the outside: the wire format, event ids,
// keep-alive comments, resumption after Last-Event-ID, authorisation,
// dropped streams and a prompt stop with streams open.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ServiceFixture.h"
#include "StreamReader.h"

namespace tavo::refservice::test {
namespace {

using Json = nlohmann::json;
using namespace std::chrono_literals;

class EventStreamTest : public ServiceFixture {
protected:
    httplib::Headers streamHeaders(const Session& session, const std::string& lastEventId = {}) {
        httplib::Headers h = headers(session);
        h.emplace("Accept", "text/event-stream");
        h.emplace("Cache-Control", "no-cache");
        if (!lastEventId.empty())
            h.emplace("Last-Event-ID", lastEventId);
        return h;
    }
    bool connected(StreamReader& reader) {
        return reader.waitFor([](const std::string& text) {
            return text.find(": connected\n\n") != std::string::npos;
        });
    }
    long activate(const std::string& fontId, bool active = true, const std::string& mail = kUser) {
        Json reply = admin(active ? "/admin/fonts/activate" : "/admin/fonts/deactivate",
                           {{"mailAddress", mail}, {"fontId", fontId}});
        return reply.value("eventId", -1L);
    }
};

TEST_F(EventStreamTest, EventsArriveWithIncreasingIdsAndTheFontData) {
    Session session = signIn(kUser);
    StreamReader reader(service.ssePort(), streamHeaders(session));
    ASSERT_TRUE(connected(reader));
    EXPECT_EQ(reader.status(), 200);
    activate("1002", false);
    activate("1002", true);
    admin("/admin/fonts/all-uninstall", {{"mailAddress", kUser}});
    ASSERT_TRUE(reader.waitForEvents(3));

    const auto events = reader.events();
    EXPECT_EQ(events[0].at("event"), "font-deactivate");
    EXPECT_EQ(events[1].at("event"), "font-activate");
    EXPECT_EQ(events[2].at("event"), "font-all-uninstall");
    EXPECT_LT(std::stol(events[0].at("id")), std::stol(events[1].at("id")));
    EXPECT_LT(std::stol(events[1].at("id")), std::stol(events[2].at("id")));

    const Json data = Json::parse(events[1].at("data"));
    EXPECT_EQ(data["fontId"], "1002");
    EXPECT_EQ(data["version"], "1.000");
    EXPECT_EQ(data["isFreemium"], false);
    EXPECT_EQ(data["contractIds"], Json::array({"c-1"}));
    EXPECT_TRUE(data["fileSize"].is_number_integer());
    for (const char* member : {"displayFontName", "fileName"})
        EXPECT_TRUE(data[member].is_string()) << member;

    // The block separators are exactly two line feeds; the data is one line.
    const std::string text = reader.text();
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.find("\nevent: font-activate\ndata: {"), std::string::npos);
}

TEST_F(EventStreamTest, KeepAliveCommentsFlowWhileNothingHappens) {
    Session session = signIn(kUser);
    StreamReader reader(service.ssePort(), streamHeaders(session));
    ASSERT_TRUE(reader.waitFor([](const std::string& text) {
        std::size_t count = 0;
        for (auto at = text.find(": keep-alive\n\n"); at != std::string::npos;
             at = text.find(": keep-alive\n\n", at + 1))
            ++count;
        return count >= 2;
    }));
    EXPECT_TRUE(reader.events().empty());
}

TEST_F(EventStreamTest, KeepAliveKeepsItsIntervalWhileOtherAccountsAreBusy) {
    Session session = signIn(kUser);
    StreamReader reader(service.ssePort(), streamHeaders(session));
    ASSERT_TRUE(connected(reader));
    std::atomic<bool> done{false};
    std::thread busy([&] {
        for (bool active = false; !done; active = !active) {
            post(active ? "/admin/fonts/activate" : "/admin/fonts/deactivate",
                 {{"mailAddress", kOther}, {"fontId", "1001"}});
            std::this_thread::sleep_for(20ms);
        }
    });
    const bool keptAlive = reader.waitFor([](const std::string& text) {
        return text.find(": keep-alive\n\n") != text.rfind(": keep-alive\n\n");
    });
    done = true;
    busy.join();
    EXPECT_TRUE(keptAlive);
    EXPECT_TRUE(reader.events().empty());
}

TEST_F(EventStreamTest, ResumesAfterTheLastEventId) {
    Session session = signIn(kUser);
    const long first = activate("1001", false);
    const long second = activate("1002", false);
    const long third = activate("1003", false);
    activate("1001", false, kOther);  // not this account's

    StreamReader resumed(service.ssePort(), streamHeaders(session, std::to_string(first)));
    ASSERT_TRUE(resumed.waitForEvents(2));
    ASSERT_TRUE(connected(resumed));
    const auto events = resumed.events();
    ASSERT_EQ(events.size(), 2u) << resumed.text();
    EXPECT_EQ(events[0].at("id"), std::to_string(second));
    EXPECT_EQ(events[1].at("id"), std::to_string(third));

    // Without Last-Event-ID only what happens from now on arrives.
    StreamReader fresh(service.ssePort(), streamHeaders(session));
    ASSERT_TRUE(connected(fresh));
    const long fourth = activate("1001", true);
    ASSERT_TRUE(fresh.waitForEvents(1));
    EXPECT_EQ(fresh.events().front().at("id"), std::to_string(fourth));

    // An id from an earlier run of the service (beyond the newest) resumes
    // with new events instead of waiting for the ids to catch up.
    StreamReader stale(service.ssePort(), streamHeaders(session, "999999"));
    ASSERT_TRUE(connected(stale));
    const long fifth = activate("1002", true);
    ASSERT_TRUE(stale.waitForEvents(1));
    EXPECT_EQ(stale.events().front().at("id"), std::to_string(fifth));
}

TEST_F(EventStreamTest, OnlyTheAccountsOwnEventsArrive) {
    Session session = signIn(kUser);
    StreamReader reader(service.ssePort(), streamHeaders(session));
    ASSERT_TRUE(connected(reader));
    activate("1001", false, kOther);
    const long own = activate("1003", false);
    ASSERT_TRUE(reader.waitForEvents(1));
    std::this_thread::sleep_for(150ms);
    ASSERT_EQ(reader.events().size(), 1u);
    EXPECT_EQ(reader.events()[0].at("id"), std::to_string(own));
}

TEST_F(EventStreamTest, StreamIsAuthorisedLikeTheApi) {
    Session session = signIn(kUser);
    admin("/admin/tokens/expire", {{"mailAddress", kUser}});
    StreamReader expired(service.ssePort(), streamHeaders(session));
    ASSERT_TRUE(expired.waitForEnd());
    EXPECT_EQ(expired.status(), 400);
    EXPECT_NE(expired.text().find("1007"), std::string::npos) << expired.text();

    StreamReader anonymous(service.ssePort(), {});
    ASSERT_TRUE(anonymous.waitForEnd());
    EXPECT_EQ(anonymous.status(), 400);
}

TEST_F(EventStreamTest, DroppedStreamsEndAndReconnect) {
    Session session = signIn(kUser);
    StreamReader abrupt(service.ssePort(), streamHeaders(session));
    ASSERT_TRUE(connected(abrupt));
    admin("/admin/streams/drop", {{"mailAddress", kUser}});
    ASSERT_TRUE(abrupt.waitForEnd());
    EXPECT_NE(abrupt.error(), httplib::Error::Success) << "cut without the final chunk";

    StreamReader clean(service.ssePort(), streamHeaders(session));
    ASSERT_TRUE(connected(clean));
    StreamReader bystander(service.ssePort(), streamHeaders(signIn(kOther, "KEY-O")));
    ASSERT_TRUE(connected(bystander));
    admin("/admin/streams/drop", {{"mailAddress", kUser}, {"clean", true}});
    ASSERT_TRUE(clean.waitForEnd());
    EXPECT_EQ(clean.error(), httplib::Error::Success);
    EXPECT_EQ(clean.status(), 200);
    EXPECT_FALSE(bystander.waitForEnd(200ms)) << "other accounts keep their streams";
    EXPECT_EQ(adminGet("/admin/streams")["open"], 1);
}

TEST_F(EventStreamTest, StopDoesNotWaitForTheKeepAlive) {
    ServiceOptions options = defaultOptions();
    options.keepAliveInterval = std::chrono::seconds(30);
    restart(options);
    Session session = signIn(kUser);
    StreamReader first(service.ssePort(), streamHeaders(session));
    StreamReader second(service.ssePort(), streamHeaders(session));
    ASSERT_TRUE(connected(first));
    ASSERT_TRUE(connected(second));
    const auto started = std::chrono::steady_clock::now();
    service.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    EXPECT_TRUE(first.waitForEnd());
    EXPECT_TRUE(second.waitForEnd());
}

}  // namespace
}  // namespace tavo::refservice::test
