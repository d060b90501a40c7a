// The sign-in window's first two pages against the reference service: the
// way to the completion page, the two-factor code, the input limits and the
// failures that leave the user on the page.
#include <gtest/gtest.h>

#include "SignInGuiFixture.h"
#include "foundation/Config.h"
#include "foundation/ConfigKeys.h"
#include "foundation/CryptorUtil.h"
#include "signin/SignInFlow.h"

namespace tavo::test {
namespace {

class SignInWindowTest : public SignInGuiFixture {};

TEST_F(SignInWindowTest, FirstSignInRegistersTheDeviceOnceAndAnnouncesItself) {
    LogCapture log(sandbox.path("/signin.log"));
    openWindow();
    EXPECT_EQ(pageIdentifier(), signin::kLoginScreenIdentifier);
    EXPECT_EQ(window->windowTitle(), text("TAVO Account"));
    EXPECT_TRUE(sessionState.isWindowAppear(kWindowAppearLogin));
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_EQ(button("LoginButton")->text(), text("Login"));

    signInWith(kMail, kPassword);
    EXPECT_FALSE(button("LoginButton")->isEnabled());  // until the answer is in
    ASSERT_TRUE(waitForPage(signin::kSegueLoginCompletion));
    EXPECT_EQ(window->windowTitle(), text("TAVO"));
    EXPECT_EQ(label("SubTitleLabel")->text(), text("Login complete"));
    EXPECT_TRUE(label("SubTitleLabel")->font().bold());
    EXPECT_TRUE(sessionState.isWindowAppear(kWindowAppearLoginCompletion));
    EXPECT_FALSE(sessionState.isWindowAppear(kWindowAppearLogin));
    EXPECT_EQ(requests("/api/v1/deviceId").size(), 1u);

    // The refresh token is stored, but never in clear.
    const auto config = Config::userConfig();
    ASSERT_TRUE(config);
    const auto* stored = plistGet<PlistData>(*config, kConfigRefreshTokens);
    ASSERT_NE(stored, nullptr);
    const std::string token = client.refreshToken().value_or("");
    ASSERT_FALSE(token.empty());
    EXPECT_EQ(std::string(stored->begin(), stored->end()).find(token), std::string::npos);
    EXPECT_EQ(CryptorUtil::decryptStringWithData(*stored), token);

    QTest::qWait(50);
    EXPECT_EQ(loginSuccessCount, 1);
    const std::string lines = log.text();
    for (const char* line : {"Start LoginWindow", "Start LoginViewController loginButtonClicked",
                             "End LoginViewController loginButtonClicked", "End LoginWindow",
                             "Start LoginCompletionWindow"})
        EXPECT_NE(lines.find(line), std::string::npos) << line;

    // Without an answer the page stays, silently.
    addFault({{"path", "/api/v1/screens/*"}, {"drop", true}, {"count", 1}});
    click("FontListButton");
    EXPECT_FALSE(button("FontListButton")->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return button("FontListButton")->isEnabled(); }));
    EXPECT_FALSE(window.isNull());
    EXPECT_TRUE(workspace->urls().empty());

    // The font list opens in the browser and the window closes.
    click("FontListButton");
    ASSERT_TRUE(waitUntil([&] { return window.isNull(); }));
    ASSERT_EQ(workspace->urls().size(), 1u);
    EXPECT_EQ(workspace->urls()[0].rfind("http", 0), 0u);
    EXPECT_FALSE(sessionState.isWindowAppear(kWindowAppearLoginCompletion));

    // A second sign-in on this machine reuses the device.
    openWindow();
    signInWith(kMail, kPassword);
    ASSERT_TRUE(waitForPage(signin::kSegueLoginCompletion));
    EXPECT_EQ(requests("/api/v1/deviceId").size(), 1u);
    EXPECT_EQ(requests("/api/v1/login").size(), 2u);
    EXPECT_EQ(loginSuccessCount, 2);
}

