#pragma once

#include <memory>

#include "platform/qt/widgets/FlowWindow.h"
#include "uninstaller/widgets/UninstallContext.h"

namespace tavo::uninstaller {

// The uninstaller's one window: the start page, then the progress page
// ("toUninstallation") and, when a step fails, the failure page
// ("toUninstallFailure").
class UninstallWindow : public widgets::FlowWindow {
    Q_OBJECT

public:
    static constexpr const char* kStartPage = "uninstallstart";

    explicit UninstallWindow(std::shared_ptr<UninstallContext> context, QWidget* parent = nullptr);
};

}  // namespace tavo::uninstaller
