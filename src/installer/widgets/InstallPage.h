#pragma once

#include <memory>
#include <utility>

#include "installer/widgets/InstallContext.h"
#include "platform/qt/widgets/ProgramPage.h"

namespace tavo::installer {

// A page of the installer: the shared frame and the installer's context.
class InstallPage : public widgets::ProgramPage {
public:
    static constexpr const char* kWindowTitle = "Install of TAVO desktop application";

    InstallPage(std::shared_ptr<InstallContext> context, QWidget* parent = nullptr)
        : ProgramPage(context->version, kWindowTitle, parent), context_(std::move(context)) {}

protected:
    std::shared_ptr<InstallContext> context_;
};

}  // namespace tavo::installer
