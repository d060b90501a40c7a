#pragma once

#include "signin/SignInPage.h"

class QLabel;
class QPushButton;

namespace tavo::signin {

// The last page: the sign-in succeeded. Coming in, it tells the application
// ("loginSuccess"); its button opens the account's font list on the web
// site and closes the window.
class LoginCompletionViewController : public SignInPage {
    Q_OBJECT

public:
    explicit LoginCompletionViewController(std::shared_ptr<SignInSession> session,
                                           QWidget* parent = nullptr);

    void fontListButtonClicked();

protected:
    void viewDidLoad() override;
    void viewDidDisappear() override;

private:
    QLabel* logoImage_;
    QLabel* subTitleLabel_;
    QLabel* descriptionLabel_;
    QPushButton* fontListButton_;
    QPushButton* closeButton_;
};

}  // namespace tavo::signin
