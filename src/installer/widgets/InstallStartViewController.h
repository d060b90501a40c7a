#pragma once

#include "installer/widgets/InstallPage.h"

namespace tavo::installer {

// The first page. It decides between a first install and an overwrite and
// checks the bundled programs' libraries: when some are missing it shows
// the one command that installs them instead of "Install". "Install" goes
// on for an administrator and ends the program with an alert for anyone
// else; "Cancel" ends it.
class InstallStartViewController : public InstallPage {
    Q_OBJECT

public:
    explicit InstallStartViewController(std::shared_ptr<InstallContext> context,
                                        QWidget* parent = nullptr);

    void installButtonClicked();
    void cancelButtonClicked();
    QPushButton* installButton() const { return installButton_; }
    QPushButton* backButton() const { return backButton_; }
    QLabel* descriptionLabel() const { return descriptionLabel_; }
    QLabel* librariesLabel() const { return librariesLabel_; }

protected:
    void viewDidLoad() override;

private:
    void showMissingLibraries(const LibraryCheck::Report& report);

    QLabel* descriptionLabel_;
    QLabel* librariesLabel_;
    QPushButton* installButton_;
    QPushButton* backButton_;
};

}  // namespace tavo::installer
