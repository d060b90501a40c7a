#include "InstallerFixture.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "foundation/MainQueue.h"
#include "platform/Layout.h"
#include "platform/SystemInfo.h"

namespace fs = std::filesystem;

extern char** environ;

namespace tavo::test {

namespace {

std::string infoPlist(const std::string& name, const std::string& version) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleName</key><string>" +
           name + "</string><key>CFBundleExecutable</key><string>" + name +
           "</string><key>CFBundleShortVersionString</key><string>" + version +
           "</string></dict></plist>\n";
}

void makeBundle(const std::string& path, const std::string& name, const std::string& version,
                const std::string& content) {
    Sandbox::writeFile(path + "/Contents/Info.plist", infoPlist(name, version));
    Sandbox::writeFile(path + "/Contents/MacOS/" + name, content);
    fs::permissions(path + "/Contents/MacOS/" + name, fs::perms(0755));
}

}  // namespace

void InstallerFixture::SetUp() {
    layout = platform::Layout::current();
    me = platform::SystemInfo::loginName();
    bundle = sandbox.path("/download/TAVO-Installer.app");
    makeBundle(bundle, "TAVO-Installer", kVersion, "installer");
    const std::string inside = bundle + "/Contents/MacOS/";
    makeBundle(inside + "TAVO.app", "TAVO", kVersion, std::string(256 * 1024, 'T'));
    Sandbox::writeFile(inside + "TAVO.app/Contents/Resources/oskavelle.TAVO.update-helper.policy",
                       "<policyconfig/>\n");
    makeBundle(inside + "TAVO-Uninstaller.app", "TAVO-Uninstaller", kVersion, "uninstaller");
    // The real resources of this build's installer.
    const std::string resources = bundlesDirectory() + "/TAVO-Installer.app/Contents/Resources";
    fs::copy(resources, bundle + "/Contents/Resources", fs::copy_options::recursive);
}

std::string InstallerFixture::versionDir(const std::string& version) const {
    return layout.applicationRoot + "/TAVO-Ver" + version;
}

std::string InstallerFixture::link() const {
    return layout.applicationRoot + "/TAVO";
}

std::string InstallerFixture::polkitFile() const {
    return layout.polkitActions + "/oskavelle.TAVO.update-helper.policy";
}

bool InstallerFixture::present(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::string InstallerFixture::installVersion(const std::string& version, bool withUninstaller,
                                             const std::string& marker) {
    const std::string dir = versionDir(version);
    makeBundle(dir + "/TAVO.app", "TAVO", version, marker);
    if (withUninstaller)
        makeBundle(dir + "/TAVO-Uninstaller.app", "TAVO-Uninstaller", version, marker);
    return dir;
}

std::shared_ptr<installer::Installation> InstallerFixture::make(std::vector<double>* progress) {
    installer::InstallSetup setup;
    setup.layout = layout;
    setup.installerBundle = bundle;
    setup.version = kVersion;
    setup.currentUser = me;
    setup.runningApplications = [this] { return running; };
    setup.launch = [this](const std::string& path) {
        launched.push_back(path);
        return true;
    };
    // The progress seam reaches the installation it reports for.
    auto self = std::make_shared<std::weak_ptr<installer::Installation>>();
    setup.progress = [this, progress, self](double value) {
        if (progress)
            progress->push_back(value);
        if (auto installation = self->lock(); installation && onProgress)
            onProgress(*installation, value);
    };
    auto installation = installer::Installation::create(std::move(setup));
    *self = installation;
    return installation;
}

std::optional<installer::Installation::Outcome> InstallerFixture::run(
    installer::Installation& installation) {
    std::optional<installer::Installation::Outcome> outcome;
    installation.start([&outcome](installer::Installation::Outcome end) { outcome = end; });
    MainQueue::main().runUntil([&outcome] { return outcome.has_value(); },
                               std::chrono::seconds(30));
    return outcome;
}

SleepingProgram::SleepingProgram(const std::string& path, const std::string& program,
                                 const std::vector<std::string>& arguments) {
    fs::create_directories(fs::path(path).parent_path());
    fs::copy_file(program, path, fs::copy_options::overwrite_existing);
    fs::permissions(path, fs::perms(0755));
    std::vector<std::string> args{path};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry)
        if (!std::string(*entry).starts_with("TAVO_ROOT="))
            env.emplace_back(*entry);
    env.push_back("TAVO_ROOT=" + platform::sandboxRoot());
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::execve(path.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    // Until exec has happened, /proc names the test program.
    for (int i = 0; i < 200; ++i) {
        std::error_code error;
        if (fs::read_symlink("/proc/" + std::to_string(pid_) + "/exe", error).string() == path)
            break;
        ::usleep(5000);
    }
}

SleepingProgram::~SleepingProgram() {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool SleepingProgram::alive() {
    if (reaped_)
        return false;
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_)
        reaped_ = true;
    return !reaped_;
}

}  // namespace tavo::test
