#include "installer/widgets/InstallStartViewController.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "installer/Installation.h"
#include "platform/Bundle.h"
#include "platform/SystemInfo.h"
#include "platform/linux/PrivilegedRestart.h"

namespace tavo::installer {

InstallStartViewController::InstallStartViewController(std::shared_ptr<InstallContext> context,
                                                       QWidget* parent)
    : InstallPage(std::move(context), parent) {
    descriptionLabel_ = new QLabel(text("Start install for desktop application"), this);
    descriptionLabel_->setObjectName(QStringLiteral("DescriptionLabel"));
    descriptionLabel_->setAlignment(Qt::AlignCenter);
    descriptionLabel_->setWordWrap(true);
    librariesLabel_ = new QLabel(this);
    librariesLabel_->setObjectName(QStringLiteral("LibrariesLabel"));
    librariesLabel_->setAlignment(Qt::AlignCenter);
    librariesLabel_->setWordWrap(true);
    librariesLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    librariesLabel_->setVisible(false);
    pageLayout()->addWidget(descriptionLabel_);
    pageLayout()->addWidget(librariesLabel_);
    pageLayout()->addSpacing(8);
    installButton_ = addButton("Install", "InstallButton");
    installButton_->setDefault(true);
    backButton_ = addButton("Cancel", "BackButton");
    connect(installButton_, &QPushButton::clicked, this, [this] { installButtonClicked(); });
    connect(backButton_, &QPushButton::clicked, this, [this] { cancelButtonClicked(); });
}

void InstallStartViewController::viewDidLoad() {
    InstallPage::viewDidLoad();
    Config::setAppLogMode();
    ILog("The log mode has been %@.", Log::defaultLog().logMode());
    const auto bundle = platform::Bundle::mainBundle();
    ILog("Loaded Installation Process version: %@(%@)", bundle->shortVersion(), bundle->version());
    ILog("Module path=[%@]", bundle->executablePath());
    ILog("Running for user: %@: on the host: %@", platform::PrivilegedRestart::currentUser(),
         platform::SystemInfo::hostName());
    windowCloseButtonEnabled(true);
    windowMiniaturizeButtonEnabled(true);
    windowZoomButtonEnabled(false);
    windowButtonHidden(false);
    subTitleLabel()->setText(text("Welcome to TAVO installer"));
    // What the page shows on appearing: an installation or none, and
    // whether the programs can run here at all.
    ILog("Start Install for desktop application");
    context_->isOverwrite = context_->makeInstallation({})->checkInstalled();
    if (context_->checkLibraries) {
        const LibraryCheck::Report report = context_->checkLibraries();
        if (!report.complete())
            showMissingLibraries(report);
    }
}

void InstallStartViewController::showMissingLibraries(const LibraryCheck::Report& report) {
    std::string missing;
    for (const auto& soname : report.missing)
        missing += (missing.empty() ? "" : ", ") + soname;
    WLog("Libraries missing for the bundled programs: %@", missing);
    descriptionLabel_->setText(
        text("Some libraries that TAVO needs are missing. Install them with this command, then "
             "start the installer again:"));
    std::string line = report.installLine();
    if (!report.unknown.empty()) {
        std::string unknown;
        for (const auto& soname : report.unknown)
            unknown += (unknown.empty() ? "" : ", ") + soname;
        line += (line.empty() ? "" : "\n") + localized("Also missing:") + " " + unknown;
    }
    librariesLabel_->setText(QString::fromStdString(line));
    librariesLabel_->setVisible(true);
    installButton_->setEnabled(false);
}

void InstallStartViewController::installButtonClicked() {
    ILog("Start InstallStartViewController installButtonClicked");
    installButton_->setEnabled(false);
    if (context_->isAdministrator && context_->isAdministrator()) {
        performSegueWithIdentifier("toInstallation");
    } else {
        ELog("code=%@, message=%@", "MSG_E3002", "please install with administrator privileges");
        context_->alert(localized("Please install with administrator privileges"),
                        localized("Error"));
        context_->terminate();
    }
    ILog("End InstallStartViewController installButtonClicked");
}

void InstallStartViewController::cancelButtonClicked() {
    backButton_->setEnabled(false);
    ILog("Start InstallStartViewController cancelButtonClicked");
    context_->terminate();
    ILog("End InstallStartViewController cancelButtonClicked");
}

}  // namespace tavo::installer
