#include "signin/TwoAuthorizationViewController.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "foundation/Log.h"
#include "service/ApiClient.h"
#include "session/SessionState.h"

namespace tavo::signin {

namespace {

constexpr int kPageWidth = 420;

}  // namespace

TwoAuthorizationViewController::TwoAuthorizationViewController(
    std::shared_ptr<SignInSession> session, QWidget* parent)
    : SignInPage(std::move(session), parent) {
    logoImage_ = makeLogo();
    subTitleLabel_ = makeTitle();
    descriptionLabel_ = makeLabel("DescriptionLabel");
    authenticationCodeLabel_ = makeLabel("AuthenticationCodeLabel");
    authenticationCodeTextField_ = new QLineEdit(this);
    authenticationCodeTextField_->setObjectName(QStringLiteral("AuthenticationCodeTextField"));
    authenticationCodeErrorMessageLabel_ = makeErrorLabel("AuthenticationCodeErrorMessageLabel");
    submitButton_ = makeButton("SubmitButton");

    auto* layout = makeColumn(logoImage_, subTitleLabel_, kPageWidth);
    layout->addWidget(descriptionLabel_);
    layout->addSpacing(8);
    layout->addWidget(authenticationCodeLabel_);
    layout->addWidget(authenticationCodeTextField_);
    layout->addWidget(authenticationCodeErrorMessageLabel_);
    layout->addSpacing(8);
    layout->addWidget(submitButton_);

    connect(submitButton_, &QPushButton::clicked, this, [this] { submitButtonClicked(); });
    connect(authenticationCodeTextField_, &QLineEdit::returnPressed, this, [this] {
        if (submitButton_->isEnabled())
            submitButton_->click();
    });
}

void TwoAuthorizationViewController::viewDidLoad() {
    ILog("Start TwoAuthorizationWindow");
    session().sessionState().setWindowAppear(kWindowAppearTwoAuthorization);
    setWindowTitleKey("TAVO Account");
    subTitleLabel_->setText(localizedText("Two factor authentication"));
    descriptionLabel_->setText(localizedText("Authentication description"));
    authenticationCodeLabel_->setText(localizedText("Authentication code"));
    submitButton_->setText(localizedText("Submit"));
    authenticationCodeErrorMessageLabel_->hide();
    authenticationCodeTextField_->setFocus(Qt::OtherFocusReason);
}

void TwoAuthorizationViewController::viewDidDisappear() {
    session().sessionState().unsetWindowAppear(kWindowAppearTwoAuthorization);
    ILog("End TwoAuthorizationWindow");
}

void TwoAuthorizationViewController::submitButtonClicked() {
    ILog("Start TwoAuthorizationViewController submitButtonClicked");
    highlight(submitButton_);
    const std::string code = authenticationCodeTextField_->text().toStdString();
    if (!SignInFlow::isValidAuthorizationCode(code)) {
        authenticationCodeErrorMessageLabel_->setText(localizedText(kCodeNotInputtedText));
        authenticationCodeErrorMessageLabel_->show();
        return;
    }
    authenticationCodeErrorMessageLabel_->hide();
    submitButton_->setEnabled(false);
    request([code](SignInFlow& flow) { return flow.submitCode(code); },
            [this](const StepOutcome& outcome) {
                applyOutcome(outcome, authenticationCodeErrorMessageLabel_, submitButton_);
                ILog("End TwoAuthorizationViewController submitButtonClicked");
            });
}

}  // namespace tavo::signin
