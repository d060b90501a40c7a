// `tavoctl events` against the reference service: it starts after the
// stored last event id, prints each event, opens the stream again after the
// server ends it, leaves the stored id alone, and gives up on a refusal.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <mutex>
#include <sstream>

#include "EventsCommand.h"
#include "StreamServiceFixture.h"
#include "foundation/Config.h"

namespace tavo {
namespace {

using namespace std::chrono_literals;

// An output stream that the command writes on its threads while the test reads it.
class SharedOutput : public std::stringbuf {
public:
    std::string text() {
        std::lock_guard lock(mutex_);
        return str();
    }

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::lock_guard lock(mutex_);
        return std::stringbuf::xsputn(s, n);
    }
    int_type overflow(int_type c) override {
        std::lock_guard lock(mutex_);
        return std::stringbuf::overflow(c);
    }

private:
    std::recursive_mutex mutex_;  // xsputn may call overflow
};

class EventsCommandTest : public test::StreamServiceFixture {
protected:
    void SetUp() override {
        StreamServiceFixture::SetUp();
        Config::createConfigPlist(std::nullopt);
    }
    void TearDown() override {
        stop = true;
        if (command.valid())
            command.wait();
        Clock::setCurrent(nullptr);
        StreamServiceFixture::TearDown();
    }
    void start() {
        command = std::async(std::launch::async, [this] {
            return ctl::runEventsCommand(out, client, [this] { return stop.load(); });
        });
    }
    bool printed(const std::string& text) {
        return waitUntil([&] { return output.text().find(text) != std::string::npos; });
    }
    static void storeLastEventId(std::int64_t id) {
        auto config = Config::userConfig().value();
        config[kConfigLastEventID] = id;
        ASSERT_TRUE(Config::writeToUserConfig(config, true, nullptr));
    }

    SharedOutput output;
    std::ostream out{&output};
    std::atomic<bool> stop{false};
    std::future<int> command;
};

TEST_F(EventsCommandTest, PrintsEventsAfterTheStoredIdAndReopensAStreamTheServerEnds) {
    Clock::setCurrent(std::make_shared<ScaledClock>(0.001));
    const long seen = activate("1001", false);
    const long next = activate("1001", true);
    storeLastEventId(seen);
    start();
    ASSERT_TRUE(printed("id=" + std::to_string(next) + " event=font-activate data={"));
    EXPECT_EQ(output.text().find("id=" + std::to_string(seen) + " "), std::string::npos);

    dropStreams(true);
    ASSERT_TRUE(waitUntil([this] { return streamRequests().size() == 2 && openStreams() == 1; }));
    EXPECT_EQ(streamRequests()[1]["headers"]["Last-Event-ID"], std::to_string(next));
    const long later = activate("1002", false);
    ASSERT_TRUE(printed("id=" + std::to_string(later) + " event=font-deactivate"));

    stop = true;
    ASSERT_EQ(command.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(command.get(), 0);
    // The application's own record of the last event is not moved.
    EXPECT_EQ(*plistGet<std::int64_t>(*Config::userConfig(), kConfigLastEventID), seen);
}

TEST_F(EventsCommandTest, ARefusedStreamEndsTheCommand) {
    client.setAccessToken("expired-token");
    start();
    ASSERT_EQ(command.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(command.get(), 1);
    EXPECT_NE(output.text().find("HTTP 400"), std::string::npos);
}

TEST_F(EventsCommandTest, WithoutASignedInUserThereIsNothingToOpen) {
    ApiClient signedOut;
    std::ostringstream text;
    EXPECT_EQ(ctl::runEventsCommand(text, signedOut, [] { return false; }), 1);
    EXPECT_NE(text.str().find("no signed-in user"), std::string::npos);
}

// Without a usable sign-in the command says what is missing and, for a file
// it could not read, which file and why.
TEST_F(EventsCommandTest, WithoutASignInItSaysWhatFailedAndWhy) {
    const std::string path = *Config::userConfigPath();
    auto run = [] {
        ApiClient signedOut;
        std::ostringstream text;
        EXPECT_EQ(ctl::runEventsCommand(text, signedOut, [] { return false; }), 1);
        return text.str();
    };
    std::string text = run();  // a configuration without credentials
    EXPECT_NE(text.find("no signed-in user"), std::string::npos) << text;
    EXPECT_NE(text.find(path + " holds no device id"), std::string::npos) << text;

    test::Sandbox::writeFile(path, "this is no property list");
    text = run();
    EXPECT_NE(text.find("no signed-in user"), std::string::npos) << text;
    EXPECT_NE(text.find("could not be read"), std::string::npos) << text;
    EXPECT_NE(text.find(path + " is not a property list"), std::string::npos) << text;

    std::filesystem::remove(path);
    text = run();
    EXPECT_NE(text.find("there is no user configuration (" + path), std::string::npos) << text;
}

}  // namespace
}  // namespace tavo
