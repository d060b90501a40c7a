#include "e2e/ResidentProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <sstream>
#include <thread>

#include "support/Sandbox.h"

extern char** environ;

namespace tavo::test {

namespace {

int statusOf(int raw) {
    if (WIFEXITED(raw))
        return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw))
        return 128 + WTERMSIG(raw);
    return -1;
}

bool isOwnedVariable(const std::string& entry) {
    for (const char* name :
         {"TAVO_ROOT=", "TAVO_TIME_SCALE=", "FONTCONFIG_FILE=", "HOME=", "XDG_CONFIG_HOME=",
          "XDG_DATA_HOME=", "XDG_STATE_HOME=", "XDG_CACHE_HOME=", "DISPLAY=", "WAYLAND_DISPLAY="})
        if (entry.rfind(name, 0) == 0)
            return true;
    return false;
}

}  // namespace

ResidentProcess::ResidentProcess(std::string sandboxRoot, std::string home)
    : root_(std::move(sandboxRoot)), home_(std::move(home)), outputPath_(root_ + "/tavo.out") {}

ResidentProcess::~ResidentProcess() {
    if (pid_ > 0)
        stop();
}

std::string ResidentProcess::executablePath() {
    return bundlesDirectory() + "/TAVO.app/Contents/MacOS/TAVO";
}

std::string ResidentProcess::tavoctlPath() {
    return bundlesDirectory() + "/TAVO.app/Contents/MacOS/tavoctl";
}

std::vector<std::string> ResidentProcess::environment() const {
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry)
        if (!isOwnedVariable(*entry))
            env.emplace_back(*entry);
    std::ostringstream scale;
    scale << timeScale_;
    env.push_back("TAVO_ROOT=" + root_);
    env.push_back("TAVO_TIME_SCALE=" + scale.str());
    env.push_back("HOME=" + home_);
    env.push_back("XDG_CONFIG_HOME=" + home_ + "/.config");
    env.push_back("XDG_DATA_HOME=" + home_ + "/.local/share");
    env.push_back("XDG_STATE_HOME=" + home_ + "/.local/state");
    env.push_back("XDG_CACHE_HOME=" + home_ + "/.cache");
    return env;
}

bool ResidentProcess::start(const std::vector<std::string>& arguments) {
    const std::string program = executable_.empty() ? executablePath() : executable_;
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const std::vector<std::string> env = environment();
    std::vector<char*> argp;
    for (const auto& a : argv)
        argp.push_back(const_cast<char*>(a.c_str()));
    argp.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    const int out = ::open(outputPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (out < 0)
        return false;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        const int null = ::open(input_.empty() ? "/dev/null" : input_.c_str(), O_RDONLY);
        if (null >= 0)
            ::dup2(null, STDIN_FILENO);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(program.c_str(), argp.data(), envp.data());
        ::_exit(127);
    }
    ::close(out);
    if (pid < 0)
        return false;
    pid_ = pid;
    return true;
}

std::optional<int> ResidentProcess::waitForExit(std::chrono::milliseconds timeout) {
    if (pid_ <= 0)
        return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int raw = 0;
        const pid_t done = ::waitpid(pid_, &raw, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            return statusOf(raw);
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int ResidentProcess::stop(std::chrono::milliseconds timeout) {
    if (pid_ <= 0)
        return -1;
    ::kill(pid_, SIGTERM);
    if (auto status = waitForExit(timeout))
        return *status;
    ::kill(pid_, SIGKILL);
    int raw = 0;
    ::waitpid(pid_, &raw, 0);
    pid_ = -1;
    return statusOf(raw);
}

std::string ResidentProcess::output() const {
    return Sandbox::readFile(outputPath_);
}

}  // namespace tavo::test
