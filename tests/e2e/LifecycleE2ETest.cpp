// The whole life of TAVO on a machine, in a sandbox root against the
// reference service: the packaged installer of this build is unpacked and
// installs TAVO; the user signs in and the fonts arrive; the service
// publishes a signed 2.2.0 and TAVO updates itself; the 2.1.0 package is
// installed again over it; the uninstaller of the installed copy removes
// everything but the user's own files.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "e2e/InstalledPrograms.h"
#include "e2e/ResidentFixture.h"
#include "foundation/Const.h"
#include "foundation/Process.h"
#include "platform/Layout.h"
#include "platform/SystemInfo.h"

namespace fs = std::filesystem;

namespace tavo::test {
namespace {

using namespace std::chrono_literals;

class LifecycleE2ETest : public ResidentFixture {
protected:
    void SetUp() override {
        ResidentFixture::SetUp();
        if (HasFatalFailure())
            return;
        layout = platform::Layout::current();
        me = platform::SystemInfo::loginName();
        Sandbox::writeFile(sandbox.path("/etc/group"), "sudo:x:27:" + me + "\n");
    }

    void TearDown() override {
        // What the installer and the update started are not the test's children.
        for (const char* version : {"2.1.0", "2.2.0"})
            for (pid_t pid : InstalledPrograms::processesOf(residentOf(version)))
                ::kill(pid, SIGTERM);
        ResidentFixture::TearDown();
    }

    std::string versionDir(const std::string& version) const {
        return layout.applicationRoot + "/TAVO-Ver" + version;
    }
    std::string residentOf(const std::string& version) const {
        return versionDir(version) + "/TAVO.app/Contents/MacOS/TAVO";
    }
    std::string link() const { return layout.applicationRoot + "/TAVO"; }
    std::string linkTarget() const {
        std::error_code error;
        return fs::read_symlink(link(), error).string();
    }

    // Runs a program of an installed or unpacked bundle in the sandbox's
    // environment to its end; its exit status (-1 when it hangs).
    int runTool(const std::string& executable, const std::vector<std::string>& arguments,
                std::string* output = nullptr, const std::string& input = {}) {
        processes.push_back(std::make_unique<ResidentProcess>(sandbox.root(), sandbox.home()));
        ResidentProcess& tool = *processes.back();
        tool.setExecutable(executable);
        if (!input.empty()) {
            const std::string answers = sandbox.path("/answers");
            Sandbox::writeFile(answers, input);
            tool.setInput(answers);
        }
        const std::size_t before = tool.output().size();
        if (!tool.start(arguments))
            return -1;
        const auto status = tool.waitForExit(60s);
        if (output)
            *output = tool.output().substr(before);
        return status.value_or(-1);
    }

    bool tavoRuns(const std::string& version, const std::string& argument = {}) {
        return eventually(
            [&] { return !InstalledPrograms::processesOf(residentOf(version), argument).empty(); });
    }
    bool tavoEnds(const std::string& version) {
        return eventually(
            [&] { return InstalledPrograms::processesOf(residentOf(version)).empty(); });
    }

    // Every file and link under folder, relative to the sandbox root.
    std::set<std::string> filesUnder(const std::string& folder) const {
        std::set<std::string> files;
        std::error_code error;
        for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error))
            if (!it->is_directory(error) || it->is_symlink(error))
                files.insert(it->path().string().substr(sandbox.root().size()));
        return files;
    }

    platform::Layout layout;
    std::string me;
};

