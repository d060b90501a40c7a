#include "platform/qt/widgets/BaseViewController.h"

#include <QVariant>

#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "platform/qt/widgets/FlowWindow.h"

namespace tavo::widgets {

namespace {

// The settings live on the window, so every page of it sees the same ones.
constexpr const char* kCloseEnabled = "tavoCloseButtonEnabled";
constexpr const char* kMiniaturizeEnabled = "tavoMiniaturizeButtonEnabled";
constexpr const char* kZoomEnabled = "tavoZoomButtonEnabled";
constexpr const char* kButtonsHidden = "tavoWindowButtonsHidden";

bool isSet(const QWidget* window, const char* name, bool fallback) {
    const QVariant value = window->property(name);
    return value.isValid() ? value.toBool() : fallback;
}

void applyButtons(QWidget* window) {
    const bool hidden = isSet(window, kButtonsHidden, false);
    Qt::WindowFlags flags = window->windowFlags();
    flags |= Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    flags.setFlag(Qt::WindowCloseButtonHint, !hidden && isSet(window, kCloseEnabled, true));
    flags.setFlag(Qt::WindowMinimizeButtonHint,
                  !hidden && isSet(window, kMiniaturizeEnabled, true));
    // A window of pages has the size of its page: it cannot be maximized.
    const bool resizable = !qobject_cast<FlowWindow*>(window);
    flags.setFlag(Qt::WindowMaximizeButtonHint,
                  resizable && !hidden && isSet(window, kZoomEnabled, true));
    if (flags == window->windowFlags())
        return;
    // New flags re-create the native window and hide it.
    const bool visible = window->isVisible();
    window->setWindowFlags(flags);
    if (visible)
        window->show();
}

void setButtonProperty(QWidget* window, const char* name, bool value) {
    window->setProperty(name, value);
    applyButtons(window);
}

}  // namespace

BaseViewController::BaseViewController(QWidget* parent) : QWidget(parent) {}

void BaseViewController::setStoryboardIdentifier(std::string identifier) {
    storyboardIdentifier_ = std::move(identifier);
}

void BaseViewController::windowCloseButtonEnabled(bool enabled) {
    setButtonProperty(window(), kCloseEnabled, enabled);
}

void BaseViewController::windowMiniaturizeButtonEnabled(bool enabled) {
    setButtonProperty(window(), kMiniaturizeEnabled, enabled);
}

void BaseViewController::windowZoomButtonEnabled(bool enabled) {
    setButtonProperty(window(), kZoomEnabled, enabled);
}

void BaseViewController::windowButtonHidden(bool hidden) {
    setButtonProperty(window(), kButtonsHidden, hidden);
}

void BaseViewController::closeWindow() {
    window()->close();
}

void BaseViewController::terminate() {
    ILog("Terminate the application");
    // The main queue's loop is the program's loop (Qt's in a GUI program), and
    // the program's shutdown follows its end.
    MainQueue::main().quit();
}

void BaseViewController::performSegueWithIdentifier(const std::string& identifier) {
    auto* flow = qobject_cast<FlowWindow*>(window());
    if (!flow) {
        WLog("The page %@ is not in a window of pages: no segue %@", storyboardIdentifier_,
             identifier);
        return;
    }
    flow->performSegue(identifier, this);
}

void BaseViewController::loadView() {
    if (loaded_)
        return;
    loaded_ = true;
    viewDidLoad();
}

void BaseViewController::disappear() {
    if (!loaded_ || disappeared_)
        return;
    disappeared_ = true;
    viewDidDisappear();
}

}  // namespace tavo::widgets
