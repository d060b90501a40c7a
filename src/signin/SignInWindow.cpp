#include "signin/SignInWindow.h"

#include "signin/LoginCompletionViewController.h"
#include "signin/LoginViewController.h"
#include "signin/SignInFlow.h"
#include "signin/SignInSession.h"
#include "signin/ThirdUnitNgDialogViewController.h"
#include "signin/TwoAuthorizationViewController.h"

namespace tavo::signin {

namespace {

template <typename Page>
widgets::FlowWindow::PageFactory pageOf(const std::shared_ptr<SignInSession>& session) {
    return [session]() -> widgets::BaseViewController* { return new Page(session); };
}

}  // namespace

SignInWindow::SignInWindow(std::shared_ptr<SignInSession> session, QWidget* parent)
    : widgets::FlowWindow(parent), session_(std::move(session)) {
    registerPage(kLoginScreenIdentifier, pageOf<LoginViewController>(session_));
    registerPage(kSegueLogin, pageOf<LoginViewController>(session_));
    registerPage(kSegueTwoAuthorization, pageOf<TwoAuthorizationViewController>(session_));
    registerPage(kSegueThirdUnitNgDialog, pageOf<ThirdUnitNgDialogViewController>(session_));
    registerPage(kSegueLoginCompletion, pageOf<LoginCompletionViewController>(session_));
}

void SignInWindow::start() {
    showPage(kLoginScreenIdentifier);
}

}  // namespace tavo::signin
