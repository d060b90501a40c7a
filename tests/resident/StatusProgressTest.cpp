// The status line and notices of font-download batches and update copies.
#include <gtest/gtest.h>

#include <thread>

#include "StatusMenuFixture.h"
#include "update/UpdateNotifications.h"

namespace tavo::test {
namespace {

class StatusProgressTest : public StatusMenuFixture {
protected:
    void start(int count, const std::string& names) {
        progress->statusMenuFontDownload(
            {kFMUpdateProgressNotification, {{kFMStartProgress, count}, {kFMTypeface, names}}});
    }
    void finished(const std::string& name) {
        progress->statusMenuFontDownload(
            {kFMUpdateProgressNotification, {{kFMProgress, 0}, {kFMTypeface, name}}});
    }
    void update(const char* key, std::any value) {
        progress->statusMenuProgressUpdate({kPCNotificationKeyUpdateProgress, {{key, value}}});
    }
    // The percentage shown on the first line of the status line.
    std::string shownPercent() {
        const std::string line = statusLine();
        const auto end = line.find('%');
        const auto begin = line.rfind(' ', end);
        return end == std::string::npos ? "" : line.substr(begin + 1, end - begin - 1);
    }
};

TEST_F(StatusProgressTest, ABatchOfThreeShowsZeroThirtyThreeSixtySixAndAHundred) {
    start(3, "A,B,C");
    std::vector<std::string> shown{shownPercent()};
    for (const char* name : {"A", "B", "C"}) {
        finished(name);
        shown.push_back(shownPercent());
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"0", "33", "66", "100"}));
    settle();
    EXPECT_EQ(statusLine(), "Fonts downloaded");
    EXPECT_EQ(statusItem->image(), "QXRStatusBarItemIconfinish");
    const auto delivered = userNotifications->all();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].subtitle, "Fonts downloaded");
    EXPECT_EQ(delivered[0].informativeText, "3 fonts\nA, B, C");
    EXPECT_FALSE(progress->isDownloadAnimating());
    EXPECT_TRUE(progress->isDownloadCompleteStatus());
}

TEST_F(StatusProgressTest, ABatchOfSevenUsesSinglePrecision) {
    start(7, "F");
    std::vector<std::string> shown;
    for (int i = 0; i < 7; ++i) {
        finished("F" + std::to_string(i));
        shown.push_back(shownPercent());
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"14", "28", "42", "57", "71", "85", "100"}));
}

TEST_F(StatusProgressTest, ANameReportedTwiceCountsOnce) {
    start(2, "A,B");
    finished("A");
    finished("A");
    EXPECT_TRUE(userNotifications->all().empty());
    EXPECT_TRUE(progress->isDownloadAnimating());
    finished("B");
    EXPECT_EQ(userNotifications->all().size(), 1u);
}

TEST_F(StatusProgressTest, ABatchWhoseFontsAllFailReportsBoth) {
    start(2, "A,B");
    finished("");
    finished("");
    const auto delivered = userNotifications->all();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0].subtitle, "Font download failed");
    EXPECT_EQ(delivered[1].subtitle, "Fonts downloaded");
    EXPECT_EQ(delivered[1].informativeText, "0 fonts\n");
    EXPECT_EQ(logCount("MSG_E2012"), 1u);
}

TEST_F(StatusProgressTest, FontNamesAreCutAfterTwentyCharacters) {
    start(1, "abcdefghijklmnopqrst");  // 20: whole
    EXPECT_EQ(statusLine(), "Downloading fonts 0%\nabcdefghijklmnopqrst");
    start(1, "abcdefghijklmnopqrstu");  // 21: 19 and an ellipsis
    EXPECT_EQ(statusLine(), "Downloading fonts 0%\nabcdefghijklmnopqrs...");
    start(1, "ÀÉÎÕÜàéîõüÀÉÎÕÜàéîõü");  // characters, not bytes
    EXPECT_EQ(statusLine(), "Downloading fonts 0%\nÀÉÎÕÜàéîõüÀÉÎÕÜàéîõü");
}

TEST_F(StatusProgressTest, DownloadsKeepTheStatusLineWhileAnUpdateCopies) {
    update(kPCUserInfoKeyIsCopyStarted, true);
    EXPECT_EQ(statusLine(), "Updating TAVO 0%");
    start(2, "A,B");
    update(kPCUserInfoKeyProgress, 40);
    EXPECT_EQ(statusLine(), "Downloading fonts 0%\nA,B");
    finished("A");
    finished("B");
    // The update copy still runs: no completion icon over its animation.
    EXPECT_NE(statusItem->image(), "QXRStatusBarItemIconfinish");
    update(kPCUserInfoKeyProgress, 80);
    EXPECT_EQ(statusLine(), "Updating TAVO 80%");
    update(kPCUserInfoKeyIsCopyFinished, true);
    EXPECT_EQ(statusLine(), "TAVO has been updated");
    EXPECT_EQ(statusItem->image(), "QXRStatusBarItemIconfinish");
}

TEST_F(StatusProgressTest, ProgressFromAnotherThreadIsShownOnTheMainThread) {
    std::thread([this] { start(2, "A,B"); }).join();
    EXPECT_TRUE(statusLine().empty());  // not yet: the batch lives on the main thread
    settle();
    EXPECT_EQ(statusLine(), "Downloading fonts 0%\nA,B");
    EXPECT_TRUE(progress->isDownloadAnimating());
}

TEST_F(StatusProgressTest, AFailedDownloadStopsTheAnimationsAndShowsTheAccount) {
    signIn();
    storeClientSignIn();
    start(2, "A,B");
    update(kPCUserInfoKeyIsCopyStarted, true);
    progress->statusMenuFontDownload(
        {kFMUpdateProgressNotification, {{kFMCopyErrorOccurred, std::string()}}});
    EXPECT_FALSE(progress->isAnimating());
    EXPECT_EQ(statusItem->image(), "QXRStatusBarItemIconlogin");
    const auto delivered = userNotifications->all();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].subtitle, "Font download failed");
}

TEST_F(StatusProgressTest, AFailedUpdateCopyRestoresTheIcon) {
    client.isLoginStatus = false;
    update(kPCUserInfoKeyIsCopyStarted, true);
    ASSERT_TRUE(progress->isUpdateAnimating());
    update(kPCUserInfoKeyCopyErrorOccurred, true);
    EXPECT_FALSE(progress->isUpdateAnimating());
    EXPECT_EQ(statusItem->image(), "QXRStatusBarItemIconlogout");
}

TEST_F(StatusProgressTest, TheAnimationCyclesThroughThreeFrames) {
    std::vector<std::string> frames;
    for (int i = 0; i < 5; ++i) {
        progress->statusIconUpdateAnimation();
        frames.push_back(statusItem->image());
    }
    EXPECT_EQ(frames, (std::vector<std::string>{
                          "QXRStatusBarItemIconworking_1", "QXRStatusBarItemIconworking_2",
                          "QXRStatusBarItemIconworking_3", "QXRStatusBarItemIconworking_1",
                          "QXRStatusBarItemIconworking_2"}));
    progress->resetIconAnimationFrame();  // the first online processing starts it afresh
    progress->statusIconUpdateAnimation();
    EXPECT_EQ(statusItem->image(), "QXRStatusBarItemIconworking_1");
}

}  // namespace
}  // namespace tavo::test
