#pragma once

#include <memory>

#include "installer/widgets/InstallPage.h"

class QProgressBar;

namespace tavo::installer {

// The installation page: once shown it runs the procedure, the bar
// following the two copies; then the completion page ("toInstallComplete")
// or the failure page ("toInstallFailure"). Its cancel button undoes the
// installation and ends the program.
class InstallationViewController : public InstallPage {
    Q_OBJECT

public:
    explicit InstallationViewController(std::shared_ptr<InstallContext> context,
                                        QWidget* parent = nullptr);

    void cancelButtonClicked();
    QProgressBar* progressBar() const { return progressBar_; }
    QPushButton* cancelButton() const { return cancelButton_; }

protected:
    void viewDidLoad() override;

private:
    void run();

    QLabel* statusLabel_;
    QProgressBar* progressBar_;
    QPushButton* cancelButton_;
};

}  // namespace tavo::installer
