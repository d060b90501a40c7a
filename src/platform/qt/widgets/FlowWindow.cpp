#include "platform/qt/widgets/FlowWindow.h"

#include <QCloseEvent>
#include <QVBoxLayout>

#include "foundation/Log.h"
#include "platform/qt/widgets/CustomSegue.h"
#include "platform/qt/widgets/KeyEventView.h"

namespace tavo::widgets {

FlowWindow::FlowWindow(QWidget* parent)
    // Its size follows its page: no maximize button, from the start.
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint) {
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSizeConstraint(QLayout::SetFixedSize);
    keyEventView_ = new KeyEventView(this);
}

FlowWindow::~FlowWindow() {
    // A window destroyed without closing still lets its page go.
    if (content_)
        content_->disappear();
}

void FlowWindow::registerPage(const std::string& identifier, PageFactory factory) {
    factories_[identifier] = std::move(factory);
}

BaseViewController* FlowWindow::instantiatePage(const std::string& identifier) {
    const auto it = factories_.find(identifier);
    if (it == factories_.end() || !it->second)
        return nullptr;
    BaseViewController* page = it->second();
    if (page)
        page->setStoryboardIdentifier(identifier);
    return page;
}

bool FlowWindow::showPage(const std::string& identifier) {
    BaseViewController* page = instantiatePage(identifier);
    if (!page) {
        WLog("No page is registered as %@", identifier);
        return false;
    }
    setContentViewController(page);
    return true;
}

void FlowWindow::setContentViewController(BaseViewController* page) {
    QPointer<BaseViewController> previous = content_;
    if (page == previous)
        return;
    // A shown window keeps its top edge and its horizontal centre while it
    // takes the new page's size, rather than jumping at each page.
    const bool placed = isVisible() && previous;
    const QPoint topLeft = pos();
    const int previousWidth = width();
    content_ = page;
    if (page) {
        page->setParent(this);
        layout_->addWidget(page);
        page->show();
    }
    if (previous) {
        layout_->removeWidget(previous);
        previous->hide();
    }
    if (page)
        page->loadView();
    if (placed) {
        layout_->activate();
        move(topLeft.x() + (previousWidth - width()) / 2, topLeft.y());
    }
    if (previous) {
        previous->disappear();
        previous->deleteLater();
    }
    Q_EMIT contentViewControllerChanged(page);
}

void FlowWindow::performSegue(const std::string& identifier, BaseViewController* source) {
    CustomSegue(identifier, source, instantiatePage(identifier)).perform();
}

void FlowWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted() && content_)
        content_->disappear();
}

}  // namespace tavo::widgets
