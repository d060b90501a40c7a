#include "update/ProgramController.h"

#include "foundation/Log.h"

namespace tavo {

std::shared_ptr<ProgramController> ProgramController::sharedInstance() {
    // Created once, on first use, and kept for the whole process.
    static auto* instance =
        new std::shared_ptr<ProgramController>(std::make_shared<ProgramController>(
            ApiClient::defaultApiClient(), SessionState::sharedInstance()));
    return *instance;
}

ProgramController::ProgramController(ApiClient& apiClient, SessionState& sessionState)
    : apiClient_(apiClient),
      sessionState_(sessionState),
      notifications_(std::make_shared<NotificationConnection>(apiClient, sessionState)) {}

ProgramController::~ProgramController() = default;

void ProgramController::finish() {
    TAVO_DLOG("start");
    // The update side stops its download timer here as well.
    terminateSSERetryTimer();
    disconnectNotifications();
    TAVO_DLOG("end");
}

}  // namespace tavo
