#include "foundation/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace tavo {

namespace {

// While the child runs, how often we look whether it ended although someone
// it started (a background job) still holds the pipes open.
constexpr int kPollIntervalMs = 100;

// An owned file descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

std::vector<char*> makeArgv(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

int statusOf(int waitStatus) {
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return 128 + WTERMSIG(waitStatus);
    return -1;
}

// Reads what is available on fd into out; false at end of file or on error.
bool readAvailable(int fd, std::string& out) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        return false;
    }
}

// Waits for pid; -1 when its status cannot be collected.
int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return statusOf(status);
}

// Reads both pipes until they close, or until the child has ended and what it
// wrote has been drained (a background job of it may keep them open).
void collectOutput(pid_t pid, int outFd, int errFd, ProcessResult& result) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&result.standardOutput, &result.standardError};
    int open = 2;
    while (open > 0) {
        const int n = ::poll(fds, 2, kPollIntervalMs);
        if (n < 0 && errno != EINTR)
            break;
        if (n == 0) {
            int status = 0;
            const pid_t ended = ::waitpid(pid, &status, WNOHANG);
            if (ended == pid) {
                for (int i = 0; i < 2; ++i)
                    if (fds[i].fd >= 0)
                        readAvailable(fds[i].fd, *sinks[i]);
                result.exitStatus = statusOf(status);
                return;
            }
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            if (!readAvailable(fds[i].fd, *sinks[i])) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    result.exitStatus = waitFor(pid);
}

// The full path of program: itself when it names a path, else its first
// executable match in PATH; empty when there is none.
std::string resolveProgram(const std::string& program) {
    if (program.find('/') != std::string::npos)
        return program;
    const char* env = std::getenv("PATH");
    const std::string path = env ? env : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string dir = end > start ? path.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + program;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// In a forked child: default signal handling and no blocked signals, as a
// freshly started program expects. Async-signal-safe calls only.
void resetSignals() {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        ::sigaction(sig, &dfl, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

}  // namespace

ProcessResult Process::run(const std::string& program, const std::vector<std::string>& args,
                           bool captureOutput) {
    ProcessResult result;
    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    if (captureOutput) {
        if (::pipe2(outPipe, O_CLOEXEC) != 0)
            return result;
        if (::pipe2(errPipe, O_CLOEXEC) != 0) {
            ::close(outPipe[0]);
            ::close(outPipe[1]);
            return result;
        }
    }
    Fd outRead(outPipe[0]), outWrite(outPipe[1]), errRead(errPipe[0]), errWrite(errPipe[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // A command that reads its input must not wait on ours.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (captureOutput) {
        posix_spawn_file_actions_adddup2(&actions, outWrite.get(), STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, errWrite.get(), STDERR_FILENO);
    }
    // Signals we ignore or block (SIGPIPE, say) must not stay so in the child.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv = makeArgv(program, args);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        return result;
    result.started = true;

    if (!captureOutput) {
        result.exitStatus = waitFor(pid);
        return result;
    }
    outWrite.reset();
    errWrite.reset();
    ::fcntl(outRead.get(), F_SETFL, ::fcntl(outRead.get(), F_GETFL) | O_NONBLOCK);
    ::fcntl(errRead.get(), F_SETFL, ::fcntl(errRead.get(), F_GETFL) | O_NONBLOCK);
    collectOutput(pid, outRead.get(), errRead.get(), result);
    return result;
}

bool Process::spawnDetached(const std::string& program, const std::vector<std::string>& args) {
    // Everything the children need is prepared here: after fork() only
    // async-signal-safe calls are allowed in a program with threads.
    const std::string path = resolveProgram(program);
    if (path.empty())
        return false;
    std::vector<char*> argv = makeArgv(program, args);
    char** env = environ;
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return false;
    Fd reportRead(report[0]), reportWrite(report[1]);

    // Double fork: the middle child starts a new session, forks the program
    // and ends at once, so init adopts the program and no zombie stays here.
    const pid_t middle = ::fork();
    if (middle < 0)
        return false;
    if (middle == 0) {
        ::setsid();
        const pid_t child = ::fork();
        if (child != 0)
            ::_exit(child < 0 ? 1 : 0);
        resetSignals();
        const int devNull = ::open("/dev/null", O_RDONLY);
        if (devNull >= 0 && devNull != STDIN_FILENO) {
            ::dup2(devNull, STDIN_FILENO);
            ::close(devNull);
        }
        ::execve(path.c_str(), argv.data(), env);
        const int err = errno;
        (void)!::write(reportWrite.get(), &err, sizeof err);
        ::_exit(127);
    }
    reportWrite.reset();
    const int middleStatus = waitFor(middle);
    // The report pipe closes on a successful exec (close-on-exec) and carries
    // errno when exec failed.
    int err = 0;
    ssize_t n;
    do {
        n = ::read(reportRead.get(), &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    return middleStatus == 0 && n == 0;
}

std::string Process::shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}

}  // namespace tavo
