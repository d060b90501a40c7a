#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/Layout.h"
#include "platform/linux/ProcWorkspace.h"
#include "support/Sandbox.h"
#include "support/ScopedEnvironment.h"

extern char** environ;

namespace fs = std::filesystem;

namespace tavo::platform {
namespace {

using test::ScopedEnvironment;

using namespace std::chrono_literals;

bool waitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string findInPath(const std::string& name) {
    std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "");
    for (std::string folder; std::getline(path, folder, ':');)
        if (!folder.empty() && ::access((folder + "/" + name).c_str(), X_OK) == 0)
            return folder + "/" + name;
    return {};
}

// Sets an environment variable for the lifetime of the object.
// The parent and the session of a process, from /proc/<pid>/stat.
std::pair<pid_t, pid_t> parentAndSession(pid_t pid) {
    const std::string stat = test::Sandbox::readFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 1));
    std::string state;
    pid_t parent = 0, group = 0, session = 0;
    fields >> state >> parent >> group >> session;
    return {parent, session};
}

std::string executableOf(pid_t pid) {
    std::error_code ec;
    return fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).string();
}

class ProcWorkspaceTest : public test::SandboxTest {
protected:
    // A bundle whose executable, a shell script, writes its process id and
    // arguments (one a line) to `record` and its open descriptors to
    // `record`.fds, then becomes `sleeper`, a copy of sleep inside the
    // bundle, so that the running process lies in the bundle.
    struct Recorder {
        std::string app;
        std::string record;
        std::string sleeper;
    };

    void SetUp() override {
        sleep_ = findInPath("sleep");
        ASSERT_FALSE(sleep_.empty()) << "no sleep program in PATH";
    }

