#include "platform/linux/HelperSession.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <string_view>
#include <utility>

#include "foundation/FileUtil.h"
#include "platform/linux/ChildExit.h"

extern char** environ;

namespace tavo::platform {

AuthorizationResult HelperSession::start(const std::vector<std::string>& argv,
                                         const std::vector<int>& refusedStatuses,
                                         const std::string& sandboxRoot) {
    using Status = AuthorizationResult::Status;
    if (argv.empty() || argv.front().empty())
        return {Status::NotCreated, -1, nullptr};
    // A helper that has gone must fail the write, not end this program.
    ::signal(SIGPIPE, SIG_IGN);
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        return {Status::NotCreated, errno, nullptr};
    if (::pipe2(out, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(in[0]);
        ::close(in[1]);
        return {Status::NotCreated, error, nullptr};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<std::string> copies = argv;
    std::vector<char*> args;
    for (auto& a : copies)
        args.push_back(a.data());
    args.push_back(nullptr);
    // This process's environment, with the helper's sandbox root.
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
        if (!std::string_view(*entry).starts_with("TAVO_ROOT="))
            environment.emplace_back(*entry);
    if (!sandboxRoot.empty())
        environment.push_back("TAVO_ROOT=" + sandboxRoot);
    std::vector<char*> envp;
    for (auto& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(in[1]);
        ::close(out[0]);
        return {Status::NotCreated, spawned, nullptr};
    }
    std::unique_ptr<HelperSession> session(new HelperSession(pid, in[1], out[0]));
    std::string line;
    if (session->readLine(&line) && line == "ready")
        return {Status::Authorized, 0, std::move(session)};
    const int status = session->finish();
    const bool refused =
        std::find(refusedStatuses.begin(), refusedStatuses.end(), status) != refusedStatuses.end();
    return {refused ? Status::Refused : Status::NotCreated, status, nullptr};
}

HelperSession::HelperSession(pid_t pid, int toHelper, int fromHelper)
    : pid_(pid), toHelper_(toHelper), fromHelper_(fromHelper) {}

HelperSession::~HelperSession() {
    finish();
}

bool HelperSession::readLine(std::string* line) {
    while (true) {
        const auto end = buffered_.find('\n');
        if (end != std::string::npos) {
            *line = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            return true;
        }
        if (fromHelper_ < 0)
            return false;
        char chunk[256];
        const ssize_t n = ::read(fromHelper_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buffered_.append(chunk, static_cast<std::size_t>(n));
    }
}

int HelperSession::run(const std::string& tool, const std::vector<std::string>& args) {
    if (toHelper_ < 0)
        return -1;
    std::string message = tool;
    message.push_back('\0');
    for (const auto& arg : args) {
        if (arg.empty() || arg.find('\0') != std::string::npos)
            return -1;  // an empty field would end the command early
        message += arg;
        message.push_back('\0');
    }
    message.push_back('\0');
    std::string line;
    if (!FileUtil::writeAll(toHelper_, message) || !readLine(&line))
        return -1;
    int status = -1;
    const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), status);
    return error == std::errc() && end == line.data() + line.size() ? status : -1;
}

int HelperSession::finish() {
    if (toHelper_ >= 0)
        ::close(std::exchange(toHelper_, -1));  // the helper ends at the end of its input
    if (fromHelper_ >= 0)
        ::close(std::exchange(fromHelper_, -1));
    if (pid_ <= 0)
        return -1;
    return ChildExit::waitFor(std::exchange(pid_, 0));
}

}  // namespace tavo::platform
