#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "fonts/FontSyncGate.h"

namespace tavo {

class ApiClient;
class FontManagementController;
class ProgramController;
class SessionState;

// The account state of the resident application: the identity and tokens
// loaded into the client at start-up, the access token and its retries, the
// first online or offline processing, the start of a synchronization, and
// the ordinary and the forced logout. Always owned through a shared_ptr:
// queued and delayed work holds it weakly.
class AccountState : public std::enable_shared_from_this<AccountState> {
public:
    // What the account state changes elsewhere.
    struct Links {
        // The status item: its button, the signed-out face, the animation.
        std::function<void(bool enabled)> setStatusItemEnabled;
        std::function<void()> showSignedOut;
        std::function<void()> resetIconAnimation;
        // The periodic checks the first processing starts.
        std::function<void()> updateHalfHourTimer;
        std::function<void()> updateTwentyFourHourTimer;
    };

    AccountState(ApiClient& client, SessionState& sessionState,
                 std::shared_ptr<FontManagementController> fontController,
                 std::shared_ptr<ProgramController> programController);
    AccountState(const AccountState&) = delete;
    AccountState& operator=(const AccountState&) = delete;

    void setLinks(Links links) { links_ = std::move(links); }

    // The first online processing (or, offline, the first offline one).
    void applicationDidFinishLaunchingOrOnlineFirstDetection();
    // Loads the stored identity and tokens into the client, asks for an
    // access token and opens the event stream when online. Blocking.
    void setApiClient(const std::string& apiServerAddress, const std::string& sseServerAddress);
    // Asks for an access token up to attempts times, a pause before each.
    // Blocking.
    void getAccessToken(int attempts);
    void performLogout(bool forced);
    void forcedLogout();

    // Starts a full synchronization on the serial queue unless one is
    // queued or running; the log lines name the occasion.
    bool startSynchronization(const char* skipLine, const char* startLine, const char* runLine);

private:
    void runSynchronization(FontSyncGate::Hold hold);

    ApiClient& client_;
    SessionState& sessionState_;
    std::shared_ptr<FontManagementController> fontController_;
    std::shared_ptr<ProgramController> programController_;  // none: no stream or update side
    Links links_;
    std::atomic<bool> loggingOut_{false};
};

}  // namespace tavo
