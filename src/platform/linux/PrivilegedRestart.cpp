#include "platform/linux/PrivilegedRestart.h"

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "foundation/AccountPrivilege.h"
#include "foundation/Log.h"
#include "platform/Layout.h"
#include "platform/SystemInfo.h"
#include "platform/linux/ChildExit.h"

extern char** environ;

namespace tavo::platform {

namespace {

constexpr const char* kDisplayVariables[] = {"DISPLAY",
                                             "XAUTHORITY",
                                             "WAYLAND_DISPLAY",
                                             "XDG_RUNTIME_DIR",
                                             "DBUS_SESSION_BUS_ADDRESS",
                                             "QT_QPA_PLATFORM",
                                             "LANG",
                                             "LC_ALL",
                                             "LC_MESSAGES"};

std::optional<std::string> userNameOf(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return std::nullopt;
    return std::string(found->pw_name);
}

}  // namespace

bool PrivilegedRestart::isPrivileged(const std::vector<std::string>& arguments) {
    return arguments.size() == 1 && arguments.front() == kPrivilegesArgument;
}

bool PrivilegedRestart::needsElevation() {
    return sandboxRoot().empty() && ::geteuid() != 0;
}

std::string PrivilegedRestart::currentUser() {
    if (const char* uidText = std::getenv("PKEXEC_UID")) {
        const std::string_view text(uidText);
        unsigned long uid = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), uid);
        if (error == std::errc() && end == text.data() + text.size() && !text.empty())
            if (auto name = userNameOf(static_cast<uid_t>(uid)))
                return *name;
    }
    return SystemInfo::loginName();
}

std::vector<std::string> PrivilegedRestart::displayEnvironment() {
    std::vector<std::string> assignments;
    for (const char* name : kDisplayVariables)
        if (const char* value = std::getenv(name); value && *value)
            assignments.push_back(std::string(name) + "=" + value);
    return assignments;
}

std::vector<std::string> PrivilegedRestart::elevatedCommand(
    const std::string& elevator, const std::string& executable,
    const std::vector<std::string>& environment) {
    if (executable.empty() || executable.front() != '/' ||
        executable.find('=') != std::string::npos)
        return {};
    std::vector<std::string> argv{elevator, "/usr/bin/env"};
    for (const auto& assignment : environment)
        if (assignment.find('=') != std::string::npos && assignment.front() != '=')
            argv.push_back(assignment);
    argv.push_back(executable);
    argv.push_back(kPrivilegesArgument);
    return argv;
}

int PrivilegedRestart::Result::exitStatus() const {
    if (outcome == Outcome::Cancelled)
        return 0;
    return outcome == Outcome::Finished && line && *line == "0" ? 0 : 1;
}

PrivilegedRestart::Result PrivilegedRestart::run(const std::vector<std::string>& argv) {
    Result result;
    if (argv.empty() || argv.front().empty())
        return result;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        result.code = errno;
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<std::string> copies = argv;
    std::vector<char*> args;
    for (auto& a : copies)
        args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        result.code = spawned;
        return result;
    }
    std::string line;
    bool ended = false;
    while (!ended && line.size() < kMaximumLine) {
        char c = 0;
        const ssize_t n = ::read(out[0], &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (c == '\n')
            ended = true;
        else
            line.push_back(c);
    }
    ::close(out[0]);
    result.code = ChildExit::waitFor(pid);
    if (ended || !line.empty())
        result.line = line;
    const bool refused = result.code == kElevatorDismissed || result.code == kElevatorNotAuthorized;
    result.outcome = refused && !result.line ? Outcome::Cancelled : Outcome::Finished;
    return result;
}

void PrivilegedRestart::writeStatus(int status) {
    std::printf("%d\n", status);
    std::fflush(stdout);
}

int PrivilegedRestart::restartElevated(const std::string& programName) {
    std::error_code error;
    const std::string executable = std::filesystem::read_symlink("/proc/self/exe", error).string();
    const auto argv = elevatedCommand("pkexec", executable, displayEnvironment());
    if (argv.empty()) {
        primitiveILog("%@ failed at AuthorizationCreate: status: %d", programName, -1);
        return 1;
    }
    const Result result = run(argv);
    switch (result.outcome) {
        case Outcome::NotStarted:
            primitiveILog("%@ failed at AuthorizationExecuteWithPrivileges: status: %d",
                          programName, result.code);
            break;
        case Outcome::Cancelled:
            primitiveILog("%@ canceled at AuthorizationCopyRights: status: %d", programName,
                          result.code);
            break;
        case Outcome::Finished:
            primitiveILog("%@ succeeded at AuthorizationExecuteWithPrivileges: status: %d",
                          programName, result.code);
            primitiveILog("%@ get executed standard output:[%@]", programName,
                          result.line.value_or(""));
            break;
    }
    return result.exitStatus();
}

bool PrivilegedRestart::hasDisplay() {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"})
        if (const char* value = std::getenv(variable); value && *value)
            return true;
    const char* platformName = std::getenv("QT_QPA_PLATFORM");
    return platformName && std::string(platformName) == "offscreen";
}

PrivilegedRestart::Start PrivilegedRestart::start(const std::string& programName,
                                                  const std::string& user, bool privileged,
                                                  const std::string& withoutDisplay) {
    Start start;
    start.supportedOs = SystemInfo::isSupportedOs();
    const std::string version = SystemInfo::operatingSystemVersionString();
    primitiveILog("It %@: %@",
                  start.supportedOs ? "seems the version equals 10.12 and later"
                                    : "seems the version is below 10.12",
                  version.empty() ? std::string("unknown") : version);
    if (!hasDisplay()) {
        std::fprintf(stderr, "%s\n", withoutDisplay.c_str());
        start.exitStatus = 1;
        return start;
    }
    start.administrator = AccountPrivilege::isMenberAdminGroup(user);
    if (!start.administrator)
        ILog("performed by standard user: %@", user);
    else if (privileged || !needsElevation())
        ILog("performed as privileges administrative user: %@", user);
    else
        start.exitStatus = restartElevated(programName);
    return start;
}

}  // namespace tavo::platform
