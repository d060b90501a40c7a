// Where stream events, synchronization messages, fonts added by the font
// manager and refused requests lead.
#include <gtest/gtest.h>

#include <future>

#include "ResidentFixture.h"
#include "events/SSEConstants.h"
#include "foundation/Const.h"
#include "resident/EventRouter.h"
#include "resident/FileURL.h"
#include "service/OVError.h"

namespace tavo::test {
namespace {

class EventRouterTest : public ResidentFixture {
protected:
    void SetUp() override {
        ResidentFixture::SetUp();
        if (HasFatalFailure())
            return;
        router = std::make_shared<EventRouter>(client, sessionState);
        router->setLinks({
            calls.recorder<>("applicationDidFinishLaunchingOrOnlineFirstDetection"),
            calls.recorder<>("forcedLogout"),
            [this](const UserInfo& info) { calls.add("activateFontOnWeb " + jsonData(info)); },
            [this](const UserInfo& info) { calls.add("deactivateFontOnWeb " + jsonData(info)); },
            [this](const std::vector<std::string>& paths) {
                std::string call = "deactivateFromAvailableFonts";
                for (const auto& path : paths)
                    call += " " + path;
                calls.add(call);
            },
        });
    }

    static std::string jsonData(const UserInfo& info) {
        const auto* text = userInfoText(info, kFMUserInfoKeyJsonData);
        return text ? *text : "(none)";
    }

    static Notification streamEvent(const std::string& name, const std::string& data) {
        return {kSSENotificationKeyServerSentEvent,
                {{name, std::string()}, {kFMUserInfoKeyJsonData, data}}};
    }

    static Notification refusal(const std::string& code) {
        return {kOVErrorNotificationKeyErrorEvent,
                {{kOVErrorUserInfoKeyCode, code}, {kOVErrorUserInfoKeyMessage, std::string("no")}}};
    }

    CallLog calls;
    std::shared_ptr<EventRouter> router;
};

TEST_F(EventRouterTest, OpenRunsTheFirstOnlineProcessingOnTheMainQueueUntilItHasRun) {
    const Notification open{kSSENotificationKeyServerSentEvent, {{kPCUserInfoKeyOpen, true}}};
    router->sseServerSentEvent(open);
    router->sseServerSentEvent(open);
    EXPECT_TRUE(calls.all().empty());  // not on the posting thread
    MainQueue::main().drain();
    EXPECT_EQ(calls.count("applicationDidFinishLaunchingOrOnlineFirstDetection"), 2u);

    sessionState.isOnlineFirstProcessingExecuted = true;
    router->sseServerSentEvent(open);
    router->sseServerSentEvent({kSSENotificationKeyServerSentEvent, {{kPCUserInfoKeyClose, true}}});
    router->sseServerSentEvent({kSSENotificationKeyServerSentEvent, {}});
    MainQueue::main().drain();
    EXPECT_EQ(calls.all().size(), 2u);
}

TEST_F(EventRouterTest, FontEventsRunOnTheSerialQueueAfterWhatIsQueued) {
    std::promise<void> release;
    auto released = release.get_future().share();
    queue->async([released] { released.wait(); });
    router->sseServerSentEvent(streamEvent(kEventFontActivate, R"({"fontId":"77"})"));
    router->sseServerSentEvent(streamEvent(kEventFontDeactivate, R"({"fontId":"78"})"));
    router->sseServerSentEvent(streamEvent(kEventFontAllUninstall, "{}"));
    router->sseServerSentEvent(streamEvent("font-unknown", "{}"));
    EXPECT_TRUE(calls.all().empty());
    release.set_value();
    settle();
    EXPECT_EQ(calls.all(), (std::vector<std::string>{R"(activateFontOnWeb {"fontId":"77"})",
                                                     R"(deactivateFontOnWeb {"fontId":"78"})"}));
}

TEST_F(EventRouterTest, FontsAddedAreDeactivatedOnlyWhenSignedIn) {
    const std::string folder = Const::userFontDirectoryPath().value_or("");
    client.isLoginStatus = false;
    router->changeNoticeRegisteredFontManager(
        fontsAddedNotification({folder + "/A Font.otf", folder + "/B%.ttf"}));
    EXPECT_TRUE(calls.all().empty());

    client.isLoginStatus = true;
    router->changeNoticeRegisteredFontManager(
        fontsAddedNotification({folder + "/A Font.otf", folder + "/B%.ttf"}));
    EXPECT_EQ(calls.all(), (std::vector<std::string>{"deactivateFromAvailableFonts " + folder +
                                                     "/A Font.otf " + folder + "/B%.ttf"}));

    // A change that added nothing, and a list of the wrong type, do nothing.
    router->changeNoticeRegisteredFontManager({"", {}});
    router->changeNoticeRegisteredFontManager(
        {"", {{kFontManagerAvailableFontURLsAdded, std::string("file:///x.otf")}}});
    EXPECT_EQ(calls.all().size(), 1u);
    client.isLoginStatus = false;
}

TEST_F(EventRouterTest, ASynchronizationMessageWithoutDetailDeliversNothing) {
    router->notifyFMCommonMessage(
        {kFMCommonMessageNotification,
         {{kFMCommonMessageHeading, std::string("Font Synchronization Completed")}}});
    EXPECT_TRUE(userNotifications->all().empty());

    router->notifyFMCommonMessage(
        {kFMCommonMessageNotification,
         {{kFMCommonMessageHeading, std::string("Font Synchronization Failed")},
          {kFMCommonMessageDetail, std::string("Failed the font synchronization")}}});
    const auto delivered = userNotifications->all();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_FALSE(delivered[0].informativeText.empty());
}

TEST_F(EventRouterTest, OnlyAnExpiredRefreshTokenForcesALogout) {
    for (const char* code : {"1007", "0", "", "10080"})
        router->apiErrorDetection(refusal(code));
    router->apiErrorDetection({kOVErrorNotificationKeyErrorEvent, {}});
    EXPECT_TRUE(calls.all().empty());
    router->apiErrorDetection(refusal("1008"));
    EXPECT_EQ(calls.all(), (std::vector<std::string>{"forcedLogout"}));
}

TEST(FileURLTest, PathsSurviveTheRoundTripThroughURLs) {
    for (const std::string path : {"/home/u/.local/share/fonts/Oskavelle/Plain.otf",
                                   "/f/With Space & 100%.ttf", "/f/Zoë#?.otc"}) {
        const std::string url = fileURLFromPath(path);
        EXPECT_EQ(url.find(' '), std::string::npos) << url;
        EXPECT_EQ(pathFromFileURL(url), path) << url;
    }
    EXPECT_EQ(pathFromFileURL("file://localhost/a%20b"), "/a b");
    EXPECT_EQ(pathFromFileURL("http://example.com/a"), "");
    EXPECT_EQ(pathFromFileURL("file://otherhost/a"), "");
    EXPECT_EQ(pathFromFileURL("file:///a%2"), "/a%2");
}

}  // namespace
}  // namespace tavo::test
