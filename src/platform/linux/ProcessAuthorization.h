#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Authorization.h"

namespace tavo::platform {

// Runs a tool as root through polkit's pkexec, which asks the user. A process
// that is root already, or that lives inside a sandbox root, runs the tool
// directly.
class ProcessAuthorization : public Authorization {
public:
    // elevator: the program that runs "<tool> <args...>" as root after asking.
    // runsDirectly: whether no elevation is needed; by default when the
    // process is root or inside a sandbox root.
    explicit ProcessAuthorization(std::string elevator = "pkexec",
                                  std::function<bool()> runsDirectly = {});

    bool executeWithPrivileges(const std::string& tool,
                               const std::vector<std::string>& args) override;
    // Starts the helper through the elevator (one prompt), or directly.
    AuthorizationResult authorizeHelper(const std::string& helperPath) override;

private:
    std::string elevator_;
    std::function<bool()> runsDirectly_;
};

}  // namespace tavo::platform
