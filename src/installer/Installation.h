#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Error.h"
#include "platform/Layout.h"
#include "uninstaller/RemovalPolicy.h"

namespace tavo {
class FileCopyUtil;
}

namespace tavo::installer {

// What the procedure installs from, and for whom.
struct InstallSetup {
    platform::Layout layout;
    std::string installerBundle;  // the TAVO-Installer.app that carries what is installed
    std::string version;          // the installer's version: the version folder's name
    std::string currentUser;      // the desktop user who started the installer, not root
    // The running TAVO programs to stop: process ids. Defaults to the
    // TAVO programs of every user (the sandbox's only inside a sandbox root).
    std::function<std::vector<int>()> runningApplications;
    // Starts the installed TAVO bundle. Defaults to a detached start as the
    // desktop user (as the current user inside a sandbox root).
    std::function<bool(const std::string& bundlePath)> launch;
    // The progress bar: 0..100.
    std::function<void(double)> progress;
    // Whether the cancel button may be used now.
    std::function<void(bool)> cancelAvailable;
    // One line per step, for a caller without windows.
    std::function<void(const std::string&)> step;
};

// Installs the TAVO and TAVO-Uninstaller bundles the installer carries into
// the version folder of its version, with the log-mode scripts, the link to
// that folder, the autostart entry and the update helper's polkit action.
// A first install also resets every user's configuration; an overwrite
// keeps the existing folder of the same version as a ".old" backup until
// the end, stops every running TAVO and removes the other versions.
//
// Main thread only: the two bundle copies run in the background and every
// next step is queued on the main queue. Every removal is a file-system call
// on a path inside the application root (the autostart entry, the polkit
// action and the users' configuration files aside), never through a link.
class Installation : public std::enable_shared_from_this<Installation> {
public:
    static constexpr const char* kFailureCode = "MSG_E3001";
    static constexpr const char* kDesktopEntryName = "oskavelle.TAVO.desktop";

    enum class Outcome { Completed, Failed, Cancelled };

    static std::shared_ptr<Installation> create(InstallSetup setup);

    // First install or overwrite: an installation is a "TAVO-Ver" folder
    // of the application root that holds the uninstaller bundle.
    bool checkInstalled();
    bool isOverwrite() const { return isOverwrite_; }
    // The decision as the start page made it.
    void setOverwrite(bool overwrite) { isOverwrite_ = overwrite; }

    // Runs the procedure; done hears how it ended, on the main queue, once.
    void start(std::function<void(Outcome)> done);
    // The cancel button: stops the procedure and undoes what it did (the
    // backup comes back on an overwrite; link and autostart entry go on a
    // first install). A copy in flight is waited for first. False when it
    // is too late to cancel.
    bool cancel();
    bool isCancelled() const { return cancel_; }
    bool hasEnded() const { return ended_; }
    // For a program that ends while the procedure runs (its window was
    // closed): cancels it and runs the main queue until the roll back is
    // done. True when nothing is left half done.
    bool cancelAndWait();

    // Stops any running TAVO, then starts the installed one through the link
    // as the desktop user.
    bool launchApplication();

    const std::string& failureMessage() const { return failure_; }
    const std::string& destDirectoryPath() const { return destDirectoryPath_; }
    const std::string& destOldDirectoryPath() const { return destOldDirectoryPath_; }
    std::string linkPath() const;
    // Inside the installer bundle.
    std::string embeddedApplication() const;
    std::string embeddedUninstaller() const;
    std::string resource(const std::string& name) const;

    // Called back by the background copy.
    void setCopyProgress(float fraction);
    void didFinishedCopyWithError(const std::optional<Error>& error);

private:
    explicit Installation(InstallSetup setup);

    bool generationRename();
    void resetConfigurations();
    void copyUninstaller();
    void finishingSteps();
    bool copyScripts();
    bool giveToOwner(const std::string& path);
    bool stopApplications();
    bool removeOtherGenerations();
    bool replaceLink();
    bool placeDesktopFiles();
    bool renameDirectory(const std::string& source, const std::string& target);
    void rollBack();
    void fail(const std::string& message);
    void end(Outcome outcome);
    void setCancelAvailable(bool available);
    void report(const std::string& line) const;

    InstallSetup setup_;
    uninstaller::RemovalPolicy rootPolicy_;
    uninstaller::RemovalPolicy filePolicy_;
    std::shared_ptr<FileCopyUtil> fileCopyUtil_;
    std::function<void(Outcome)> done_;
    std::string destDirectoryPath_;
    std::string destOldDirectoryPath_;
    std::string failure_;
    bool isOverwrite_ = false;
    bool isAppCopyFinished_ = false;
    bool copying_ = false;
    bool changed_ = false;  // the procedure has begun to change the installation
    bool cancel_ = false;
    bool cancellable_ = true;
    bool ended_ = false;
};

}  // namespace tavo::installer
