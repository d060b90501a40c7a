#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <memory>
#include <string>

#include "GuiTestSupport.h"
#include "foundation/Const.h"
#include "foundation/Localization.h"
#include "foundation/NotificationCenter.h"
#include "service/ServiceFixture.h"
#include "session/SessionState.h"
#include "signin/SignInSession.h"
#include "signin/SignInWindow.h"

namespace tavo::test {

// The reference service with an account per path through the sign-in
// window, and the real window on the offscreen platform, driven through its
// widgets by object name.
class SignInGuiFixture : public ServiceFixture {
protected:
    static constexpr const char* kTwoFactorMail = "second@example.com";
    static constexpr const char* kTwoFactorCode = "24681357";
    static constexpr const char* kLimitMail = "limit@example.com";

    nlohmann::json seed() const override {
        auto account = [](const char* mail) {
            return nlohmann::json{
                {"mailAddress", mail}, {"password", kPassword}, {"maxDevices", 5}};
        };
        auto device = [](const char* id, const char* host) {
            return nlohmann::json{{"deviceId", id},
                                  {"hostname", host},
                                  {"osUserName", "ada"},
                                  {"osType", "Mac"},
                                  {"osVersion", "13.4"}};
        };
        auto twoFactor = account(kTwoFactorMail);
        twoFactor["twoFactorCode"] = kTwoFactorCode;
        auto limit = account(kLimitMail);
        limit["maxDevices"] = 3;
        limit["devices"] = {device("DEVICE0000000001", "office-mac"),
                            device("DEVICE0000000002", "studio-mac"),
                            device("DEVICE0000000003", "home-mac")};
        return {{"accounts", {account(kMail), twoFactor, limit}}};
    }

    static void SetUpTestSuite() { guiApplication(); }

    void SetUp() override {
        ServiceFixture::SetUp();
        observer = NotificationCenter::defaultCenter().addObserver(
            kLMUserInfoKeyLoginSucess, [this](const Notification&) { ++loginSuccessCount; });
    }

    void TearDown() override {
        closeWindow();
        NotificationCenter::defaultCenter().removeObserver(observer);
        ServiceFixture::TearDown();
    }

    // A new sign-in window on its first page, shown.
    signin::SignInWindow* openWindow() {
        closeWindow();
        session = std::make_shared<signin::SignInSession>(client, sessionState, workspace);
        window = new signin::SignInWindow(session);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->start();
        window->show();
        return window;
    }

    // Destroys the window, waits for its requests and lets their outcomes
    // find no page.
    void closeWindow() {
        delete window.data();
        if (session)
            session->waitForRequests();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    widgets::BaseViewController* page() const {
        return window ? window->contentViewController() : nullptr;
    }
    std::string pageIdentifier() const { return page() ? page()->storyboardIdentifier() : ""; }
    bool waitForPage(const std::string& identifier) {
        return waitUntil([&] { return pageIdentifier() == identifier; });
    }

    template <typename T = QWidget>
    T* element(const char* name) const {
        return child<T>(page(), name);
    }
    QPushButton* button(const char* name) const { return element<QPushButton>(name); }
    QLabel* label(const char* name) const { return element<QLabel>(name); }

    // Types into a field as the user would, after emptying it.
    void type(const char* field, const std::string& text) {
        auto* edit = element<QLineEdit>(field);
        ASSERT_NE(edit, nullptr) << field;
        edit->clear();
        QTest::keyClicks(edit, QString::fromStdString(text));
    }
    void click(const char* name) {
        QPushButton* target = button(name);
        ASSERT_NE(target, nullptr) << name;
        QTest::mouseClick(target, Qt::LeftButton);
    }

    void signInWith(const std::string& mail, const std::string& password) {
        type("MailAdreesTextField", mail);
        type("PasswordTextField", password);
        click("LoginButton");
    }

    static QString text(const char* key) { return QString::fromStdString(localized(key)); }

    SessionState sessionState;  // before the session, so it outlives it
    std::shared_ptr<RecordingWorkspace> workspace = std::make_shared<RecordingWorkspace>();
    std::shared_ptr<signin::SignInSession> session;
    QPointer<signin::SignInWindow> window;
    int loginSuccessCount = 0;
    NotificationCenter::Token observer = 0;
};

}  // namespace tavo::test
