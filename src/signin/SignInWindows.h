#pragma once

#include <QPointer>
#include <memory>

#include "platform/StatusItem.h"
#include "signin/SignInWindow.h"

namespace tavo {
class ApiClient;
class SessionState;
namespace platform {
class Workspace;
}
}  // namespace tavo

namespace tavo::signin {

// The resident application's windows and alerts on Qt Widgets: one sign-in
// window at a time, and modal alerts. Main thread only.
class SignInWindows : public platform::Windows {
public:
    // The client and the session state must outlive the windows' requests;
    // the workspace opens the web site's pages.
    SignInWindows(ApiClient& client, SessionState& sessionState,
                  std::shared_ptr<platform::Workspace> workspace);
    ~SignInWindows() override;

    // Opens the sign-in window on its first page, or raises the open one,
    // and activates it.
    void showSignInWindow() override;
    void raiseOpenWindow() override;
    void runModalAlert(const std::string& message, const std::string& title) override;
    void runAboutBox(const std::string& message, const std::string& title) override;
    int runModalConfirm(const std::string& message, const std::string& title) override;
    int runModalSelect(const std::string& message, const std::string& title,
                       const std::string& primary, const std::string& secondary) override;

    // The open sign-in window, or null.
    SignInWindow* signInWindow() const { return window_; }

private:
    ApiClient& client_;
    SessionState& sessionState_;
    std::shared_ptr<platform::Workspace> workspace_;
    QPointer<SignInWindow> window_;
};

}  // namespace tavo::signin
