// The update side of the controller, first half: which version runs, the
// check for the next version and its download, and the decisions whether an
// optional update is on offer or a forced one must be shown.
#include "foundation/AccountPrivilege.h"
#include "foundation/Config.h"
#include "foundation/ConfigKeys.h"
#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "foundation/Format.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "platform/SystemInfo.h"
#include "platform/Workspace.h"
#include "service/ClientAppsApi.h"
#include "service/HttpTransport.h"
#include "service/OVError.h"
#include "service/ResultCodes.h"
#include "update/ProgramController.h"
#include "update/UpdateDownloadDelegate.h"
#include "update/UpdateSignature.h"
#include "update/UpdateVersion.h"

namespace tavo {

namespace {

std::optional<std::string> configText(const PlistDict& config, const char* key) {
    if (const auto* text = plistGet<std::string>(config, key))
        return *text;
    return std::nullopt;
}

bool configFlag(const PlistDict& config, const char* key) {
    const auto* flag = plistGet<bool>(config, key);
    return flag && *flag;
}

std::string bundlePathOf(const std::string& version) {
    return Const::applicationDirectoryPathWithVersion(version) + kClientAppName + "." +
           kAppFileType;
}

std::string lastComponent(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    const auto slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

// What the update state reads from the user configuration.
struct UpdateState {
    std::optional<std::string> updateVersion;
    bool forced = false;
};

UpdateState readUpdateState() {
    UpdateState state;
    if (const auto config = Config::userConfig()) {
        state.updateVersion = configText(*config, kConfigUpdateVersion);
        state.forced = configFlag(*config, kConfigForcedUpdate);
    }
    return state;
}

}  // namespace

// ---- the version to run

void ProgramController::startSpecifiedVersionOnLine() {
    ClientAppsApi api(apiClient_);
    std::optional<Error> error;
    const ClientAppsBase answer = api.getClientAppsVersionWithError(&error);
    if (!OVError::checkApiError(error, answer.code, answer.message)) {
        TAVO_DLOG("end with error");
        return;
    }
    std::optional<std::string> version = answer.data ? answer.data->version : std::nullopt;
    if (version && !UpdateVersion::isPlain(*version)) {
        ELog("Refusing the specified version [%@]: it is no plain version name", *version);
        return;
    }
    Config::updateUserConfig(
        [&version](PlistDict& config) { config[kConfigSpecifiedVersion] = version.value_or(""); });
    TAVO_DLOG("the specific version was set and saved to config: [%@]", version.value_or(""));
    startSpecifiedVersion(version);
}

void ProgramController::startSpecifiedVersionOffLine() {
    const auto config = Config::userConfig();
    startSpecifiedVersion(config ? configText(*config, kConfigSpecifiedVersion) : std::nullopt);
}

void ProgramController::startSpecifiedVersion(const std::optional<std::string>& version) {
    ILog("Specified start version: [%@]", version.value_or("(none)"));
    if (!version || version->empty()) {
        TAVO_DLOG("end without start version");
        return;
    }
    if (!UpdateVersion::isPlain(*version)) {
        ELog("Refusing to start version [%@]: it is no plain version name", *version);
        return;
    }
    const std::string bundle = bundlePathOf(*version);
    if (!FileUtil::exists(bundle)) {
        TAVO_DLOG("end without exist version: %@", bundle);
        return;
    }
    if (Const::getCurrentAppVersion() == *version)
        return;
    ILog("Restarting specfied version: %@", bundle);
    platform::Workspace::sharedWorkspace()->launchApplication(bundle, {""});
    // Termination follows whether or not the launch worked.
    terminateProgram();
}

// ---- the next version

bool ProgramController::nextVersionDownloadInBackground() {
    ILog("Start Download next version");
    {
        std::lock_guard lock(updateMutex_);
        clientAppsVersion_.clear();
    }
    bool result = false;
    ClientAppsApi api(apiClient_);
    std::optional<Error> error;
    const ClientAppsBase answer = api.getClientAppsUpdateInfoWithError(&error);
    if (OVError::checkApiError(error, answer.code, answer.message)) {
        const std::optional<ClientApps>& info = answer.data;
        const std::optional<std::string> version = info ? info->version : std::nullopt;
        const std::optional<std::string> url = info ? info->url : std::nullopt;
        const bool forced = info && info->isForcedUpdate.value_or(false);
        bool wanted = version.has_value();
        ILog("Server notified %@version: %@: URL: %@", forced ? "forced " : "",
             version.value_or("(empty)"), url.value_or("(empty)"));
        if (version && !UpdateVersion::isPlain(*version)) {
            ELog("Refusing the offered version [%@]: it is no plain version name", *version);
            ILog("End Download next version");
            return false;
        }
        const std::string archive = getTemporaryUpdaterPath(version.value_or(""));
        TAVO_DLOG("temporary download path: %@", archive);
        if (FileUtil::exists(archive)) {
            wanted = false;
            ILog("Already downloaded updater: %@", archive);
        }
        const std::string bundle = bundlePathOf(version.value_or(""));
        TAVO_DLOG("downloadable updater path: %@", bundle);
        if (FileUtil::exists(bundle)) {
            ILog("Already updated: %@", lastComponent(bundle));
            wanted = false;
        }
        if (version && Const::getCurrentAppVersion() == *version) {
            ILog("The same version is performing: %@", *version);
        } else if (wanted && isUpdaterDownloading_) {
            ILog("A download of the updater is already running");
        } else if (wanted) {
            result = startUpdaterDownload(*version, url.value_or(""), forced);
        }
    }
    ILog("End Download next version");
    return result;
}

bool ProgramController::startUpdaterDownload(const std::string& version, const std::string& url,
                                             bool forced) {
    // The signature comes first: an archive that cannot be checked is not
    // worth downloading, and is never offered.
    HttpRequest request;
    request.url = UpdateSignature::signatureURL(url);
    request.timeoutInterval = 30;
    const Response signature = HttpTransport::perform(request);
    const long status = signature.httpUrlResponse ? signature.httpUrlResponse->statusCode : 0;
    if (url.empty() || status != 200 || !signature.body) {
        ELog("code=%@, message=%@: file: %@: Description: [%@]", kMsgE2010, kMsgE2010Text,
             request.url, signature.error ? signature.error->text() : format("status %ld", status));
        return false;
    }
    {
        std::lock_guard lock(updateMutex_);
        clientAppsVersion_ = version;
    }
    clientAppsForcedUpdate_ = forced;
    ILog("Downloading version: %@: URL: %@", version, url);
    isUpdaterDownloading_ = true;
    auto delegate =
        std::make_shared<UpdateDownloadDelegate>(weak_from_this(), version, *signature.body);
    apiClient_.asyncDownloadWithURL(url, delegate);
    return true;
}

std::string ProgramController::getTemporaryUpdaterPath(const std::string& version) const {
    return Const::applicationUpdateFilePathWithVersion(version).value_or("");
}

void ProgramController::saveVersionUserConfig(const std::string& version) {
    const bool forced = clientAppsForcedUpdate_;
    Config::updateUserConfig([&](PlistDict& config) {
        config[kConfigUpdateVersion] = version;
        config[kConfigForcedUpdate] = forced;
    });
    TAVO_DLOG("the update version has been saved to config: %@", version);
    TAVO_DLOG("the forced flag has been saved to config: %@", forced ? "true" : "false");
}

std::string ProgramController::clientAppsVersion() const {
    std::lock_guard lock(updateMutex_);
    return clientAppsVersion_;
}

// ---- what is on offer

bool ProgramController::isAvailableOptionalUpdate() const {
    const UpdateState state = readUpdateState();
    const std::string current = Const::getCurrentAppVersion();
    ILog("Checking version updatable: %@: current: %@%@", state.updateVersion.value_or("(none)"),
         current, state.forced ? "(forced)" : "");
    if (!state.updateVersion || state.updateVersion->empty()) {
        ILog("No update version specified.");
        return false;
    }
    if (*state.updateVersion == current) {
        ILog("The same update version specified.: %@", *state.updateVersion);
        return false;
    }
    if (!UpdateVersion::isPlain(*state.updateVersion) ||
        !FileUtil::exists(getTemporaryUpdaterPath(*state.updateVersion))) {
        ILog("No updater downloaded.: %@",
             Const::applicationUpdateFileNameWithVersion(*state.updateVersion));
        return false;
    }
    TAVO_DLOG("found module with update%@.", state.forced ? " forced" : "");
    return !state.forced;
}

void ProgramController::showForceUpdateDialog() {
    const UpdateState state = readUpdateState();
    const std::string current = Const::getCurrentAppVersion();
    ILog("Checking version update%@: %@: current: %@", state.forced ? " forced" : "",
         state.updateVersion.value_or("(none)"), current);
    if (!state.forced)
        return;
    if (!state.updateVersion || state.updateVersion->empty()) {
        ILog("No force update version specified.");
        return;
    }
    if (*state.updateVersion == current) {
        ILog("The same force update version specified.: %@", *state.updateVersion);
        return;
    }
    if (!UpdateVersion::isPlain(*state.updateVersion) ||
        !FileUtil::exists(getTemporaryUpdaterPath(*state.updateVersion))) {
        ILog("No force updater downloaded.: %@",
             Const::applicationUpdateFileNameWithVersion(*state.updateVersion));
        return;
    }
    TAVO_DLOG("found force module.");
    ILog("Showing Force-Update Dialog for version: %@", *state.updateVersion);
    std::function<void()> present;
    {
        std::lock_guard lock(updateMutex_);
        present = forceUpdatePresenter_;
    }
    if (present)
        present();
    else
        WLog("No window can show the forced update; run: tavoctl update --apply");
}

void ProgramController::confirmationDialogForOptionalUpdate() {
    ILog("Start confirmation to update voluntarily");
    std::shared_ptr<platform::Windows> windows;
    {
        std::lock_guard lock(updateMutex_);
        windows = windows_;
    }
    const int answer =
        windows ? windows->runModalSelect(localized("Start update of TAVO desktop application"),
                                          localized("Start update dialog"), "OK", "Cancel")
                : platform::kDialogResultCode + 1;
    if (answer == platform::kDialogResultCode) {
        if (!checkAccountPrivilege()) {
            ILog("Reject confirmation to update voluntarily");
            return;
        }
        startUpdate();
    }
    ILog("End confirmation to update voluntarily");
}

bool ProgramController::checkAccountPrivilege() {
    const bool admin = AccountPrivilege::isMenberAdminGroup(platform::SystemInfo::loginName());
    if (!admin) {
        ELog("code=%@, message=%@", kMsgE2008, kMsgE2008Text);
        std::shared_ptr<platform::Windows> windows;
        {
            std::lock_guard lock(updateMutex_);
            windows = windows_;
        }
        if (windows)
            windows->runModalAlert(localized("Start the app with administrator privileges"),
                                   localized("Error"));
    }
    ILog("Validation Privilege: %@", admin ? "YES" : "NO");
    return admin;
}

}  // namespace tavo
