#pragma once

#include "uninstaller/widgets/UninstallPage.h"

namespace tavo::uninstaller {

// Shown when a step failed; its one button ends the program.
class UninstallFailureViewController : public UninstallPage {
    Q_OBJECT

public:
    explicit UninstallFailureViewController(std::shared_ptr<UninstallContext> context,
                                            QWidget* parent = nullptr);
    void closeButtonClicked();
    QPushButton* closeButton() const { return closeButton_; }

protected:
    void viewDidLoad() override;

private:
    QPushButton* closeButton_;
};

}  // namespace tavo::uninstaller
