#pragma once

#include <QObject>

class QShortcut;
class QWidget;

namespace tavo::widgets {

// Ctrl+W closes the window it is attached to, whichever of its widgets has
// the focus; every other key goes the normal way.
class KeyEventView : public QObject {
    Q_OBJECT

public:
    // Attaches to window (which owns it).
    explicit KeyEventView(QWidget* window);

private:
    QShortcut* shortcut_;
};

}  // namespace tavo::widgets
