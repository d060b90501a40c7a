// The status menu: what it shows signed out and signed in, its icon, the
// account line and what each entry does.
#include <gtest/gtest.h>

#include <thread>

#include "StatusMenuFixture.h"
#include "foundation/ConfigKeys.h"
#include "foundation/Localization.h"
#include "platform/UserNotificationCenter.h"
#include "resident/ResidentNames.h"

namespace tavo::test {
namespace {

using namespace std::chrono_literals;

class StatusMenuTest : public StatusMenuFixture {
protected:
    void SetUp() override {
        StatusMenuFixture::SetUp();
        if (HasFatalFailure())
            return;
        menu->setStatusItem();
    }

    // A signed-in user whose stored name differs from the service's.
    void signInWithStoredName(const std::string& last, const std::string& first) {
        signIn();
        storeClientSignIn();
        ASSERT_TRUE(Config::updateUserConfig([&](PlistDict& dict) {
            dict[kConfigLastName] = *CryptorUtil::encryptString(last);
            dict[kConfigFirstName] = *CryptorUtil::encryptString(first);
            dict[kConfigMailAddress] = *CryptorUtil::encryptString(kMail);
        }));
        client.isOnlineStatusApi = true;
        client.isOnlineStatusSse = true;
    }

    bool allHidden() {
        for (int tag = kMenuTagAccountInfo; tag <= kMenuTagUpdate; ++tag)
            if (!statusItem->hiddenItems[tag])
                return false;
        return true;
    }

    // Waits for work the delegate left on the global queue.
    bool waitFor(const std::function<bool()>& done) {
        return MainQueue::main().runUntil(done, 10s);
    }

