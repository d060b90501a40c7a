#include "installer/widgets/InstallWindow.h"

#include "installer/widgets/InstallCompleteViewController.h"
#include "installer/widgets/InstallFailureViewController.h"
#include "installer/widgets/InstallStartViewController.h"
#include "installer/widgets/InstallationViewController.h"
#include "installer/widgets/TutorialViewController.h"

namespace tavo::installer {

InstallWindow::InstallWindow(std::shared_ptr<InstallContext> context, QWidget* parent)
    : FlowWindow(parent) {
    registerPage(kStartPage, [context] { return new InstallStartViewController(context); });
    registerPage("toInstallation", [context] { return new InstallationViewController(context); });
    registerPage("toInstallComplete",
                 [context] { return new InstallCompleteViewController(context); });
    registerPage("toTutorial", [context] { return new TutorialViewController(context); });
    registerPage("toInstallFailure",
                 [context] { return new InstallFailureViewController(context); });
    showPage(kStartPage);
}

}  // namespace tavo::installer
