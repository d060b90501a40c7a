// The update side of the controller, as far as the resident application
// reaches it today: the calls are in place, the checks come with the updater.
#include "foundation/Log.h"
#include "update/ProgramController.h"

namespace tavo {

void ProgramController::startSpecifiedVersionOnLine() {
    TAVO_DLOG("start");
    TAVO_DLOG("end");
}

void ProgramController::startSpecifiedVersionOffLine() {
    TAVO_DLOG("start");
    TAVO_DLOG("end");
}

void ProgramController::showForceUpdateDialog() {
    TAVO_DLOG("no forced update is pending");
}

void ProgramController::nextVersionDownloadInBackground() {
    TAVO_DLOG("no next version is due");
}

bool ProgramController::isAvailableOptionalUpdate() const {
    return false;
}

void ProgramController::confirmationDialogForOptionalUpdate() {
    TAVO_DLOG("no optional update is available");
}

}  // namespace tavo
