// The update as a user of the tray meets it, on the offscreen platform: the
// menu's update entry and its confirmation, and the forced-update window
// that only its OK button closes.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "GuiTestSupport.h"
#include "TrayAppEnvironment.h"
#include "UpdateFixture.h"
#include "foundation/ConfigKeys.h"
#include "foundation/MainQueue.h"
#include "platform/Bundle.h"
#include "platform/qt/QtMainQueueBackend.h"
#include "platform/qt/TrayStatusItem.h"
#include "resident/ResidentFakes.h"
#include "resident/ResidentNames.h"
#include "resident/StatusMenuController.h"
#include "signin/SignInWindows.h"
#include "update/UpdateNotifications.h"
#include "update/widgets/ForceUpdateViewController.h"
#include "update/widgets/ForceUpdateWindow.h"

namespace fs = std::filesystem;

namespace tavo::test {
namespace {

class UpdateWindowTest : public UpdateFixture {
protected:
    static void SetUpTestSuite() { guiApplication(); }
    void SetUp() override {
        UpdateFixture::SetUp();
        backend = std::make_shared<platform::QtMainQueueBackend>();
        MainQueue::main().setBackend(backend);
    }
    void TearDown() override {
        if (delegate) {
            delegate->applicationWillTerminate();
            MainQueue::main().drain();
        }
        delegate.reset();
        tray.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        UpdateFixture::TearDown();
        MainQueue::main().setBackend(nullptr);
    }
    bool updated() {
        return waitUntil([this] { return terminations > 0; }, std::chrono::seconds(20));
    }

    std::shared_ptr<platform::QtMainQueueBackend> backend;
    std::shared_ptr<platform::TrayStatusItem> tray;
    std::shared_ptr<AppDelegate> delegate;
};

TEST_F(UpdateWindowTest, MenuEntryConfirmsAndInstallsTheOptionalUpdate) {
    placeDownloaded("2.2.0");
    platform::TrayStatusItem::Options options;
    options.trayAvailable = [] { return false; };
    tray = std::make_shared<platform::TrayStatusItem>(options);
    auto signInWindows = std::make_shared<signin::SignInWindows>(client, sessionState, workspace);
    AppEnvironment env =
        trayAppEnvironment(client, sessionState, controller, workspace,
                           std::make_shared<ObservedFontManager>(), tray, signInWindows);
    env.terminate = [this] { ++terminations; };
    delegate = std::make_shared<AppDelegate>(std::move(env));
    delegate->statusMenu().setStatusItem();

    Q_EMIT tray->menu()->aboutToShow();
    QCoreApplication::processEvents();
    ASSERT_TRUE(tray->action(kMenuTagUpdate));
    EXPECT_TRUE(tray->action(kMenuTagUpdate)->isVisible());
    Q_EMIT tray->menu()->aboutToHide();

    ModalAnswer answer;
    answerNextModal(&answer, 0);
    tray->action(kMenuTagUpdate)->trigger();
    EXPECT_TRUE(answer.answered);
    EXPECT_EQ(answer.buttons, (std::vector<std::string>{"OK", "Cancel"}));
    ASSERT_TRUE(updated());
    EXPECT_EQ(fs::read_symlink(root() + "/TAVO").string(), root() + "/TAVO-Ver2.2.0");
    EXPECT_EQ(configText(kConfigSpecifiedVersion), "2.2.0");
    ASSERT_EQ(workspace->launches().size(), 1u);
    EXPECT_EQ(workspace->launches()[0].arguments, std::vector<std::string>{"-Updated"});
}

TEST_F(UpdateWindowTest, ForcedWindowIsLeftOnlyThroughOk) {
    placeDownloaded("2.2.0", true);
    // As at start-up: the check finds the forced update and shows the window.
    controller->setForceUpdatePresenter(
        [this] { ForceUpdateWindow::present(controller, sessionState); });
    controller->showForceUpdateDialog();
    QPointer<ForceUpdateWindow> window;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* shown = qobject_cast<ForceUpdateWindow*>(widget); shown && shown->isVisible())
            window = shown;
    ASSERT_TRUE(window);
    QCoreApplication::processEvents();
    EXPECT_TRUE(sessionState.isWindowAppear(kWindowAppearForceUpdate));
    EXPECT_EQ(ForceUpdateWindow::present(controller, sessionState), nullptr) << "shown once";
    EXPECT_FALSE(window->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window->isModal());

    window->close();
    QTest::keyClick(window, Qt::Key_Escape);
    QCoreApplication::processEvents();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());

    // A user who is no administrator is told, and nothing is installed.
    makeAdministrator(false);
    auto* ok = window->findChild<QPushButton*>(QStringLiteral("OkButton"));
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->text(), QStringLiteral("OK"));
    QTest::mouseClick(ok, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(window);
    EXPECT_FALSE(sessionState.isWindowAppear(kWindowAppearForceUpdate));
    ASSERT_EQ(windows->alerts.size(), 1u);
    EXPECT_EQ(windows->alerts[0], "Start the app with administrator privileges");
    queue->sync([] {});
    EXPECT_EQ(progressCount(kPCUserInfoKeyIsCopyStarted), 0u);
    EXPECT_FALSE(fs::exists(root() + "/TAVO-Ver2.2.0"));

    // At the next start the window comes again; an administrator's OK updates.
    makeAdministrator(true);
    window = ForceUpdateWindow::present(controller, sessionState);
    ASSERT_TRUE(window);
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("OkButton")), Qt::LeftButton);
    ASSERT_TRUE(updated());
    EXPECT_EQ(fs::read_symlink(root() + "/TAVO").string(), root() + "/TAVO-Ver2.2.0");
}

}  // namespace
}  // namespace tavo::test
