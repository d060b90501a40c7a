#include "signin/LoginCompletionViewController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "foundation/Const.h"
#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "platform/Workspace.h"
#include "service/ApiClient.h"
#include "session/SessionState.h"

namespace tavo::signin {

namespace {

constexpr int kPageWidth = 420;

}  // namespace

LoginCompletionViewController::LoginCompletionViewController(std::shared_ptr<SignInSession> session,
                                                             QWidget* parent)
    : SignInPage(std::move(session), parent) {
    logoImage_ = makeLogo();
    subTitleLabel_ = makeTitle();
    descriptionLabel_ = makeLabel("DescriptionLabel");
    fontListButton_ = makeButton("FontListButton");
    closeButton_ = makeButton("CloseButton");

    auto* layout = makeColumn(logoImage_, subTitleLabel_, kPageWidth);
    layout->addWidget(descriptionLabel_);
    layout->addSpacing(8);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(closeButton_);
    buttons->addWidget(fontListButton_);
    layout->addLayout(buttons);

    connect(fontListButton_, &QPushButton::clicked, this, [this] { fontListButtonClicked(); });
    connect(closeButton_, &QPushButton::clicked, this, [this] { closeWindow(); });
}

void LoginCompletionViewController::viewDidLoad() {
    ILog("Start LoginCompletionWindow");
    session().sessionState().setWindowAppear(kWindowAppearLoginCompletion);
    setWindowTitleKey("TAVO");
    subTitleLabel_->setText(localizedText("Login complete"));
    descriptionLabel_->setText(localizedText("Font list description"));
    fontListButton_->setText(localizedText("Font list"));
    closeButton_->setText(localizedText("Close"));
    windowCloseButtonEnabled(true);
    windowMiniaturizeButtonEnabled(true);
    windowZoomButtonEnabled(false);
    // Pages load on the main thread; the observers expect to be called there.
    NotificationCenter::defaultCenter().post(kLMUserInfoKeyLoginSucess);
}

void LoginCompletionViewController::viewDidDisappear() {
    session().sessionState().unsetWindowAppear(kWindowAppearLoginCompletion);
    ILog("End LoginCompletionWindow");
}

void LoginCompletionViewController::fontListButtonClicked() {
    ILog("Start LoginCompletionViewController fontListButtonClicked");
    highlight(fontListButton_);
    fontListButton_->setEnabled(false);
    request(
        [workspace = session().workspace()](SignInFlow& flow) {
            const std::optional<std::string> url = flow.fontListUrl();
            if (url && !(workspace && workspace->openURL(*url)))
                WLog("The browser could not be opened on %@", *url);
            return url.has_value();
        },
        [this](bool answered) {
            fontListButton_->setEnabled(true);
            if (answered)
                closeWindow();
            ILog("End LoginCompletionViewController fontListButtonClicked");
        });
}

}  // namespace tavo::signin
