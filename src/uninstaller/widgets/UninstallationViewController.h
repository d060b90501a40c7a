#pragma once

#include <memory>

#include "uninstaller/widgets/UninstallPage.h"

class QProgressBar;

namespace tavo::uninstaller {

class Uninstallation;

// The progress page: once shown it checks that something is installed and
// runs the procedure, moving the bar as the fonts go; at the end it shows
// "Uninstall complete" and its close button, or goes to the failure page.
class UninstallationViewController : public UninstallPage {
    Q_OBJECT

public:
    explicit UninstallationViewController(std::shared_ptr<UninstallContext> context,
                                          QWidget* parent = nullptr);
    ~UninstallationViewController() override;

    void closeButtonClicked();
    QProgressBar* progressBar() const { return progressBar_; }
    QLabel* statusLabel() const { return statusLabel_; }
    QPushButton* closeButton() const { return closeButton_; }

protected:
    void viewDidLoad() override;

private:
    void run();
    void showFinished();

    QLabel* statusLabel_;
    QProgressBar* progressBar_;
    QPushButton* closeButton_;
    std::unique_ptr<Uninstallation> uninstallation_;
};

}  // namespace tavo::uninstaller
