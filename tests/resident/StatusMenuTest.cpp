// The status menu: what it shows signed out and signed in, its icon, the
// account line and what each entry does.
#include <gtest/gtest.h>

#include "AppDelegateFixture.h"
#include "foundation/ConfigKeys.h"
#include "resident/ResidentNames.h"

namespace tavo::test {
namespace {

using namespace std::chrono_literals;

class StatusMenuTest : public AppDelegateFixture {
protected:
    void SetUp() override {
        AppDelegateFixture::SetUp();
        if (HasFatalFailure())
            return;
        delegate->setStatusItem();
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

    std::string statusLine() { return statusItem->itemTitles[kMenuTagAccountInfo]; }

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
    client.setWindowAppear(kWindowAppearLogin);
    statusItem->delegate.menuWillOpen();
    EXPECT_EQ(windows->signInWindows, 1);
    EXPECT_EQ(logCount("Already opened"), 1u);
    client.unsetWindowAppear(kWindowAppearLogin);

    statusItem->delegate.menuDidClose();
    EXPECT_EQ(statusItem->image(), kStatusIconLogout);
}

TEST_F(StatusMenuTest, SignedInEveryEntryShowsWithTheAccountLine) {
    signInWithStoredName("Lovelace", "Ada");
    delegate->menuWillOpen();
    settle();
    for (int tag = kMenuTagAccountInfo; tag < kMenuTagUpdate; ++tag)
        EXPECT_FALSE(statusItem->hiddenItems[tag]) << "tag " << tag;
    EXPECT_TRUE(statusItem->hiddenItems[kMenuTagUpdate]);  // no optional update offered
    EXPECT_EQ(statusLine(), std::string("Lovelace Ada\n") + kMail);
    EXPECT_EQ(statusItem->image(), kStatusIconLogin);
    EXPECT_EQ(windows->signInWindows, 0);
}

TEST_F(StatusMenuTest, TheAccountLineFollowsTheServersNameAndStoresItEncrypted) {
    signInWithStoredName("Byron", "Augusta");
    delegate->menuWillOpen();
    settle();
    EXPECT_EQ(statusLine(), std::string("Byron Augusta\n") + kMail);  // at once, from the file
    ASSERT_TRUE(waitFor([&] { return statusLine() == std::string("Lovelace Ada\n") + kMail; }))
        << statusLine();
    EXPECT_EQ(stored(kConfigLastName), "Lovelace");
    EXPECT_EQ(stored(kConfigFirstName), "Ada");
    const auto config = Config::userConfig();
    EXPECT_FALSE(plistGet<std::string>(*config, kConfigLastName));  // data, not clear text
    EXPECT_FALSE(delegate->getCustomerItemByServer());              // nothing left to change
    EXPECT_EQ(logCount("Update mail last name of customer"), 1u);
    EXPECT_EQ(logCount("Update mail address of customer"), 0u);
}

TEST_F(StatusMenuTest, TheBadgeStaysUntilTheMenuClosesAndTheNoticePageClearsIt) {
    signInWithStoredName("Lovelace", "Ada");
    delegate->isRedBadge = true;
    statusItem->setImage(kStatusIconNotified);
    delegate->menuWillOpen();
    EXPECT_EQ(statusItem->image(), kStatusIconNotified);
    delegate->menuDidClose();
    EXPECT_EQ(statusItem->image(), kStatusIconLogin);
    EXPECT_TRUE(delegate->isRedBadge);

    statusItem->itemTitles[kMenuTagNoticeInfo] = "Notices 2 new";
    statusItem->delegate.itemActivated(kMenuTagNoticeInfo);
    settle();
    EXPECT_FALSE(delegate->isRedBadge);
    EXPECT_EQ(statusItem->itemTitles[kMenuTagNoticeInfo], "Notices");
    ASSERT_TRUE(waitFor([&] { return !workspace->openedURLs().empty(); }));
    EXPECT_EQ(workspace->openedURLs()[0], service.apiUrl() + "/pages/notice");
}

TEST_F(StatusMenuTest, AfterAnUpdateTheLineSaysSoOnce) {
    signInWithStoredName("Lovelace", "Ada");
    delegate->appUpdated = true;
    delegate->menuWillOpen();
    settle();
    EXPECT_EQ(statusLine(), "TAVO has been updated");
    EXPECT_FALSE(delegate->appUpdated);
}

TEST_F(StatusMenuTest, PageEntriesOpenTheServicesAddresses) {
    signInWithStoredName("Lovelace", "Ada");
    delegate->isRedBadge = true;
    delegate->menuItemActivated(kMenuTagAccount);
    EXPECT_FALSE(delegate->isRedBadge);
    ASSERT_TRUE(waitFor([&] { return workspace->openedURLs().size() == 1; }));
    delegate->menuItemActivated(kMenuTagFontPage);
    ASSERT_TRUE(waitFor([&] { return workspace->openedURLs().size() == 2; }));
    EXPECT_EQ(workspace->openedURLs(),
              (std::vector<std::string>{service.apiUrl() + "/pages/home",
                                        service.apiUrl() + "/pages/font-list"}));
}

TEST_F(StatusMenuTest, APageThatCannotBeFetchedOpensNothing) {
    signInWithStoredName("Lovelace", "Ada");
    addFault({{"path", "/api/v1/screens/font-list/url"}, {"status", 500}});
    delegate->menuItemActivated(kMenuTagFontPage);
    ASSERT_TRUE(
        waitFor([&] { return logCount("The font list page address could not be fetched") == 1; }));
    EXPECT_TRUE(workspace->openedURLs().empty());
}

TEST_F(StatusMenuTest, TheHelpPageComesFromTheServerAndIsRemembered) {
    signInWithStoredName("Lovelace", "Ada");
    delegate->menuItemActivated(kMenuTagHelpURL);
    delegate->menuItemActivated(kMenuTagHelpURL);  // while the first is in flight
    ASSERT_TRUE(
        waitFor([&] { return !delegate->openingHelpPage && !workspace->openedURLs().empty(); }));
    EXPECT_EQ(workspace->openedURLs(),
              (std::vector<std::string>{service.apiUrl() + "/pages/help"}));
    EXPECT_EQ(logCount("Improgress for help page"), 1u);
    const auto config = Config::userConfig();
    EXPECT_EQ(*plistGet<std::string>(*config, kConfigHelpPageURL),
              service.apiUrl() + "/pages/help");

    // Unreachable: the remembered address still opens.
    service.stop();
    delegate->helppage();
    ASSERT_TRUE(waitFor([&] { return workspace->openedURLs().size() == 2; }));
    EXPECT_EQ(workspace->openedURLs()[1], service.apiUrl() + "/pages/help");
}

TEST_F(StatusMenuTest, LogoutAsksFirst) {
    signInWithStoredName("Lovelace", "Ada");
    windows->confirmAnswer = platform::kDialogResultCode + 1;  // Cancel
    statusItem->delegate.itemActivated(kMenuTagLogout);
    EXPECT_TRUE(client.isLoginStatus);
    ASSERT_EQ(windows->confirmations.size(), 1u);
    EXPECT_EQ(windows->confirmations[0], "Do you want to log out?");

    windows->confirmAnswer = platform::kDialogResultCode;  // Log Out
    statusItem->delegate.itemActivated(kMenuTagLogout);
    settle();
    EXPECT_FALSE(client.isLoginStatus);
    EXPECT_EQ(requests("/api/v1/logout").size(), 1u);
}

TEST_F(StatusMenuTest, TheVersionEntryShowsTheShortVersion) {
    delegate->menuItemActivated(kMenuTagShowVersion);
    ASSERT_EQ(windows->alerts.size(), 1u);
    EXPECT_EQ(windows->alerts[0], "Ver. " + platform::Bundle::mainBundle()->shortVersion());
}

TEST_F(StatusMenuTest, ManualSynchronizationRunsOnceAtATime) {
    signInWithStoredName("Lovelace", "Ada");
    auto running = controller->syncGate().tryAcquire();  // a run of another starter
    delegate->menuItemActivated(kMenuTagSyncFont);
    EXPECT_EQ(logCount("Skip manual performing font synchronization because of already running"),
              1u);
    running.release();
    delegate->menuItemActivated(kMenuTagSyncFont);
    settle();
    EXPECT_EQ(logCount("Manual performing font synchronization"), 1u);
}

}  // namespace
}  // namespace tavo::test
