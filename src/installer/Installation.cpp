// The installation's flow: the first-install or overwrite decision, the
// preparation, the two background copies, cancellation and the rename with
// clean-up. The finishing steps and the start of the application are in
// files of their own.
#include "installer/Installation.h"

#include <chrono>
#include <filesystem>

#include "foundation/Const.h"
#include "foundation/FileCopyUtil.h"
#include "foundation/FileUtil.h"
#include "foundation/Format.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "platform/Bundle.h"
#include "uninstaller/RunningTavo.h"
#include "uninstaller/Uninstallation.h"

namespace fs = std::filesystem;

namespace tavo::installer {

namespace {

const char* yesNo(bool value) {
    return value ? "YES" : "NO";
}

// The copy's reports, handed on to the installation while it lives.
class CopyDelegate : public FileCopyUtilDelegate {
public:
    explicit CopyDelegate(std::weak_ptr<Installation> installation)
        : installation_(std::move(installation)) {}
    void setCopyProgress(float progress) override {
        if (auto installation = installation_.lock())
            installation->setCopyProgress(progress);
    }
    void didFinishedCopyWithError(const std::optional<Error>& error) override {
        if (auto installation = installation_.lock())
            installation->didFinishedCopyWithError(error);
    }

private:
    std::weak_ptr<Installation> installation_;
};

std::string polkitActionFile(const platform::Layout& layout) {
    return layout.polkitActions.empty()
               ? std::string()
               : FileUtil::joinPath(layout.polkitActions,
                                    uninstaller::Uninstallation::kPolkitActionFileName);
}

}  // namespace

std::shared_ptr<Installation> Installation::create(InstallSetup setup) {
    return std::shared_ptr<Installation>(new Installation(std::move(setup)));
}

Installation::Installation(InstallSetup setup)
    : setup_(std::move(setup)),
      rootPolicy_({setup_.layout.applicationRoot}, {}),
      filePolicy_({setup_.layout.usersHomes},
                  {setup_.layout.autostartEntry, polkitActionFile(setup_.layout)}) {
    if (!setup_.runningApplications)
        setup_.runningApplications = uninstaller::RunningTavo::processIds;
    destDirectoryPath_ = FileUtil::joinPath(setup_.layout.applicationRoot,
                                            std::string(kClientAppVersionPrefix) + setup_.version) +
                         "/";
}

std::string Installation::linkPath() const {
    return format("%@/%@", FileUtil::withoutTrailingSlash(setup_.layout.applicationRoot),
                  kClientAppName);
}

std::string Installation::embeddedApplication() const {
    return FileUtil::joinPath(platform::Bundle(setup_.installerBundle).executableFolderPath(),
                              format("%@.%@", kClientAppName, kAppFileType));
}

std::string Installation::embeddedUninstaller() const {
    return FileUtil::joinPath(platform::Bundle(setup_.installerBundle).executableFolderPath(),
                              format("%@.%@", kUninstallerName, kAppFileType));
}

std::string Installation::resource(const std::string& name) const {
    return FileUtil::joinPath(platform::Bundle(setup_.installerBundle).resourcePath(), name);
}

bool Installation::checkInstalled() {
    const std::string& root = setup_.layout.applicationRoot;
    std::vector<std::string> versions;
    for (const auto& name : FileUtil::folderEntries(root))
        if (name.starts_with(kClientAppVersionPrefix))
            versions.push_back(name);
    DLog("found %lu itme(s) in %@", versions.size(), root);
    isOverwrite_ = false;
    for (const auto& name : versions) {
        const std::string uninstaller = format("%@/%@/%@.%@", FileUtil::withoutTrailingSlash(root),
                                               name, kUninstallerName, kAppFileType);
        DLog("checking installed: %@", uninstaller);
        if (FileUtil::exists(uninstaller)) {
            ILog("Found installed module: %@", name);
            isOverwrite_ = true;
            break;
        }
    }
    return isOverwrite_;
}

void Installation::start(std::function<void(Outcome)> done) {
    done_ = std::move(done);
    ILog("Start Installation process");
    fileCopyUtil_ = std::make_shared<FileCopyUtil>();
    fileCopyUtil_->delegate = std::make_shared<CopyDelegate>(weak_from_this());
    isAppCopyFinished_ = false;
    if (ended_) {  // cancelled before it began
        if (auto done = std::move(done_))
            MainQueue::main().async([done] { done(Outcome::Cancelled); });
        return;
    }
    setCancelAvailable(isOverwrite_);
    changed_ = true;
    if (isOverwrite_) {
        report("Keeping the installed version as a backup");
        if (!generationRename())
            return;
    } else {
        report("Resetting the configuration of every user");
        resetConfigurations();
    }
    const std::string target = destDirectoryPath_ + format("%@.%@", kClientAppName, kAppFileType);
    ILog("Copy %@ to %@", embeddedApplication(), target);
    report("Copying " + target);
    copying_ = true;
    setCancelAvailable(true);
    fileCopyUtil_->copyFileAtPath(embeddedApplication(), target);
}

bool Installation::generationRename() {
    ILog("Generation rename processing ");
    const std::string root = FileUtil::withoutTrailingSlash(setup_.layout.applicationRoot);
    for (const auto& name : FileUtil::folderEntries(root)) {
        const std::string path = root + "/" + name;
        if (!name.starts_with(kClientAppVersionPrefix) ||
            !path.ends_with(kDestinationDirectorySuffix))
            continue;
        const bool removed = rootPolicy_.remove(path);
        DLog("execute: [%@]: %@", "remove " + path, removed ? "removed" : "refused or failed");
        if (FileUtil::exists(path)) {
            fail(format("removed failure: old moved folder: %@", path));
            return false;
        }
        ILog("removed old moved folder: %@", path);
    }
    ILog("Rename the app generation folder for that version ");
    destOldDirectoryPath_ =
        FileUtil::withoutTrailingSlash(destDirectoryPath_) + kDestinationDirectorySuffix + "/";
    ILog("destOldDirectoryPath: %@", destOldDirectoryPath_);
    return renameDirectory(destDirectoryPath_, destOldDirectoryPath_);
}

void Installation::resetConfigurations() {
    std::vector<std::string> paths;
    for (const auto& user : FileUtil::folderEntries(setup_.layout.usersHomes)) {
        const std::string area = FileUtil::joinPath(
            FileUtil::joinPath(setup_.layout.usersHomes, user), setup_.layout.userArea);
        for (const char* name : {kConfigPlistName, kFontPlistName})
            if (FileUtil::exists(FileUtil::joinPath(area, name)))
                paths.push_back(FileUtil::joinPath(area, name));
    }
    ILog("Configuration file counts = %d", static_cast<int>(paths.size()));
    for (const auto& path : paths) {
        ILog("Searching plist: %@", path);
        if (!FileUtil::exists(path))
            continue;
        ILog("Found plist and removing: %@", path);
        filePolicy_.remove(path);  // a file that stays only means a stale setting
    }
}

void Installation::setCopyProgress(float fraction) {
    const double value = fraction * 50.0 + (isAppCopyFinished_ ? 50.0 : 0.0);
    if (setup_.progress)
        setup_.progress(value);
}

void Installation::didFinishedCopyWithError(const std::optional<Error>& error) {
    copying_ = false;
    DLog("start: cancel=%@", yesNo(cancel_));
    if (ended_)
        return;
    if (cancel_) {
        DLog("checking destination to copy in progress with cancel: %@", destDirectoryPath_);
        rollBack();
        end(Outcome::Cancelled);
    } else if (error) {
        ELog("code %ld: message: %@: Description: [%@]", error->code, "copy failed", error->text());
        fail("Installation couldn't be completed");
    } else if (!isAppCopyFinished_) {
        DLog("copying uninstaller module");
        isAppCopyFinished_ = true;
        std::weak_ptr<Installation> weak = weak_from_this();
        MainQueue::main().async([weak] {
            if (auto self = weak.lock())
                self->copyUninstaller();
        });
    } else {
        DLog("copied all modules");
        std::weak_ptr<Installation> weak = weak_from_this();
        MainQueue::main().async([weak] {
            if (auto self = weak.lock())
                self->finishingSteps();
        });
    }
    DLog("end: cancel=%@", yesNo(cancel_));
}

void Installation::copyUninstaller() {
    if (cancel_ || ended_) {
        DLog("cancel copying");
        return;
    }
    const std::string target = destDirectoryPath_ + format("%@.%@", kUninstallerName, kAppFileType);
    ILog("Copy %@ to %@", embeddedUninstaller(), target);
    report("Copying " + target);
    copying_ = true;
    fileCopyUtil_->copyFileAtPath(embeddedUninstaller(), target);
}

bool Installation::cancel() {
    if (ended_ || !cancellable_ || cancel_)
        return false;
    cancel_ = true;
    DLog("start: cancel=%@", yesNo(cancel_));
    // A copy in flight is still writing into the version folder: the roll
    // back waits for its end.
    if (!copying_) {
        rollBack();
        end(Outcome::Cancelled);
    }
    DLog("end: cancel=%@", yesNo(cancel_));
    return true;
}

bool Installation::cancelAndWait() {
    if (ended_)
        return true;
    ILog("The installer ends while installing: undoing the installation");
    if (!cancel())
        return false;
    return MainQueue::main().runUntil([this] { return ended_; }, std::chrono::minutes(10));
}

void Installation::rollBack() {
    if (!changed_)
        return;  // nothing was touched yet: the installed version stays as it is
    report("Cancelled: undoing the installation");
    ILog("Remove application module: %@", destDirectoryPath_);
    rootPolicy_.remove(destDirectoryPath_);
    if (isOverwrite_) {
        DLog("cancelation with over write");
        renameDirectory(destOldDirectoryPath_, destDirectoryPath_);
    } else {
        DLog("cancelation with new installation");
        DLog("cancelation: removing link");
        rootPolicy_.remove(linkPath());
        DLog("cancelation: removing LaunchControl file");
        filePolicy_.remove(setup_.layout.autostartEntry);
    }
}

bool Installation::renameDirectory(const std::string& source, const std::string& target) {
    DLog("start: src: [%@]: dst: [%@]", source, target);
    if (source.empty() || !FileUtil::exists(FileUtil::withoutTrailingSlash(source)))
        return true;
    const std::string from = FileUtil::withoutTrailingSlash(source);
    const std::string to = FileUtil::withoutTrailingSlash(target);
    DLog("command execute: %@", "remove " + to);
    if (!rootPolicy_.remove(to) || FileUtil::exists(to)) {
        ILog("failure to clean : %@", to);
        fail(format("rename failure: %@", to));
        return false;
    }
    ILog("installer clean : %@", to);
    std::error_code error;
    if (rootPolicy_.allows(from) && rootPolicy_.allows(to))
        fs::rename(from, to, error);
    if (FileUtil::exists(to) && !FileUtil::exists(from)) {
        ILog("installer rename : %@ to %@", from, to);
        report("Renamed " + from + " to " + to);
        return true;
    }
    ILog("failure to rename : %@ to %@", from, to);
    fail(format("rename failure: %@", to));
    return false;
}

void Installation::fail(const std::string& message) {
    failure_ = message;
    ELog("code=%@, message=%@", kFailureCode, message);
    report("failed: " + message);
    end(Outcome::Failed);
}

void Installation::end(Outcome outcome) {
    if (ended_)
        return;
    ended_ = true;
    setCancelAvailable(false);
    if (auto done = std::move(done_))
        MainQueue::main().async([done, outcome] { done(outcome); });
}

void Installation::setCancelAvailable(bool available) {
    cancellable_ = available && !ended_;
    if (setup_.cancelAvailable)
        setup_.cancelAvailable(cancellable_);
}

void Installation::report(const std::string& line) const {
    if (setup_.step)
        setup_.step(line);
}

}  // namespace tavo::installer
