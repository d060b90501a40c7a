#pragma once

#include <memory>

#include "platform/Workspace.h"

namespace tavo::platform {

// The workspace of a Linux desktop.
//
// Running programs come from /proc: every process of the current user whose
// executable can be read, with the bundle around the executable when there
// is one. Inside a sandbox root only the processes started inside the same
// root (TAVO_ROOT in their environment) are listed; outside one, the
// processes of any sandbox root are left out. This process is always listed.
//
// Addresses open through xdg-open; bundles start with their executable. Both
// are started detached: in a session of their own, adopted by init, with
// standard input from /dev/null and no descriptor of ours beyond standard
// output and error. They see our environment, with TAVO_ROOT naming our
// sandbox root (or removed outside one).
class ProcWorkspace : public Workspace {
public:
    // The factory the programs install.
    static std::shared_ptr<Workspace> create();

    std::vector<RunningApplication> runningApplications() override;
    // The same for the processes of every user (what root may stop).
    std::vector<RunningApplication> runningApplicationsOfEveryUser();
    // Refuses an empty address and one that starts with '-' (xdg-open would
    // take it for an option). True once xdg-open runs; it does not wait for
    // the program that shows the address.
    bool openURL(const std::string& url) override;
    // False when the bundle names no executable, the file is not executable,
    // or it could not be started.
    bool launchApplication(const std::string& bundlePath,
                           const std::vector<std::string>& arguments) override;

    // Starts the bundle's executable detached as user (never root), with
    // the user's groups, home folder and a fresh environment holding only
    // HOME, USER, LOGNAME, PATH and the display variables given
    // (NAME=value). For a program running as root.
    bool launchApplicationAsUser(const std::string& bundlePath,
                                 const std::vector<std::string>& arguments, const std::string& user,
                                 const std::vector<std::string>& display);

private:
    std::vector<RunningApplication> scan(bool everyUser);
};

}  // namespace tavo::platform
