// update_apply_bench: the time from the user's OK to the new version
// running. Each run lays out a fresh sandbox root with this build's TAVO
// bundle installed as 2.1.0 and a signed archive of the same bundle as
// 2.2.0 downloaded, runs `tavoctl update --apply` (the same worker, helper
// and relaunch as the menu's OK), and stops the clock when the 2.2.0 TAVO
// has written its first log line. A plain program: a few long runs, one table.
//   build/bench/update/update_apply_bench [--runs N]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Config.h"
#include "foundation/ConfigKeys.h"
#include "foundation/Const.h"
#include "foundation/Ed25519.h"
#include "foundation/FileUtil.h"
#include "platform/Layout.h"
#include "platform/SystemInfo.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& directory = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!directory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> a = argv, e = env;
    std::vector<char*> args, envp;
    for (auto& s : a)
        args.push_back(s.data());
    args.push_back(nullptr);
    for (auto& s : e)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> inheritedEnvironment() {
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view v(*entry);
        if (!v.starts_with("TAVO_") && !v.starts_with("HOME=") && !v.starts_with("XDG_") &&
            !v.starts_with("DISPLAY=") && !v.starts_with("WAYLAND_DISPLAY="))
            env.emplace_back(*entry);
    }
    return env;
}

// The pid of a running program with that executable, or -1.
pid_t findProcess(const std::string& executable) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code ec;
        if (fs::read_symlink(entry.path() / "exe", ec).string() == executable)
            return static_cast<pid_t>(std::stol(name));
    }
    return -1;
}

// The bundle as another version, zipped as the service publishes it.
std::string makeArchive(const std::string& bundle, const std::string& folder) {
    const fs::path staging = fs::path(folder) / "TAVO-Ver2.2.0" / "TAVO.app";
    fs::create_directories(staging.parent_path());
    fs::copy(bundle, staging, fs::copy_options::recursive);
    const std::string plistPath = (staging / "Contents" / "Info.plist").string();
    std::string plist = readAll(plistPath);
    const auto at = plist.find("<string>", plist.find("<key>CFBundleShortVersionString</key>"));
    plist.replace(at + 8, plist.find("</string>", at) - at - 8, "2.2.0");
    std::ofstream(plistPath, std::ios::trunc) << plist;
    const std::string archive = folder + "/TAVO-Ver2.2.0.zip";
    const pid_t zip =
        spawn({"zip", "-qry1", archive, "TAVO-Ver2.2.0"}, inheritedEnvironment(), folder);
    if (zip < 0 || waitFor(zip) != 0)
        return {};
    fs::remove_all(fs::path(folder) / "TAVO-Ver2.2.0");
    return archive;
}

struct Run {
    double toRunning = -1;  // seconds from the OK to the new version's first log line
    double toolEnded = -1;  // seconds until tavoctl returned
    int status = -1;
};

