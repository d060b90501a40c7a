// The install step of an update (main queue) and the relaunch of the new
// version (a global queue). Every changing command in the application root
// goes through the one privileged helper session of the run, and each is
// judged by the file system afterwards.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "foundation/Clock.h"
#include "foundation/ConcurrentQueue.h"
#include "foundation/Config.h"
#include "foundation/ConfigKeys.h"
#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "foundation/Format.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "foundation/NotificationCenter.h"
#include "foundation/NotificationUtil.h"
#include "platform/Authorization.h"
#include "platform/Layout.h"
#include "platform/Workspace.h"
#include "service/ResultCodes.h"
#include "update/ProgramController.h"
#include "update/ProgramControllerRun.h"
#include "update/UpdateNotifications.h"

namespace fs = std::filesystem;

namespace tavo {

namespace {

constexpr const char* kMv = "/bin/mv";
constexpr const char* kChown = "/bin/chown";
constexpr const char* kUnlink = "/bin/unlink";
constexpr const char* kLn = "/bin/ln";
constexpr const char* kRm = "/bin/rm";

// Whether something is at path, a dangling link included.
bool present(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

void pause(double s) {
    Clock::current().sleepFor(seconds(s));
}

void cleanExtracted(const std::string& extracted, const std::string& name) {
    std::error_code ec;
    fs::remove_all(extracted, ec);
    ILog("Cleaning temporary: file: %@: Description: [%@]", name,
         ec ? ec.message() : std::string("unknown"));
}

bool isStaleArchive(const std::string& name) {
    return name.starts_with(kClientAppVersionPrefix) &&
           (name.ends_with(".zip") || name.ends_with(".zip.sig"));
}

}  // namespace

void ProgramController::performInstall(const std::shared_ptr<Run>& run) {
    ILog("Acquire authorization to update version: %@", run->version);
    platform::AuthorizationResult authorization =
        platform::Authorization::defaultAuthorization()->authorizeHelper(helperPath());
    std::unique_ptr<platform::PrivilegedSession>& session = authorization.session;
    std::string& error = run->errorMessage;
    using Status = platform::AuthorizationResult::Status;
    if (authorization.status == Status::NotCreated)
        error = format("authorization create with error.(%d)", authorization.code);
    else if (authorization.status == Status::Refused)
        error = format("authorization copy right with error.(%d)", authorization.code);

    const std::string name = Const::applicationDirectoryNameWithVersion(run->version);
    const std::string dir =
        withoutTrailingSlash(Const::applicationDirectoryPathWithVersion(run->version));
    const std::string root = Const::appBaseDir();
    const std::string link = root + "/" + kClientAppName;
    const std::string extracted = run->temporaryDirectory + name + "/";
    bool installed = false;  // this run put dir in place

    if (!error.empty()) {
        cleanExtracted(extracted, name);
    } else if (present(dir)) {
        // A folder of that version is there already: moving onto it would
        // fail, and rolling back would remove what was there.
        error = format("cmd:mv %@ to application folder with error.(%d)", name, -1);
        cleanExtracted(extracted, name);
    } else {
        ILog("Installing updater to %@", dir + "/");
        const int status = session->run(kMv, {"-f", extracted, root});
        pause(1);
        if (!FileUtil::isDirectory(dir)) {
            error = format("cmd:mv %@ to application folder with error.(%d)", name, status);
            cleanExtracted(extracted, name);
        } else {
            installed = true;
        }
    }
    if (error.empty()) {
        TAVO_DLOG("change mode: %@", dir);
        session->run(kChown, {"-R", platform::Layout::current().applicationOwner, dir});
    }
    if (error.empty()) {
        TAVO_DLOG("updating: removing link: %@", link);
        const int status = session->run(kUnlink, {link});
        pause(0.5);
        if (present(link))
            error = format("cmd:unlink link with error.(%d)", status);
    }
    if (error.empty()) {
        TAVO_DLOG("updating: create link: %@", link);
        const int status = session->run(kLn, {"-s", dir, link});
        pause(0.5);
        if (!present(link))
            error = format("cmd:ln link with error.(%d)", status);
    }
    if (error.empty()) {
        ILog("Cleaning some extra generations.");
        const auto config = Config::userConfig();
        const auto* specified =
            config ? plistGet<std::string>(*config, kConfigSpecifiedVersion) : nullptr;
        const std::vector<std::string> kept = {
            Const::applicationDirectoryNameWithVersion(run->currentVersion),
            Const::applicationDirectoryNameWithVersion(specified ? *specified : std::string()),
            name};
        for (const auto& entry : Const::applicationDirectoryPrefixEnumerate()) {
            if (std::find(kept.begin(), kept.end(), entry) != kept.end()) {
                TAVO_DLOG("excepted: %@", entry);
                continue;
            }
            const std::string path = root + "/" + entry;
            const int status = session->run(kRm, {"-Rf", path});
            pause(1);
            if (!present(path))
                ILog("Removed: %@", path);
            else
                error = format("cmd:rm %@ with error.(%d)", entry, status);
        }
    }
    if (!error.empty()) {
        ILog("Failed to perfrom authorized command show message: %@", error);
        if (session && installed) {
            const int status = session->run(kRm, {"-Rf", dir});
            if (present(dir)) {
                error = format("cmd:rm %@ with error.(%d)", dir, status);
                ILog("Failed to perform authorized command show message: %@", error);
            }
        }
        session.reset();
        run->success = false;
        ELog("code=%@, message=%@", kMsgE2009, kMsgE2009Text);
        NotificationUtil::deliverNotificationWithSubtile(localized("Could not update"));
        NotificationCenter::defaultCenter().post(kPCNotificationKeyUpdateProgress,
                                                 {{kPCUserInfoKeyCopyErrorOccurred, true}});
        ILog("End update process");
        return;
    }
    session.reset();
    Config::updateUserConfig([&run](PlistDict& config) {
        config[kConfigGenerationCurrentVersion] = run->version;
        config[kConfigGenerationPreviousVersion] = run->currentVersion;
    });
    const std::string archiveFolder = FileUtil::parentPath(run->archivePath);
    std::error_code ec;
    for (fs::directory_iterator it(archiveFolder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string item = it->path().filename().string();
        TAVO_DLOG("enumerating item: %@", item);
        if (!isStaleArchive(item))
            continue;
        TAVO_DLOG("removing item: %@", item);
        std::error_code removal;
        fs::remove(it->path(), removal);
        if (removal)
            ILog("Failed to clean temporary: file: %@: Description: [%@]", item, removal.message());
        else
            ILog("Cleaned temporary: %@", item);
    }
    std::weak_ptr<ProgramController> weak = weak_from_this();
    globalQueue().async([weak, run] {
        if (auto self = weak.lock())
            self->relaunch(run);
    });
}

void ProgramController::relaunch(const std::shared_ptr<Run>& run) {
    TAVO_DLOG("the specific version saved to config: %@", run->version);
    Config::updateUserConfig(
        [&run](PlistDict& config) { config[kConfigSpecifiedVersion] = run->version; });
    const std::string bundle = Const::applicationDirectoryPathWithVersion(run->version) +
                               kClientAppName + "." + kAppFileType;
    ILog("Executing updated module: %@", bundle);
    if (!platform::Workspace::sharedWorkspace()->launchApplication(bundle, {kAppArgUpdated})) {
        ILog("Failed to Execute updated module: Description: [%@]",
             "the program could not be started");
        run->success = false;
        return;
    }
    ILog("Update successfully and terminating Ver-%@", run->currentVersion);
    terminateProgram();
}

}  // namespace tavo
