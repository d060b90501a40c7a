#include "uninstaller/widgets/UninstallWindow.h"

#include "uninstaller/widgets/UninstallCompleteViewController.h"
#include "uninstaller/widgets/UninstallFailureViewController.h"
#include "uninstaller/widgets/UninstallStartViewController.h"
#include "uninstaller/widgets/UninstallationViewController.h"

namespace tavo::uninstaller {

UninstallWindow::UninstallWindow(std::shared_ptr<UninstallContext> context, QWidget* parent)
    : FlowWindow(parent) {
    registerPage(kStartPage, [context] { return new UninstallStartViewController(context); });
    registerPage("toUninstallation",
                 [context] { return new UninstallationViewController(context); });
    registerPage("toUninstallFailure",
                 [context] { return new UninstallFailureViewController(context); });
    registerPage("toUninstallComplete",
                 [context] { return new UninstallCompleteViewController(context); });
    showPage(kStartPage);
}

}  // namespace tavo::uninstaller
