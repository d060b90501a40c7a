#include "signin/SignInWindows.h"

#include "foundation/Log.h"
#include "platform/qt/Images.h"
#include "platform/qt/widgets/AlertUtil.h"
#include "signin/SignInSession.h"
#include "signin/SignInWindow.h"

namespace tavo::signin {

SignInWindows::SignInWindows(ApiClient& client, SessionState& sessionState,
                             std::shared_ptr<platform::Workspace> workspace)
    : client_(client), sessionState_(sessionState), workspace_(std::move(workspace)) {}

SignInWindows::~SignInWindows() {
    delete window_.data();
}

void SignInWindows::showSignInWindow() {
    if (!window_) {
        ILog("Open the sign-in window");
        window_ =
            new SignInWindow(std::make_shared<SignInSession>(client_, sessionState_, workspace_));
        window_->setAttribute(Qt::WA_DeleteOnClose);
        window_->start();
    }
    raiseOpenWindow();
}

void SignInWindows::raiseOpenWindow() {
    if (!window_)
        return;
    window_->show();
    window_->raise();
    window_->activateWindow();
    // The page's first field takes the keyboard, as the window appears.
    if (auto* page = window_->contentViewController())
        page->focusFirstField();
}

void SignInWindows::runModalAlert(const std::string& message, const std::string& title) {
    widgets::AlertUtil::runModalWithMessage(message, title);
}

void SignInWindows::runAboutBox(const std::string& message, const std::string& title) {
    widgets::AlertUtil::runAboutBox(message, title, platform::imageNamed("TAVO_logo3"));
}

int SignInWindows::runModalConfirm(const std::string& message, const std::string& title) {
    return widgets::AlertUtil::runModalWithErrorMessage(message, title);
}

int SignInWindows::runModalSelect(const std::string& message, const std::string& title,
                                  const std::string& primary, const std::string& secondary) {
    return widgets::AlertUtil::runModalWithSelectMessage(message, title, primary, secondary);
}

}  // namespace tavo::signin
