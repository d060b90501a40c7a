#pragma once

#include <memory>

#include "platform/qt/widgets/FlowWindow.h"

namespace tavo::signin {

class SignInSession;

// Identifier of the sign-in window's first page.
inline constexpr const char* kLoginScreenIdentifier = "loginscreen";

// The sign-in window: its pages follow each other in place, from the
// e-mail/password page to the completion page.
class SignInWindow : public widgets::FlowWindow {
    Q_OBJECT

public:
    explicit SignInWindow(std::shared_ptr<SignInSession> session, QWidget* parent = nullptr);

    const std::shared_ptr<SignInSession>& session() const { return session_; }
    // Shows the first page.
    void start();

private:
    std::shared_ptr<SignInSession> session_;
};

}  // namespace tavo::signin
