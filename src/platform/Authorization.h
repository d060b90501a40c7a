#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tavo::platform {

// A privileged helper program started once for a series of commands: the
// user is asked once, then every command runs with administrator rights.
class PrivilegedSession {
public:
    virtual ~PrivilegedSession() = default;
    // Runs tool with args as administrator and waits for it: its exit
    // status, or -1 when the helper refused the command or is gone.
    virtual int run(const std::string& tool, const std::vector<std::string>& args) = 0;
};

// The outcome of asking for a privileged session.
struct AuthorizationResult {
    enum class Status {
        Authorized,  // session is set
        NotCreated,  // the helper could not be started
        Refused,     // the user cancelled or could not authenticate
    };
    Status status = Status::NotCreated;
    int code = 0;  // the failing step's status
    std::unique_ptr<PrivilegedSession> session;
};

// Runs a tool with administrator rights, asking the user when needed.
class Authorization {
public:
    virtual ~Authorization() = default;

    // Starts the privileged helper program at helperPath, asking the user
    // for an administrator's rights once. A service without helpers refuses.
    virtual AuthorizationResult authorizeHelper(const std::string& /*helperPath*/) {
        return {AuthorizationResult::Status::NotCreated, -1, nullptr};
    }

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
