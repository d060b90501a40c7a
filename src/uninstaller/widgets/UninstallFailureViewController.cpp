#include "uninstaller/widgets/UninstallFailureViewController.h"

#include <QLabel>
#include <QPushButton>

#include "foundation/Log.h"

namespace tavo::uninstaller {

UninstallFailureViewController::UninstallFailureViewController(
    std::shared_ptr<UninstallContext> context, QWidget* parent)
    : UninstallPage(std::move(context), parent) {
    closeButton_ = addButton("Close", "CloseButton");
    closeButton_->setDefault(true);
    connect(closeButton_, &QPushButton::clicked, this, [this] { closeButtonClicked(); });
}

void UninstallFailureViewController::viewDidLoad() {
    UninstallPage::viewDidLoad();
    subTitleLabel()->setText(text("Uninstallation failure"));
}

void UninstallFailureViewController::closeButtonClicked() {
    ILog("Start UninstallFailureViewController closeButtonClicked");
    context_->terminate();
    ILog("End UninstallFailureViewController closeButtonClicked");
}

}  // namespace tavo::uninstaller
