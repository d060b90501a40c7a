// The finishing steps of an installation, once both bundles are copied: the
// log-mode scripts, the ownership, the running TAVO stopped and the other
// versions removed (on an overwrite), the link, the autostart entry and the
// update helper's polkit action.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "foundation/Const.h"
#include "foundation/FileCopyUtil.h"
#include "foundation/FileUtil.h"
#include "foundation/Format.h"
#include "foundation/Log.h"
#include "installer/Installation.h"
#include "platform/Bundle.h"
#include "uninstaller/RunningTavo.h"
#include "uninstaller/Uninstallation.h"

namespace fs = std::filesystem;

namespace tavo::installer {

namespace {

constexpr const char* kScriptType = "command";
constexpr const char* kScripts[] = {"LOGforRELEASE", "LOGforDEBUG"};

struct Owner {
    uid_t uid;
    gid_t gid;
};

// "user:group" as ids; none when either is unknown.
std::optional<Owner> ownerOf(const std::string& text) {
    const auto colon = text.find(':');
    if (colon == std::string::npos)
        return std::nullopt;
    const passwd* user = ::getpwnam(text.substr(0, colon).c_str());
    const group* grp = ::getgrnam(text.substr(colon + 1).c_str());
    if (!user || !grp)
        return std::nullopt;
    return Owner{user->pw_uid, grp->gr_gid};
}

// Gives path and, for a folder, everything in it to owner; links are given
// as links and never followed.
bool giveTree(const std::string& path, const Owner& owner) {
    bool ok = ::lchown(path.c_str(), owner.uid, owner.gid) == 0;
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(path, error)))
        return ok;
    for (fs::recursive_directory_iterator it(path, error), end; !error && it != end;
         it.increment(error))
        ok = ::lchown(it->path().c_str(), owner.uid, owner.gid) == 0 && ok;
    return ok && !error;
}

}  // namespace

void Installation::finishingSteps() {
    DLog("copied: cancel=%@", cancel_ ? "YES" : "NO");
    if (cancel_ || ended_) {
        DLog("cancel copied");
        return;
    }
    if (setup_.progress)
        setup_.progress(100.0);
    if (!copyScripts())
        return;
    const std::string dest = FileUtil::withoutTrailingSlash(destDirectoryPath_);
    DLog("command execute: %@", "chown -R " + setup_.layout.applicationOwner + " " + dest);
    if (!giveToOwner(dest)) {
        fail(format("installation failure: ownership: %@", dest));
        return;
    }
    if (isOverwrite_) {
        setCancelAvailable(false);
        report("Stopping the running application");
        if (!stopApplications())
            return;
        report("Removing the other versions");
        if (!removeOtherGenerations())
            return;
    }
    report("Linking " + linkPath() + " to " + dest);
    if (!replaceLink())
        return;
    report("Placing the autostart entry");
    if (!placeDesktopFiles())
        return;
    ILog("End Installation process");
    report("Installed " + dest);
    end(Outcome::Completed);
}

bool Installation::copyScripts() {
    for (const char* name : kScripts) {
        const std::string file = format("%@.%@", name, kScriptType);
        const std::string source = resource(file);
        const std::string target = destDirectoryPath_ + file;
        ILog("Copy %@ to %@", source, target);
        Error error;
        if (!FileCopyUtil::syncCopyAtPath(source, target, &error)) {
            ELog("code %ld: message: %@: Description: [%@]", error.code, "copy failed",
                 error.text());
            fail("installation failure: exit application");
            return false;
        }
        std::error_code ignored;
        fs::permissions(target, fs::perms(0755), fs::perm_options::replace, ignored);
    }
    return true;
}

bool Installation::giveToOwner(const std::string& path) {
    // Inside a sandbox root the installation stays its user's, as the
    // update does there: a test must not hand its files to root.
    if (setup_.layout.inSandbox())
        return true;
    const auto owner = ownerOf(setup_.layout.applicationOwner);
    return owner && giveTree(path, *owner);
}

bool Installation::stopApplications() {
    ILog("Terminating desktop application");
    if (!uninstaller::RunningTavo::stop(setup_.runningApplications,
                                        [] { ILog("Force terminating desktop application"); })) {
        fail("installation failure: exit application");
        return false;
    }
    return true;
}

bool Installation::removeOtherGenerations() {
    ILog("Removing Other generations ");
    const std::string root = FileUtil::withoutTrailingSlash(setup_.layout.applicationRoot);
    for (const auto& name : FileUtil::folderEntries(root)) {
        if (!name.starts_with(kClientAppVersionPrefix))
            continue;
        const std::string path = root + "/" + name + "/";
        if (path == destDirectoryPath_)
            continue;
        const bool removed = rootPolicy_.remove(path);
        DLog("execute: [%@]: %@", "remove " + path, removed ? "removed" : "refused or failed");
        if (FileUtil::exists(FileUtil::withoutTrailingSlash(path))) {
            fail(format("installation failure: updater: %@", path));
            return false;
        }
        ILog("installer removed updater: %@", path);
    }
    return true;
}

bool Installation::replaceLink() {
    const std::string link = linkPath();
    ILog("Removing link to applications");
    const bool removed = rootPolicy_.remove(link);
    DLog("execute: %@", std::string(removed ? "removed " : "could not remove ") + link);
    if (FileUtil::exists(link)) {
        fail(format("installation failure: link to applications: %@", link));
        return false;
    }
    ILog("installer removed link to applications: %@", link);
    std::error_code error;
    fs::create_directory_symlink(FileUtil::withoutTrailingSlash(destDirectoryPath_), link, error);
    if (error || !FileUtil::exists(link)) {
        fail(format("installation failure: link to applications: %@", link));
        return false;
    }
    ILog("installer created link to applications: %@", link);
    return true;
}

// The autostart entry and, on Linux, the update helper's polkit action:
// readable by everyone, writable by the owner of the installation only.
bool Installation::placeDesktopFiles() {
    std::vector<std::pair<std::string, std::string>> files = {
        {resource(kDesktopEntryName), setup_.layout.autostartEntry}};
    if (!setup_.layout.polkitActions.empty())
        files.emplace_back(
            FileUtil::joinPath(platform::Bundle(embeddedApplication()).resourcePath(),
                               uninstaller::Uninstallation::kPolkitActionFileName),
            FileUtil::joinPath(setup_.layout.polkitActions,
                               uninstaller::Uninstallation::kPolkitActionFileName));
    for (const auto& [source, target] : files) {
        ILog("Copy %@ to %@", source, target);
        Error error;
        // A missing entry would leave TAVO without its start at log-in (or
        // without its update) while the installation says it is complete.
        if (!filePolicy_.allows(target) || !FileCopyUtil::syncCopyAtPath(source, target, &error)) {
            fail(format("installation failure: launch agent: %@", target));
            return false;
        }
        std::error_code ignored;
        fs::permissions(target, fs::perms(0644), fs::perm_options::replace, ignored);
        if (!giveToOwner(target)) {
            fail(format("installation failure: ownership: %@", target));
            return false;
        }
    }
    return true;
}

}  // namespace tavo::installer
