// The tray and the sign-in window on a real X display with a window manager
// and a tray panel, driven by the pointer and the keyboard as a user would:
// what the offscreen platform cannot show (pop-ups that hold the keyboard,
// a menu the desktop never draws, a window the manager moves).
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTest>
#include <QVBoxLayout>
#include <QWindow>
#include <memory>

#include "RealDisplay.h"
#include "TrayAppEnvironment.h"
#include "fonts/FontManagementController.h"
#include "foundation/MainQueue.h"
#include "foundation/SerialQueue.h"
#include "platform/Bundle.h"
#include "platform/qt/QtMainQueueBackend.h"
#include "platform/qt/TrayStatusItem.h"
#include "platform/qt/widgets/FlowWindow.h"
#include "resident/AppDelegate.h"
#include "resident/ResidentFakes.h"
#include "resident/StatusMenuController.h"
#include "service/ServiceFixture.h"
#include "session/SessionState.h"
#include "signin/SignInWindow.h"
#include "signin/SignInWindows.h"
#include "update/ProgramController.h"

namespace tavo::test {
namespace {

constexpr int kWaitMs = 20000;  // bounded waits end as soon as the display answers
constexpr int kEmbedSettleMs = 500;
constexpr int kFirstClickAttempts = 10;

bool waitFor(const std::function<bool()>& done, int timeoutMs = kWaitMs) {
    return QTest::qWaitFor(done, timeoutMs);
}

// The display and the one QApplication on it, for the whole program.
class RealDisplayEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (!RealDisplay::start().empty())
            return;
        static int argc = 1;
        static char name[] = "realx_tests";
        static char* argv[] = {name, nullptr};
        application_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override {
        application_.reset();
        RealDisplay::stop();
    }

private:
    std::unique_ptr<QApplication> application_;
};

::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new RealDisplayEnvironment);

class RealTrayTest : public ServiceFixture {
protected:
    void SetUp() override {
        if (!RealDisplay::running())
            GTEST_SKIP() << "no real X display: " << RealDisplay::whyNot();
        ServiceFixture::SetUp();
        if (HasFatalFailure())
            return;
        if (!waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }))
            GTEST_SKIP() << "the tray panel did not appear";
        platform::Bundle::setMainBundlePath(bundlesDirectory() + "/TAVO.app");
        backend = std::make_shared<platform::QtMainQueueBackend>();
        MainQueue::main().setBackend(backend);
        queue = std::make_shared<SerialQueue>("TAVO.SerialDispatchQueue");
        client.setSerialDispatchQueue(queue);
        tray = std::make_shared<platform::TrayStatusItem>();
        windows = std::make_shared<signin::SignInWindows>(client, sessionState, workspace);
        program = std::make_shared<ProgramController>(client, sessionState);
        delegate = std::make_shared<AppDelegate>(trayAppEnvironment(
            client, sessionState, program, workspace, fontManager, tray, windows));
        delegate->statusMenu().setStatusItem();
        ASSERT_TRUE(waitFor([&] {
            return tray->isInTray() && tray->trayIcon()->geometry().isValid() &&
                   !tray->trayIcon()->geometry().isEmpty();
        })) << "the icon never reached the panel";
        QObject::connect(tray->trayIcon(), &QSystemTrayIcon::activated, tray->trayIcon(),
                         [this] { ++activations; });
    }

    // The panel embeds the icon a moment after it has its place and tells
    // nobody when it is done: until then a click reaches the panel alone.
    // The first click of a case is repeated until the icon hears it.
    bool firstClickHeard() {
        for (int attempt = 0; attempt < kFirstClickAttempts; ++attempt) {
            if (!clickIcon())
                return false;
            if (waitFor([&] { return activations > 0; }, kEmbedSettleMs))
                return true;
        }
        return false;
    }

    void TearDown() override {
        if (!delegate) {
            ServiceFixture::TearDown();
            return;
        }
        if (auto* window = windows->signInWindow()) {
            delete window;
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        tray->menu()->hide();
        queue->sync([] {});
        delegate->applicationWillTerminate();
        MainQueue::main().drain();
        delegate.reset();
        windows.reset();
        tray.reset();
        MainQueue::main().setBackend(nullptr);
        backend.reset();
        platform::Bundle::setMainBundlePath({});
        ServiceFixture::TearDown();
    }

    bool clickIcon() { return RealDisplay::clickAt(tray->trayIcon()->geometry().center()); }
    bool menuShown() const {
        QMenu* menu = tray->menu();
        return menu->isVisible() && menu->windowHandle() && menu->windowHandle()->isExposed();
    }

    SessionState sessionState;
    std::shared_ptr<platform::QtMainQueueBackend> backend;
    std::shared_ptr<SerialQueue> queue;
    std::shared_ptr<ObservedFontManager> fontManager = std::make_shared<ObservedFontManager>();
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    std::shared_ptr<platform::TrayStatusItem> tray;
    std::shared_ptr<signin::SignInWindows> windows;
    std::shared_ptr<ProgramController> program;
    std::shared_ptr<AppDelegate> delegate;
    int activations = 0;  // clicks the icon heard
};

