// The start of the installed application at the end of an installation.
#include <unistd.h>

#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "foundation/Format.h"
#include "foundation/Log.h"
#include "installer/Installation.h"
#include "platform/linux/PrivilegedRestart.h"
#include "platform/linux/ProcWorkspace.h"
#include "uninstaller/RunningTavo.h"

namespace tavo::installer {

namespace {

// TAVO runs as the desktop user, never as root: started by root (the
// elevated installer), it takes on that user and their display; started by
// anyone else (inside a sandbox root, say), it runs as that user with this
// process's environment.
bool launchAsDesktopUser(const std::string& bundle, const std::string& user,
                         const platform::Layout& layout) {
    platform::ProcWorkspace workspace;
    if (::geteuid() != 0 || layout.inSandbox())
        return workspace.launchApplication(bundle, {});
    return workspace.launchApplicationAsUser(bundle, {}, user,
                                             platform::PrivilegedRestart::displayEnvironment());
}

}  // namespace

bool Installation::launchApplication() {
    ILog("Launch desktop application");
    report("Starting TAVO");
    if (!uninstaller::RunningTavo::stop(setup_.runningApplications,
                                        [] { ILog("Force terminating desktop application"); }))
        WLog("A running TAVO did not end; the new one is started beside it");
    // Through the link, as the autostart entry starts it: an update moves
    // the link and the next start follows it.
    const std::string bundle =
        FileUtil::joinPath(linkPath(), format("%@.%@", kClientAppName, kAppFileType));
    if (setup_.launch)
        return setup_.launch(bundle);
    if (::geteuid() == 0 && !setup_.layout.inSandbox() &&
        (setup_.currentUser.empty() || setup_.currentUser == "root")) {
        ILog("No desktop user to start TAVO for: it starts at the next log-in");
        return false;
    }
    return launchAsDesktopUser(bundle, setup_.currentUser, setup_.layout);
}

}  // namespace tavo::installer