Run runOnce(const std::string& bundle, const std::string& archive, const std::string& signature,
            double timeScale) {
    char templ[] = "/tmp/tavo-update-bench-XXXXXX";
    const std::string root = mkdtemp(templ);
    tavo::platform::setSandboxRoot(root);
    const std::string appRoot = tavo::Const::appBaseDir();
    fs::create_directories(appRoot + "/TAVO-Ver2.1.0");
    fs::copy(bundle, appRoot + "/TAVO-Ver2.1.0/TAVO.app", fs::copy_options::recursive);
    fs::create_symlink(appRoot + "/TAVO-Ver2.1.0", appRoot + "/TAVO");
    fs::create_directories(appRoot + "/TAVO-Ver2.0.0/TAVO.app");
    const std::string user = tavo::platform::SystemInfo::loginName();
    fs::create_directories(root + "/etc");
    tavo::FileUtil::writeFile(root + "/etc/group", "sudo:x:27:" + user + "\n", false, 0644);
    const std::string home = root + "/home/" + user;
    tavo::Config::createConfigPlist(std::nullopt);
    tavo::Config::updateUserConfig([](tavo::PlistDict& c) {
        c[tavo::kConfigUpdateVersion] = "2.2.0";
        c[tavo::kConfigForcedUpdate] = false;
    });
    const std::string target = *tavo::Const::applicationUpdateFilePathWithVersion("2.2.0");
    fs::copy_file(archive, target);
    tavo::FileUtil::writeFile(target + ".sig", signature, false, 0644);

    std::vector<std::string> env = inheritedEnvironment();
    std::ostringstream scale;
    scale << timeScale;
    env.push_back("TAVO_ROOT=" + root);
    env.push_back("TAVO_TIME_SCALE=" + scale.str());
    env.push_back("HOME=" + home);
    env.push_back("XDG_CONFIG_HOME=" + home + "/.config");
    env.push_back("XDG_DATA_HOME=" + home + "/.local/share");
    env.push_back("XDG_STATE_HOME=" + home + "/.local/state");
    env.push_back("XDG_CACHE_HOME=" + home + "/.cache");
    const std::string newExecutable = appRoot + "/TAVO-Ver2.2.0/TAVO.app/Contents/MacOS/TAVO";
    const std::string log = *tavo::Const::applicationLogPath();

    Run run;
    const auto ok = Clock::now();
    const pid_t tool = spawn(
        {appRoot + "/TAVO-Ver2.1.0/TAVO.app/Contents/MacOS/tavoctl", "update", "--apply"}, env);
    pid_t started = -1;
    const auto deadline = ok + std::chrono::seconds(60);
    while (Clock::now() < deadline && run.toRunning < 0) {
        if (started < 0)
            started = findProcess(newExecutable);
        if (started > 0 &&
            readAll(log).find("TAVO[" + std::to_string(started) + ":") != std::string::npos)
            run.toRunning = std::chrono::duration<double>(Clock::now() - ok).count();
        int raw = 0;
        if (run.toolEnded < 0 && tool > 0 && waitpid(tool, &raw, WNOHANG) == tool) {
            run.toolEnded = std::chrono::duration<double>(Clock::now() - ok).count();
            run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (run.toolEnded < 0 && tool > 0) {
        run.status = waitFor(tool);
        run.toolEnded = std::chrono::duration<double>(Clock::now() - ok).count();
    }
    if (started > 0) {
        kill(started, SIGTERM);
        for (int i = 0; i < 500 && findProcess(newExecutable) > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    tavo::platform::setSandboxRoot({});
    fs::remove_all(root);
    return run;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 3;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
    const std::string bundle = std::string(TAVO_BENCH_BUNDLES) + "/TAVO.app";
    char templ[] = "/tmp/tavo-update-archive-XXXXXX";
    const std::string folder = mkdtemp(templ);
    std::cout << "Zipping this build's bundle as 2.2.0...\n" << std::flush;
    const std::string archive = makeArchive(bundle, folder);
    if (archive.empty()) {
        std::cerr << "update_apply_bench: zip failed\n";
        return 1;
    }
    const auto signature = tavo::Ed25519::sign(readAll(archive), readAll(TAVO_BENCH_SIGNING_KEY));
    if (!signature) {
        std::cerr << "update_apply_bench: the test key could not sign\n";
        return 1;
    }
    const std::string signatureText = tavo::Ed25519::base64Encode(*signature) + "\n";
    std::printf("archive: %.1f MB\n\n", fs::file_size(archive) / 1e6);
    std::printf("%-34s %12s %12s %6s\n", "time scale of the pauses", "OK -> 2.2.0", "tavoctl",
                "exit");
    for (double scale : {1.0, 0.001}) {
        std::vector<double> running, ended;
        int status = 0;
        for (int i = 0; i < runs; ++i) {
            const Run run = runOnce(bundle, archive, signatureText, scale);
            running.push_back(run.toRunning);
            ended.push_back(run.toolEnded);
            status = std::max(status, run.status);
        }
        std::printf("%-34s %10.3f s %10.3f s %6d\n",
                    scale == 1.0 ? "1 (as shipped: 4 s of pauses)" : "0.001 (the work alone)",
                    median(running), median(ended), status);
    }
    fs::remove_all(folder);
    return 0;
}
