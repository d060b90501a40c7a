#include "update/widgets/ForceUpdateWindow.h"

#include <QCloseEvent>

#include "foundation/Log.h"
#include "session/SessionState.h"
#include "update/widgets/ForceUpdateViewController.h"

namespace tavo {

ForceUpdateWindow* ForceUpdateWindow::present(std::shared_ptr<ProgramController> controller,
                                              SessionState& sessionState) {
    if (sessionState.isWindowAppear(kWindowAppearForceUpdate)) {
        ILog("The forced-update window is shown already");
        return nullptr;
    }
    auto* window = new ForceUpdateWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowModality(Qt::ApplicationModal);
    window->registerPage(kPageIdentifier, [controller, &sessionState] {
        return new ForceUpdateViewController(controller, sessionState);
    });
    window->showPage(kPageIdentifier);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

ForceUpdateWindow::ForceUpdateWindow(QWidget* parent) : FlowWindow(parent) {}

void ForceUpdateWindow::closeEvent(QCloseEvent* event) {
    if (!closeAllowed_) {
        event->ignore();
        return;
    }
    FlowWindow::closeEvent(event);
}

}  // namespace tavo
