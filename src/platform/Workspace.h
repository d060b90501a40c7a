#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace tavo::platform {

// One running program of the current user.
struct RunningApplication {
    pid_t processIdentifier = 0;
    std::string executablePath;  // absolute; empty when unreadable
    std::string bundlePath;      // the X.app folder around the executable; empty outside a bundle
    std::string localizedName;   // the bundle's name, else the executable's file name
};

// The desktop's view of programs: which run, opening addresses, starting
// programs. Every operation may be called from any thread.
class Workspace {
public:
    virtual ~Workspace() = default;
    // Running programs of the current user, in process-id order. Inside a
    // sandbox root, only the programs started inside the same sandbox root.
    virtual std::vector<RunningApplication> runningApplications() = 0;
    // Opens a web address (http or https) with the user's default browser;
    // false when it is not one or could not be handed over.
    virtual bool openURL(const std::string& url) = 0;
    // Starts the bundle's executable with the arguments, detached from this
    // process (it outlives it); false when it could not be started.
    virtual bool launchApplication(const std::string& bundlePath,
                                   const std::vector<std::string>& arguments) = 0;

    // The program's workspace; until a program sets one, a workspace that
    // lists nothing and opens nothing.
    static std::shared_ptr<Workspace> sharedWorkspace();
    static void setSharedWorkspace(std::shared_ptr<Workspace> workspace);
};

}  // namespace tavo::platform
