#pragma once

#include "installer/widgets/InstallPage.h"

namespace tavo::installer {

// "Install complete". It starts the installed application as soon as it
// loads; its button reads "Next" and leads to the tutorial after a first
// install, and reads "Completion" and ends the program after an overwrite.
class InstallCompleteViewController : public InstallPage {
    Q_OBJECT

public:
    explicit InstallCompleteViewController(std::shared_ptr<InstallContext> context,
                                           QWidget* parent = nullptr);
    void nextButtonClicked();
    QPushButton* nextButton() const { return nextButton_; }

protected:
    void viewDidLoad() override;

private:
    QPushButton* nextButton_;
};

}  // namespace tavo::installer
