#pragma once

#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "signin/SignInFlow.h"

class QObject;

namespace tavo {
class ApiClient;
class SerialQueue;
class SessionState;
namespace platform {
class Workspace;
}
}  // namespace tavo

namespace tavo::signin {

// What the pages of one sign-in window share: the client, the session state
// whose window flags the pages set while they are shown, the workspace that
// opens web pages, and the window's worker thread. Requests run on the
// worker, one at a time, so the window never freezes; their outcome is
// applied on the GUI thread, and only while the page that asked still
// exists. The session outlives a window closed during a request: the request
// holds it until it ends.
class SignInSession : public std::enable_shared_from_this<SignInSession> {
public:
    // client and sessionState must outlive every request of the session (the
    // program's live as long as the program).
    SignInSession(ApiClient& client, SessionState& sessionState,
                  std::shared_ptr<platform::Workspace> workspace);
    ~SignInSession();

    SignInSession(const SignInSession&) = delete;
    SignInSession& operator=(const SignInSession&) = delete;

    ApiClient& client() const { return client_; }
    SessionState& sessionState() const { return sessionState_; }
    const std::shared_ptr<platform::Workspace>& workspace() const { return workspace_; }

    // What the first page shows when the flow comes back to it: the e-mail
    // address last sent, and why it came back (taken once). GUI thread.
    const std::string& mailAddress() const { return mailAddress_; }
    void setMailAddress(std::string mailAddress) { mailAddress_ = std::move(mailAddress); }
    void setReturnReason(std::string reason) { returnReason_ = std::move(reason); }
    std::optional<std::string> takeReturnReason() { return std::exchange(returnReason_, {}); }

    // Runs work with a flow on the worker, then apply with its result on the
    // GUI thread if page still exists then.
    template <typename Work, typename Apply>
    void request(QObject* page, Work work, Apply apply);

    // Waits until every request submitted so far has run (not for the
    // outcomes, which need the GUI thread's event loop).
    void waitForRequests();

private:
    void runOnWorker(std::function<void()> work);
    static void runOnGuiThread(std::function<void()> work);

    ApiClient& client_;
    SessionState& sessionState_;
    std::shared_ptr<platform::Workspace> workspace_;
    std::shared_ptr<SerialQueue> worker_;
    std::string mailAddress_;
    std::optional<std::string> returnReason_;
};

template <typename Work, typename Apply>
void SignInSession::request(QObject* page, Work work, Apply apply) {
    QPointer<QObject> guard(page);
    runOnWorker([self = shared_from_this(), guard, work = std::move(work),
                 apply = std::move(apply)]() mutable {
        SignInFlow flow(self->client_);
        auto result = std::make_shared<decltype(work(flow))>(work(flow));
        runOnGuiThread([guard, apply = std::move(apply), result] {
            if (guard)
                apply(std::move(*result));
        });
    });
}

}  // namespace tavo::signin