TEST_F(SignInWindowTest, TwoFactorCodeIsCheckedLocallyThenByTheService) {
    openWindow();
    signInWith(kTwoFactorMail, kPassword);
    ASSERT_TRUE(waitForPage(signin::kSegueTwoAuthorization));
    EXPECT_TRUE(sessionState.isWindowAppear(kWindowAppearTwoAuthorization));
    EXPECT_FALSE(sessionState.isWindowAppear(kWindowAppearLogin));
    EXPECT_FALSE(label("AuthenticationCodeErrorMessageLabel")->isVisible());
    EXPECT_EQ(button("SubmitButton")->text(), text("Submit"));
    EXPECT_EQ(loginSuccessCount, 0);

    // Seven characters: refused on the spot, nothing is sent.
    type("AuthenticationCodeTextField", "2468135");
    click("SubmitButton");
    EXPECT_TRUE(label("AuthenticationCodeErrorMessageLabel")->isVisible());
    EXPECT_EQ(label("AuthenticationCodeErrorMessageLabel")->text(), text("Not inputted correctly"));
    EXPECT_TRUE(button("SubmitButton")->isEnabled());
    QTest::qWait(50);
    EXPECT_EQ(requests("/api/v1/auth2fact").size(), 0u);

    // A wrong code: the service's refusal, and another try.
    type("AuthenticationCodeTextField", "00000000");
    click("SubmitButton");
    EXPECT_FALSE(button("SubmitButton")->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return button("SubmitButton")->isEnabled(); }));
    EXPECT_EQ(label("AuthenticationCodeErrorMessageLabel")->text(),
              text("Wrong authorization code"));
    EXPECT_TRUE(label("AuthenticationCodeErrorMessageLabel")->isVisible());

    type("AuthenticationCodeTextField", kTwoFactorCode);
    click("SubmitButton");
    ASSERT_TRUE(waitForPage(signin::kSegueLoginCompletion));
    EXPECT_FALSE(client.refreshToken().value_or("").empty());
    EXPECT_EQ(loginSuccessCount, 1);
    EXPECT_FALSE(sessionState.isWindowAppear(kWindowAppearTwoAuthorization));
}

TEST_F(SignInWindowTest, InputLimitsShowTheFieldErrorsWithoutARequest) {
    struct Case {
        int mailLength;
        int passwordLength;
        bool mailError;
        bool passwordError;
    };
    const Case cases[] = {
        {121, 128, false, false}, {122, 128, true, false}, {121, 129, false, true},
        {122, 129, true, true},   {0, 0, true, true},
    };
    openWindow();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.mailLength << "/" << c.passwordLength);
        service.context()->requests.clear();
        signInWith(std::string(c.mailLength, 'm'), std::string(c.passwordLength, 'p'));
        EXPECT_EQ(label("MailAdreesErrorMessageLabel")->isVisible(), c.mailError);
        EXPECT_EQ(label("PasswordErrorMessageLabel")->isVisible(), c.passwordError);
        if (c.mailError || c.passwordError) {
            EXPECT_TRUE(button("LoginButton")->isEnabled());
            QTest::qWait(20);
            EXPECT_TRUE(requests("/api/v1/deviceId").empty());
        } else {
            // Long but within the limits: the service is asked (and refuses).
            ASSERT_TRUE(waitUntil([&] { return button("LoginButton")->isEnabled(); }));
            EXPECT_EQ(requests("/api/v1/deviceId").size(), 1u);
            EXPECT_TRUE(label("ErrorMessageLabel")->isVisible());
        }
        EXPECT_EQ(label("MailAdreesErrorMessageLabel")->text(), text("Mail address input error"));
        EXPECT_EQ(label("PasswordErrorMessageLabel")->text(), text("Password input error"));
    }
}

TEST_F(SignInWindowTest, RefusalsShowTheirTextAndGiveTheButtonBack) {
    openWindow();
    QLabel* error = label("ErrorMessageLabel");

    signInWith(kMail, "wrong password");
    ASSERT_TRUE(waitUntil([&] { return button("LoginButton")->isEnabled(); }));
    EXPECT_TRUE(error->isVisible());
    EXPECT_EQ(error->text(), text(signin::kWrongCredentialsText));
    EXPECT_TRUE(requests("/api/v1/login").empty());  // refused at the device registration

    // The connection breaks on /login (the device is known by now).
    signInWith(kMail, kPassword);
    ASSERT_TRUE(waitForPage(signin::kSegueLoginCompletion));
    openWindow();
    addFault({{"path", "/api/v1/login"}, {"drop", true}, {"count", 1}});
    signInWith(kMail, kPassword);
    EXPECT_FALSE(label("ErrorMessageLabel")->isVisible());  // hidden while asking
    ASSERT_TRUE(waitUntil([&] { return button("LoginButton")->isEnabled(); }));
    EXPECT_EQ(pageIdentifier(), signin::kLoginScreenIdentifier);
    EXPECT_TRUE(label("ErrorMessageLabel")->isVisible());
    EXPECT_EQ(label("ErrorMessageLabel")->text(), text(signin::kNetworkErrorText));

    // A wrong password once the device is known.
    signInWith(kMail, "wrong password");
    ASSERT_TRUE(waitUntil([&] { return button("LoginButton")->isEnabled(); }));
    EXPECT_EQ(label("ErrorMessageLabel")->text(), text(signin::kWrongCredentialsText));

    // The service is gone.
    service.stop();
    signInWith(kMail, kPassword);
    ASSERT_TRUE(waitUntil([&] { return button("LoginButton")->isEnabled(); }));
    EXPECT_EQ(label("ErrorMessageLabel")->text(), text(signin::kNetworkErrorText));
    EXPECT_EQ(loginSuccessCount, 1);
}

