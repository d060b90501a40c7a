#pragma once

#include <functional>
#include <memory>
#include <string>

namespace tavo {
class ApiClient;
namespace uninstaller {
class Uninstallation;
}
}  // namespace tavo

namespace tavo::uninstaller {

// What the uninstaller's pages share: the version shown, the administrator
// check, the procedure, and the alert and termination seams (tests record
// them).
struct UninstallContext {
    std::string version;
    std::function<bool()> isAdministrator;
    // The procedure, reporting its progress (0..100) to progress.
    std::function<std::unique_ptr<Uninstallation>(std::function<void(double)> progress)>
        makeUninstallation;
    ApiClient* client = nullptr;
    std::function<void(const std::string& message, const std::string& title)> alert;
    std::function<void(const std::string& message, const std::string& title)> errorAlert;
    std::function<void()> terminate;
    // What the program reports back when it ends: 0 once everything is removed.
    int status = 1;
};

}  // namespace tavo::uninstaller
