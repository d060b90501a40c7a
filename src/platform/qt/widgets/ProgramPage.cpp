#include "platform/qt/widgets/ProgramPage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "foundation/Const.h"
#include "foundation/Format.h"
#include "foundation/Localization.h"
#include "platform/qt/Images.h"

namespace tavo::widgets {

namespace {
constexpr int kPageWidth = 420;
constexpr int kLogoWidth = 160;
constexpr int kLogoHeight = 60;
}  // namespace

QString ProgramPage::text(const std::string& key) {
    return QString::fromStdString(localized(key));
}

ProgramPage::ProgramPage(const std::string& version, const char* windowTitle, QWidget* parent)
    : BaseViewController(parent), windowTitle_(windowTitle) {
    auto* logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("LogoImage"));
    logo->setAlignment(Qt::AlignCenter);
    const QPixmap image = platform::pixmapNamed(kAppLogoName, QSize(kLogoWidth, kLogoHeight));
    if (image.isNull())
        logo->setText(QStringLiteral("TAVO"));
    else
        logo->setPixmap(image);
    auto* versionLabel = new QLabel(this);
    versionLabel->setObjectName(QStringLiteral("VersionLabel"));
    versionLabel->setAlignment(Qt::AlignCenter);
    versionLabel->setText(QString::fromStdString(format(localized("ver.%@"), version)));
    subTitleLabel_ = new QLabel(this);
    subTitleLabel_->setObjectName(QStringLiteral("SubTitleLabel"));
    subTitleLabel_->setAlignment(Qt::AlignCenter);
    subTitleLabel_->setWordWrap(true);
    QFont bold = subTitleLabel_->font();
    bold.setBold(true);
    subTitleLabel_->setFont(bold);
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(24, 20, 24, 20);
    layout_->addWidget(logo);
    layout_->addWidget(versionLabel);
    layout_->addSpacing(8);
    layout_->addWidget(subTitleLabel_);
    setFixedWidth(kPageWidth);
}

void ProgramPage::viewDidLoad() {
    if (QWidget* top = window())
        top->setWindowTitle(text(windowTitle_));
}

ProgramPage::Progress ProgramPage::addProgress(const std::string& statusKey) {
    auto* status = new QLabel(text(statusKey), this);
    status->setObjectName(QStringLiteral("StatusLabel"));
    status->setAlignment(Qt::AlignCenter);
    auto* bar = new QProgressBar(this);
    bar->setObjectName(QStringLiteral("ProgressBar"));
    bar->setRange(0, 100);
    bar->setValue(0);
    layout_->addWidget(status);
    layout_->addWidget(bar);
    return {status, bar};
}

QPushButton* ProgramPage::addButton(const std::string& key, const char* objectName) {
    auto* button = new QPushButton(text(key), this);
    button->setObjectName(QString::fromLatin1(objectName));
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(button);
    row->addStretch();
    layout_->addLayout(row);
    return button;
}

}  // namespace tavo::widgets
