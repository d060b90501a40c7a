#pragma once

#include "uninstaller/widgets/UninstallPage.h"

namespace tavo::uninstaller {

// A closing page with "Uninstall complete" and "Close". The progress page
// shows its own finished state, so the flow does not lead here; the page
// stays for a flow that wants a separate last page.
class UninstallCompleteViewController : public UninstallPage {
    Q_OBJECT

public:
    explicit UninstallCompleteViewController(std::shared_ptr<UninstallContext> context,
                                             QWidget* parent = nullptr);
    QPushButton* closeButton() const { return closeButton_; }

protected:
    void viewDidLoad() override;

private:
    QPushButton* closeButton_;
};

}  // namespace tavo::uninstaller
