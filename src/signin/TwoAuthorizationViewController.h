#pragma once

#include "signin/SignInPage.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tavo::signin {

// The two-factor page: the 8-character code the service sent by e-mail.
class TwoAuthorizationViewController : public SignInPage {
    Q_OBJECT

public:
    explicit TwoAuthorizationViewController(std::shared_ptr<SignInSession> session,
                                            QWidget* parent = nullptr);

    void submitButtonClicked();

protected:
    void viewDidLoad() override;
    void viewDidDisappear() override;

private:
    QLabel* logoImage_;
    QLabel* subTitleLabel_;
    QLabel* descriptionLabel_;
    QLabel* authenticationCodeLabel_;
    QLineEdit* authenticationCodeTextField_;
    QLabel* authenticationCodeErrorMessageLabel_;
    QPushButton* submitButton_;
};

}  // namespace tavo::signin
