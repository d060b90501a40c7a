#pragma once

#include "installer/widgets/InstallPage.h"

namespace tavo::installer {

// Shown when a step failed; its one button ends the program.
class InstallFailureViewController : public InstallPage {
    Q_OBJECT

public:
    explicit InstallFailureViewController(std::shared_ptr<InstallContext> context,
                                          QWidget* parent = nullptr);
    void closeButtonClicked();
    QPushButton* closeButton() const { return closeButton_; }

protected:
    void viewDidLoad() override;

private:
    QPushButton* closeButton_;
};

}  // namespace tavo::installer
