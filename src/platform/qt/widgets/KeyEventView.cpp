#include "platform/qt/widgets/KeyEventView.h"

#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

namespace tavo::widgets {

KeyEventView::KeyEventView(QWidget* window) : QObject(window) {
    for (const QKeySequence& keys :
         {QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::Key_Escape)}) {
        auto* shortcut = new QShortcut(keys, window);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, window, [window] { window->close(); });
    }
}

}  // namespace tavo::widgets