    void TearDown() override {
        for (pid_t pid : detached_)
            ::kill(pid, SIGKILL);
        for (pid_t pid : children_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    Recorder makeRecorder(const std::string& executable, const std::string& bundleName) {
        Recorder r;
        r.app = sandbox.path("/Applications/" + executable + ".app");
        r.record = sandbox.path("/records/" + executable);
        r.sleeper = r.app + "/Contents/MacOS/" + executable + "-sleep";
        fs::create_directories(sandbox.path("/records"));
        test::Sandbox::writeFile(
            r.app + "/Contents/Info.plist",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
            "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
            "<plist version=\"1.0\">\n<dict>\n"
            "\t<key>CFBundleName</key>\n\t<string>" +
                bundleName + "</string>\n\t<key>CFBundleExecutable</key>\n\t<string>" + executable +
                "</string>\n"
                "\t<key>CFBundleIdentifier</key>\n\t<string>example.recorder</string>\n"
                "\t<key>CFBundlePackageType</key>\n\t<string>APPL</string>\n"
                "</dict>\n</plist>\n");
        const std::string script = r.app + "/Contents/MacOS/" + executable;
        test::Sandbox::writeFile(
            script,
            "#!/bin/sh\n"
            "record='" +
                r.record +
                "'\n"
                "echo \"$$\" > \"$record.part\"\n"
                "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >> \"$record.part\"\n"
                "for f in /proc/$$/fd/*; do\n"
                "  printf '%s %s\\n' \"${f##*/}\" \"$(readlink \"$f\")\"\n"
                "done > \"$record.fds\"\n"
                "mv \"$record.part\" \"$record\"\n"
                "exec \"$(dirname \"$0\")/" +
                executable + "-sleep\" 20\n");
        fs::permissions(script, fs::perms::owner_all);
        fs::copy_file(sleep_, r.sleeper);
        fs::permissions(r.sleeper, fs::perms::owner_all);
        return r;
    }

    // The lines of the record once it is there; its first line, the process
    // id, is killed in TearDown.
    std::vector<std::string> recordOf(const Recorder& r) {
        if (!waitUntil([&] { return test::Sandbox::exists(r.record); }))
            return {};
        std::vector<std::string> lines = linesOf(test::Sandbox::readFile(r.record));
        if (!lines.empty())
            detached_.push_back(std::stoi(lines.front()));
        return lines;
    }

    // Starts the recorder ourselves, as our child, with TAVO_ROOT=root.
    pid_t spawnWithRoot(const Recorder& r, const std::string& root) {
        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e)
            if (!std::string_view(*e).starts_with("TAVO_ROOT="))
                environment.emplace_back(*e);
        environment.push_back("TAVO_ROOT=" + root);
        std::vector<char*> envp;
        for (std::string& entry : environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        std::string executable = r.app + "/Contents/MacOS/" + fs::path(r.app).stem().string();
        char* argv[] = {executable.data(), nullptr};
        pid_t pid = -1;
        if (::posix_spawn(&pid, executable.c_str(), nullptr, nullptr, argv, envp.data()) != 0)
            return -1;
        children_.push_back(pid);
        return pid;
    }

    // The listing's entry for pid, once the process runs `executable`.
    std::optional<RunningApplication> listedOnceItRuns(pid_t pid, const std::string& executable) {
        std::optional<RunningApplication> found;
        waitUntil([&] {
            for (const RunningApplication& app : workspace.runningApplications())
                if (app.processIdentifier == pid && app.executablePath == executable)
                    found = app;
            return found.has_value();
        });
        return found;
    }

    ProcWorkspace workspace;
    std::string sleep_;
    std::vector<pid_t> detached_;
    std::vector<pid_t> children_;
};

TEST_F(ProcWorkspaceTest, LaunchPassesArgumentsVerbatimToADetachedProcess) {
    const Recorder recorder = makeRecorder("Recorder", "Recorder Display Name");
    // A descriptor without close-on-exec must not reach the started program.
    const std::string marker = sandbox.path("/leak-marker");
    test::Sandbox::writeFile(marker, "x");
    const int leak = ::open(marker.c_str(), O_RDONLY);
    ASSERT_GE(leak, 0);
    const std::vector<std::string> arguments = {
        "two words", "it's", "say \"hi\"", "", "$HOME", "back\\slash", "*", "--flag", "; exit 1"};

    const bool launched = workspace.launchApplication(recorder.app, arguments);
    ::close(leak);
    ASSERT_TRUE(launched);

    const std::vector<std::string> record = recordOf(recorder);
    ASSERT_FALSE(record.empty()) << "the recorder did not run";
    const pid_t pid = std::stoi(record.front());
    EXPECT_EQ(std::vector<std::string>(record.begin() + 1, record.end()), arguments);

    const std::string descriptors = test::Sandbox::readFile(recorder.record + ".fds");
    EXPECT_NE(descriptors.find("0 /dev/null\n"), std::string::npos) << descriptors;
    EXPECT_EQ(descriptors.find(marker), std::string::npos) << descriptors;

    // Not our child, and in a session of its own.
    const auto [parent, session] = parentAndSession(pid);
    EXPECT_NE(parent, ::getpid());
    EXPECT_NE(session, ::getsid(0));
}

TEST_F(ProcWorkspaceTest, ListsTheLaunchedBundleAndThisProcessInPidOrder) {
    const Recorder recorder = makeRecorder("Lister", "Lister Name");
    ASSERT_TRUE(workspace.launchApplication(recorder.app, {}));
    const std::vector<std::string> record = recordOf(recorder);
    ASSERT_FALSE(record.empty());
    const pid_t pid = std::stoi(record.front());

    const auto listed = listedOnceItRuns(pid, recorder.sleeper);
    ASSERT_TRUE(listed) << "the launched program is not listed";
    EXPECT_EQ(listed->bundlePath, recorder.app);
    EXPECT_EQ(listed->localizedName, "Lister Name");

    const std::vector<RunningApplication> apps = workspace.runningApplications();
    EXPECT_TRUE(std::is_sorted(apps.begin(), apps.end(), [](const auto& a, const auto& b) {
        return a.processIdentifier < b.processIdentifier;
    }));
    const auto self = std::find_if(apps.begin(), apps.end(), [](const RunningApplication& app) {
        return app.processIdentifier == ::getpid();
    });
    ASSERT_NE(self, apps.end());
    EXPECT_EQ(self->executablePath, executableOf(::getpid()));
    EXPECT_EQ(self->bundlePath, "");
    EXPECT_EQ(self->localizedName, fs::path(executableOf(::getpid())).filename().string());
}

TEST_F(ProcWorkspaceTest, ListsOnlyTheProcessesOfTheSameSandboxRoot) {
    const Recorder ours = makeRecorder("Ours", "Ours");
    const Recorder theirs = makeRecorder("Theirs", "Theirs");
    ASSERT_TRUE(workspace.launchApplication(ours.app, {}));
    const pid_t other = spawnWithRoot(theirs, sandbox.path("/another-root"));
    ASSERT_GT(other, 0);
    const std::vector<std::string> record = recordOf(ours);
    ASSERT_FALSE(record.empty());
    const pid_t pid = std::stoi(record.front());
    ASSERT_TRUE(waitUntil([&] { return executableOf(other) == theirs.sleeper; }));

    ASSERT_TRUE(listedOnceItRuns(pid, ours.sleeper));
    for (const RunningApplication& app : workspace.runningApplications())
        EXPECT_NE(app.processIdentifier, other) << app.executablePath;

    // Outside a sandbox root, no process of any sandbox is listed; this one is.
    setSandboxRoot("");
    const std::vector<RunningApplication> outside = workspace.runningApplications();
    setSandboxRoot(sandbox.root());
    bool sawSelf = false;
    for (const RunningApplication& app : outside) {
        EXPECT_NE(app.processIdentifier, pid);
        EXPECT_NE(app.processIdentifier, other);
        sawSelf = sawSelf || app.processIdentifier == ::getpid();
    }
    EXPECT_TRUE(sawSelf);
}

TEST_F(ProcWorkspaceTest, LaunchFailsWithoutAnExecutable) {
    const Recorder recorder = makeRecorder("Broken", "Broken");
    fs::remove(recorder.app + "/Contents/MacOS/Broken");
    EXPECT_FALSE(workspace.launchApplication(recorder.app, {}));

    fs::create_directories(recorder.app + "/Contents/MacOS/Broken");  // a folder
    EXPECT_FALSE(workspace.launchApplication(recorder.app, {}));
    fs::remove(recorder.app + "/Contents/MacOS/Broken");

    test::Sandbox::writeFile(recorder.app + "/Contents/MacOS/Broken", "#!/bin/sh\n");
    fs::permissions(recorder.app + "/Contents/MacOS/Broken", fs::perms::owner_read);
    EXPECT_FALSE(workspace.launchApplication(recorder.app, {}));

    // Executable, but exec fails: no interpreter.
    test::Sandbox::writeFile(recorder.app + "/Contents/MacOS/Broken", "#!/no/such/shell\n");
    fs::permissions(recorder.app + "/Contents/MacOS/Broken", fs::perms::owner_all);
    EXPECT_FALSE(workspace.launchApplication(recorder.app, {}));

    fs::remove(recorder.app + "/Contents/Info.plist");
    EXPECT_FALSE(workspace.launchApplication(recorder.app, {}));
    EXPECT_FALSE(workspace.launchApplication(sandbox.path("/Applications/Missing.app"), {}));
    EXPECT_FALSE(workspace.launchApplication("", {}));
    EXPECT_FALSE(test::Sandbox::exists(recorder.record));
}

TEST_F(ProcWorkspaceTest, OpenURLHandsTheAddressToXdgOpen) {
    const std::string record = sandbox.path("/records/xdg-open");
    test::Sandbox::writeFile(sandbox.path("/bin/xdg-open"),
                             "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '" + record +
                                 ".part'\nmv '" + record + ".part' '" + record + "'\n");
    fs::create_directories(sandbox.path("/records"));
    fs::permissions(sandbox.path("/bin/xdg-open"), fs::perms::owner_all);
    const char* path = std::getenv("PATH");
    const ScopedEnvironment searchPath("PATH", sandbox.path("/bin") + ":" + (path ? path : ""));

    EXPECT_FALSE(workspace.openURL(""));
    EXPECT_FALSE(workspace.openURL("-e"));
    EXPECT_FALSE(workspace.openURL("--help http://example.test/"));
    // Addresses from the server never open local files or programs.
    EXPECT_FALSE(workspace.openURL("file:///etc/passwd"));
    EXPECT_FALSE(workspace.openURL("/usr/share/applications/xterm.desktop"));
    EXPECT_FALSE(workspace.openURL("javascript:alert(1)"));
    EXPECT_FALSE(workspace.openURL("https://example.test/\nfile:///etc/passwd"));
    EXPECT_FALSE(workspace.openURL("https://"));
    EXPECT_FALSE(test::Sandbox::exists(record));

    const std::string url = "https://example.test/a b/it's?q=\"x\"&r=$HOME#top";
    ASSERT_TRUE(workspace.openURL(url));
    ASSERT_TRUE(waitUntil([&] { return test::Sandbox::exists(record); }));
    EXPECT_EQ(linesOf(test::Sandbox::readFile(record)), (std::vector<std::string>{"1", url}));
}

TEST_F(ProcWorkspaceTest, OpenURLFailsWithoutXdgOpen) {
    fs::create_directories(sandbox.path("/empty"));
    const ScopedEnvironment searchPath("PATH", sandbox.path("/empty"));
    EXPECT_FALSE(workspace.openURL("https://example.test/"));
}

}  // namespace
}  // namespace tavo::platform
