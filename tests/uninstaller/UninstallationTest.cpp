#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "StreamServiceFixture.h"
#include "UninstallCommand.h"
#include "fontid/FontStamper.h"
#include "fontid/TestFonts.h"
#include "foundation/ConfigKeys.h"
#include "foundation/Const.h"
#include "foundation/PlistValue.h"
#include "platform/Layout.h"
#include "platform/SystemInfo.h"
#include "refservice/Http.h"
#include "refservice/ServiceContext.h"
#include "uninstaller/RemovalPolicy.h"
#include "uninstaller/Uninstallation.h"

namespace fs = std::filesystem;

namespace tavo::test {
namespace {

using uninstaller::Uninstallation;
using uninstaller::UninstallSetup;

constexpr const char* kVersion = "2.1.0";
constexpr const char* kOtherUser = "other";

bool present(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

// Two users' homes, an installed layout with an older version beside the
// own one, the autostart entry, logs and the service's fonts.
class UninstallationTest : public StreamServiceFixture {
protected:
    void SetUp() override {
        StreamServiceFixture::SetUp();
        layout = platform::Layout::current();
        me = platform::SystemInfo::loginName();
        font = fontid::test::findSystemFont();
        for (const char* version : {"2.0.0", kVersion}) {
            const std::string folder = layout.applicationRoot + "/TAVO-Ver" + version;
            Sandbox::writeFile(folder + "/TAVO.app/Contents/Info.plist", "x");
            Sandbox::writeFile(folder + "/TAVO-Uninstaller.app/Contents/Info.plist", "x");
        }
        fs::create_directory_symlink(layout.applicationRoot + "/TAVO-Ver" + std::string(kVersion),
                                     layout.applicationRoot + "/TAVO");
        Sandbox::writeFile(layout.autostartEntry, "[Desktop Entry]\n");
        Sandbox::writeFile(polkitAction(), "<policyconfig/>\n");
        for (const auto& user : {me, std::string(kOtherUser)}) {
            Sandbox::writeFile(home(user) + "/" + layout.userArea + "/TAVO.config.plist", "x");
            Sandbox::writeFile(home(user) + "/" + layout.userLogs + "/TAVO.log", "log");
            Sandbox::writeFile(home(user) + "/" + layout.userLogs + "/TAVO-Installer.log", "log");
        }
    }

    std::string home(const std::string& user) const { return layout.usersHomes + "/" + user; }
    std::string polkitAction() const {
        return layout.polkitActions + "/" + Uninstallation::kPolkitActionFileName;
    }

    // A font of the service in the user's storage, hard-linked as active.
    std::pair<std::string, std::string> placeServiceFont(const std::string& user,
                                                         const std::string& name) {
        const std::string stored = home(user) + "/" + layout.userFonts + "/" + name;
        fs::create_directories(fs::path(stored).parent_path());
        EXPECT_TRUE(fontid::FontStamper::stampFile(*font, stored, {"F" + name, "1"}));
        const std::string link = home(user) + "/" + layout.userFontLinks + "/00/" + name;
        fs::create_directories(fs::path(link).parent_path());
        fs::create_hard_link(stored, link);
        return {stored, link};
    }

    void storeSignIn() {
        httplib::Client http("127.0.0.1", service.apiPort());
        auto login =
            http.Post("/api/v1/login", {{"X-TAVO-DEVICEID", deviceId}},
                      nlohmann::json{{"mailAddress", kUser}, {"password", kPassword}}.dump(),
                      "application/json");
        ASSERT_TRUE(login && login->status == 200);
        const std::string refresh =
            nlohmann::json::parse(login->body)["data"].value("refreshToken", "");
        ASSERT_FALSE(refresh.empty());
        PlistDict server{{kServerDeliveServerName, service.apiUrl()}};
        ASSERT_TRUE(
            PlistValue(server).writeToFile(*Const::applicationServerPlistPath(), true, 0600));
        PlistDict config{{kConfigDeviceId, deviceId}, {kConfigRefreshTokens, refresh}};
        ASSERT_TRUE(
            PlistValue(config).writeToFile(*Const::applicationConfigPlistPath(me), true, 0600));
    }

    Uninstallation make(std::vector<double>* progress = nullptr) {
        UninstallSetup setup;
        setup.layout = layout;
        setup.version = kVersion;
        setup.bundleFolder = layout.applicationRoot + "/TAVO-Ver" + kVersion;
        setup.currentUser = me;
        if (progress)
            setup.progress = [progress](double value) { progress->push_back(value); };
        return Uninstallation(setup);
    }

    std::size_t logouts() const {
        return service.context()->requests.entries("/api/v1/logout").size();
    }

    platform::Layout layout;
    std::string me;
    std::optional<std::string> font;
    ApiClient uninstallClient;
};

TEST_F(UninstallationTest, RemovesEverythingOfEveryUserButTheirOwnFiles) {
    if (!font)
        GTEST_SKIP() << "needs a font file on the machine";
    storeSignIn();
    const auto [mine, myLink] = placeServiceFont(me, "Service.otf");
    const auto [theirs, theirLink] = placeServiceFont(kOtherUser, "Other.otf");
    // The user's own font, under the name of a service font, in the machine's folder.
    const std::string own = layout.machineFonts + "/Service.otf";
    fs::create_directories(layout.machineFonts);
    fs::copy_file(*font, own);
    const std::string machineService = layout.machineFonts + "/Machine.otf";
    ASSERT_TRUE(fontid::FontStamper::stampFile(*font, machineService, {"M", "1"}));
    // A font of the service in a sub-folder is not searched.
    const std::string nested = layout.machineFonts + "/sub/Nested.otf";
    fs::create_directories(fs::path(nested).parent_path());
    ASSERT_TRUE(fontid::FontStamper::stampFile(*font, nested, {"N", "1"}));

    std::vector<double> progress;
    auto uninstallation = make(&progress);
    ASSERT_TRUE(uninstallation.isInstalled());
    ASSERT_TRUE(uninstallation.startUninstall(uninstallClient)) << uninstallation.failureMessage();

    EXPECT_EQ(logouts(), 1u) << service.context()->requests.entries().dump();
    for (const auto& gone : {mine, myLink, theirs, theirLink, machineService})
        EXPECT_FALSE(present(gone)) << gone;
    EXPECT_TRUE(present(own));
    EXPECT_TRUE(present(nested));
    for (const auto& user : {me, std::string(kOtherUser)})
        EXPECT_FALSE(present(home(user) + "/" + layout.userArea)) << user;
    EXPECT_FALSE(present(home(me) + "/" + layout.userLogs + "/TAVO.log"));
    EXPECT_FALSE(present(home(me) + "/" + layout.userLogs + "/TAVO-Installer.log"));
    EXPECT_FALSE(present(layout.applicationRoot + "/TAVO"));
    EXPECT_FALSE(present(layout.autostartEntry));
    EXPECT_FALSE(present(polkitAction()));
    EXPECT_FALSE(present(layout.applicationRoot + "/TAVO-Ver2.0.0"));
    EXPECT_FALSE(present(uninstallation.ownVersionDirectory()));
    ASSERT_FALSE(progress.empty());
    EXPECT_GE(progress.back(), 100.0);
    // A second run, from a copy elsewhere, finds nothing installed.
    EXPECT_FALSE(make().isInstalled());
}

TEST_F(UninstallationTest, NothingStoredCallsNothingAndAnEmptyFontListFillsTheBar) {
    std::vector<double> progress;
    auto uninstallation = make(&progress);
    ASSERT_TRUE(uninstallation.startUninstall(uninstallClient)) << uninstallation.failureMessage();
    EXPECT_TRUE(service.context()->requests.entries("/api/v1/token").empty());
    EXPECT_EQ(logouts(), 0u);
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_GE(progress.back(), 100.0);
}

TEST_F(UninstallationTest, AHangingServiceCannotHoldTheSignOutBeyondItsBudget) {
    storeSignIn();
    admin("/admin/faults", {{"path", "/api/v1/token"}, {"delayMs", 1500}});
    UninstallSetup setup;
    setup.layout = layout;
    setup.version = kVersion;
    setup.currentUser = me;
    setup.signOutBudgetSeconds = 0.4;
    Uninstallation uninstallation(setup);
    ASSERT_TRUE(uninstallation.startUninstall(uninstallClient)) << uninstallation.failureMessage();
    // The token request used up the budget: no logout follows, the rest went on.
    EXPECT_EQ(logouts(), 0u);
    EXPECT_FALSE(present(uninstallation.ownVersionDirectory()));
}

TEST_F(UninstallationTest, StopsARunningTavoOfTheSandbox) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    bool alive = true;
    UninstallSetup setup;
    setup.layout = layout;
    setup.version = kVersion;
    setup.currentUser = me;
    setup.runningApplications = [&]() -> std::vector<int> {
        if (alive && ::waitpid(child, nullptr, WNOHANG) == child)
            alive = false;
        return alive ? std::vector<int>{child} : std::vector<int>{};
    };
    Uninstallation uninstallation(setup);
    ASSERT_TRUE(uninstallation.startUninstall(uninstallClient)) << uninstallation.failureMessage();
    EXPECT_FALSE(alive);
}

TEST_F(UninstallationTest, AFailingStepStopsTheProcedure) {
    // The other user's configuration folder lies behind a link out of the
    // home: the removal refuses it, and what the link points at stays.
    const std::string area = home(kOtherUser) + "/" + layout.userArea;
    const std::string outside = sandbox.path("/elsewhere");
    Sandbox::writeFile(outside + "/" + fs::path(area).filename().string() + "/keep", "x");
    fs::remove_all(fs::path(area).parent_path());
    fs::create_directory_symlink(outside, fs::path(area).parent_path());
    UninstallSetup setup;
    setup.layout = layout;
    setup.version = kVersion;
    setup.currentUser = me;
    setup.runningApplications = [] { return std::vector<int>{}; };
    Uninstallation uninstallation(setup);
    EXPECT_FALSE(uninstallation.startUninstall(uninstallClient));
    EXPECT_EQ(uninstallation.failureMessage(),
              "uninstallation failure: removing configuration: " + area);
    EXPECT_TRUE(present(outside + "/" + fs::path(area).filename().string() + "/keep"));
    EXPECT_TRUE(present(layout.autostartEntry));
    EXPECT_TRUE(present(layout.applicationRoot + "/TAVO"));  // later steps never ran
    EXPECT_TRUE(present(uninstallation.ownVersionDirectory()));
}

TEST_F(UninstallationTest, TavoctlRunsTheProcedureForAnAdministratorOnly) {
    std::ostringstream out, err;
    Sandbox::writeFile(sandbox.path("/etc/group"), "sudo:x:27:someone\n");
    EXPECT_EQ(ctl::runUninstallCommand({"--version", kVersion}, out, err), 1);
    EXPECT_NE(err.str().find("Please Uninstall with administrator privileges"), std::string::npos);
    EXPECT_TRUE(present(layout.autostartEntry));

    Sandbox::writeFile(sandbox.path("/etc/group"), "sudo:x:27:someone," + me + "\n");
    EXPECT_EQ(ctl::runUninstallCommand({"--version", kVersion}, out, err), 0) << err.str();
    EXPECT_NE(out.str().find("Removing the autostart entry"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("Uninstall complete"), std::string::npos) << out.str();
    EXPECT_FALSE(present(layout.applicationRoot + "/TAVO-Ver" + std::string(kVersion)));

    std::ostringstream again, againErr;
    EXPECT_EQ(ctl::runUninstallCommand({"--version", kVersion}, again, againErr), 1);
    EXPECT_NE(againErr.str().find("Already uninstalled"), std::string::npos);
}

TEST(RemovalPolicyTest, RefusesPathsOutsideItsPlacesAndNeverFollowsALink) {
    Sandbox sandbox;
    const std::string places = sandbox.path("/opt/Oskavelle");
    const std::string outside = sandbox.path("/keep");
    Sandbox::writeFile(outside + "/precious", "x");
    Sandbox::writeFile(places + "/TAVO-Ver1/file", "x");
    fs::create_directory_symlink(outside, places + "/TAVO-Ver1/escape");
    fs::create_directory_symlink(outside, places + "/TAVO");
    const uninstaller::RemovalPolicy policy({places}, {sandbox.path("/etc/entry")});
    EXPECT_FALSE(policy.allows(places));
    EXPECT_FALSE(policy.allows(places + "/../keep/precious"));
    EXPECT_FALSE(policy.allows(places + "/TAVO/precious"));  // through the link
    EXPECT_FALSE(policy.allows("relative/path"));
    EXPECT_TRUE(policy.allows(sandbox.path("/etc/entry")));
    EXPECT_FALSE(policy.remove(places + "/TAVO/precious"));
    EXPECT_TRUE(policy.remove(places + "/TAVO-Ver1"));
    EXPECT_TRUE(policy.remove(places + "/TAVO"));
    EXPECT_FALSE(present(places + "/TAVO-Ver1"));
    EXPECT_FALSE(present(places + "/TAVO"));
    EXPECT_TRUE(present(outside + "/precious"));
    // Quotes and dollars are only characters of a name.
    const std::string odd = places + "/TAVO-Ver'$(touch x)\"";
    Sandbox::writeFile(odd + "/f", "x");
    EXPECT_TRUE(policy.remove(odd));
    EXPECT_FALSE(present(odd));
}

}  // namespace
}  // namespace tavo::test
