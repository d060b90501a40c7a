// The resident application's face as a user meets it: the tray menu opens
// the sign-in window while signed out, signing in there makes the menu show
// the account, and logging out from the menu signs out again. The real tray
// item, window and delegate, against the reference service.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>

#include "GuiTestSupport.h"
#include "TrayAppEnvironment.h"
#include "fonts/FontManagementController.h"
#include "foundation/Const.h"
#include "foundation/MainQueue.h"
#include "foundation/SerialQueue.h"
#include "platform/Bundle.h"
#include "platform/qt/QtMainQueueBackend.h"
#include "platform/qt/TrayStatusItem.h"
#include "resident/AppDelegate.h"
#include "resident/ResidentFakes.h"
#include "resident/ResidentNames.h"
#include "resident/StatusMenuController.h"
#include "service/ServiceFixture.h"
#include "session/SessionState.h"
#include "signin/SignInWindow.h"
#include "signin/SignInWindows.h"
#include "update/ProgramController.h"

namespace tavo::test {
namespace {

class TrayAndSignInTest : public ServiceFixture {
protected:
    static void SetUpTestSuite() { guiApplication(); }

    void SetUp() override {
        ServiceFixture::SetUp();
        if (HasFatalFailure())
            return;
        platform::Bundle::setMainBundlePath(bundlesDirectory() + "/TAVO.app");
        backend = std::make_shared<platform::QtMainQueueBackend>();
        MainQueue::main().setBackend(backend);
        queue = std::make_shared<SerialQueue>("TAVO.SerialDispatchQueue");
        client.setSerialDispatchQueue(queue);
        platform::TrayStatusItem::Options options;
        options.trayAvailable = [] { return false; };  // the offscreen platform has none
        tray = std::make_shared<platform::TrayStatusItem>(options);
        windows = std::make_shared<signin::SignInWindows>(client, sessionState, workspace);
        program = std::make_shared<ProgramController>(client, sessionState);
        delegate = std::make_shared<AppDelegate>(trayAppEnvironment(
            client, sessionState, program, workspace, fontManager, tray, windows));
        // What start-up does for the menu and the sign-in.
        delegate->statusMenu().setStatusItem();
        observer = NotificationCenter::defaultCenter().addObserver(
            kLMUserInfoKeyLoginSucess,
            [this](const Notification&) { delegate->statusMenu().openMenu(); });
    }

    void TearDown() override {
        NotificationCenter::defaultCenter().removeObserver(observer);
        if (auto* window = windows ? windows->signInWindow() : nullptr) {
            delete window;
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        if (delegate) {
            program->disconnectNotifications();
            queue->sync([] {});
            delegate->applicationWillTerminate();
            MainQueue::main().drain();
        }
        delegate.reset();
        windows.reset();
        tray.reset();
        MainQueue::main().setBackend(nullptr);
        backend.reset();
        platform::Bundle::setMainBundlePath({});
        ServiceFixture::TearDown();
    }

    void openMenu() {
        Q_EMIT tray->menu()->aboutToShow();
        QCoreApplication::processEvents();
    }
    void closeMenu() { Q_EMIT tray->menu()->aboutToHide(); }

    std::vector<int> visibleEntries() const {
        std::vector<int> tags;
        for (int tag = kMenuTagAccountInfo; tag <= kMenuTagUpdate; ++tag)
            if (tray->action(tag) && tray->action(tag)->isVisible())
                tags.push_back(tag);
        return tags;
    }

    template <typename T>
    T* element(const char* name) const {
        auto* window = windows->signInWindow();
        return window ? child<T>(window, name) : nullptr;
    }

    SessionState sessionState;  // before what uses it, so it outlives them
    std::shared_ptr<platform::QtMainQueueBackend> backend;
    std::shared_ptr<SerialQueue> queue;
    std::shared_ptr<ObservedFontManager> fontManager = std::make_shared<ObservedFontManager>();
    std::shared_ptr<RecordingWorkspace> workspace = std::make_shared<RecordingWorkspace>();
    std::shared_ptr<platform::TrayStatusItem> tray;
    std::shared_ptr<signin::SignInWindows> windows;
    std::shared_ptr<ProgramController> program;
    std::shared_ptr<AppDelegate> delegate;
    NotificationCenter::Token observer = 0;
};

TEST_F(TrayAndSignInTest, AClickSignedOutOpensTheWindowWithTheKeyboardInTheAddressField) {
    Q_EMIT tray->trayIcon()->activated(QSystemTrayIcon::Trigger);
    QCoreApplication::processEvents();
    // No empty menu pops up to hold the keyboard.
    EXPECT_FALSE(tray->menu()->isVisible());
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    auto* window = windows->signInWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    auto* field = element<QLineEdit>("MailAdreesTextField");
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(QApplication::focusWidget(), field);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("ada@"));
    EXPECT_EQ(field->text(), QStringLiteral("ada@"));

    // A second click while it is open brings the same window forward, again
    // without a menu.
    Q_EMIT tray->trayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(tray->menu()->isVisible());
    EXPECT_EQ(windows->signInWindow(), window);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(TrayAndSignInTest, SigningInFromTheMenuBringsTheAccountIntoTheMenu) {
    // Signed out: the menu opens empty and brings up the sign-in window.
    openMenu();
    EXPECT_TRUE(visibleEntries().empty());
    EXPECT_EQ(tray->image(), kStatusIconLogout);
    ASSERT_NE(windows->signInWindow(), nullptr);
    closeMenu();

    // While the window is open the menu stays empty and opens no second one.
    auto* window = windows->signInWindow();
    openMenu();
    EXPECT_TRUE(visibleEntries().empty());
    EXPECT_EQ(windows->signInWindow(), window);
    closeMenu();

    QTest::keyClicks(element<QLineEdit>("MailAdreesTextField"), kMail);
    QTest::keyClicks(element<QLineEdit>("PasswordTextField"), kPassword);
    QTest::mouseClick(element<QPushButton>("LoginButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return client.isLoginStatus.load(); }));
    EXPECT_NE(tray->image(), kStatusIconLogout);

    // The completion page's window closes; the menu then shows the account.
    windows->signInWindow()->close();
    ASSERT_TRUE(waitUntil([&] { return !sessionState.isWindowAppear(kWindowAppearAnything); }));
    // Online (the stream is open), the account line comes from the server.
    ASSERT_TRUE(waitUntil([&] { return client.isOnlineStatus(); }));
    openMenu();
    EXPECT_EQ(visibleEntries(),
              (std::vector<int>{kMenuTagAccountInfo, kMenuTagAccount, kMenuTagFontPage,
                                kMenuTagSyncFont, kMenuTagNoticeInfo, kMenuTagShowVersion,
                                kMenuTagHelpURL, kMenuTagLogout}));
    ASSERT_TRUE(waitUntil([&] {
        return tray->statusLine()->text() == QStringLiteral("Ada Lovelace\n") + kMail;
    })) << tray->statusLine()->text().toStdString();
    closeMenu();

    // Log out, confirmed in the alert's first button.
    ModalAnswer answer;
    answerNextModal(&answer, 0);
    tray->action(kMenuTagLogout)->trigger();
    ASSERT_TRUE(answer.answered);
    EXPECT_FALSE(client.isLoginStatus);
    ASSERT_TRUE(waitUntil([&] { return tray->image() == kStatusIconLogout; }));
}

}  // namespace
}  // namespace tavo::test
