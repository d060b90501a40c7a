// The whole self-update for real in a sandbox root: TAVO 2.1.0 runs from
// its installed version folder, the reference service offers 2.2.0 (an
// archive of this build's bundle with its version changed, signed with the
// test key), the regular processing downloads it, and `tavoctl update
// --apply` installs it, starts 2.2.0 with "-Updated" and ends 2.1.0.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "e2e/InstalledPrograms.h"
#include "e2e/ResidentFixture.h"
#include "foundation/Config.h"
#include "foundation/ConfigKeys.h"
#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "platform/SystemInfo.h"

namespace fs = std::filesystem;

namespace tavo::test {
namespace {

using namespace std::chrono_literals;

class UpdateE2ETest : public ResidentFixture {
protected:
    void SetUp() override {
        ResidentFixture::SetUp();
        if (HasFatalFailure())
            return;
        root = Const::appBaseDir();
        fs::create_directories(root + "/TAVO-Ver2.1.0");
        fs::copy(bundlesDirectory() + "/TAVO.app", root + "/TAVO-Ver2.1.0/TAVO.app",
                 fs::copy_options::recursive);
        fs::create_symlink(root + "/TAVO-Ver2.1.0", root + "/TAVO");
        Sandbox::writeFile(root + "/TAVO-Ver2.0.0/TAVO.app/Contents/Info.plist", "<plist/>");
        Sandbox::writeFile(sandbox.path("/etc/group"),
                           "sudo:x:27:" + platform::SystemInfo::loginName() + "\n");
        archive = sandbox.path("/srv/TAVO-Ver2.2.0.zip");
        makeArchive("2.2.0", archive);
    }
    void TearDown() override {
        // The new version was started by the old one, not by the test.
        for (pid_t pid : InstalledPrograms::processesOf(bundleExecutable("2.2.0"), ""))
            ::kill(pid, SIGTERM);
        ResidentFixture::TearDown();
    }

    std::string bundleExecutable(const std::string& version) const {
        return root + "/TAVO-Ver" + version + "/TAVO.app/Contents/MacOS/TAVO";
    }

    void makeArchive(const std::string& version, const std::string& path) {
        InstalledPrograms::writeVersionArchive(version, path);
    }

    void offer(bool forced) {
        admin("/admin/client-apps", {{"specifiedVersion", "2.2.0"},
                                     {"offeredVersion", "2.2.0"},
                                     {"isForcedUpdate", forced},
                                     {"archive", archive}});
    }

    ResidentProcess& launchInstalled() {
        processes.push_back(std::make_unique<ResidentProcess>(sandbox.root(), sandbox.home()));
        processes.back()->setExecutable(bundleExecutable("2.1.0"));
        EXPECT_TRUE(processes.back()->start({"--headless"}));
        return *processes.back();
    }

    std::string configText(const char* key) const {
        const auto config = Config::userConfig();
        const auto* text = config ? plistGet<std::string>(*config, key) : nullptr;
        return text ? *text : std::string();
    }

    std::string root;
    std::string archive;
};

TEST_F(UpdateE2ETest, RegularProcessingDownloadsAndTavoctlAppliesTheUpdate) {
    offer(false);
    ResidentProcess& old = launchInstalled();
    ASSERT_TRUE(waitForLog("Downloaded updater: ", 60s));
    EXPECT_EQ(configText(kConfigUpdateVersion), "2.2.0");
    EXPECT_TRUE(FileUtil::exists(Const::applicationUpdateFilePathWithVersion("2.2.0").value()));

    ResidentProcess tool(sandbox.root(), sandbox.home());
    tool.setExecutable(root + "/TAVO-Ver2.1.0/TAVO.app/Contents/MacOS/tavoctl");
    ASSERT_TRUE(tool.start({"update", "--apply"}));
    const auto status = tool.waitForExit(60s);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0) << tool.output();

    std::error_code ec;
    EXPECT_EQ(fs::read_symlink(root + "/TAVO", ec).string(), root + "/TAVO-Ver2.2.0");
    EXPECT_TRUE(fs::exists(bundleExecutable("2.2.0")));
    EXPECT_FALSE(fs::exists(root + "/TAVO-Ver2.0.0")) << "an older generation stays";
    EXPECT_EQ(configText(kConfigSpecifiedVersion), "2.2.0");
    EXPECT_FALSE(FileUtil::exists(Const::applicationUpdateFilePathWithVersion("2.2.0").value()));
    EXPECT_TRUE(eventually([&] {
        return !InstalledPrograms::processesOf(bundleExecutable("2.2.0"), "-Updated").empty();
    })) << "2.2.0 is not running with -Updated";
    EXPECT_TRUE(old.waitForExit(20s).has_value()) << "2.1.0 still runs";
    // The new copy is the version it says it is, and it stays.
    EXPECT_TRUE(waitForLog("Specified start version: [2.2.0]", 30s));
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(InstalledPrograms::processesOf(bundleExecutable("2.2.0"), "-Updated").empty());
}

TEST_F(UpdateE2ETest, ForcedUpdateIsAnnouncedAtTheNextStart) {
    offer(true);
    ResidentProcess& first = launchInstalled();
    ASSERT_TRUE(waitForLog("Downloaded updater: ", 60s));
    first.stop();
    launchInstalled();
    EXPECT_TRUE(waitForLog("Showing Force-Update Dialog for version: 2.2.0", 30s));
    // Headless, the window cannot show; nothing is installed by itself.
    EXPECT_FALSE(fs::exists(root + "/TAVO-Ver2.2.0"));
}

}  // namespace
}  // namespace tavo::test
