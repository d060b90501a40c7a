#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "InstallCommand.h"
#include "InstallerFixture.h"
#include "foundation/MainQueue.h"

namespace fs = std::filesystem;

namespace tavo::test {
namespace {

using installer::Installation;
using Outcome = installer::Installation::Outcome;

class InstallationTest : public InstallerFixture {};

TEST_F(InstallationTest, FirstInstallPlacesEverythingAndResetsEveryUsersConfiguration) {
    const std::string other = layout.usersHomes + "/other/" + layout.userArea;
    for (const auto& area : {layout.usersHomes + "/" + me + "/" + layout.userArea, other}) {
        Sandbox::writeFile(area + "/TAVO.config.plist", "x");
        Sandbox::writeFile(area + "/TAVO.font.plist", "x");
        Sandbox::writeFile(area + "/TAVO.server.plist", "x");
    }
    std::vector<double> progress;
    auto installation = make(&progress);
    EXPECT_FALSE(installation->checkInstalled());
    ASSERT_EQ(run(*installation), Outcome::Completed) << installation->failureMessage();

    const std::string dir = versionDir(kVersion);
    EXPECT_EQ(Sandbox::readFile(dir + "/TAVO.app/Contents/MacOS/TAVO").size(), 256u * 1024);
    EXPECT_TRUE(present(dir + "/TAVO-Uninstaller.app/Contents/MacOS/TAVO-Uninstaller"));
    for (const char* script : {"/LOGforRELEASE.command", "/LOGforDEBUG.command"}) {
        struct stat info {};
        ASSERT_EQ(::stat((dir + script).c_str(), &info), 0) << script;
        EXPECT_EQ(info.st_mode & 0777, 0755u) << script;
    }
    std::error_code error;
    EXPECT_EQ(fs::read_symlink(link(), error).string(), dir);
    EXPECT_NE(Sandbox::readFile(layout.autostartEntry).find("Exec="), std::string::npos);
    EXPECT_EQ(Sandbox::readFile(polkitFile()), "<policyconfig/>\n");
    EXPECT_FALSE(present(other + "/TAVO.config.plist"));
    EXPECT_FALSE(present(other + "/TAVO.font.plist"));
    EXPECT_TRUE(present(other + "/TAVO.server.plist"));  // the server choice stays
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100.0);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));

    EXPECT_TRUE(installation->launchApplication());
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_EQ(launched[0], link() + "/TAVO.app");  // through the link, as at log-in
}

TEST_F(InstallationTest, AVersionFolderWithoutTheUninstallerIsNoInstallation) {
    installVersion("2.0.0", false);
    EXPECT_FALSE(make()->checkInstalled());
    installVersion("1.9.0", true);
    EXPECT_TRUE(make()->checkInstalled());
}

TEST_F(InstallationTest, OverwriteKeepsABackupUntilTheEndStopsTavoAndRemovesOtherVersions) {
    installVersion(kVersion);
    installVersion("2.2.0");
    Sandbox::writeFile(versionDir("2.0.0") + ".old/stale", "x");  // a backup an earlier run left
    fs::create_directory_symlink(versionDir("2.2.0"), link());
    const std::string mine = layout.usersHomes + "/" + me + "/" + layout.userArea;
    Sandbox::writeFile(mine + "/TAVO.config.plist", "signed in");
    // A process that the list keeps naming however it is signalled.
    SleepingProgram stubborn(sandbox.path("/bin/stubborn"));
    running = {stubborn.pid()};
    bool sawBackup = false;
    auto installation = make();
    onProgress = [&](Installation&, double) {
        sawBackup = sawBackup || present(versionDir(kVersion) + ".old/TAVO.app");
    };
    ASSERT_TRUE(installation->checkInstalled());
    ASSERT_EQ(run(*installation), Outcome::Failed);
    // The pretend process never ends: the procedure stops there.
    EXPECT_EQ(installation->failureMessage(), "installation failure: exit application");
    EXPECT_TRUE(sawBackup);
    EXPECT_TRUE(present(versionDir("2.2.0")));  // later steps never ran

    running.clear();
    auto again = make();
    ASSERT_TRUE(again->checkInstalled());
    ASSERT_EQ(run(*again), Outcome::Completed) << again->failureMessage();
    EXPECT_EQ(Sandbox::readFile(versionDir(kVersion) + "/TAVO.app/Contents/MacOS/TAVO").size(),
              256u * 1024);
    for (const auto& gone :
         {versionDir(kVersion) + ".old", versionDir("2.2.0"), versionDir("2.0.0") + ".old"})
        EXPECT_FALSE(present(gone)) << gone;
    std::error_code error;
    EXPECT_EQ(fs::read_symlink(link(), error).string(), versionDir(kVersion));
    EXPECT_EQ(Sandbox::readFile(mine + "/TAVO.config.plist"), "signed in");
}

