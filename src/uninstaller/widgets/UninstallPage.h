#pragma once

#include <memory>
#include <utility>

#include "platform/qt/widgets/ProgramPage.h"
#include "uninstaller/widgets/UninstallContext.h"

namespace tavo::uninstaller {

// A page of the uninstaller: the shared frame and the uninstaller's context.
class UninstallPage : public widgets::ProgramPage {
public:
    static constexpr const char* kWindowTitle = "Uninstall of TAVO desktop application";

    UninstallPage(std::shared_ptr<UninstallContext> context, QWidget* parent = nullptr)
        : ProgramPage(context->version, kWindowTitle, parent), context_(std::move(context)) {}

protected:
    std::shared_ptr<UninstallContext> context_;
};

}  // namespace tavo::uninstaller