TEST_F(LifecycleE2ETest, InstallSignInUpdateOverwriteAndUninstall) {
    // The user's own files, which must outlive everything.
    const std::string ownNote = sandbox.home() + "/Documents/note.txt";
    Sandbox::writeFile(ownNote, "mine");
    const std::string ownFont = sandbox.home() + "/.local/share/fonts/MyOwn.otf";
    Sandbox::writeFile(ownFont, "not a font of the service");

    // The package of this build, unpacked where a download would go.
    const ProcessResult packaged =
        Process::run(TAVO_SOURCE_DIR "/scripts/package",
                     {"--build-dir", TAVO_BUILD_DIR, "--output", sandbox.path("/dist")});
    ASSERT_EQ(packaged.exitStatus, 0) << packaged.standardError;
    const std::string archive = sandbox.path("/dist/TAVO-Installer-2.1.0-linux-") +
                                Process::run("dpkg", {"--print-architecture"}).standardOutput;
    const std::string downloads = sandbox.home() + "/Downloads";
    fs::create_directories(downloads);
    const std::string archivePath =
        archive.substr(0, archive.find_last_not_of("\n") + 1) + ".tar.gz";
    ASSERT_TRUE(fs::exists(archivePath)) << packaged.standardOutput;
    ASSERT_EQ(Process::run("tar", {"-xzf", archivePath, "-C", downloads}).exitStatus, 0);
    const std::string unpacked = downloads + "/TAVO-Installer-2.1.0";
    ASSERT_TRUE(fs::exists(unpacked + "/README.txt"));
    const std::string installer = unpacked + "/TAVO-Installer.app";
    const std::string packagedCtl = installer + "/Contents/MacOS/TAVO.app/Contents/MacOS/tavoctl";
    const std::string installedCtl = link() + "/TAVO.app/Contents/MacOS/tavoctl";

    // 1. The first install: layout, link, autostart entry, TAVO running.
    ASSERT_TRUE(fs::exists(*Const::applicationConfigPlistPath()));  // an old sign-in
    std::string out;
    ASSERT_EQ(runTool(packagedCtl, {"install", installer}, &out), 0) << out;
    EXPECT_TRUE(
        fs::exists(versionDir("2.1.0") + "/TAVO-Uninstaller.app/Contents/MacOS/TAVO-Uninstaller"));
    EXPECT_TRUE(fs::exists(versionDir("2.1.0") + "/LOGforDEBUG.command"));
    EXPECT_EQ(linkTarget(), versionDir("2.1.0"));
    EXPECT_TRUE(fs::exists(layout.autostartEntry));
    EXPECT_TRUE(fs::exists(layout.polkitActions + "/oskavelle.TAVO.update-helper.policy"));
    EXPECT_FALSE(fs::exists(*Const::applicationConfigPlistPath()));  // reset on a first install
    ASSERT_TRUE(tavoRuns("2.1.0")) << out;

    // 2. Sign-in with tavoctl; at the next log-in TAVO brings the fonts.
    ASSERT_EQ(runTool(installedCtl, {"login"}, &out, std::string(kMail) + "\n" + kPassword + "\n"),
              0)
        << out;
    InstalledPrograms::writeVersionArchive("2.2.0", sandbox.path("/srv/TAVO-Ver2.2.0.zip"));
    admin("/admin/client-apps", {{"specifiedVersion", "2.2.0"},
                                 {"offeredVersion", "2.2.0"},
                                 {"isForcedUpdate", false},
                                 {"archive", sandbox.path("/srv/TAVO-Ver2.2.0.zip")}});
    for (pid_t pid : InstalledPrograms::processesOf(residentOf("2.1.0")))
        ::kill(pid, SIGTERM);
    ASSERT_TRUE(tavoEnds("2.1.0"));
    const std::string entry = Sandbox::readFile(layout.autostartEntry);
    const auto exec = entry.find("\nExec=") + 6;
    const std::string atLogIn = sandbox.root() + entry.substr(exec, entry.find('\n', exec) - exec);
    processes.push_back(std::make_unique<ResidentProcess>(sandbox.root(), sandbox.home()));
    processes.back()->setExecutable(atLogIn);
    ASSERT_TRUE(processes.back()->start({}));
    const auto fonts = accountFonts();
    ASSERT_FALSE(fonts.empty());
    EXPECT_TRUE(eventually(
        [&] {
            for (const auto& font : fonts)
                if (!fs::exists(fontPath(font.fileName.value_or(""))))
                    return false;
            return true;
        },
        30s));

    // 3. The service publishes 2.2.0; TAVO downloads it and updates itself.
    ASSERT_TRUE(waitForLog("Downloaded updater: ", 30s));
    ASSERT_EQ(runTool(installedCtl, {"update", "--apply"}, &out), 0) << out;
    EXPECT_EQ(linkTarget(), versionDir("2.2.0"));
    ASSERT_TRUE(tavoRuns("2.2.0", "-Updated"));
    EXPECT_TRUE(tavoEnds("2.1.0"));

    // 4. The 2.1.0 package again: an overwrite.
    ASSERT_EQ(runTool(packagedCtl, {"install", installer}, &out), 0) << out;
    EXPECT_NE(out.find("Overwriting the installation"), std::string::npos) << out;
    EXPECT_NE(out.find("Renamed " + versionDir("2.1.0") + " to " + versionDir("2.1.0") + ".old"),
              std::string::npos)
        << out;
    EXPECT_FALSE(fs::exists(versionDir("2.1.0") + ".old"));
    EXPECT_FALSE(fs::exists(versionDir("2.2.0")));
    EXPECT_EQ(linkTarget(), versionDir("2.1.0"));
    EXPECT_TRUE(InstalledPrograms::processesOf(residentOf("2.2.0")).empty());
    EXPECT_TRUE(tavoRuns("2.1.0"));
    EXPECT_TRUE(fs::exists(*Const::applicationConfigPlistPath()));  // kept on an overwrite

    // 5. The uninstaller of the installed copy removes TAVO.
    ASSERT_EQ(runTool(installedCtl, {"uninstall"}, &out), 0) << out;
    EXPECT_TRUE(tavoEnds("2.1.0"));
    EXPECT_TRUE(fs::exists(ownNote));
    EXPECT_TRUE(fs::exists(ownFont));
    std::set<std::string> left;
    for (const auto& place :
         {layout.applicationRoot, fs::path(layout.autostartEntry).parent_path().string(),
          layout.polkitActions, sandbox.home() + "/.local", sandbox.home() + "/.config"})
        for (const auto& file : filesUnder(place))
            left.insert(file);
    const std::string home = sandbox.home().substr(sandbox.root().size());
    left.erase(home + "/.local/share/fonts/MyOwn.otf");
    // What the sandbox's fontconfig keeps is the test's, not TAVO's.
    std::erase_if(left, [&](const std::string& file) {
        return file.starts_with(home + "/.config/fontconfig/");
    });
    EXPECT_TRUE(left.empty()) << [&] {
        std::ostringstream listing;
        for (const auto& file : left)
            listing << file << "\n";
        return listing.str();
    }();
}

}  // namespace
}  // namespace tavo::test
