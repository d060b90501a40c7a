#include "platform/qt/widgets/AlertUtil.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include "foundation/Localization.h"
#include "platform/StatusItem.h"

namespace tavo::widgets {

namespace {

constexpr int kConfirmTextWidth = 360;
constexpr int kLogoSize = 64;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

// The window the alert belongs to: the given one, else the active one.
QWidget* frontWindow(QWidget* parentWindow) {
    QWidget* window = parentWindow ? parentWindow->window() : QApplication::activeWindow();
    if (window && window->isVisible()) {
        window->raise();
        window->activateWindow();
    }
    return window;
}

// Shown, raised and activated before the modal loop, so the alert is in
// front of other programs' windows too. The box lives on the heap: when its
// parent window goes away during the loop, the box goes with it and the
// loop ends instead of a double deletion.
// Returns whether the button first was the one clicked.
bool runModal(QPointer<QMessageBox> box, const QAbstractButton* first = nullptr) {
    box->show();
    box->raise();
    box->activateWindow();
    box->exec();
    if (!box)
        return false;
    const bool firstClicked = first && box->clickedButton() == first;
    delete box;
    return firstClicked;
}

QPointer<QMessageBox> makeBox(QWidget* parent, QMessageBox::Icon icon, const std::string& message,
                              const std::string& title) {
    QPointer<QMessageBox> box = new QMessageBox(parent);
    box->setIcon(icon);
    box->setWindowTitle(QApplication::applicationName());
    box->setText(qs(title));
    box->setInformativeText(qs(message));
    return box;
}

void runSimple(QMessageBox::Icon icon, const std::string& message, const std::string& title) {
    QPointer<QMessageBox> box = makeBox(frontWindow(nullptr), icon, message, title);
    box->setStandardButtons(QMessageBox::Ok);
    box->setDefaultButton(QMessageBox::Ok);
    runModal(box);
}

}  // namespace

void AlertUtil::runModalWithMessage(const std::string& message, const std::string& title) {
    runSimple(QMessageBox::Information, message, title);
}

void AlertUtil::runAboutBox(const std::string& message, const std::string& title,
                            const QIcon& logo) {
    QPointer<QMessageBox> box = makeBox(frontWindow(nullptr), QMessageBox::NoIcon, message, title);
    box->setIconPixmap(logo.pixmap(kLogoSize, kLogoSize));
    box->setStandardButtons(QMessageBox::Ok);
    box->setDefaultButton(QMessageBox::Ok);
    runModal(box);
}

void AlertUtil::runModalWithError(const std::string& message, const std::string& title) {
    runSimple(QMessageBox::Critical, message, title);
}

int AlertUtil::runModalWithSelectMessage(const std::string& message, const std::string& title,
                                         const std::string& primaryKey,
                                         const std::string& secondaryKey, QWidget* parentWindow) {
    QPointer<QMessageBox> box =
        makeBox(frontWindow(parentWindow), QMessageBox::Warning, message, title);
    if (parentWindow)
        box->setWindowModality(Qt::WindowModal);
    QPushButton* primary = box->addButton(qs(localized(primaryKey)), QMessageBox::AcceptRole);
    QPushButton* secondary = box->addButton(qs(localized(secondaryKey)), QMessageBox::RejectRole);
    box->setDefaultButton(primary);
    box->setEscapeButton(secondary);
    primary->setFocus();
    return runModal(box, primary) ? platform::kDialogResultCode : platform::kDialogResultCode + 1;
}

int AlertUtil::runModalWithErrorMessage(const std::string& message, const std::string& title,
                                        QWidget* parentWindow) {
    // A question whose safe answer, Cancel, is the default; wide enough that
    // a sentence or two do not wrap word by word.
    QPointer<QMessageBox> box =
        makeBox(frontWindow(parentWindow), QMessageBox::Question, message, title);
    if (parentWindow)
        box->setWindowModality(Qt::WindowModal);
    QPushButton* logout = box->addButton(qs(localized("Logout")), QMessageBox::AcceptRole);
    QPushButton* cancel = box->addButton(qs(localized("Cancel")), QMessageBox::RejectRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    if (auto* text = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        text->setMinimumWidth(kConfirmTextWidth);
    cancel->setFocus();
    return runModal(box, logout) ? platform::kDialogResultCode : platform::kDialogResultCode + 1;
}

}  // namespace tavo::widgets