TEST_F(InstallationTest, CancelDuringAnOverwriteRestoresThePreviousVersion) {
    installVersion(kVersion, true, "the installed one");
    fs::create_directory_symlink(versionDir(kVersion), link());
    Sandbox::writeFile(layout.autostartEntry, "installed entry");
    auto installation = make();
    ASSERT_TRUE(installation->checkInstalled());
    int cancels = 0;
    onProgress = [&](Installation& running, double) {
        if (cancels++ == 0) {
            EXPECT_TRUE(running.cancel());  // the copy of TAVO.app is on its way
        }
    };
    ASSERT_EQ(run(*installation), Outcome::Cancelled);
    EXPECT_EQ(Sandbox::readFile(versionDir(kVersion) + "/TAVO.app/Contents/MacOS/TAVO"),
              "the installed one");
    EXPECT_TRUE(present(versionDir(kVersion) + "/TAVO-Uninstaller.app"));
    EXPECT_FALSE(present(versionDir(kVersion) + ".old"));
    std::error_code error;
    EXPECT_EQ(fs::read_symlink(link(), error).string(), versionDir(kVersion));
    EXPECT_EQ(Sandbox::readFile(layout.autostartEntry), "installed entry");
    EXPECT_FALSE(installation->cancel());  // over already
}

TEST_F(InstallationTest, CancelOfAFirstInstallLeavesNothingBehind) {
    // What an earlier, broken installation left: no uninstaller, so no installation.
    installVersion("2.0.0", false);
    fs::create_directory_symlink(versionDir("2.0.0"), link());
    Sandbox::writeFile(layout.autostartEntry, "left over");
    auto installation = make();
    ASSERT_FALSE(installation->checkInstalled());
    int cancels = 0;
    onProgress = [&](Installation& running, double) {
        if (cancels++ == 0)
            running.cancel();
    };
    ASSERT_EQ(run(*installation), Outcome::Cancelled);
    EXPECT_FALSE(present(versionDir(kVersion)));
    EXPECT_TRUE(present(versionDir("2.0.0")));  // only this run's folder goes
    EXPECT_FALSE(present(link()));
    EXPECT_FALSE(present(layout.autostartEntry));
    EXPECT_TRUE(launched.empty());
}

TEST_F(InstallationTest, CancelBeforeTheStartTouchesNothing) {
    installVersion(kVersion, true, "the installed one");
    auto installation = make();
    ASSERT_TRUE(installation->checkInstalled());
    EXPECT_TRUE(installation->cancel());
    EXPECT_EQ(run(*installation), Outcome::Cancelled);
    EXPECT_EQ(Sandbox::readFile(versionDir(kVersion) + "/TAVO.app/Contents/MacOS/TAVO"),
              "the installed one");
}

