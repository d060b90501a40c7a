#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tavo::platform {

// Runs a tool with administrator rights, asking the user when needed.
class Authorization {
public:
    virtual ~Authorization() = default;

    // Runs tool with args and waits for it. False when the rights were
    // refused or cancelled or the tool could not be started; the caller
    // judges the tool's work by its effects.
    virtual bool executeWithPrivileges(const std::string& tool,
                                       const std::vector<std::string>& args) = 0;

    // The program's authorization service; until a program sets one, every
    // request is refused.
    static std::shared_ptr<Authorization> defaultAuthorization();
    static void setDefaultAuthorization(std::shared_ptr<Authorization> authorization);
};

}  // namespace tavo::platform
