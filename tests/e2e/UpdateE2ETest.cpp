// The whole self-update for real in a sandbox root: TAVO 2.1.0 runs from
// its installed version folder, the reference service offers 2.2.0 (an
// archive of this build's bundle with its version changed, signed with the
// test key), the regular processing downloads it, and `tavoctl update
// --apply` installs it, starts 2.2.0 with "-Updated" and ends 2.1.0.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "e2e/ResidentFixture.h"
#include "foundation/Config.h"
#include "foundation/ConfigKeys.h"
#include "foundation/Const.h"
#include "foundation/FileUtil.h"
#include "platform/SystemInfo.h"
#include "update/TestArchives.h"

namespace fs = std::filesystem;

namespace tavo::test {
namespace {

using namespace std::chrono_literals;

// The processes whose program is executable and whose arguments include
// argument, found in /proc.
std::vector<pid_t> processesOf(const std::string& executable, const std::string& argument) {
    std::vector<pid_t> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code ec;
        if (fs::read_symlink(entry.path() / "exe", ec).string() != executable)
            continue;
        std::ifstream cmdline(entry.path() / "cmdline");
        std::string all((std::istreambuf_iterator<char>(cmdline)), {});
        if (argument.empty() || all.find(std::string(1, '\0') + argument) != std::string::npos)
            found.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return found;
}

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
        for (pid_t pid : processesOf(bundleExecutable("2.2.0"), ""))
            ::kill(pid, SIGTERM);
        ResidentFixture::TearDown();
    }

    std::string bundleExecutable(const std::string& version) const {
        return root + "/TAVO-Ver" + version + "/TAVO.app/Contents/MacOS/TAVO";
    }

    // This build's TAVO bundle as version, in an archive of the update's form.
    void makeArchive(const std::string& version, const std::string& path) {
        const fs::path bundle = bundlesDirectory() + "/TAVO.app";
        std::vector<ZipEntry> entries;
        for (const auto& item : fs::recursive_directory_iterator(bundle)) {
            if (item.is_directory())
                continue;
            const std::string name =
                "TAVO-Ver" + version + "/TAVO.app/" + fs::relative(item.path(), bundle).string();
            std::string content = Sandbox::readFile(item.path().string());
            if (item.path().filename() == "Info.plist") {
                const std::string key = "<key>CFBundleShortVersionString</key>";
                const auto at = content.find("<string>", content.find(key));
                const auto end = content.find("</string>", at);
                content.replace(at + 8, end - at - 8, version);
            }
            const bool executable =
                (fs::status(item.path()).permissions() & fs::perms::owner_exec) != fs::perms::none;
            entries.push_back({name, std::move(content), false, executable});
        }
        TestArchives::writeZip(path, entries);
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
        return !processesOf(bundleExecutable("2.2.0"), "-Updated").empty();
    })) << "2.2.0 is not running with -Updated";
    EXPECT_TRUE(old.waitForExit(20s).has_value()) << "2.1.0 still runs";
    // The new copy is the version it says it is, and it stays.
    EXPECT_TRUE(waitForLog("Specified start version: [2.2.0]", 30s));
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(processesOf(bundleExecutable("2.2.0"), "-Updated").empty());
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
