#pragma once

#include <QObject>

class QWidget;

namespace tavo::widgets {

// Ctrl+W and Esc close the window it is attached to, whichever of its widgets has
// the focus; every other key goes the normal way.
class KeyEventView : public QObject {
    Q_OBJECT

public:
    // Attaches to window (which owns it).
    explicit KeyEventView(QWidget* window);
};

}  // namespace tavo::widgets
