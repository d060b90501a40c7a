#include "installer/widgets/InstallCompleteViewController.h"

#include <QLabel>
#include <QPushButton>

#include "foundation/Log.h"
#include "installer/Installation.h"

namespace tavo::installer {

InstallCompleteViewController::InstallCompleteViewController(
    std::shared_ptr<InstallContext> context, QWidget* parent)
    : InstallPage(std::move(context), parent) {
    nextButton_ = addButton(context_->isOverwrite ? "Completion" : "Next", "NextButton");
    nextButton_->setDefault(true);
    connect(nextButton_, &QPushButton::clicked, this, [this] { nextButtonClicked(); });
}

void InstallCompleteViewController::viewDidLoad() {
    InstallPage::viewDidLoad();
    subTitleLabel()->setText(text("Install complete"));
    if (context_->installation)
        context_->installation->launchApplication();
}

void InstallCompleteViewController::nextButtonClicked() {
    ILog("Start InstallCompleteViewController nextButtonClicked");
    if (context_->isOverwrite)
        context_->terminate();
    else
        performSegueWithIdentifier("toTutorial");
    ILog("End InstallCompleteViewController nextButtonClicked");
}

}  // namespace tavo::installer
