#pragma once

#include <functional>
#include <memory>
#include <string>

#include "installer/LibraryCheck.h"

namespace tavo::installer {

class Installation;

// What the installer's pages report into the procedure they make.
struct InstallCallbacks {
    std::function<void(double)> progress;
    std::function<void(bool)> cancelAvailable;
};

// What the installer's pages share: the version shown, the administrator
// check, the library check, the procedure, and the alert and termination
// seams (tests record them).
struct InstallContext {
    std::string version;
    std::function<bool()> isAdministrator;
    std::function<LibraryCheck::Report()> checkLibraries;
    std::function<std::shared_ptr<Installation>(InstallCallbacks callbacks)> makeInstallation;
    std::function<void(const std::string& message, const std::string& title)> alert;
    std::function<void()> terminate;
    // Handed on from page to page.
    bool isOverwrite = false;
    std::shared_ptr<Installation> installation;  // the running or finished procedure
    // What the program reports back when it ends: 0 once installed.
    int status = 1;
};

}  // namespace tavo::installer
