#pragma once

#include "signin/SignInPage.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tavo::signin {

// The first page of the sign-in window: e-mail address and password, links
// to the password reset and registration pages of the web site.
class LoginViewController : public SignInPage {
    Q_OBJECT

public:
    explicit LoginViewController(std::shared_ptr<SignInSession> session, QWidget* parent = nullptr);

    // Shows the error label of each field that fails; true when both pass.
    bool inputCheck();

    void loginButtonClicked();
    void resetPasswordButtonClicked();
    void notAccountButtonClicked();
    void focusFirstField() override;

protected:
    void viewDidLoad() override;
    void viewDidDisappear() override;

private:
    // Asks the service for a page address on the worker and opens it in the
    // browser; a refusal shows the network error.
    void openServicePage(QPushButton* button, const char* action,
                         std::optional<std::string> (SignInFlow::*pageUrl)());

    QLabel* logoImage_;
    QLabel* subTitleLabel_;
    QLabel* mailAdressLabel_;
    QLabel* passwordLabel_;
    QLineEdit* mailAdreesTextField_;
    QLineEdit* passwordTextField_;
    QLabel* passwordResetLabel_;
    QPushButton* passwordResetButton_;
    QPushButton* loginButton_;
    QLabel* notAccountLabel_;
    QPushButton* notAccountButton_;
    QLabel* errorMessageLabel_;
    QLabel* mailAdreesErrorMessageLabel_;
    QLabel* passwordErrorMessageLabel_;
};

}  // namespace tavo::signin
