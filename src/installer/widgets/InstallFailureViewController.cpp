#include "installer/widgets/InstallFailureViewController.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "foundation/Log.h"

namespace tavo::installer {

InstallFailureViewController::InstallFailureViewController(std::shared_ptr<InstallContext> context,
                                                           QWidget* parent)
    : InstallPage(std::move(context), parent) {
    auto* description = new QLabel(text("Error occurred"), this);
    description->setObjectName(QStringLiteral("DescriptionLabel"));
    description->setAlignment(Qt::AlignCenter);
    description->setWordWrap(true);
    pageLayout()->addWidget(description);
    closeButton_ = addButton("Close", "CloseButton");
    closeButton_->setDefault(true);
    connect(closeButton_, &QPushButton::clicked, this, [this] { closeButtonClicked(); });
}

void InstallFailureViewController::viewDidLoad() {
    InstallPage::viewDidLoad();
    subTitleLabel()->setText(text("Installation couldn't be completed"));
}

void InstallFailureViewController::closeButtonClicked() {
    ILog("Start InstallFailureViewController closeButtonClicked");
    context_->terminate();
    ILog("End InstallFailureViewController closeButtonClicked");
}

}  // namespace tavo::installer
