#include "uninstaller/Uninstallation.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "fontid/FontIdReader.h"
#include "foundation/Clock.h"
#include "foundation/Config.h"
#include "foundation/ConfigKeys.h"
#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "foundation/Log.h"
#include "foundation/PlistValue.h"
#include "platform/FontManager.h"
#include "platform/SystemInfo.h"
#include "service/ApiClient.h"
#include "service/LoginApi.h"
#include "uninstaller/RunningTavo.h"

namespace fs = std::filesystem;

namespace tavo::uninstaller {

namespace {

using namespace std::chrono_literals;

bool isRegularFile(const std::string& path) {
    std::error_code error;
    return fs::is_regular_file(fs::symlink_status(path, error));
}

// Where the update helper's polkit action file is installed.
std::string polkitActionFile(const platform::Layout& layout) {
    return layout.polkitActions.empty()
               ? std::string()
               : FileUtil::joinPath(layout.polkitActions, Uninstallation::kPolkitActionFileName);
}

RemovalPolicy policyFor(const platform::Layout& layout) {
    return RemovalPolicy(
        {layout.applicationRoot, layout.usersHomes, layout.machineFonts, layout.systemFonts},
        {layout.autostartEntry, polkitActionFile(layout)});
}

}  // namespace

Uninstallation::Uninstallation(UninstallSetup setup)
    : setup_(std::move(setup)), policy_(policyFor(setup_.layout)) {
    if (!setup_.runningApplications)
        setup_.runningApplications = RunningTavo::processIds;
}

std::string Uninstallation::ownVersionDirectory() const {
    return FileUtil::joinPath(setup_.layout.applicationRoot,
                              std::string(kClientAppVersionPrefix) + setup_.version) +
           "/";
}

bool Uninstallation::isInstalled() const {
    const std::string own = ownVersionDirectory();
    const std::string uninstaller = format("%@%@.%@", own, kUninstallerName, kAppFileType);
    const std::string application = format("%@%@.%@", own, kClientAppName, kAppFileType);
    ILog("Check that application has installed: %@:%d:", uninstaller,
         FileUtil::exists(uninstaller) ? 1 : 0);
    if (!FileUtil::exists(uninstaller) && !FileUtil::exists(application))
        return false;
    ILog("Detected installed application: %@:%d:", own, 1);
    return true;
}

bool Uninstallation::fail(const std::string& message) {
    failure_ = message;
    ELog("code=%@, message=%@", kFailureCode, message);
    report("failed: " + message);
    return false;
}

void Uninstallation::advance(double by) {
    progress_ += by;
    if (setup_.progress)
        setup_.progress(progress_);
}

void Uninstallation::report(const std::string& line) {
    if (setup_.step)
        setup_.step(line);
}

std::string Uninstallation::userHome(const std::string& user) const {
    return FileUtil::joinPath(setup_.layout.usersHomes, user);
}

std::vector<std::string> Uninstallation::userHomes() const {
    std::vector<std::string> homes;
    for (const auto& name : FileUtil::folderEntries(setup_.layout.usersHomes))
        if (fs::is_directory(fs::symlink_status(userHome(name))))
            homes.push_back(userHome(name));
    return homes;
}

std::vector<std::string> Uninstallation::fontFolders() const {
    std::vector<std::string> folders;
    const auto& layout = setup_.layout;
    for (const auto& home : userHomes()) {
        folders.push_back(FileUtil::joinPath(home, layout.userFonts));
        if (layout.userFontLinks.empty())
            continue;
        // The links of the active fonts sit one level down, in shard folders.
        const std::string links = FileUtil::joinPath(home, layout.userFontLinks);
        for (const auto& shard : FileUtil::folderEntries(links))
            if (fs::is_directory(fs::symlink_status(FileUtil::joinPath(links, shard))))
                folders.push_back(FileUtil::joinPath(links, shard));
    }
    folders.push_back(layout.systemFonts);
    folders.push_back(layout.machineFonts);
    return folders;
}

std::vector<std::string> Uninstallation::serviceFonts() const {
    std::vector<std::string> found;
    for (const auto& folder : fontFolders()) {
        for (const auto& name : FileUtil::folderEntries(folder)) {
            const std::string path = FileUtil::joinPath(folder, name);
            if (!isRegularFile(path) || !fontid::FontIdReader::read(path))
                continue;
            ILog("Detected font should be removed: %@", path);
            found.push_back(path);
        }
    }
    return found;
}

bool Uninstallation::startUninstall(ApiClient& client) {
    ILog("Start Uninstall process");
    report("Signing out at the service");
    signOut(client);
    report("Stopping the running application");
    if (!stopApplications())
        return false;
    ILog("Disable auto-launcher");
    report("Removing fonts of the service");
    if (!removeFonts())
        return false;
    report("Removing the configurations");
    if (!removeConfigurations())
        return false;
    ILog("Removing launch agent");
    report("Removing the autostart entry");
    if (!removeFile(setup_.layout.autostartEntry, "uninstallation failure: launch agent:%@"))
        return false;
    if (!setup_.layout.polkitActions.empty()) {
        report("Removing the update helper's polkit action");
        if (!removeFile(polkitActionFile(setup_.layout),
                        "uninstallation failure: polkit action: %@"))
            return false;
    }
    ILog("Removing link to applications");
    report("Removing the link to the application");
    if (!removeFile(FileUtil::joinPath(setup_.layout.applicationRoot, kClientAppName),
                    "uninstallation failure: symlink: %@"))
        return false;
    report("Removing the other versions");
    if (!removeOtherVersions())
        return false;
    report("Removing the logs");
    if (!removeLogs())
        return false;
    advance(step_);
    report("Removing the own version folder");
    const bool removed = removeOwnModules();
    ILog("End Uninstall process (%d)", removed ? 0 : 1);
    return removed;
}

void Uninstallation::signOut(ApiClient& client) {
    const auto path = Const::applicationConfigPlistPath(setup_.currentUser);
    const auto config = path ? PlistValue::readFile(*path) : std::nullopt;
    const auto* dict = config ? config->get<PlistDict>() : nullptr;
    const auto deviceId = dict ? Config::decryptedValue(*dict, kConfigDeviceId) : std::nullopt;
    const auto refresh = dict ? Config::decryptedValue(*dict, kConfigRefreshTokens) : std::nullopt;
    if (!deviceId || deviceId->empty() || !refresh || refresh->empty())
        return;
    const auto started = Clock::current().steadyNow();
    client.setApiEndpoint(Config::deliveServerName());
    client.timeoutIntervalForRequest = setup_.signOutBudgetSeconds;
    const std::string swVers = platform::SystemInfo::osVersionText();
    ILog("sw_vers information below:\n%@", swVers);
    client.setUserAgent(Const::userAgent(swVers));
    ILog("Using User Agent=[%@]", client.userAgent());
    ILog("Do logout");
    client.setDeviceId(*deviceId);
    DLog("using server: %@", client.apiEndpoint());
    DLog("loading deviceId = [%@]", *deviceId);
    LoginApi api(client);
    std::optional<Error> error;
    const auto token = api.tokenWithRefreshToken(*refresh, &error);
    if (token.resultCode() == 0 && token.data && token.data->accessToken)
        client.setAccessToken(token.data->accessToken);
    // Both calls together stay within one request time-out.
    const double spent =
        std::chrono::duration<double>(Clock::current().steadyNow() - started).count();
    const double left = setup_.signOutBudgetSeconds - spent;
    if (left <= 0 || !client.deviceId())
        return;
    client.timeoutIntervalForRequest = left;
    DLog("logouting: accessToken = [%@]", client.accessToken().value_or(""));
    api.logoutWithError(&error);
}

bool Uninstallation::stopApplications() {
    ILog("Terminating desktop application");
    if (!RunningTavo::stop(setup_.runningApplications,
                           [] { ILog("Force terminating desktop application"); }))
        return fail("uninstallation failure: exit application");
    return true;
}

bool Uninstallation::removeFonts() {
    ILog("Searching all oskavelle fonts");
    const auto fonts = serviceFonts();
    // In floating point: with no font the step is unbounded and the last
    // advance fills the bar.
    step_ = 100.0 / static_cast<double>(fonts.size());
    ILog("Uninstalling all oskavelle fonts");
    const auto manager =
        setup_.fontManager ? setup_.fontManager : platform::FontManager::defaultManager();
    for (const auto& path : fonts) {
        manager->unregisterFonts({path}, platform::FontManagerScope::Persistent, nullptr);
        if (!policy_.remove(path))
            return fail(format("uninstallation failure: removing font %@", path));
        ILog("Uninstaller removed font: %@", path);
        advance(step_);
    }
    return true;
}

bool Uninstallation::removeConfigurations() {
    ILog("Removing all configurations");
    std::error_code error;
    if (!fs::is_directory(setup_.layout.usersHomes, error))
        return fail("uninstallation failure: get users");
    for (const auto& home : userHomes()) {
        const std::string folder = FileUtil::joinPath(home, setup_.layout.userArea);
        DLog("enumurating user: %@: path: %@", home, folder);
        if (!FileUtil::exists(folder))
            continue;
        if (!policy_.remove(folder) || FileUtil::exists(folder))
            return fail(format("uninstallation failure: removing configuration: %@", folder));
        ILog("Uninstaller removed config: %@", folder);
    }
    return true;
}

bool Uninstallation::removeFile(const std::string& path, const char* failure) {
    if (!policy_.remove(path) || FileUtil::exists(path))
        return fail(format(failure, path));
    ILog("Uninstaller removed file: %@", path);
    return true;
}

bool Uninstallation::removeOtherVersions() {
    ILog("Removing update generations ");
    const std::string ownName = std::string(kClientAppVersionPrefix) + setup_.version;
    ILog("Except directory to remove: %@", setup_.bundleFolder);
    ILog("Except directory although to remove: %@",
         FileUtil::joinPath(setup_.layout.applicationRoot, ownName));
    const auto running = fs::path(setup_.bundleFolder).lexically_normal();
    for (const auto& name : FileUtil::folderEntries(setup_.layout.applicationRoot)) {
        if (!name.starts_with(kClientAppVersionPrefix) || name == ownName)
            continue;
        const std::string path = FileUtil::joinPath(setup_.layout.applicationRoot, name);
        if (fs::path(path).lexically_normal() == running ||
            fs::path(path + "/").lexically_normal() == running)
            continue;
        if (!policy_.remove(path) || FileUtil::exists(path))
            return fail(format("uninstallation failure: updater: %@", path));
        ILog("Uninstaller removed updater: %@", path);
    }
    return true;
}

bool Uninstallation::removeLogs() {
    const std::string logs =
        FileUtil::joinPath(userHome(setup_.currentUser), setup_.layout.userLogs);
    const std::pair<const char*, const char*> files[] = {
        {kClientAppName, "uninstallation failure: application log: %@"},
        {kInstallerName, "uninstallation failure: installer log: %@"}};
    for (const auto& [program, failure] : files) {
        const std::string path = FileUtil::joinPath(logs, format("%@.%@", program, kLogFileType));
        if (!removeFile(path, failure))
            return false;
    }
    return true;
}

bool Uninstallation::removeOwnModules() {
    const std::string own = ownVersionDirectory();
    DLog("delete own application modules: %@", own);
    if (policy_.remove(own) && !FileUtil::exists(own)) {
        ILog("Uninstaller removed application modules: %@", own);
        return true;
    }
    ownModulesRemained_ = true;
    return fail(format("uninstallation failure: removing application modules: %@", own));
}

}  // namespace tavo::uninstaller