    std::string stored(const char* key) {
        const auto config = Config::userConfig();
        return config ? Config::decryptedValue(*config, key).value_or("") : "";
    }
};

TEST_F(StatusMenuTest, SignedOutTheMenuOpensEmptyAndShowsTheSignInWindow) {
    ASSERT_TRUE(statusItem->delegate.menuWillOpen);
    statusItem->delegate.menuWillOpen();
    EXPECT_TRUE(allHidden());
    EXPECT_EQ(statusItem->image(), kStatusIconLogout);
    EXPECT_EQ(windows->signInWindows, 1);

    // While the window is shown, opening the menu again opens no second one.
    sessionState.setWindowAppear(kWindowAppearLogin);
    statusItem->delegate.menuWillOpen();
    EXPECT_EQ(windows->signInWindows, 1);
    EXPECT_TRUE(allHidden());
    sessionState.unsetWindowAppear(kWindowAppearLogin);

    statusItem->delegate.menuDidClose();
    EXPECT_EQ(statusItem->image(), kStatusIconLogout);
}

TEST_F(StatusMenuTest, SignedInEveryEntryShowsWithTheAccountLine) {
    signInWithStoredName("Lovelace", "Ada");
    menu->menuWillOpen();
    settle();
    for (int tag = kMenuTagAccountInfo; tag < kMenuTagUpdate; ++tag)
        EXPECT_FALSE(statusItem->hiddenItems[tag]) << "tag " << tag;
    EXPECT_TRUE(statusItem->hiddenItems[kMenuTagUpdate]);  // no optional update offered
    EXPECT_EQ(statusLine(), std::string("Ada Lovelace\n") + kMail);
    EXPECT_EQ(statusItem->image(), kStatusIconLogin);
    EXPECT_EQ(windows->signInWindows, 0);
}

TEST_F(StatusMenuTest, TheAccountLineFollowsTheServersNameAndStoresItEncrypted) {
    signInWithStoredName("Byron", "Augusta");
    menu->menuWillOpen();
    settle();
    EXPECT_EQ(statusLine(), std::string("Augusta Byron\n") + kMail);  // at once, from the file
    ASSERT_TRUE(waitFor([&] { return statusLine() == std::string("Ada Lovelace\n") + kMail; }))
        << statusLine();
    EXPECT_EQ(stored(kConfigLastName), "Lovelace");
    EXPECT_EQ(stored(kConfigFirstName), "Ada");
    const auto config = Config::userConfig();
    EXPECT_FALSE(plistGet<std::string>(*config, kConfigLastName));  // data, not clear text
    EXPECT_FALSE(menu->customerItem().getCustomerItemByServer());   // nothing left to change
}

TEST_F(StatusMenuTest, TheBadgeStaysUntilTheMenuClosesAndTheNoticePageClearsIt) {
    signInWithStoredName("Lovelace", "Ada");
    menu->setRedBadge(true);
    statusItem->setImage(kStatusIconNotified);
    menu->menuWillOpen();
    EXPECT_EQ(statusItem->image(), kStatusIconNotified);
    menu->menuDidClose();
    EXPECT_EQ(statusItem->image(), kStatusIconLogin);
    EXPECT_TRUE(menu->isRedBadge());

    statusItem->itemTitles[kMenuTagNoticeInfo] = "Notices 2 new";
    statusItem->delegate.itemActivated(kMenuTagNoticeInfo);
    settle();
    EXPECT_FALSE(menu->isRedBadge());
    EXPECT_EQ(statusItem->itemTitles[kMenuTagNoticeInfo], "Notices");
    ASSERT_TRUE(waitFor([&] { return !workspace->openedURLs().empty(); }));
    EXPECT_EQ(workspace->openedURLs()[0], service.apiUrl() + "/pages/notice");
}

TEST_F(StatusMenuTest, AfterAnUpdateTheLineSaysSoOnce) {
    signInWithStoredName("Lovelace", "Ada");
    menu->setAppUpdated(true);
    menu->menuWillOpen();
    settle();
    EXPECT_EQ(statusLine(), "TAVO has been updated");
    EXPECT_FALSE(menu->appUpdated());
}

TEST_F(StatusMenuTest, PageEntriesOpenTheServicesAddresses) {
    signInWithStoredName("Lovelace", "Ada");
    menu->setRedBadge(true);
    menu->menuItemActivated(kMenuTagAccount);
    EXPECT_FALSE(menu->isRedBadge());
    ASSERT_TRUE(waitFor([&] { return workspace->openedURLs().size() == 1; }));
    menu->menuItemActivated(kMenuTagFontPage);
    ASSERT_TRUE(waitFor([&] { return workspace->openedURLs().size() == 2; }));
    EXPECT_EQ(workspace->openedURLs(),
              (std::vector<std::string>{service.apiUrl() + "/pages/home",
                                        service.apiUrl() + "/pages/font-list"}));
}

TEST_F(StatusMenuTest, APageThatCannotBeFetchedOpensNothing) {
    signInWithStoredName("Lovelace", "Ada");
    addFault({{"path", "/api/v1/screens/font-list/url"}, {"status", 500}});
    menu->menuItemActivated(kMenuTagFontPage);
    ASSERT_TRUE(waitFor([&] { return requestCount("/api/v1/screens/font-list/url") == 1; }));
    // The notice page still opens afterwards: the failure left nothing behind.
    menu->menuItemActivated(kMenuTagNoticeInfo);
    ASSERT_TRUE(waitFor([&] { return !workspace->openedURLs().empty(); }));
    EXPECT_EQ(workspace->openedURLs(),
              (std::vector<std::string>{service.apiUrl() + "/pages/notice"}));
}

TEST_F(StatusMenuTest, TheHelpPageComesFromTheServerAndIsRemembered) {
    signInWithStoredName("Lovelace", "Ada");
    menu->menuItemActivated(kMenuTagHelpURL);
    menu->menuItemActivated(kMenuTagHelpURL);  // while the first is in flight
    ASSERT_TRUE(
        waitFor([&] { return !menu->openingHelpPage() && !workspace->openedURLs().empty(); }));
    EXPECT_EQ(workspace->openedURLs(),
              (std::vector<std::string>{service.apiUrl() + "/pages/help"}));
    EXPECT_EQ(requestCount("/api/v1/screens/help/url"), 1u);  // the second asked nothing
    const auto config = Config::userConfig();
    EXPECT_EQ(*plistGet<std::string>(*config, kConfigHelpPageURL),
              service.apiUrl() + "/pages/help");

    // Unreachable: the remembered address still opens.
    service.stop();
    menu->helppage();
    ASSERT_TRUE(waitFor([&] { return workspace->openedURLs().size() == 2; }));
    EXPECT_EQ(workspace->openedURLs()[1], service.apiUrl() + "/pages/help");
}

TEST_F(StatusMenuTest, LogoutAsksFirst) {
    signInWithStoredName("Lovelace", "Ada");
    windows->confirmAnswer = platform::kDialogResultCode + 1;  // Cancel
    statusItem->delegate.itemActivated(kMenuTagLogout);
    EXPECT_TRUE(calls.all().empty());
    ASSERT_EQ(windows->confirmations.size(), 1u);
    EXPECT_EQ(windows->confirmations[0], localized("Logout confirm"));

    windows->confirmAnswer = platform::kDialogResultCode;  // Log Out
    statusItem->delegate.itemActivated(kMenuTagLogout);
    EXPECT_EQ(calls.all(), (std::vector<std::string>{"performLogout false"}));
}

TEST_F(StatusMenuTest, TheVersionEntryShowsTheShortVersion) {
    menu->menuItemActivated(kMenuTagShowVersion);
    ASSERT_EQ(windows->alerts.size(), 1u);
    const auto bundle = platform::Bundle::mainBundle();
    const std::string version = "Ver. " + bundle->shortVersion();
    EXPECT_EQ(
        windows->alerts[0],
        (bundle->version().empty() ? version : version + " (build " + bundle->version() + ")") +
            "\n" + localized("Service name"));
}

TEST_F(StatusMenuTest, TheSynchronizeEntryAsksForAManualRun) {
    signInWithStoredName("Lovelace", "Ada");
    menu->menuItemActivated(kMenuTagSyncFont);
    EXPECT_EQ(calls.all(),
              (std::vector<std::string>{
                  "startSynchronization Skip manual performing font synchronization because of "
                  "already running | Perfroming font synchronization at manual | Manual "
                  "performing font synchronization"}));
}

TEST_F(StatusMenuTest, TheSynchronizeEntryShowsARunningSynchronization) {
    signInWithStoredName("Lovelace", "Ada");
    menu->menuWillOpen();
    settle();
    EXPECT_TRUE(statusItem->enabledItems[kMenuTagSyncFont]);
    EXPECT_EQ(statusItem->itemImages[kMenuTagSyncFont], "");
    menu->menuDidClose();

    // Chosen: at once disabled, with the working image.
    menu->menuItemActivated(kMenuTagSyncFont);
    EXPECT_FALSE(statusItem->enabledItems[kMenuTagSyncFont]);
    EXPECT_EQ(statusItem->itemImages[kMenuTagSyncFont], "QXRStatusBarItemIconworking_1");

    // Each opening shows what runs.
    synchronizing = true;
    menu->menuWillOpen();
    settle();
    EXPECT_FALSE(statusItem->enabledItems[kMenuTagSyncFont]);
    menu->menuDidClose();
    synchronizing = false;
    menu->menuWillOpen();
    settle();
    EXPECT_TRUE(statusItem->enabledItems[kMenuTagSyncFont]);
    EXPECT_EQ(statusItem->itemImages[kMenuTagSyncFont], "");
    menu->menuDidClose();
}

TEST_F(StatusMenuTest, APageNoBrowserOpensIsToldWithItsAddress) {
    auto notifications = std::make_shared<RecordingUserNotifications>();
    platform::UserNotificationCenter::setDefaultCenter(notifications);
    signInWithStoredName("Lovelace", "Ada");
    workspace->opens = false;
    menu->menuItemActivated(kMenuTagFontPage);
    ASSERT_TRUE(waitFor([&] { return !notifications->all().empty(); }));
    menu->helppage();
    ASSERT_TRUE(waitFor([&] { return notifications->all().size() == 2; }));
    platform::UserNotificationCenter::setDefaultCenter(nullptr);
    const auto told = notifications->all();
    EXPECT_EQ(told[0].subtitle, localized("No browser opened"));
    EXPECT_EQ(told[0].informativeText, service.apiUrl() + "/pages/font-list");
    EXPECT_EQ(told[1].informativeText, service.apiUrl() + "/pages/help");
}

TEST_F(StatusMenuTest, AfterSignInTheMenuFollowsTheAccount) {
    signIn();
    client.isLoginStatus = false;
    menu->openMenu();
    EXPECT_TRUE(client.isLoginStatus);
    EXPECT_EQ(statusItem->image(), kStatusIconLogin);
    const auto all = calls.all();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0], "settingScheduleCheckUserRereshToken");
    EXPECT_NE(all[1].find("Authenticated performing font synchronization"), std::string::npos);

