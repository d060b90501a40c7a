#include "InstallCommand.h"

#include <chrono>
#include <filesystem>

#include "foundation/AccountPrivilege.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "installer/Installation.h"
#include "installer/LibraryCheck.h"
#include "platform/Bundle.h"
#include "platform/Layout.h"
#include "platform/linux/PrivilegedRestart.h"
#include "update/UpdateVersion.h"

namespace tavo::ctl {

namespace {

using installer::Installation;
using namespace std::chrono_literals;

int usage(std::ostream& err) {
    err << "usage: tavoctl install [--no-launch] <TAVO-Installer.app>\n";
    return 2;
}

}  // namespace

int runInstallCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    bool launch = true;
    std::string bundlePath;
    for (const auto& arg : args) {
        if (arg == "--no-launch")
            launch = false;
        else if (bundlePath.empty() && !arg.starts_with("-"))
            bundlePath = arg;
        else
            return usage(err);
    }
    if (bundlePath.empty())
        return usage(err);
    const std::string user = platform::PrivilegedRestart::currentUser();
    if (!AccountPrivilege::isMenberAdminGroup(user)) {
        ELog("code=%@, message=%@", "MSG_E3002", "please install with administrator privileges");
        err << "Please install with administrator privileges\n";
        return 1;
    }
    std::error_code error;
    const std::string bundle = std::filesystem::absolute(bundlePath, error).lexically_normal();
    const std::string version = platform::Bundle(bundle).shortVersion();
    if (!UpdateVersion::isPlain(version)) {
        err << "Not an installer bundle: " << bundlePath << "\n";
        return 2;
    }
    const auto libraries =
        installer::LibraryCheck::check(installer::LibraryCheck::bundledExecutables(bundle));
    if (!libraries.complete()) {
        err << "Libraries that TAVO needs are missing:";
        for (const auto& soname : libraries.missing)
            err << " " << soname;
        err << "\n" << libraries.installLine() << "\n";
        return 1;
    }
    installer::InstallSetup setup;
    setup.layout = platform::Layout::current();
    setup.installerBundle = bundle;
    setup.version = version;
    setup.currentUser = user;
    setup.step = [&out](const std::string& line) { out << line << "\n" << std::flush; };
    const auto installation = Installation::create(std::move(setup));
    out << (installation->checkInstalled() ? "Overwriting the installation with TAVO "
                                           : "Installing TAVO ")
        << version << "\n";
    std::optional<Installation::Outcome> outcome;
    installation->start([&outcome](Installation::Outcome end) { outcome = end; });
    MainQueue::main().runUntil([&outcome] { return outcome.has_value(); }, 10min);
    if (outcome != Installation::Outcome::Completed) {
        err << "Installation couldn't be completed: "
            << (outcome ? installation->failureMessage() : std::string("it did not end")) << "\n";
        return 1;
    }
    out << "Install complete\n";
    if (launch && !installation->launchApplication()) {
        err << "TAVO could not be started now; it starts at the next log-in\n";
        return 0;
    }
    return 0;
}

}  // namespace tavo::ctl
