// TAVO-Installer: installs TAVO for every user of this machine from the
// bundles it carries. Started by a user, it restarts itself once elevated
// and shows no window; the elevated instance shows the window and writes
// its status back.
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Clock.h"
#include "foundation/Const.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "installer/Installation.h"
#include "installer/LibraryCheck.h"
#include "installer/widgets/InstallWindow.h"
#include "platform/Bundle.h"
#include "platform/Layout.h"
#include "platform/linux/PrivilegedRestart.h"
#include "platform/linux/UserLog.h"
#include "platform/qt/QtMainQueueBackend.h"
#include "platform/qt/widgets/AlertUtil.h"

namespace {

using namespace tavo;
using platform::PrivilegedRestart;

std::shared_ptr<installer::InstallContext> makeContext(const std::string& user,
                                                       bool administrator) {
    const std::string bundle = platform::Bundle::mainBundle()->bundlePath();
    auto context = std::make_shared<installer::InstallContext>();
    context->version = Const::getCurrentAppVersion();
    context->isAdministrator = [administrator] { return administrator; };
    context->checkLibraries = [bundle] {
        return installer::LibraryCheck::check(installer::LibraryCheck::bundledExecutables(bundle));
    };
    context->makeInstallation =
        [bundle, user, version = context->version](installer::InstallCallbacks callbacks) {
            installer::InstallSetup setup;
            setup.layout = platform::Layout::current();
            setup.installerBundle = bundle;
            setup.version = version;
            setup.currentUser = user;
            setup.progress = std::move(callbacks.progress);
            setup.cancelAvailable = std::move(callbacks.cancelAvailable);
            return installer::Installation::create(std::move(setup));
        };
    context->alert = [](const std::string& message, const std::string& title) {
        widgets::AlertUtil::runModalWithMessage(message, title);
    };
    context->terminate = [] { MainQueue::main().quit(); };
    return context;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const bool privileged = PrivilegedRestart::isPrivileged(args);
    const std::string user = PrivilegedRestart::currentUser();
    platform::UserLog::open(user, kInstallerName);
    Log::defaultLog().init();
    primitiveILog("Device Installer module starting by %@%@", user,
                  privileged ? " performed as privileges administrative user" : "");
    const PrivilegedRestart::Start start = PrivilegedRestart::start(
        "Installer", user, privileged,
        "TAVO-Installer needs a display; use \"tavoctl install\" without one.");
    if (start.exitStatus)
        return *start.exitStatus;
    const bool supported = start.supportedOs;
    const bool administrator = start.administrator;

    QApplication app(argc, argv);
    if (!supported) {
        widgets::AlertUtil::runModalWithMessage(
            localized("The OS Version below 10.12 is not applicable"),
            localized("Not applicable OS version"));
        return 0;
    }
    MainQueue::main().setBackend(std::make_shared<platform::QtMainQueueBackend>());
    auto context = makeContext(user, administrator);
    {
        installer::InstallWindow window(context);
        window.show();
        MainQueue::main().run();
        // Closing the window ends the program: a procedure half done is
        // undone first (the backup back in place), never left as it is.
        if (context->installation)
            context->installation->cancelAndWait();
    }
    // A moment for the started application before the installer is gone.
    Clock::current().sleepFor(std::chrono::milliseconds(3500));
    Log::defaultLog().flush();
    if (privileged)
        PrivilegedRestart::writeStatus(context->status);
    return context->status;
}
