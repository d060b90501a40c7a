#include "signin/SignInPage.h"

#include <QFontDatabase>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QVBoxLayout>

#include "foundation/Const.h"
#include "foundation/Localization.h"
#include "platform/qt/Images.h"

namespace tavo::signin {

namespace {

constexpr int kLogoWidth = 180;
constexpr int kLogoHeight = 48;
constexpr int kSubTitleSize = 14;  // the subtitle of every page

}  // namespace

QString localizedText(const std::string& key) {
    return QString::fromStdString(localized(key));
}

SignInPage::SignInPage(std::shared_ptr<SignInSession> session, QWidget* parent)
    : widgets::BaseViewController(parent), session_(std::move(session)) {}

QLabel* SignInPage::makeLogo() {
    auto* logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("LogoImage"));
    logo->setAlignment(Qt::AlignCenter);
    const QPixmap pixmap = platform::pixmapNamed(kAppLogoName, QSize(kLogoWidth, kLogoHeight));
    if (pixmap.isNull())
        logo->setText(QStringLiteral("TAVO"));
    else
        logo->setPixmap(pixmap);
    return logo;
}

QLabel* SignInPage::makeTitle() {
    QLabel* title = makeSubtitle("SubTitleLabel", kSubTitleSize);
    title->setAlignment(Qt::AlignCenter);
    return title;
}

QVBoxLayout* SignInPage::makeColumn(QLabel* logo, QLabel* title, int width) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 24, 32, 24);
    layout->addWidget(logo);
    layout->addWidget(title);
    layout->addSpacing(12);
    setFixedWidth(width);
    return layout;
}

QLabel* SignInPage::makeLabel(const char* objectName) {
    auto* label = new QLabel(this);
    label->setObjectName(QString::fromUtf8(objectName));
    label->setWordWrap(true);
    return label;
}

QFont SignInPage::boldFont(int pixelSize) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPixelSize(pixelSize);
    return font;
}

QLabel* SignInPage::makeSubtitle(const char* objectName, int pixelSize) {
    QLabel* label = makeLabel(objectName);
    label->setFont(boldFont(pixelSize));
    return label;
}

QLabel* SignInPage::makeErrorLabel(const char* objectName) {
    QLabel* label = makeLabel(objectName);
    label->setStyleSheet(QStringLiteral("color: #D0021B;"));
    label->setTextFormat(Qt::PlainText);  // the service's words are not markup
    label->hide();
    return label;
}

QPushButton* SignInPage::makeButton(const char* objectName) {
    auto* button = new QPushButton(this);
    button->setObjectName(QString::fromUtf8(objectName));
    button->setAutoDefault(false);
    return button;
}

QPushButton* SignInPage::makeLinkButton(const char* objectName) {
    QPushButton* button = makeButton(objectName);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral(
        "QPushButton { border: none; padding: 0; color: #2F6FDE; text-decoration: underline; }"
        "QPushButton:disabled { color: #9AA0A9; }"));
    return button;
}

void SignInPage::setWindowTitleKey(const char* key) {
    window()->setWindowTitle(localizedText(key));
}

void SignInPage::highlight(QPushButton* button) {
    QMetaObject::invokeMethod(
        button, [button] { button->setFocus(Qt::OtherFocusReason); }, Qt::QueuedConnection);
}

void SignInPage::applyOutcome(const StepOutcome& outcome, QLabel* errorLabel, QPushButton* button) {
    if (outcome.showError && errorLabel) {
        if (outcome.errorText)
            errorLabel->setText(localizedText(*outcome.errorText));
        else if (errorLabel->text().isEmpty())  // never an empty error
            errorLabel->setText(localizedText(kNetworkErrorText));
        errorLabel->show();
    }
    if (button)
        button->setEnabled(outcome.enableButton);
    if (outcome.closeWindow)
        closeWindow();
    else if (outcome.segue)
        performSegueWithIdentifier(*outcome.segue);
}

}  // namespace tavo::signin
