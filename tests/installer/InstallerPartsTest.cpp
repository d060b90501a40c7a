#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "InstallerFixture.h"
#include "foundation/Const.h"
#include "foundation/Log.h"
#include "foundation/Process.h"
#include "installer/LibraryCheck.h"
#include "platform/Layout.h"
#include "platform/linux/ProcWorkspace.h"
#include "platform/linux/UserLog.h"
#include "uninstaller/RunningTavo.h"

namespace tavo::test {
namespace {

using installer::LibraryCheck;
using uninstaller::RunningTavo;

TEST(RunningTavoTest, OnlyTheResidentApplicationOfATavoBundleIsTavo) {
    EXPECT_TRUE(
        RunningTavo::isTavoExecutable("/opt/Oskavelle/TAVO-Ver2.1.0/TAVO.app/Contents/MacOS/TAVO"));
    EXPECT_TRUE(
        RunningTavo::isTavoExecutable("/home/u/build/bundles/TAVO.app/Contents/MacOS/TAVO"));
    EXPECT_FALSE(RunningTavo::isTavoExecutable("/opt/x/TAVO.app/Contents/MacOS/tavoctl"));
    EXPECT_FALSE(
        RunningTavo::isTavoExecutable("/opt/x/TAVO.app/Contents/MacOS/tavo-update-helper"));
    EXPECT_FALSE(RunningTavo::isTavoExecutable("/opt/x/MyTAVO.app/Contents/MacOS/TAVO"));
    EXPECT_FALSE(RunningTavo::isTavoExecutable("/usr/bin/vim"));
    EXPECT_FALSE(RunningTavo::isTavoExecutable("/TAVO.app/Contents/MacOS/TAVO.bak"));
}

class RunningTavoProcessTest : public SandboxTest {};

TEST_F(RunningTavoProcessTest, StopsTavoAndLeavesAProgramThatOnlyNamesIt) {
    const std::string bundle = sandbox.path("/opt/Oskavelle/TAVO-Ver2.1.0/TAVO.app");
    SleepingProgram tavo(bundle + "/Contents/MacOS/TAVO");
    // A viewer of a file in the bundle: "/TAVO.app/" is only in its arguments.
    Sandbox::writeFile(bundle + "/Contents/Info.plist", "<plist/>");
    SleepingProgram viewer(sandbox.path("/usr/bin/viewer"), "/usr/bin/tail",
                           {"-f", bundle + "/Contents/Info.plist"});
    SleepingProgram tool(bundle + "/Contents/MacOS/tavoctl");
    const auto listed = RunningTavo::processIds();
    EXPECT_NE(std::find(listed.begin(), listed.end(), tavo.pid()), listed.end());
    EXPECT_EQ(std::find(listed.begin(), listed.end(), viewer.pid()), listed.end());
    EXPECT_EQ(std::find(listed.begin(), listed.end(), tool.pid()), listed.end());

    EXPECT_TRUE(RunningTavo::stop(
        [&] { return tavo.alive() ? std::vector<int>{tavo.pid()} : std::vector<int>{}; }));
    EXPECT_FALSE(tavo.alive());
    EXPECT_TRUE(viewer.alive());
    EXPECT_TRUE(tool.alive());
}

TEST(LibraryCheckTest, NamesThePackagesOfTheMissingLibrariesOnce) {
    const std::string ldd =
        "\tlinux-vdso.so.1 (0x00007ffd)\n"
        "\tlibQt6Widgets.so.6 => not found\n"
        "\tlibcurl.so.4 => /lib/x86_64-linux-gnu/libcurl.so.4 (0x00007f)\n"
        "\tlibssl.so.3 => not found\n"
        "\tlibcrypto.so.3 => not found\n"
        "\tlibQt6Widgets.so.6 => not found\n"
        "\tlibmystery.so.9 => not found\n";
    const auto missing = LibraryCheck::notFound(ldd);
    EXPECT_EQ(missing, (std::vector<std::string>{"libQt6Widgets.so.6", "libssl.so.3",
                                                 "libcrypto.so.3", "libmystery.so.9"}));
    const auto report = LibraryCheck::reportFor(missing);
    EXPECT_FALSE(report.complete());
    EXPECT_EQ(report.installLine(), "sudo apt-get install libqt6widgets6 libssl3");
    EXPECT_EQ(report.unknown, std::vector<std::string>{"libmystery.so.9"});
    EXPECT_TRUE(LibraryCheck::reportFor({}).complete());
    EXPECT_EQ(LibraryCheck::reportFor({}).installLine(), "");
}

TEST(LibraryCheckTest, ThisBuildsProgramsFindTheirLibrariesAndEachHasAPackage) {
    const std::string bundle = bundlesDirectory() + "/TAVO-Installer.app";
    const auto executables = LibraryCheck::bundledExecutables(bundle);
    ASSERT_GE(executables.size(), 5u);  // TAVO, tavoctl, the helper, the uninstaller, itself
    EXPECT_TRUE(LibraryCheck::check(executables).complete());
    // Were one of them missing, the start page could name its package.
    for (const auto& executable : executables) {
        std::istringstream lines(Process::run("ldd", {executable}).standardOutput);
        for (std::string line; std::getline(lines, line);) {
            const auto arrow = line.find(" => ");
            if (arrow == std::string::npos)
                continue;
            const std::string soname =
                line.substr(line.find_first_not_of("\t "), arrow - line.find_first_not_of("\t "));
            EXPECT_NE(LibraryCheck::packageFor(soname), "") << soname << " of " << executable;
        }
    }
}

TEST(InstallerResourcesTest, TheAutostartEntryStartsTavoThroughTheLink) {
    const std::string entry = Sandbox::readFile(
        bundlesDirectory() + "/TAVO-Installer.app/Contents/Resources/oskavelle.TAVO.desktop");
    const auto layout = platform::Layout::linuxLayout();
    const std::string exec = "\nExec=" + layout.applicationRoot + "/" + kClientAppName +
                             "/TAVO.app/Contents/MacOS/" + kClientAppName + "\n";
    EXPECT_NE(entry.find(exec), std::string::npos) << entry;
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_EQ(layout.autostartEntry, "/etc/xdg/autostart/oskavelle.TAVO.desktop");
}

TEST_F(RunningTavoProcessTest, TavoIsNeverStartedAsRootOrAnUnknownUser) {
    const std::string bundle = sandbox.path("/opt/Oskavelle/TAVO/TAVO.app");
    SleepingProgram placed(bundle + "/Contents/MacOS/TAVO");
    Sandbox::writeFile(bundle + "/Contents/Info.plist",
                       "<plist version=\"1.0\"><dict><key>CFBundleExecutable</key>"
                       "<string>TAVO</string></dict></plist>");
    platform::ProcWorkspace workspace;
    EXPECT_FALSE(workspace.launchApplicationAsUser(bundle, {}, "root", {}));
    EXPECT_FALSE(workspace.launchApplicationAsUser(bundle, {}, "no-such-user-here", {}));
}

class UserLogTest : public SandboxTest {};

TEST_F(UserLogTest, TheElevatedProgramsLogStaysTheStartingUsers) {
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || !nobody)
        GTEST_SKIP() << "needs root and the user nobody";
    const uid_t uid = nobody->pw_uid;
    const std::string home = sandbox.path("/home/nobody");
    std::filesystem::create_directories(home + "/.local");  // there before: stays root's
    ASSERT_TRUE(platform::UserLog::open("nobody", "TAVO-Installer"));
    ILog("a line");
    Log::defaultLog().flush();
    const std::string file = home + "/.local/state/Oskavelle/Logs/TAVO-Installer.log";
    const auto owner = [](const std::string& path) {
        struct stat info {};
        return ::lstat(path.c_str(), &info) == 0 ? info.st_uid : static_cast<uid_t>(-1);
    };
    EXPECT_EQ(owner(file), uid);
    EXPECT_NE(Sandbox::readFile(file).find("a line"), std::string::npos);
    for (const char* folder : {"/.local/state", "/.local/state/Oskavelle/Logs"})
        EXPECT_EQ(owner(home + folder), uid) << folder;
    EXPECT_EQ(owner(home + "/.local"), 0u);
    Log::defaultLog().setLogFilePath("", "");
}

class LogModeScriptTest : public SandboxTest {};

TEST_F(LogModeScriptTest, TheScriptsCreateAndRemoveTheSettingFileOfTheirUser) {
    const std::string resources = bundlesDirectory() + "/TAVO-Installer.app/Contents/Resources/";
    const std::string marker = Const::getLogModeSettingFilePath().value();
    const auto runScript = [&](const char* name) {
        return Process::run(
                   "env", {"-i", "HOME=" + sandbox.home(), "PATH=/usr/bin:/bin", resources + name})
            .exitStatus;
    };
    EXPECT_EQ(runScript("LOGforDEBUG.command"), 0);
    EXPECT_TRUE(Sandbox::exists(marker)) << marker;
    EXPECT_EQ(runScript("LOGforDEBUG.command"), 0);  // again: still there
    EXPECT_EQ(runScript("LOGforRELEASE.command"), 0);
    EXPECT_FALSE(Sandbox::exists(marker));
    EXPECT_EQ(runScript("LOGforRELEASE.command"), 0);  // nothing to remove
}

}  // namespace
}  // namespace tavo::test
