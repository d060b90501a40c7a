// The window helpers under the sign-in window: pages replaced in place, the
// title-bar buttons, Ctrl+W, modal alerts, and one sign-in window at a time.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include "GuiTestSupport.h"
#include "SignInGuiFixture.h"
#include "foundation/Localization.h"
#include "platform/StatusItem.h"
#include "platform/qt/widgets/AlertUtil.h"
#include "platform/qt/widgets/FlowWindow.h"
#include "signin/SignInWindows.h"

namespace tavo::test {
namespace {

using widgets::AlertUtil;
using widgets::BaseViewController;
using widgets::FlowWindow;

// A page that writes down when it comes and goes.
class RecordingPage : public BaseViewController {
public:
    RecordingPage(std::string name, std::vector<std::string>* events)
        : name_(std::move(name)), events_(events) {
        auto* layout = new QVBoxLayout(this);
        field = new QLineEdit(this);
        layout->addWidget(field);
    }
    ~RecordingPage() override { events_->push_back("deleted " + name_); }

    QLineEdit* field;

protected:
    void viewDidLoad() override { events_->push_back("load " + name_); }
    void viewDidDisappear() override { events_->push_back("disappear " + name_); }

private:
    std::string name_;
    std::vector<std::string>* events_;
};

class WindowHelpersTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { guiApplication(); }

    void SetUp() override {
        window = new FlowWindow;
        for (const char* id : {"first", "toSecond"})
            window->registerPage(id, [this, id] { return new RecordingPage(id, &events); });
    }
    void TearDown() override {
        delete window.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QPointer<FlowWindow> window;
    std::vector<std::string> events;
};

TEST_F(WindowHelpersTest, SegueReplacesThePageInPlace) {
    ASSERT_TRUE(window->showPage("first"));
    QPointer<BaseViewController> first = window->contentViewController();
    EXPECT_EQ(first->storyboardIdentifier(), "first");
    EXPECT_EQ(events, (std::vector<std::string>{"load first"}));

    // An identifier no page answers to changes nothing.
    first->performSegueWithIdentifier("toNowhere");
    EXPECT_EQ(window->contentViewController(), first.data());

    first->performSegueWithIdentifier("toSecond");
    BaseViewController* second = window->contentViewController();
    EXPECT_EQ(second->storyboardIdentifier(), "toSecond");
    EXPECT_EQ(second->window(), window.data());
    EXPECT_EQ(events, (std::vector<std::string>{"load first", "load toSecond", "disappear first"}));
    // The page that asked for the segue may still finish its work.
    ASSERT_FALSE(first.isNull());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());