TEST_F(RealTrayTest, AClickSignedOutOpensTheWindowAndTypingReachesTheAddressField) {
    ASSERT_TRUE(firstClickHeard()) << "no click reached the icon";
    ASSERT_TRUE(waitFor([&] { return windows->signInWindow() != nullptr; }));
    auto* window = windows->signInWindow();
    ASSERT_TRUE(waitFor([&] { return window->isActiveWindow(); })) << "the window never had focus";
    EXPECT_FALSE(tray->menu()->isVisible());
    auto* field = window->findChild<QLineEdit*>(QStringLiteral("MailAdreesTextField"));
    ASSERT_NE(field, nullptr);
    ASSERT_TRUE(RealDisplay::xdotool({QStringLiteral("type"), QStringLiteral("--delay"),
                                      QStringLiteral("5"), QStringLiteral("ada@example.com")}));
    EXPECT_TRUE(waitFor([&] { return field->text() == QStringLiteral("ada@example.com"); }))
        << field->text().toStdString();
}

TEST_F(RealTrayTest, TenClicksSignedInShowTheMenuEachTimeWithWindowsBetween) {
    client.isLoginStatus = true;
    for (int click = 0; click < 10; ++click) {
        SCOPED_TRACE(click);
        // A window of the application opens and closes in between.
        if (click % 2 == 1) {
            windows->showSignInWindow();
            auto* window = windows->signInWindow();
            ASSERT_TRUE(waitFor([&] { return window->isActiveWindow(); }));
            window->close();
            ASSERT_TRUE(waitFor([&] { return windows->signInWindow() == nullptr; }));
        }
        const int before = activations;
        if (click == 0)
            ASSERT_TRUE(firstClickHeard());
        else
            ASSERT_TRUE(clickIcon());
        ASSERT_TRUE(waitFor([&] { return activations > before; })) << "the click was lost";
        ASSERT_TRUE(waitFor([&] { return menuShown(); }))
            << "visible " << tray->menu()->isVisible();
        if (click % 3 == 2) {
            // Left open, a click on the icon closes it, as desktops do.
            ASSERT_TRUE(clickIcon());
        } else {
            ASSERT_TRUE(RealDisplay::xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
        }
        ASSERT_TRUE(waitFor([&] { return !tray->menu()->isVisible(); }));
    }
}

// Two pages of different sizes in the one window.
class SizedPage : public widgets::BaseViewController {
public:
    explicit SizedPage(QSize size) {
        auto* layout = new QVBoxLayout(this);
        auto* field = new QLineEdit(this);
        field->setFixedSize(size);
        layout->addWidget(field);
    }
};

TEST_F(RealTrayTest, TheWindowKeepsItsTopEdgeAcrossPages) {
    widgets::FlowWindow window;
    window.registerPage("short", [] { return new SizedPage(QSize(300, 60)); });
    window.registerPage("tall", [] { return new SizedPage(QSize(420, 380)); });
    window.showPage("short");
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, kWaitMs));
    window.move(200, 250);
    ASSERT_TRUE(waitFor([&] { return window.frameGeometry().top() == 250; }));
    const int top = window.geometry().top();
    for (const char* page : {"tall", "short", "tall", "short"}) {
        SCOPED_TRACE(page);
        const QSize before = window.size();
        ASSERT_TRUE(window.showPage(page));
        ASSERT_TRUE(waitFor([&] { return window.size() != before; }));
        // The window manager answers the new size in its own time.
        EXPECT_TRUE(waitFor([&] { return window.geometry().top() == top; }))
            << "top edge " << window.geometry().top() << ", was " << top;
    }
}

}  // namespace
}  // namespace tavo::test
