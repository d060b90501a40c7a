#include "update/widgets/ForceUpdateViewController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "foundation/Const.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "platform/qt/Images.h"
#include "session/SessionState.h"
#include "update/ProgramController.h"
#include "update/widgets/ForceUpdateWindow.h"

namespace tavo {

namespace {

constexpr int kPageWidth = 420;
constexpr int kLogoWidth = 160;
constexpr int kLogoHeight = 60;

QString text(const std::string& key) {
    return QString::fromStdString(localized(key));
}

}  // namespace

ForceUpdateViewController::ForceUpdateViewController(std::shared_ptr<ProgramController> controller,
                                                     SessionState& sessionState, QWidget* parent)
    : BaseViewController(parent), controller_(std::move(controller)), sessionState_(sessionState) {
    logoImage_ = new QLabel(this);
    logoImage_->setObjectName(QStringLiteral("LogoImage"));
    logoImage_->setAlignment(Qt::AlignCenter);
    const QPixmap logo = platform::pixmapNamed(kAppLogoName, QSize(kLogoWidth, kLogoHeight));
    if (logo.isNull())
        logoImage_->setText(QStringLiteral("TAVO"));
    else
        logoImage_->setPixmap(logo);
    versionLabel_ = new QLabel(this);
    versionLabel_->setObjectName(QStringLiteral("VersionLabel"));
    versionLabel_->setAlignment(Qt::AlignCenter);
    subTitleLabel_ = new QLabel(this);
    subTitleLabel_->setObjectName(QStringLiteral("SubTitleLabel"));
    subTitleLabel_->setAlignment(Qt::AlignCenter);
    QFont title = subTitleLabel_->font();
    title.setBold(true);
    subTitleLabel_->setFont(title);
    descriptionLabel_ = new QLabel(this);
    descriptionLabel_->setObjectName(QStringLiteral("DescriptionLabel"));
    descriptionLabel_->setWordWrap(true);
    descriptionLabel_->setAlignment(Qt::AlignCenter);
    okButton_ = new QPushButton(this);
    okButton_->setObjectName(QStringLiteral("OkButton"));
    okButton_->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->addWidget(logoImage_);
    layout->addWidget(versionLabel_);
    layout->addSpacing(8);
    layout->addWidget(subTitleLabel_);
    layout->addWidget(descriptionLabel_);
    layout->addSpacing(8);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton_);
    buttons->addStretch();
    layout->addLayout(buttons);
    setFixedWidth(kPageWidth);

    connect(okButton_, &QPushButton::clicked, this, [this] { clickOkButton(); });
}

void ForceUpdateViewController::viewDidLoad() {
    TAVO_DLOG("start");
    ILog("Start ForceUpdateWindow");
    sessionState_.setWindowAppear(kWindowAppearForceUpdate);
    QPointer<ForceUpdateViewController> self(this);
    MainQueue::main().async([self] {
        if (!self)
            return;
        if (QWidget* window = self->window())
            window->setWindowTitle(text("TAVO"));
        self->windowCloseButtonEnabled(false);
        self->windowMiniaturizeButtonEnabled(false);
        self->windowZoomButtonEnabled(false);
        self->windowButtonHidden(true);
    });
    subTitleLabel_->setText(text("Start forced update of TAVO desktop application"));
    descriptionLabel_->setText(text("TAVO fonts can be used during the update"));
    okButton_->setText(QStringLiteral("OK"));
}

void ForceUpdateViewController::clickOkButton() {
    ILog("Start ForceUpdateViewController clickOkButton");
    if (controller_ && controller_->checkAccountPrivilege())
        controller_->startUpdate();
    // Either way the window goes: an administrator's update runs on, a
    // refused user saw the alert and gets the window again at the next start.
    if (auto* window = qobject_cast<ForceUpdateWindow*>(this->window()))
        window->allowClose();
    closeWindow();
    ILog("End ForceUpdateViewController clickOkButton");
}

void ForceUpdateViewController::viewDidDisappear() {
    sessionState_.unsetWindowAppear(kWindowAppearForceUpdate);
    ILog("End ForceUpdateWindow");
}

}  // namespace tavo