    // Closing the window lets the page go, once.
    window->show();
    window->close();
    delete window.data();
    EXPECT_EQ(std::count(events.begin(), events.end(), "disappear toSecond"), 1);
}

TEST_F(WindowHelpersTest, DestroyedWindowLetsItsPageGo) {
    window->showPage("first");
    delete window.data();
    EXPECT_EQ(events, (std::vector<std::string>{"load first", "disappear first", "deleted first"}));
}

TEST_F(WindowHelpersTest, TitleBarButtonsFollowThePage) {
    window->showPage("first");
    window->show();
    BaseViewController* page = window->contentViewController();
    auto has = [&](Qt::WindowType hint) { return window->windowFlags().testFlag(hint); };

    page->windowZoomButtonEnabled(false);
    EXPECT_FALSE(has(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(has(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(has(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(window->isVisible());  // new flags do not hide the window

    page->windowButtonHidden(true);
    EXPECT_FALSE(has(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(has(Qt::WindowMinimizeButtonHint));
    page->windowMiniaturizeButtonEnabled(false);
    page->windowButtonHidden(false);  // back as they were set, not all on
    EXPECT_TRUE(has(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(has(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(has(Qt::WindowMaximizeButtonHint));

    page->closeWindow();
    EXPECT_FALSE(window->isVisible());
}

TEST_F(WindowHelpersTest, ControlWClosesTheWindowOtherKeysType) {
    window->showPage("first");
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    auto* page = static_cast<RecordingPage*>(window->contentViewController());
    page->field->setFocus();

    QTest::keyClick(page->field, Qt::Key_W);
    EXPECT_EQ(page->field->text(), "w");
    EXPECT_TRUE(window->isVisible());

    QTest::keyClick(page->field, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(std::count(events.begin(), events.end(), "disappear first"), 1);
}

TEST(AlertUtilTest, ButtonsAnswerInTheirOrder) {
    guiApplication();
    ModalAnswer first;
    answerNextModal(&first, 0);
    EXPECT_EQ(AlertUtil::runModalWithSelectMessage("Message", "Title", "Next", "Cancel"),
              platform::kDialogResultCode);
    EXPECT_EQ(first.text, "Title");
    EXPECT_EQ(first.informativeText, "Message");
    EXPECT_EQ(first.buttons, (std::vector<std::string>{localized("Next"), localized("Cancel")}));

    ModalAnswer second;
    answerNextModal(&second, 1);
    EXPECT_EQ(AlertUtil::runModalWithErrorMessage("Sure?", "Logout confirm"),
              platform::kDialogResultCode + 1);
    EXPECT_EQ(second.buttons, (std::vector<std::string>{localized("Logout"), localized("Cancel")}));
    // The log-out question: its icon, Cancel as the safe default, and room
    // for its text.
    EXPECT_EQ(second.icon, QMessageBox::Question);
    EXPECT_EQ(second.defaultButton, localized("Cancel"));
    EXPECT_GE(second.informativeWidth, 300);

    ModalAnswer plain;
    answerNextModal(&plain, 0);
    AlertUtil::runModalWithError("Broken", "Failure");
    EXPECT_TRUE(plain.answered);
    EXPECT_EQ(plain.text, "Failure");
}

TEST(AlertUtilTest, AlertOnAWindowThatGoesAwayEndsAsTheSecondButton) {
    guiApplication();
    auto* parent = new QWidget;
    parent->show();
    QTimer::singleShot(50, parent, [parent] { parent->deleteLater(); });
    EXPECT_EQ(AlertUtil::runModalWithSelectMessage("Message", "Title", "Next", "Cancel", parent),
              platform::kDialogResultCode + 1);
}

class SignInWindowsTest : public SignInGuiFixture {};

TEST_F(SignInWindowsTest, OneSignInWindowAtATime) {
    auto windows = std::make_unique<signin::SignInWindows>(client, sessionState, workspace);
    windows->showSignInWindow();
    QPointer<signin::SignInWindow> first = windows->signInWindow();
    ASSERT_FALSE(first.isNull());
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->contentViewController()->storyboardIdentifier(),
              signin::kLoginScreenIdentifier);

    windows->showSignInWindow();
    EXPECT_EQ(windows->signInWindow(), first.data());
    int open = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        open += qobject_cast<signin::SignInWindow*>(widget) && widget->isVisible();
    EXPECT_EQ(open, 1);

    // Closed, it goes away; the next call opens a fresh one.
    first->close();
    ASSERT_TRUE(waitUntil([&] { return first.isNull(); }));
    EXPECT_FALSE(sessionState.isWindowAppear(kWindowAppearLogin));
    windows->showSignInWindow();
    EXPECT_NE(windows->signInWindow(), nullptr);
    EXPECT_TRUE(sessionState.isWindowAppear(kWindowAppearLogin));

    ModalAnswer confirm;
    answerNextModal(&confirm, 0);
    EXPECT_EQ(windows->runModalConfirm("Sure?", "Logout"), platform::kDialogResultCode);
    EXPECT_EQ(confirm.buttons,
              (std::vector<std::string>{localized("Logout"), localized("Cancel")}));
    windows.reset();
    EXPECT_FALSE(sessionState.isWindowAppear(kWindowAppearLogin));
}

}  // namespace
}  // namespace tavo::test
