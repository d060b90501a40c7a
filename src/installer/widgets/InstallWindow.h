#pragma once

#include <memory>

#include "installer/widgets/InstallContext.h"
#include "platform/qt/widgets/FlowWindow.h"

namespace tavo::installer {

// The installer's one window: the start page, the installation page
// ("toInstallation"), then the completion page ("toInstallComplete") and
// the tutorial ("toTutorial"), or the failure page ("toInstallFailure").
class InstallWindow : public widgets::FlowWindow {
    Q_OBJECT

public:
    static constexpr const char* kStartPage = "installstart";

    explicit InstallWindow(std::shared_ptr<InstallContext> context, QWidget* parent = nullptr);
};

}  // namespace tavo::installer
