#pragma once

#include <memory>

#include "platform/qt/widgets/BaseViewController.h"

class QLabel;
class QPushButton;

namespace tavo {

class ProgramController;
class SessionState;

// The page of the forced-update window: it says that the application is
// about to update itself, and its one button, OK, starts the update after
// the privilege check (or, for a user who is no administrator, only closes
// the window after the check's alert). While it is shown the window bit
// kWindowAppearForceUpdate is set.
class ForceUpdateViewController : public widgets::BaseViewController {
    Q_OBJECT

public:
    ForceUpdateViewController(std::shared_ptr<ProgramController> controller,
                              SessionState& sessionState, QWidget* parent = nullptr);

    void clickOkButton();
    QPushButton* okButton() const { return okButton_; }

protected:
    void viewDidLoad() override;
    void viewDidDisappear() override;

private:
    std::shared_ptr<ProgramController> controller_;
    SessionState& sessionState_;
    QLabel* logoImage_;
    QLabel* versionLabel_;
    QLabel* subTitleLabel_;
    QLabel* descriptionLabel_;
    QPushButton* okButton_;
};

}  // namespace tavo
