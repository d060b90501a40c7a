#pragma once

#include <QFont>
#include <QString>
#include <memory>
#include <string>

#include "platform/qt/widgets/BaseViewController.h"
#include "signin/SignInFlow.h"
#include "signin/SignInSession.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace tavo::signin {

// What the four pages of the sign-in window have in common: the session,
// the logo, the bold subtitle, the window title, and how a step's outcome
// is shown.
class SignInPage : public widgets::BaseViewController {
    Q_OBJECT

public:
    explicit SignInPage(std::shared_ptr<SignInSession> session, QWidget* parent = nullptr);

protected:
    SignInSession& session() const { return *session_; }
    template <typename Work, typename Apply>
    void request(Work work, Apply apply) {
        session_->request(this, std::move(work), std::move(apply));
    }

    // Children named as the window's elements are known.
    QLabel* makeLogo();
    QLabel* makeLabel(const char* objectName);
    // A bold label in the platform's sans-serif face.
    QLabel* makeSubtitle(const char* objectName, int pixelSize);
    // The page's subtitle ("SubTitleLabel"): bold and centred.
    QLabel* makeTitle();
    // The page's column of the given width, starting with the logo and the
    // subtitle; the page adds its own elements below.
    QVBoxLayout* makeColumn(QLabel* logo, QLabel* title, int width);
    // Red, word-wrapped, hidden until an error is shown.
    QLabel* makeErrorLabel(const char* objectName);
    QPushButton* makeButton(const char* objectName);
    // A button that reads like a link in the text.
    QPushButton* makeLinkButton(const char* objectName);

    // The platform's sans-serif face, bold, at a size in device-independent
    // pixels.
    static QFont boldFont(int pixelSize);

    void setWindowTitleKey(const char* key);
    // Gives the button the focus once control returns to the event loop.
    static void highlight(QPushButton* button);

    // Shows what a step asks: an error text in errorLabel, the button's
    // state, then a closed window or the next page.
    void applyOutcome(const StepOutcome& outcome, QLabel* errorLabel, QPushButton* button);

private:
    std::shared_ptr<SignInSession> session_;
};

// The localized text of a key.
QString localizedText(const std::string& key);

}  // namespace tavo::signin
