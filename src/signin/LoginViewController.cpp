#include "signin/LoginViewController.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "foundation/Log.h"
#include "platform/Workspace.h"
#include "service/ApiClient.h"
#include "session/SessionState.h"

namespace tavo::signin {

namespace {

constexpr int kPageWidth = 420;

std::string text(const QLineEdit* field) {
    return field->text().toStdString();
}

}  // namespace

LoginViewController::LoginViewController(std::shared_ptr<SignInSession> session, QWidget* parent)
    : SignInPage(std::move(session), parent) {
    logoImage_ = makeLogo();
    subTitleLabel_ = makeTitle();
    mailAdressLabel_ = makeLabel("MailAdressLabel");
    passwordLabel_ = makeLabel("PasswordLabel");
    mailAdreesTextField_ = new QLineEdit(this);
    mailAdreesTextField_->setObjectName(QStringLiteral("MailAdreesTextField"));
    passwordTextField_ = new QLineEdit(this);
    passwordTextField_->setObjectName(QStringLiteral("PasswordTextField"));
    passwordTextField_->setEchoMode(QLineEdit::Password);
    passwordResetLabel_ = makeLabel("PasswordResetLabel");
    passwordResetButton_ = makeLinkButton("PasswordResetButton");
    loginButton_ = makeButton("LoginButton");
    notAccountLabel_ = makeLabel("NotAccountLabel");
    notAccountButton_ = makeLinkButton("NotAccountButton");
    errorMessageLabel_ = makeErrorLabel("ErrorMessageLabel");
    mailAdreesErrorMessageLabel_ = makeErrorLabel("MailAdreesErrorMessageLabel");
    passwordErrorMessageLabel_ = makeErrorLabel("PasswordErrorMessageLabel");

    auto* layout = makeColumn(logoImage_, subTitleLabel_, kPageWidth);
    layout->addWidget(mailAdressLabel_);
    layout->addWidget(mailAdreesTextField_);
    layout->addWidget(mailAdreesErrorMessageLabel_);
    layout->addWidget(passwordLabel_);
    layout->addWidget(passwordTextField_);
    layout->addWidget(passwordErrorMessageLabel_);
    layout->addWidget(errorMessageLabel_);
    layout->addSpacing(8);
    layout->addWidget(loginButton_);
    for (auto [label, button] : {std::pair{passwordResetLabel_, passwordResetButton_},
                                 std::pair{notAccountLabel_, notAccountButton_}}) {
        label->setWordWrap(false);
        auto* row = new QHBoxLayout;
        row->addStretch();
        row->addWidget(label);
        row->addWidget(button);
        row->addStretch();
        layout->addLayout(row);
    }

    connect(loginButton_, &QPushButton::clicked, this, [this] { loginButtonClicked(); });
    connect(passwordResetButton_, &QPushButton::clicked, this,
            [this] { resetPasswordButtonClicked(); });
    connect(notAccountButton_, &QPushButton::clicked, this, [this] { notAccountButtonClicked(); });
    // Return in a field signs in, as the default button of the window.
    for (QLineEdit* field : {mailAdreesTextField_, passwordTextField_})
        connect(field, &QLineEdit::returnPressed, this, [this] {
            if (loginButton_->isEnabled())
                loginButton_->click();
        });
}

void LoginViewController::viewDidLoad() {
    ILog("Start LoginWindow");
    session().sessionState().setWindowAppear(kWindowAppearLogin);
    setWindowTitleKey("TAVO Account");
    subTitleLabel_->setText(localizedText("Account certification"));
    mailAdressLabel_->setText(localizedText("Mail adress"));
    passwordLabel_->setText(localizedText("Password"));
    passwordResetLabel_->setText(localizedText("Reset password"));
    passwordResetButton_->setText(localizedText("Reset password link"));
    notAccountLabel_->setText(localizedText("Not account"));
    notAccountButton_->setText(localizedText("Create account link"));
    loginButton_->setText(localizedText("Login"));
    mailAdreesErrorMessageLabel_->setText(localizedText("Mail address input error"));
    passwordErrorMessageLabel_->setText(localizedText("Password input error"));
    windowCloseButtonEnabled(true);
    windowMiniaturizeButtonEnabled(true);
    windowZoomButtonEnabled(false);
    windowButtonHidden(false);
    // Back from a later page: the address stays, and the page says why.
    mailAdreesTextField_->setText(QString::fromStdString(session().mailAddress()));
    if (auto reason = session().takeReturnReason()) {
        errorMessageLabel_->setText(reason->empty() ? localizedText("Device limit still reached")
                                                    : QString::fromStdString(*reason));
        errorMessageLabel_->show();
    }
    focusFirstField();
}

void LoginViewController::focusFirstField() {
    mailAdreesTextField_->setFocus(Qt::OtherFocusReason);
}

void LoginViewController::viewDidDisappear() {
    session().sessionState().unsetWindowAppear(kWindowAppearLogin);
    ILog("End LoginWindow");
}

bool LoginViewController::inputCheck() {
    const InputCheck check =
        SignInFlow::inputCheck(text(mailAdreesTextField_), text(passwordTextField_));
    mailAdreesErrorMessageLabel_->setVisible(!check.mailAddressValid);
    passwordErrorMessageLabel_->setVisible(!check.passwordValid);
    return check.ok();
}

void LoginViewController::loginButtonClicked() {
    ILog("Start LoginViewController loginButtonClicked");
    errorMessageLabel_->hide();
    mailAdreesErrorMessageLabel_->hide();
    passwordErrorMessageLabel_->hide();
    highlight(loginButton_);
    if (!inputCheck()) {
        ILog("End LoginViewController loginButtonClicked");
        return;
    }
    loginButton_->setEnabled(false);
    session().setMailAddress(text(mailAdreesTextField_));
    request([mail = text(mailAdreesTextField_), password = text(passwordTextField_)](
                SignInFlow& flow) { return flow.login(mail, password); },
            [this](const StepOutcome& outcome) {
                applyOutcome(outcome, errorMessageLabel_, loginButton_);
                ILog("End LoginViewController loginButtonClicked");
            });
}

void LoginViewController::resetPasswordButtonClicked() {
    openServicePage(passwordResetButton_, "resetPasswordButtonClicked",
                    &SignInFlow::passwordResetUrl);
}

void LoginViewController::notAccountButtonClicked() {
    openServicePage(notAccountButton_, "notAccountButtonClicked",
                    &SignInFlow::memberRegistrationUrl);
}

void LoginViewController::openServicePage(QPushButton* button, const char* action,
                                          std::optional<std::string> (SignInFlow::*pageUrl)()) {
    ILog("Start LoginViewController %@", action);
    button->setEnabled(false);
    request(
        [pageUrl, workspace = session().workspace()](SignInFlow& flow) {
            const std::optional<std::string> url = (flow.*pageUrl)();
            if (url && !(workspace && workspace->openURL(*url)))
                WLog("The browser could not be opened on %@", *url);
            return url.has_value();
        },
        [this, button, action](bool answered) {
            button->setEnabled(true);
            if (!answered) {
                errorMessageLabel_->setText(localizedText(kNetworkErrorText));
                errorMessageLabel_->show();
            }
            ILog("End LoginViewController %@", action);
        });
}

}  // namespace tavo::signin
