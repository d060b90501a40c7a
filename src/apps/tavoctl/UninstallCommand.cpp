#include "UninstallCommand.h"

#include <filesystem>

#include "foundation/AccountPrivilege.h"
#include "foundation/Const.h"
#include "foundation/Log.h"
#include "platform/Bundle.h"
#include "platform/Layout.h"
#include "platform/linux/PrivilegedRestart.h"
#include "service/ApiClient.h"
#include "uninstaller/Uninstallation.h"

namespace tavo::ctl {

int runUninstallCommand(const std::vector<std::string>& args, std::ostream& out,
                        std::ostream& err) {
    std::string version = Const::getCurrentAppVersion();
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--version" && i + 1 < args.size()) {
            version = args[++i];
        } else {
            err << "usage: tavoctl uninstall [--version VERSION]\n";
            return 2;
        }
    }
    const std::string user = platform::PrivilegedRestart::currentUser();
    if (!AccountPrivilege::isMenberAdminGroup(user)) {
        ELog("code=%@, message=%@", "MSG_E3004", "please Uninstall with administrator privileges");
        err << "Please Uninstall with administrator privileges\n";
        return 1;
    }
    // The steps are logged where the uninstaller logs them, not in TAVO's
    // own log, which the procedure removes.
    std::optional<std::string> uninstallerLog;
    if (const auto logs = Const::applicationUserLogDirectoryPath(user)) {
        uninstallerLog = *logs + "/" + kUninstallerName + "." + kLogFileType;
        Log::defaultLog().setLogFilePath(*uninstallerLog, kUninstallerName);
    }
    uninstaller::UninstallSetup setup;
    setup.layout = platform::Layout::current();
    setup.version = version;
    setup.bundleFolder =
        std::filesystem::path(platform::Bundle::mainBundle()->bundlePath()).parent_path().string();
    setup.currentUser = user;
    setup.step = [&out](const std::string& line) { out << line << "\n" << std::flush; };
    uninstaller::Uninstallation uninstallation(std::move(setup));
    if (!uninstallation.isInstalled()) {
        ELog("code=%@, message=%@", "MSG_E3005", "already Uninstalled");
        err << "Already uninstalled\n";
        return 1;
    }
    ApiClient client;
    if (!uninstallation.startUninstall(client)) {
        err << "Uninstallation couldn't be completed: " << uninstallation.failureMessage() << "\n";
        return 1;
    }
    // Last, the uninstaller's own log: nothing of TAVO stays behind.
    Log::defaultLog().flush();
    Log::defaultLog().setLogFilePath("", "");
    if (uninstallerLog) {
        std::error_code error;
        std::filesystem::remove(*uninstallerLog, error);
    }
    out << "Uninstall complete\n";
    return 0;
}

}  // namespace tavo::ctl
