#include "signin/SignInSession.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "foundation/Log.h"
#include "foundation/SerialQueue.h"
#include "platform/Workspace.h"

namespace tavo::signin {

SignInSession::SignInSession(ApiClient& client, SessionState& sessionState,
                             std::shared_ptr<platform::Workspace> workspace)
    : client_(client),
      sessionState_(sessionState),
      workspace_(std::move(workspace)),
      worker_(std::make_shared<SerialQueue>("TAVO.SignInWindowQueue")) {
    if (!workspace_)
        workspace_ = platform::Workspace::sharedWorkspace();
}

SignInSession::~SignInSession() = default;

void SignInSession::runOnWorker(std::function<void()> work) {
    worker_->async(std::move(work));
}

void SignInSession::runOnGuiThread(std::function<void()> work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        WLog("Sign-in: no application to show the outcome of a request in");
        return;
    }
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

void SignInSession::waitForRequests() {
    worker_->sync([] {});
}

}  // namespace tavo::signin
