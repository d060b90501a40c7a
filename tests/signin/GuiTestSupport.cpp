#include "GuiTestSupport.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>

// LeakSanitizer reads these in sanitizer builds: fontconfig keeps a cache
// for the life of the process, which Qt's font database fills.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace tavo::test {

namespace {

QtMessageHandler previousHandler = nullptr;

// The offscreen platform says at every window what it cannot do; nothing a
// test needs to read.
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QStringLiteral("This plugin does not support")))
        return;
    if (previousHandler)
        previousHandler(type, context, message);
}

}  // namespace

QApplication& guiApplication() {
    static int argc = 1;
    static char name[] = "signin_gui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        // Before the application exists: no display is needed.
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        previousHandler = qInstallMessageHandler(quietHandler);
        return new QApplication(argc, argv);
    }();
    return *app;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    return QTest::qWaitFor(done, timeoutMs);
}

void answerNextModal(ModalAnswer* answer, int buttonIndex) {
    auto* timer = new QTimer(&guiApplication());
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, answer, buttonIndex] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        answer->text = box->text().toStdString();
        answer->informativeText = box->informativeText().toStdString();
        answer->icon = box->icon();
        if (box->defaultButton())
            answer->defaultButton = box->defaultButton()->text().toStdString();
        if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
            answer->informativeWidth = label->width();
        const auto buttons = box->buttons();
        // The order the box was built in, whatever order the style lays out.
        std::vector<QAbstractButton*> ordered;
        for (QAbstractButton* button : box->findChildren<QAbstractButton*>())
            if (buttons.contains(button))
                ordered.push_back(button);
        for (QAbstractButton* button : ordered)
            answer->buttons.push_back(button->text().toStdString());
        answer->answered = true;
        if (buttonIndex < static_cast<int>(ordered.size()))
            ordered[buttonIndex]->click();
    });
    timer->start();
}

}  // namespace tavo::test
