#include "platform/linux/ProcWorkspace.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/close_range.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <optional>

#include "foundation/Log.h"
#include "platform/Bundle.h"
#include "platform/Layout.h"

extern char** environ;

namespace tavo::platform {

namespace {

constexpr std::string_view kRootVariable = "TAVO_ROOT=";
constexpr std::string_view kDeletedSuffix = " (deleted)";

std::optional<pid_t> processId(const char* name) {
    pid_t pid = 0;
    if (*name == '\0')
        return std::nullopt;
    for (const char* c = name; *c; ++c) {
        if (*c < '0' || *c > '9' || pid > (INT_MAX - 9) / 10)
            return std::nullopt;
        pid = pid * 10 + (*c - '0');
    }
    return pid;
}

// The target of /proc/<pid>/exe without the mark of a replaced file; empty
// when it cannot be read (another user's process, a kernel thread, a zombie).
std::string executableOf(int procFd, const std::string& pid) {
    char target[PATH_MAX];
    const ssize_t n = ::readlinkat(procFd, (pid + "/exe").c_str(), target, sizeof target);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof target)
        return {};
    std::string path(target, static_cast<size_t>(n));
    if (path.ends_with(kDeletedSuffix))
        path.resize(path.size() - kDeletedSuffix.size());
    return path;
}

// The sandbox root in a process's environment: nullopt when it names none
// or the environment cannot be read. buffer is reused from call to call.
std::optional<std::string> sandboxRootOf(int procFd, const std::string& pid, std::string& buffer) {
    const int fd = ::openat(procFd, (pid + "/environ").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    buffer.clear();
    char chunk[8192];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            buffer.append(chunk, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    ::close(fd);
    for (size_t start = 0; start < buffer.size();) {
        size_t end = buffer.find('\0', start);
        if (end == std::string::npos)
            end = buffer.size();
        const std::string_view entry(buffer.data() + start, end - start);
        if (entry.starts_with(kRootVariable)) {
            std::string root(entry.substr(kRootVariable.size()));
            while (root.size() > 1 && root.back() == '/')
                root.pop_back();
            if (root.empty())
                return std::nullopt;
            return root;
        }
        start = end + 1;
    }
    return std::nullopt;
}

RunningApplication describe(pid_t pid, std::string executable) {
    RunningApplication app;
    app.processIdentifier = pid;
    if (auto bundle = Bundle::containing(executable)) {
        app.bundlePath = bundle->bundlePath();
        app.localizedName = bundle->name();
    }
    if (app.localizedName.empty())
        app.localizedName = std::filesystem::path(executable).filename().string();
    app.executablePath = std::move(executable);
    return app;
}

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The first executable called name in PATH (the system's default search path
// when PATH is not set); empty when there is none.
std::string findInPath(const std::string& name) {
    std::string path;
    if (const char* env = std::getenv("PATH")) {
        path = env;
    } else {
        path.resize(::confstr(_CS_PATH, nullptr, 0));
        ::confstr(_CS_PATH, path.data(), path.size());
        path.resize(std::strlen(path.c_str()));
    }
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find(':', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string folder = end > start ? path.substr(start, end - start) : ".";
        const std::string candidate = folder + "/" + name;
        if (isExecutableFile(candidate))
            return candidate;
        start = end + 1;
    }
    return {};
}

// Our environment with TAVO_ROOT set to our sandbox root, or without it
// outside one: a program we start belongs to our sandbox.
std::vector<std::string> childEnvironment() {
    std::vector<std::string> environment;
    for (char** entry = environ; entry && *entry; ++entry)
        if (!std::string_view(*entry).starts_with(kRootVariable))
            environment.emplace_back(*entry);
    const std::string root = sandboxRoot();
    if (!root.empty())
        environment.push_back(std::string(kRootVariable) + root);
    return environment;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (std::string& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// The functions below run in a forked child of a program with threads:
// async-signal-safe calls only, nothing that allocates.

// Default handling and no blocked signals, as a freshly started program
// expects (an ignored SIGPIPE, say, would survive exec).
void resetSignals() {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        ::sigaction(sig, &dfl, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

// Every descriptor beyond standard error closes on exec: the started program
// gets no socket or file of ours. Kernels before 5.11 lack the flag of
// close_range; there the descriptors are walked in /proc/self/fd.
void closeInheritedDescriptorsOnExec() {
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0)
        return;
    const int folder = ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return;
    alignas(dirent64) char buffer[4096];
    for (;;) {
        const ssize_t n = ::getdents64(folder, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t offset = 0; offset < n;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + offset);
            offset += entry->d_reclen;
            int fd = 0;
            const char* c = entry->d_name;
            for (; *c >= '0' && *c <= '9'; ++c)
                fd = fd * 10 + (*c - '0');
            if (*c == '\0' && c != entry->d_name && fd > 2 && fd != folder)
                ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    ::close(folder);
}

void report(int fd, int error) {
    [[maybe_unused]] ssize_t written = ::write(fd, &error, sizeof error);
}

// Who a started program runs as: the groups, group and user it takes on
// before exec, and the folder it starts in. None: as this process.
struct Credentials {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    std::string home;
};

// Drops to credentials in the child: groups, then group, then user, so no
// right of ours survives. False at the first step that fails.
bool takeOn(const Credentials& user) {
    if (::setgroups(user.groups.size(), user.groups.data()) != 0 || ::setgid(user.gid) != 0 ||
        ::setuid(user.uid) != 0)
        return false;
    if (::chdir(user.home.c_str()) != 0 && ::chdir("/") != 0)
        return false;
    return true;
}

// Starts path with arguments (argv[0] first) and environment, detached: a
// middle child starts a new session, forks the program and ends at once, so
// init adopts the program and no zombie stays with us. 0 once the program
// runs, else the errno of the step that failed (exec's, through a pipe that
// closes on a successful exec). With credentials, the program runs as that
// user.
int startDetached(const std::string& path, std::vector<std::string> arguments,
                  std::vector<std::string> environment,
                  const std::optional<Credentials>& credentials = std::nullopt) {
    std::vector<char*> argv = pointersTo(arguments);
    std::vector<char*> envp = pointersTo(environment);
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return errno;
    const pid_t middle = ::fork();
    if (middle < 0) {
        const int error = errno;
        ::close(pipe[0]);
        ::close(pipe[1]);
        return error;
    }
    if (middle == 0) {
        ::setsid();
        const pid_t child = ::fork();
        if (child < 0)
            report(pipe[1], errno);
        if (child != 0)
            ::_exit(child < 0 ? 1 : 0);
        resetSignals();
        const int devNull = ::open("/dev/null", O_RDONLY);
        if (devNull > STDIN_FILENO) {
            ::dup2(devNull, STDIN_FILENO);
            ::close(devNull);
        }
        closeInheritedDescriptorsOnExec();
        if (credentials && !takeOn(*credentials)) {
            report(pipe[1], errno != 0 ? errno : EPERM);
            ::_exit(126);
        }
        ::execve(path.c_str(), argv.data(), envp.data());
        report(pipe[1], errno);
        ::_exit(127);
    }
    ::close(pipe[1]);
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t n;
    do {
        n = ::read(pipe[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    ::close(pipe[0]);
    if (n == static_cast<ssize_t>(sizeof error))
        return error != 0 ? error : ECHILD;
    return n == 0 ? 0 : EIO;
}

// The address without its query and fragment, which may carry what the log
// must not keep.
std::string loggable(const std::string& url) {
    return url.substr(0, url.find_first_of("?#"));
}

// The account of user with its supplementary groups; none for root or an
// unknown user.
std::optional<Credentials> credentialsOf(const std::string& user) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        found->pw_uid == 0)
        return std::nullopt;
    Credentials credentials;
    credentials.uid = found->pw_uid;
    credentials.gid = found->pw_gid;
    credentials.home = found->pw_dir ? found->pw_dir : "/";
    int count = 32;
    credentials.groups.resize(static_cast<size_t>(count));
    while (::getgrouplist(found->pw_name, found->pw_gid, credentials.groups.data(), &count) < 0)
        credentials.groups.resize(static_cast<size_t>(count));
    credentials.groups.resize(static_cast<size_t>(count));
    return credentials;
}

}  // namespace

std::shared_ptr<Workspace> ProcWorkspace::create() {
    return std::make_shared<ProcWorkspace>();
}

std::vector<RunningApplication> ProcWorkspace::runningApplications() {
    return scan(false);
}

std::vector<RunningApplication> ProcWorkspace::runningApplicationsOfEveryUser() {
    return scan(true);
}

std::vector<RunningApplication> ProcWorkspace::scan(bool everyUser) {
    std::vector<RunningApplication> found;
    DIR* proc = ::opendir("/proc");
    if (!proc) {
        WLog("Workspace: cannot read /proc: %@", std::strerror(errno));
        return found;
    }
    const int procFd = ::dirfd(proc);
    const std::string root = sandboxRoot();
    const std::optional<std::string> wantedRoot =
        root.empty() ? std::nullopt : std::optional<std::string>(root);
    const uid_t uid = ::getuid();
    const pid_t self = ::getpid();
    std::string buffer;
    while (const dirent* entry = ::readdir(proc)) {
        const std::optional<pid_t> pid = processId(entry->d_name);
        if (!pid)
            continue;
        const std::string name = entry->d_name;
        // The folder belongs to the process's user: cheaper than its status.
        struct stat st {};
        if (::fstatat(procFd, name.c_str(), &st, 0) != 0 || (!everyUser && st.st_uid != uid))
            continue;
        std::string executable = executableOf(procFd, name);
        if (executable.empty())
            continue;
        // This process is in its own sandbox by definition (its environment
        // as started may name another root than the one set since).
        if (*pid != self && sandboxRootOf(procFd, name, buffer) != wantedRoot)
            continue;
        found.push_back(describe(*pid, std::move(executable)));
    }
    ::closedir(proc);
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return a.processIdentifier < b.processIdentifier;
    });
    return found;
}

namespace {

bool isWebAddress(const std::string& url) {
    const auto colon = url.find("://");
    if (colon == std::string::npos)
        return false;
    std::string scheme = url.substr(0, colon);
    for (auto& c : scheme)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (scheme != "http" && scheme != "https")
        return false;
    for (unsigned char c : url)
        if (c < 0x20 || c == 0x7f)
            return false;
    return url.size() > colon + 3;
}

}  // namespace

bool ProcWorkspace::openURL(const std::string& url) {
    // Addresses come from the server: only web pages are opened, never a
    // local file or a program's entry that xdg-open would run.
    if (!isWebAddress(url)) {
        WLog("Workspace: refusing to open the address [%@]", loggable(url));
        return false;
    }
    const std::string opener = findInPath("xdg-open");
    if (opener.empty()) {
        WLog("Workspace: cannot open %@: xdg-open is not installed", loggable(url));
        return false;
    }
    ILog("Workspace: opening %@", loggable(url));
    const int error = startDetached(opener, {opener, url}, childEnvironment());
    if (error != 0) {
        WLog("Workspace: cannot start xdg-open: %@", std::strerror(error));
        return false;
    }
    return true;
}

bool ProcWorkspace::launchApplication(const std::string& bundlePath,
                                      const std::vector<std::string>& arguments) {
    const std::string executable = Bundle(bundlePath).executablePath();
    if (executable.empty()) {
        WLog("Workspace: cannot launch %@: it names no executable", bundlePath);
        return false;
    }
    if (!isExecutableFile(executable)) {
        WLog("Workspace: cannot launch %@: %@ is not an executable file", bundlePath, executable);
        return false;
    }
    std::vector<std::string> argv{executable};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const int error = startDetached(executable, std::move(argv), childEnvironment());
    if (error != 0) {
        WLog("Workspace: cannot launch %@: %@", executable, std::strerror(error));
        return false;
    }
    ILog("Workspace: launched %@ with %@ arguments", executable, arguments.size());
    return true;
}

bool ProcWorkspace::launchApplicationAsUser(const std::string& bundlePath,
                                            const std::vector<std::string>& arguments,
                                            const std::string& user,
                                            const std::vector<std::string>& display) {
    const std::string executable = Bundle(bundlePath).executablePath();
    if (executable.empty() || !isExecutableFile(executable)) {
        WLog("Workspace: cannot launch %@: no executable file", bundlePath);
        return false;
    }
    const auto credentials = credentialsOf(user);
    if (!credentials) {
        WLog("Workspace: not launching %@ as [%@]: no such user, or root", bundlePath, user);
        return false;
    }
    // A fresh environment of the user's own: only the display variables
    // come from ours.
    std::vector<std::string> environment = {"HOME=" + credentials->home, "USER=" + user,
                                            "LOGNAME=" + user, "PATH=/usr/local/bin:/usr/bin:/bin"};
    for (const auto& assignment : display)
        if (assignment.find('=') != std::string::npos && assignment.front() != '=')
            environment.push_back(assignment);
    std::vector<std::string> argv{executable};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const int error =
        startDetached(executable, std::move(argv), std::move(environment), credentials);
    if (error != 0) {
        WLog("Workspace: cannot launch %@ as [%@]: %@", executable, user, std::strerror(error));
        return false;
    }
    ILog("Workspace: launched %@ as [%@]", executable, user);
    return true;
}

}  // namespace tavo::platform