TEST_F(SignInWindowTest, WindowClosedWhileARequestRunsIsGoneQuietly) {
    openWindow();
    addFault({{"path", "/api/v1/deviceId"}, {"delayMs", 300}, {"count", 1}});
    signInWith(kMail, kPassword);
    EXPECT_FALSE(button("LoginButton")->isEnabled());
    window->close();
    EXPECT_FALSE(sessionState.isWindowAppear(kWindowAppearLogin));
    session->waitForRequests();
    QTest::qWait(50);  // the outcome arrives and finds no page
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(loginSuccessCount, 0);
    // The request itself went through: the tokens are there for the next start.
    EXPECT_FALSE(client.refreshToken().value_or("").empty());
}

TEST_F(SignInWindowTest, LinksOpenTheServicePagesInTheBrowser) {
    openWindow();
    // Each link says where it leads.
    EXPECT_EQ(button("PasswordResetButton")->text(), text("Reset password link"));
    EXPECT_EQ(button("NotAccountButton")->text(), text("Create account link"));
    EXPECT_NE(button("PasswordResetButton")->text(), button("NotAccountButton")->text());
    click("PasswordResetButton");
    ASSERT_TRUE(waitUntil([&] { return workspace->urls().size() == 1; }));
    click("NotAccountButton");
    ASSERT_TRUE(waitUntil([&] { return workspace->urls().size() == 2; }));
    EXPECT_NE(workspace->urls()[0], workspace->urls()[1]);
    ASSERT_TRUE(waitUntil([&] { return button("NotAccountButton")->isEnabled(); }));
    EXPECT_FALSE(label("ErrorMessageLabel")->isVisible());

    addFault({{"path", "/api/v1/screens/*"}, {"drop", true}, {"count", 1}});
    click("PasswordResetButton");
    ASSERT_TRUE(waitUntil([&] { return label("ErrorMessageLabel")->isVisible(); }));
    EXPECT_EQ(label("ErrorMessageLabel")->text(), text(signin::kNetworkErrorText));
    EXPECT_EQ(workspace->urls().size(), 2u);
}

TEST_F(SignInWindowTest, TheWindowStaysPutAcrossPagesAndClosesByEscOrItsButton) {
    openWindow();
    window->move(300, 200);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    const int top = window->pos().y();
    const int centre = window->pos().x() + window->width() / 2;
    auto expectInPlace = [&](const char* where) {
        SCOPED_TRACE(where);
        EXPECT_EQ(window->pos().y(), top);
        EXPECT_NEAR(window->pos().x() + window->width() / 2, centre, 1);
        EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    };
    const QSize firstSize = window->size();
    signInWith(kLimitMail, kPassword);
    ASSERT_TRUE(waitForPage(signin::kSegueThirdUnitNgDialog));
    ASSERT_NE(window->size(), firstSize);  // the page has a size of its own
    expectInPlace("device page");
    click("NextButton");
    ASSERT_TRUE(waitForPage(signin::kSegueLogin));
    expectInPlace("back on the first page");

    // Esc closes the window as Ctrl+W does.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(element<QLineEdit>("MailAdreesTextField"), Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([&] { return window.isNull(); }));

    // The completion page closes by its own button.
    openWindow();
    signInWith(kMail, kPassword);
    ASSERT_TRUE(waitForPage(signin::kSegueLoginCompletion));
    ASSERT_NE(button("CloseButton"), nullptr);
    EXPECT_EQ(button("CloseButton")->text(), text("Close"));
    click("CloseButton");
    ASSERT_TRUE(waitUntil([&] { return window.isNull(); }));
    EXPECT_FALSE(sessionState.isWindowAppear(kWindowAppearLoginCompletion));
    EXPECT_TRUE(workspace->urls().empty());
}

}  // namespace
}  // namespace tavo::test
