#include "uninstaller/widgets/UninstallStartViewController.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "foundation/Localization.h"
#include "foundation/Log.h"

namespace tavo::uninstaller {

UninstallStartViewController::UninstallStartViewController(
    std::shared_ptr<UninstallContext> context, QWidget* parent)
    : UninstallPage(std::move(context), parent) {
    auto* description = new QLabel(text("Start Uninstall for desktop application"), this);
    description->setObjectName(QStringLiteral("DescriptionLabel"));
    description->setAlignment(Qt::AlignCenter);
    description->setWordWrap(true);
    pageLayout()->addWidget(description);
    pageLayout()->addSpacing(8);
    uninstallButton_ = addButton("Uninstall", "UninstallButton");
    uninstallButton_->setDefault(true);
    backButton_ = addButton("Cancel", "BackButton");
    connect(uninstallButton_, &QPushButton::clicked, this, [this] { uninstallButtonClicked(); });
    connect(backButton_, &QPushButton::clicked, this, [this] { cancelButtonClicked(); });
}

void UninstallStartViewController::viewDidLoad() {
    UninstallPage::viewDidLoad();
    windowCloseButtonEnabled(true);
    windowMiniaturizeButtonEnabled(true);
    windowZoomButtonEnabled(false);
    subTitleLabel()->setText(text("Welcome to TAVO Uninstaller"));
    ILog("Start Uninstall for desktop application");
}

void UninstallStartViewController::uninstallButtonClicked() {
    ILog("Start UninstallStartViewController uninstallButtonClicked");
    uninstallButton_->setEnabled(false);
    if (context_->isAdministrator && context_->isAdministrator()) {
        performSegueWithIdentifier("toUninstallation");
    } else {
        ELog("code=%@, message=%@", "MSG_E3004", "please Uninstall with administrator privileges");
        context_->alert(localized("Please Uninstall with administrator privileges"),
                        localized("Error"));
        context_->terminate();
    }
    ILog("End UninstallStartViewController uninstallButtonClicked");
}

void UninstallStartViewController::cancelButtonClicked() {
    ILog("Start UninstallStartViewController cancelButtonClicked");
    context_->terminate();
    ILog("End UninstallStartViewController cancelButtonClicked");
}

}  // namespace tavo::uninstaller
