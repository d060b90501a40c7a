#pragma once

#include "platform/StatusItem.h"

namespace tavo::platform {

// Windows of a program without a display: what would be shown is logged,
// with the way to do it from a terminal instead.
class HeadlessWindows : public Windows {
public:
    void showSignInWindow() override;
    void runModalAlert(const std::string& message, const std::string& title) override;
    // Nobody can answer: the second button ("Cancel").
    int runModalConfirm(const std::string& message, const std::string& title) override;
    int runModalSelect(const std::string& message, const std::string& title,
                       const std::string& primary, const std::string& secondary) override;
};

}  // namespace tavo::platform