TEST_F(InstallationTest, AStaleBackupThatIsALinkOutIsRemovedAsALink) {
    installVersion(kVersion);
    const std::string outside = sandbox.path("/keep");
    Sandbox::writeFile(outside + "/precious", "x");
    fs::create_directory_symlink(outside, versionDir("1.0.0") + ".old");
    auto installation = make();
    ASSERT_TRUE(installation->checkInstalled());
    ASSERT_EQ(run(*installation), Outcome::Completed) << installation->failureMessage();
    EXPECT_FALSE(present(versionDir("1.0.0") + ".old"));
    EXPECT_EQ(Sandbox::readFile(outside + "/precious"), "x");
}

TEST_F(InstallationTest, ABundleWithoutItsPiecesFailsWithTheCopysMessage) {
    fs::remove_all(bundle + "/Contents/MacOS/TAVO-Uninstaller.app");
    auto installation = make();
    installation->checkInstalled();
    ASSERT_EQ(run(*installation), Outcome::Failed);
    EXPECT_EQ(installation->failureMessage(), "Installation couldn't be completed");
    EXPECT_FALSE(present(link()));  // no later step ran
}

TEST_F(InstallationTest, OutsideASandboxEverythingInstalledGoesToTheOwnerAndNoLinkIsFollowed) {
    const passwd* nobody = ::getpwnam("nobody");
    const group* nogroup = ::getgrnam("nogroup");
    if (::geteuid() != 0 || !nobody || !nogroup)
        GTEST_SKIP() << "needs root, nobody and nogroup";
    // The real layout's rules over the sandbox's folders: ownership is given.
    layout.sandboxRoot.clear();
    layout.applicationOwner = "nobody:nogroup";
    const std::string outside = sandbox.path("/keep/precious");
    Sandbox::writeFile(outside, "x");
    fs::create_symlink(outside, bundle + "/Contents/MacOS/TAVO.app/Contents/Resources/escape");
    auto installation = make();
    installation->checkInstalled();
    ASSERT_EQ(run(*installation), Outcome::Completed) << installation->failureMessage();
    const auto owner = [](const std::string& path) {
        struct stat info {};
        return ::lstat(path.c_str(), &info) == 0 ? info.st_uid : static_cast<uid_t>(-1);
    };
    for (const auto& path :
         {versionDir(kVersion), versionDir(kVersion) + "/TAVO.app/Contents/MacOS/TAVO",
          versionDir(kVersion) + "/TAVO.app/Contents/Resources/escape",
          versionDir(kVersion) + "/LOGforDEBUG.command", layout.autostartEntry, polkitFile()})
        EXPECT_EQ(owner(path), nobody->pw_uid) << path;
    EXPECT_EQ(owner(outside), 0u);  // the link was given, not its target
    struct stat entry {};
    ASSERT_EQ(::stat(layout.autostartEntry.c_str(), &entry), 0);
    EXPECT_EQ(entry.st_mode & 0777, 0644u);
}

TEST_F(InstallationTest, TavoctlInstallsForAnAdministratorOnly) {
    std::ostringstream out, err;
    Sandbox::writeFile(sandbox.path("/etc/group"), "sudo:x:27:someone\n");
    EXPECT_EQ(ctl::runInstallCommand({"--no-launch", bundle}, out, err), 1);
    EXPECT_NE(err.str().find("Please install with administrator privileges"), std::string::npos);
    EXPECT_FALSE(present(versionDir(kVersion)));

    Sandbox::writeFile(sandbox.path("/etc/group"), "sudo:x:27:someone," + me + "\n");
    std::ostringstream out2, err2;
    EXPECT_EQ(ctl::runInstallCommand({"--no-launch", bundle}, out2, err2), 0) << err2.str();
    EXPECT_NE(out2.str().find("Install complete"), std::string::npos) << out2.str();
    EXPECT_TRUE(present(versionDir(kVersion) + "/TAVO-Uninstaller.app"));
    EXPECT_TRUE(present(layout.autostartEntry));

    std::ostringstream out3, err3;
    EXPECT_EQ(ctl::runInstallCommand({"--no-launch", sandbox.path("/nothing")}, out3, err3), 2);
}

}  // namespace
}  // namespace tavo::test
