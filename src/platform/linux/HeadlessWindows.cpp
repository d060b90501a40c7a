#include "platform/linux/HeadlessWindows.h"

#include "foundation/Log.h"

namespace tavo::platform {

void HeadlessWindows::showSignInWindow() {
    ILog("The sign-in window needs a display; a headless run does not show it");
}

void HeadlessWindows::runModalAlert(const std::string& message, const std::string& title) {
    WLog("Alert (headless): %@: %@", title, message);
}

int HeadlessWindows::runModalConfirm(const std::string& message, const std::string& title) {
    WLog("Question (headless, cancelled): %@: %@", title, message);
    return kDialogResultCode + 1;
}

int HeadlessWindows::runModalSelect(const std::string& message, const std::string& title,
                                    const std::string& primary, const std::string& secondary) {
    WLog("Question (headless, answered %@ instead of %@): %@: %@", secondary, primary, title,
         message);
    return kDialogResultCode + 1;
}

}  // namespace tavo::platform