    menu->setRedBadge(true);
    menu->openMenu();
    EXPECT_EQ(statusItem->image(), kStatusIconNotified);
    menu->setAppUpdated(true);
    menu->openMenu();
    EXPECT_EQ(statusItem->image(), kStatusIconFinish);
}

TEST_F(StatusMenuTest, ANoticeRaisesTheBadgeUntilTheAccountPageIsOpened) {
    signInWithStoredName("Lovelace", "Ada");
    std::thread([this] {
        menu->setNoticeInfoTitle("Notices(3 new)");
        menu->raiseNoticeBadge();
    }).join();
    settle();
    EXPECT_TRUE(menu->isRedBadge());
    EXPECT_EQ(statusItem->image(), kStatusIconNotified);
    EXPECT_EQ(statusItem->itemTitles[kMenuTagNoticeInfo], "Notices(3 new)");
    menu->menuItemActivated(kMenuTagAccount);
    EXPECT_FALSE(menu->isRedBadge());
    EXPECT_EQ(statusItem->image(), kStatusIconLogin);
}

TEST_F(StatusMenuTest, SignedOutStopsTheAnimationAndShowsTheSignedOutIcon) {
    progress->statusMenuFontDownload(
        {kFMUpdateProgressNotification, {{kFMStartProgress, 2}, {kFMTypeface, std::string("A")}}});
    ASSERT_TRUE(progress->isDownloadAnimating());
    menu->showSignedOut();
    settle();
    EXPECT_FALSE(progress->isAnimating());
    EXPECT_EQ(statusItem->image(), kStatusIconLogout);
}

}  // namespace
}  // namespace tavo::test
