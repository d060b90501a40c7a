#include "platform/qt/widgets/KeyEventView.h"

#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

namespace tavo::widgets {

KeyEventView::KeyEventView(QWidget* window) : QObject(window) {
    shortcut_ = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), window);
    shortcut_->setContext(Qt::WindowShortcut);
    connect(shortcut_, &QShortcut::activated, window, [window] { window->close(); });
}

}  // namespace tavo::widgets
