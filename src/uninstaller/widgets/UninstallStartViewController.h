#pragma once

#include "uninstaller/widgets/UninstallPage.h"

namespace tavo::uninstaller {

// The first page: "Uninstall" goes on for an administrator and ends the
// program with an alert for anyone else; "Cancel" ends it.
class UninstallStartViewController : public UninstallPage {
    Q_OBJECT

public:
    explicit UninstallStartViewController(std::shared_ptr<UninstallContext> context,
                                          QWidget* parent = nullptr);

    void uninstallButtonClicked();
    void cancelButtonClicked();
    QPushButton* uninstallButton() const { return uninstallButton_; }
    QPushButton* backButton() const { return backButton_; }

protected:
    void viewDidLoad() override;

private:
    QPushButton* uninstallButton_;
    QPushButton* backButton_;
};

}  // namespace tavo::uninstaller
