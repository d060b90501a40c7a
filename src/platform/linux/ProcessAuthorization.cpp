#include "platform/linux/ProcessAuthorization.h"

#include <unistd.h>

#include "foundation/Process.h"
#include "platform/Layout.h"
#include "platform/linux/HelperSession.h"

namespace tavo::platform {

namespace {

// pkexec's own exit statuses: the request was dismissed or not authorized,
// or the user could not be authenticated.
constexpr int kElevationRefused = 126;
constexpr int kElevationUnauthenticated = 127;

bool alreadyPrivileged() {
    return ::geteuid() == 0 || !sandboxRoot().empty();
}

}  // namespace

ProcessAuthorization::ProcessAuthorization(std::string elevator, std::function<bool()> runsDirectly)
    : elevator_(std::move(elevator)),
      runsDirectly_(runsDirectly ? std::move(runsDirectly) : alreadyPrivileged) {}

bool ProcessAuthorization::executeWithPrivileges(const std::string& tool,
                                                 const std::vector<std::string>& args) {
    if (tool.empty())
        return false;
    if (runsDirectly_())
        return Process::run(tool, args, false).started;

    std::vector<std::string> elevated;
    elevated.reserve(args.size() + 1);
    elevated.push_back(tool);
    elevated.insert(elevated.end(), args.begin(), args.end());
    const ProcessResult result = Process::run(elevator_, elevated, false);
    return result.started && result.exitStatus != kElevationRefused &&
           result.exitStatus != kElevationUnauthenticated;
}

AuthorizationResult ProcessAuthorization::authorizeHelper(const std::string& helperPath) {
    if (helperPath.empty() || helperPath.front() != '/')
        return {AuthorizationResult::Status::NotCreated, -1, nullptr};
    if (runsDirectly_())
        return HelperSession::start({helperPath}, {}, sandboxRoot());
    return HelperSession::start({elevator_, helperPath},
                                {kElevationRefused, kElevationUnauthenticated});
}

}  // namespace tavo::platform
