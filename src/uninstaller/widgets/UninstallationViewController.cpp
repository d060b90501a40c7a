#include "uninstaller/widgets/UninstallationViewController.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cmath>

#include "foundation/Clock.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "uninstaller/Uninstallation.h"

namespace tavo::uninstaller {

UninstallationViewController::UninstallationViewController(
    std::shared_ptr<UninstallContext> context, QWidget* parent)
    : UninstallPage(std::move(context), parent) {
    const Progress progress = addProgress("Uninstalling...");
    statusLabel_ = progress.status;
    progressBar_ = progress.bar;
    closeButton_ = addButton("Close", "CloseButton");
    closeButton_->setVisible(false);
    closeButton_->setEnabled(false);
    connect(closeButton_, &QPushButton::clicked, this, [this] { closeButtonClicked(); });
}

UninstallationViewController::~UninstallationViewController() = default;

void UninstallationViewController::viewDidLoad() {
    UninstallPage::viewDidLoad();
    windowCloseButtonEnabled(true);
    windowMiniaturizeButtonEnabled(true);
    windowZoomButtonEnabled(false);
    // The page appears first; the procedure runs right after.
    QTimer::singleShot(0, this, [this] { run(); });
}

void UninstallationViewController::run() {
    QPointer<QProgressBar> bar = progressBar_;
    uninstallation_ = context_->makeUninstallation([bar](double value) {
        if (bar)
            bar->setValue(static_cast<int>(std::clamp(value, 0.0, 100.0)));
    });
    if (!uninstallation_->isInstalled()) {
        ELog("code=%@, message=%@", "MSG_E3005", "already Uninstalled");
        context_->alert(localized("Already uninstalled"), localized("Error"));
        context_->terminate();
        return;
    }
    if (!uninstallation_->startUninstall(*context_->client)) {
        if (uninstallation_->ownModulesRemained()) {
            context_->errorAlert(localized("Uninstallation couldn't be completed"),
                                 localized(kWindowTitle));
            context_->terminate();
            DLog("close window");
            closeWindow();
            return;
        }
        performSegueWithIdentifier("toUninstallFailure");
        return;
    }
    context_->status = 0;
    const auto pause = Clock::current().realDelay(std::chrono::milliseconds(300));
    QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(pause), this,
                       [this] { showFinished(); });
}

void UninstallationViewController::showFinished() {
    progressBar_->setVisible(false);
    statusLabel_->setVisible(false);
    statusLabel_->setText(text("Uninstall complete"));
    statusLabel_->setVisible(true);
    closeButton_->setVisible(true);
    closeButton_->setEnabled(true);
}

void UninstallationViewController::closeButtonClicked() {
    ILog("terminating Uninstaller");
    context_->terminate();
    DLog("close window");
    closeWindow();
}

}  // namespace tavo::uninstaller
