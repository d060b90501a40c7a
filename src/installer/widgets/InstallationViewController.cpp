#include "installer/widgets/InstallationViewController.h"

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "foundation/Log.h"
#include "installer/Installation.h"

namespace tavo::installer {

InstallationViewController::InstallationViewController(std::shared_ptr<InstallContext> context,
                                                       QWidget* parent)
    : InstallPage(std::move(context), parent) {
    const Progress progress = addProgress("Installing...");
    statusLabel_ = progress.status;
    progressBar_ = progress.bar;
    cancelButton_ = addButton("Cancel", "CancelButton");
    cancelButton_->setEnabled(context_->isOverwrite);
    connect(cancelButton_, &QPushButton::clicked, this, [this] { cancelButtonClicked(); });
}

void InstallationViewController::viewDidLoad() {
    InstallPage::viewDidLoad();
    windowCloseButtonEnabled(true);
    windowMiniaturizeButtonEnabled(true);
    windowZoomButtonEnabled(false);
    windowButtonHidden(false);
    // The page appears first; the procedure runs right after.
    QTimer::singleShot(0, this, [this] { run(); });
}

void InstallationViewController::run() {
    QPointer<QProgressBar> bar = progressBar_;
    QPointer<QPushButton> cancel = cancelButton_;
    InstallCallbacks callbacks;
    callbacks.progress = [bar](double value) {
        if (bar)
            bar->setValue(static_cast<int>(std::clamp(value, 0.0, 100.0)));
    };
    callbacks.cancelAvailable = [cancel](bool available) {
        if (cancel)
            cancel->setEnabled(available);
    };
    context_->installation = context_->makeInstallation(std::move(callbacks));
    context_->installation->setOverwrite(context_->isOverwrite);
    QPointer<InstallationViewController> self = this;
    auto context = context_;
    context_->installation->start([self, context](Installation::Outcome outcome) {
        if (outcome == Installation::Outcome::Cancelled) {
            ILog("End InstallationViewController cancelButtonClicked");
            context->terminate();
            return;
        }
        if (!self)
            return;
        if (outcome == Installation::Outcome::Completed) {
            context->status = 0;
            self->performSegueWithIdentifier("toInstallComplete");
        } else {
            self->performSegueWithIdentifier("toInstallFailure");
        }
    });
}

void InstallationViewController::cancelButtonClicked() {
    ILog("Start InstallationViewController cancelButtonClicked");
    cancelButton_->setEnabled(false);
    if (!context_->installation || !context_->installation->cancel()) {
        // Nothing began yet, or it is too late to undo: the program ends.
        if (!context_->installation) {
            ILog("End InstallationViewController cancelButtonClicked");
            context_->terminate();
        }
        return;
    }
    // The procedure hands its end (Cancelled) back once it is undone.
}

}  // namespace tavo::installer
