#include "uninstaller/widgets/UninstallCompleteViewController.h"

#include <QLabel>
#include <QPushButton>

namespace tavo::uninstaller {

UninstallCompleteViewController::UninstallCompleteViewController(
    std::shared_ptr<UninstallContext> context, QWidget* parent)
    : UninstallPage(std::move(context), parent) {
    closeButton_ = addButton("Close", "CloseButton");
    closeButton_->setDefault(true);
    connect(closeButton_, &QPushButton::clicked, this, [this] { context_->terminate(); });
}

void UninstallCompleteViewController::viewDidLoad() {
    UninstallPage::viewDidLoad();
    windowCloseButtonEnabled(false);
    windowMiniaturizeButtonEnabled(false);
    windowZoomButtonEnabled(false);
    subTitleLabel()->setText(text("Uninstall complete"));
}

}  // namespace tavo::uninstaller
