// The version to run and the next version against the reference service:
// the specified version online and offline, the check and the signed
// download, and what the menu and the forced dialog are offered.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestArchives.h"
#include "UpdateFixture.h"
#include "foundation/Config.h"
#include "foundation/ConfigKeys.h"
#include "foundation/Ed25519.h"
#include "foundation/MainQueue.h"
#include "refservice/ServiceContext.h"

namespace fs = std::filesystem;

namespace tavo {
namespace {

using namespace std::chrono_literals;

class UpdateCheckTest : public test::UpdateFixture {
protected:
    void specify(const std::string& version) {
        admin("/admin/client-apps", {{"specifiedVersion", version}});
    }
    std::size_t archiveRequests() {
        std::size_t n = 0;
        for (const auto& entry : service.context()->requests.entries(""))
            n += entry.value("path", std::string()).find("/client-apps/archives/") !=
                 std::string::npos;
        return n;
    }
};

TEST_F(UpdateCheckTest, SpecifiedVersionInstalledElsewhereIsStartedAndThisCopyEnds) {
    const std::string bundle = installVersion("2.0.5");
    specify("2.0.5");
    controller->startSpecifiedVersionOnLine();
    waitUntil([this] { return terminations > 0; }, 2s);
    EXPECT_EQ(configText(kConfigSpecifiedVersion), "2.0.5");
    ASSERT_EQ(workspace->launches().size(), 1u);
    EXPECT_EQ(workspace->launches()[0].bundlePath, bundle);
    EXPECT_EQ(workspace->launches()[0].arguments, std::vector<std::string>{""});
    EXPECT_EQ(terminations, 1);
}

TEST_F(UpdateCheckTest, SpecifiedVersionNotInstalledIsStoredAndThisCopyKeepsRunning) {
    specify("2.3.0");
    controller->startSpecifiedVersionOnLine();
    MainQueue::main().drain();
    EXPECT_EQ(configText(kConfigSpecifiedVersion), "2.3.0");
    EXPECT_TRUE(workspace->launches().empty());
    EXPECT_EQ(terminations, 0);
}

TEST_F(UpdateCheckTest, RunningVersionSpecifiedLaunchesNothing) {
    specify("2.1.0");
    controller->startSpecifiedVersionOnLine();
    MainQueue::main().drain();
    EXPECT_EQ(configText(kConfigSpecifiedVersion), "2.1.0");
    EXPECT_TRUE(workspace->launches().empty());
}

TEST_F(UpdateCheckTest, OfflineStartUsesTheStoredVersion) {
    installVersion("2.0.5");
    Config::updateUserConfig([](PlistDict& c) { c[kConfigSpecifiedVersion] = "2.0.5"; });
    service.stop();  // nothing to ask
    controller->startSpecifiedVersionOffLine();
    waitUntil([this] { return terminations > 0; }, 2s);
    ASSERT_EQ(workspace->launches().size(), 1u);
}

TEST_F(UpdateCheckTest, ServerErrorStoresNothing) {
    Config::updateUserConfig([](PlistDict& c) { c[kConfigSpecifiedVersion] = "2.1.0"; });
    admin("/admin/faults", {{"path", "/api/v1/client-apps/version"}, {"status", 500}});
    controller->startSpecifiedVersionOnLine();
    EXPECT_EQ(configText(kConfigSpecifiedVersion), "2.1.0");
    EXPECT_TRUE(workspace->launches().empty());
}

TEST_F(UpdateCheckTest, OfferedVersionIsDownloadedSignedAndOffered) {
    EXPECT_FALSE(controller->isAvailableOptionalUpdate());
    offer("2.2.0");
    EXPECT_TRUE(checkAndDownload());
    const std::string archive = updateFolder() + "TAVO-Ver2.2.0.zip";
    EXPECT_TRUE(fs::exists(archive));
    EXPECT_TRUE(fs::exists(archive + ".sig"));
    EXPECT_EQ(configText(kConfigUpdateVersion), "2.2.0");
    EXPECT_TRUE(controller->isAvailableOptionalUpdate());
    controller->showForceUpdateDialog();
    EXPECT_EQ(presented, 0) << "an optional update has no window";
    // A second check finds the archive and fetches nothing.
    const std::size_t before = archiveRequests();
    EXPECT_FALSE(checkAndDownload());
    EXPECT_EQ(archiveRequests(), before);
}

TEST_F(UpdateCheckTest, ForcedUpdateIsShownByTheDialogNotTheMenu) {
    offer("2.2.0", true);
    EXPECT_TRUE(checkAndDownload());
    const auto config = Config::userConfig();
    ASSERT_TRUE(config);
    ASSERT_TRUE(plistGet<bool>(*config, kConfigForcedUpdate));
    EXPECT_TRUE(*plistGet<bool>(*config, kConfigForcedUpdate));
    EXPECT_FALSE(controller->isAvailableOptionalUpdate());
    controller->showForceUpdateDialog();
    EXPECT_EQ(presented, 1);
}

TEST_F(UpdateCheckTest, ForcedDialogNeedsTheArchive) {
    Config::updateUserConfig([](PlistDict& c) {
        c[kConfigUpdateVersion] = "2.2.0";
        c[kConfigForcedUpdate] = true;
    });
    controller->showForceUpdateDialog();
    EXPECT_EQ(presented, 0);
    EXPECT_FALSE(controller->isAvailableOptionalUpdate());
}

TEST_F(UpdateCheckTest, NothingIsFetchedForTheRunningVersionOrAnInstalledOne) {
    offer("2.1.0");
    EXPECT_FALSE(checkAndDownload());
    installVersion("2.2.0");
    offer("2.2.0");
    EXPECT_FALSE(checkAndDownload());
    EXPECT_EQ(archiveRequests(), 0u);
    EXPECT_EQ(configText(kConfigUpdateVersion), "(none)");
}

TEST_F(UpdateCheckTest, NoOfferNoDownload) {
    offer("");
    EXPECT_FALSE(checkAndDownload());
    EXPECT_EQ(archiveRequests(), 0u);
}

TEST_F(UpdateCheckTest, UnsignedOrBadlySignedArchiveIsNeverKeptNorOffered) {
    for (const char* mode : {"missing", "bad"}) {
        offer("2.2.0", false, mode);
        checkAndDownload();
        EXPECT_FALSE(fs::exists(updateFolder() + "TAVO-Ver2.2.0.zip")) << mode;
        EXPECT_EQ(configText(kConfigUpdateVersion), "(none)") << mode;
        EXPECT_FALSE(controller->isAvailableOptionalUpdate()) << mode;
    }
}

TEST_F(UpdateCheckTest, ErrorAnswerInPlaceOfTheArchiveIsNotKept) {
    offer("2.2.0");
    admin("/admin/faults",
          {{"path", "/api/v1/client-apps/archives/TAVO-Ver2.2.0.zip"}, {"status", 500}});
    checkAndDownload();
    EXPECT_FALSE(fs::exists(updateFolder() + "TAVO-Ver2.2.0.zip"));
    EXPECT_EQ(configText(kConfigUpdateVersion), "(none)");
    EXPECT_FALSE(controller->isUpdaterDownloading());
}

TEST_F(UpdateCheckTest, ArchiveSignedByAnotherKeyIsRefused) {
    controller->setUpdatePublicKey(Ed25519::base64Encode(std::string(32, '\x07')));
    offer("2.2.0");
    checkAndDownload();
    EXPECT_FALSE(fs::exists(updateFolder() + "TAVO-Ver2.2.0.zip"));
    EXPECT_EQ(configText(kConfigUpdateVersion), "(none)");
}

TEST_F(UpdateCheckTest, VersionThatIsNoPlainNameNeverReachesAPath) {
    const std::string archive = sandbox.path("/tmp/evil.zip");
    test::TestArchives::writeZip(archive, test::TestArchives::bundleEntries("x"));
    offer("../../../../evil", false, "valid", archive);
    EXPECT_FALSE(checkAndDownload());
    EXPECT_EQ(archiveRequests(), 0u);
    EXPECT_EQ(configText(kConfigUpdateVersion), "(none)");
    specify("../evil");
    controller->startSpecifiedVersionOnLine();
    EXPECT_EQ(configText(kConfigSpecifiedVersion), "(none)");
}

TEST_F(UpdateCheckTest, CancelledConfirmationStartsNothing) {
    placeDownloaded("2.2.0");
    windows->answer = platform::kDialogResultCode + 1;
    controller->confirmationDialogForOptionalUpdate();
    EXPECT_EQ(windows->questions.size(), 1u);
    EXPECT_FALSE(controller->isStartUpdate());
    EXPECT_EQ(progressCount("isCopyStarted"), 0u);
}

TEST_F(UpdateCheckTest, NonAdministratorIsToldAndNothingStarts) {
    placeDownloaded("2.2.0");
    makeAdministrator(false);
    controller->confirmationDialogForOptionalUpdate();
    ASSERT_EQ(windows->alerts.size(), 1u);
    EXPECT_EQ(windows->alerts[0], "Start the app with administrator privileges");
    queue->sync([] {});
    EXPECT_EQ(progressCount("isCopyStarted"), 0u);
    EXPECT_TRUE(fs::exists(updateFolder() + "TAVO-Ver2.2.0.zip"));
}

}  // namespace
}  // namespace tavo
