// TAVO-Uninstaller: removes TAVO from this machine for every user. Started
// by a user, it restarts itself once elevated and shows no window; the
// elevated instance shows the window and writes its status back.
#include <unistd.h>

#include <QApplication>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Const.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "platform/Bundle.h"
#include "platform/Layout.h"
#include "platform/SystemInfo.h"
#include "platform/linux/PrivilegedRestart.h"
#include "platform/linux/UserLog.h"
#include "platform/qt/QtMainQueueBackend.h"
#include "platform/qt/widgets/AlertUtil.h"
#include "service/ApiClient.h"
#include "uninstaller/Uninstallation.h"
#include "uninstaller/widgets/UninstallWindow.h"

using namespace tavo;
using platform::PrivilegedRestart;

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const bool privileged = PrivilegedRestart::isPrivileged(args);
    const std::string user = PrivilegedRestart::currentUser();
    platform::UserLog::open(user, kUninstallerName);
    primitiveILog("Running for user: %@: on the host: %@", user, platform::SystemInfo::hostName());
    Log::defaultLog().init();
    primitiveILog("Uninstaller module starting by %@%@", user,
                  privileged ? " performed as privileges administrative user" : "");
    const PrivilegedRestart::Start start = PrivilegedRestart::start(
        "Uninstaller", user, privileged,
        "TAVO-Uninstaller needs a display; use \"tavoctl uninstall\" without one.");
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
    ApiClient& client = ApiClient::defaultApiClient();
    auto context = std::make_shared<uninstaller::UninstallContext>();
    context->version = Const::getCurrentAppVersion();
    context->isAdministrator = [administrator] { return administrator; };
    context->client = &client;
    const std::string bundleFolder =
        std::filesystem::path(platform::Bundle::mainBundle()->bundlePath()).parent_path().string();
    context->makeUninstallation = [context, bundleFolder,
                                   user](std::function<void(double)> progress) {
        uninstaller::UninstallSetup setup;
        setup.layout = platform::Layout::current();
        setup.version = context->version;
        setup.bundleFolder = bundleFolder;
        setup.currentUser = user;
        setup.progress = std::move(progress);
        return std::make_unique<uninstaller::Uninstallation>(std::move(setup));
    };
    context->alert = [](const std::string& message, const std::string& title) {
        widgets::AlertUtil::runModalWithMessage(message, title);
    };
    context->errorAlert = [](const std::string& message, const std::string& title) {
        widgets::AlertUtil::runModalWithError(message, title);
    };
    context->terminate = [] { MainQueue::main().quit(); };
    {
        uninstaller::UninstallWindow window(context);
        window.show();
        MainQueue::main().run();
    }
    Log::defaultLog().flush();
    if (privileged)
        PrivilegedRestart::writeStatus(context->status);
    return context->status;
}
