#include "installer/widgets/InstallPage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "foundation/Const.h"
#include "foundation/Format.h"
#include "foundation/Localization.h"
#include "platform/qt/Images.h"

namespace tavo::installer {

namespace {
constexpr int kPageWidth = 420;
constexpr int kLogoWidth = 160;
constexpr int kLogoHeight = 60;
}  // namespace

QString InstallPage::text(const std::string& key) {
    return QString::fromStdString(localized(key));
}

InstallPage::InstallPage(std::shared_ptr<InstallContext> context, QWidget* parent)
    : BaseViewController(parent), context_(std::move(context)) {
    auto* logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("LogoImage"));
    logo->setAlignment(Qt::AlignCenter);
    const QPixmap image = platform::pixmapNamed(kAppLogoName, QSize(kLogoWidth, kLogoHeight));
    if (image.isNull())
        logo->setText(QStringLiteral("TAVO"));
    else
        logo->setPixmap(image);
    auto* version = new QLabel(this);
    version->setObjectName(QStringLiteral("VersionLabel"));
    version->setAlignment(Qt::AlignCenter);
    version->setText(QString::fromStdString(format(localized("ver.%@"), context_->version)));
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
    layout_->addWidget(version);
    layout_->addSpacing(8);
    layout_->addWidget(subTitleLabel_);
    setFixedWidth(kPageWidth);
}

void InstallPage::viewDidLoad() {
    if (QWidget* top = window())
        top->setWindowTitle(text(kWindowTitle));
}

QPushButton* InstallPage::addButton(const std::string& key, const char* objectName) {
    auto* button = new QPushButton(text(key), this);
    button->setObjectName(QString::fromLatin1(objectName));
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(button);
    row->addStretch();
    layout_->addLayout(row);
    return button;
}

}  // namespace tavo::installer
