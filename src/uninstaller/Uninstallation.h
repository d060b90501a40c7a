#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Layout.h"
#include "uninstaller/RemovalPolicy.h"

namespace tavo {
class ApiClient;
namespace platform {
class FontManager;
}
}  // namespace tavo

namespace tavo::uninstaller {

// What the procedure runs for and with.
struct UninstallSetup {
    platform::Layout layout;
    std::string version;       // the uninstaller's own version
    std::string bundleFolder;  // the folder that holds the running uninstaller bundle
    std::string currentUser;   // the user who started the program, not root
    // How long the sign-out may take in all: one request time-out.
    double signOutBudgetSeconds = 10;
    // The running TAVO programs to stop: process ids. Defaults to the
    // process list of every user (the sandbox's only inside a sandbox root).
    std::function<std::vector<int>()> runningApplications;
    std::shared_ptr<platform::FontManager> fontManager;
    // The progress bar: 0..100 (may pass 100; the bar clamps).
    std::function<void(double)> progress;
    // One line per step, for a caller without windows.
    std::function<void(const std::string&)> step;
};

// Removes TAVO from the machine for every user: signs the device out,
// stops every running TAVO, removes the autostart entry, the service's
// fonts of every user and of the machine's font folders, every user's
// configuration, the link and the other versions, the logs and last the own
// version folder. Stops at the first failing step.
class Uninstallation {
public:
    static constexpr const char* kFailureCode = "MSG_E3003";
    // The update helper's polkit action, in TAVO.app's resources and, once
    // installed, in polkit's actions folder.
    static constexpr const char* kPolkitActionFileName = "oskavelle.TAVO.update-helper.policy";

    explicit Uninstallation(UninstallSetup setup);

    std::string ownVersionDirectory() const;
    // Whether the own version folder holds the uninstaller or the application.
    bool isInstalled() const;

    // Runs every step; false at the first failure (failureMessage() says
    // which), true when everything is gone.
    bool startUninstall(ApiClient& client);
    const std::string& failureMessage() const { return failure_; }
    double progress() const { return progress_; }
    // Whether the last step left the own version folder behind (the
    // windows show an alert rather than the failure page).
    bool ownModulesRemained() const { return ownModulesRemained_; }

    // The service's fonts in the font folders, in the order they are removed.
    std::vector<std::string> serviceFonts() const;

private:
    void signOut(ApiClient& client);
    bool stopApplications();
    bool removeFonts();
    bool removeConfigurations();
    bool removeFile(const std::string& path, const char* failure);
    bool removeOtherVersions();
    bool removeLogs();
    bool removeOwnModules();
    bool fail(const std::string& message);
    void advance(double by);
    void report(const std::string& line);
    std::vector<std::string> userHomes() const;
    std::string userHome(const std::string& user) const;
    std::vector<std::string> fontFolders() const;

    UninstallSetup setup_;
    RemovalPolicy policy_;
    std::string failure_;
    double progress_ = 0;
    double step_ = 0;
    bool ownModulesRemained_ = false;
};

}  // namespace tavo::uninstaller
