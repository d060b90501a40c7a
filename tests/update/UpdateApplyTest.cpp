// Applying a downloaded update in the sandbox root with the real helper:
// the installed layout afterwards, the relaunch, the progress notes, and
// the failures that must leave the installation as it was.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "TestArchives.h"
#include "UpdateFixture.h"
#include "foundation/Config.h"
#include "foundation/ConfigKeys.h"
#include "platform/Authorization.h"
#include "platform/linux/ProcessAuthorization.h"
#include "support/Sandbox.h"
#include "update/UpdateNotifications.h"

namespace fs = std::filesystem;

namespace tavo {
namespace {

class UpdateApplyTest : public test::UpdateFixture {
protected:
    // The version folders in the application root, sorted.
    std::vector<std::string> versions() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(root()))
            if (entry.path().filename().string().starts_with("TAVO-Ver"))
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string linkTarget() {
        std::error_code ec;
        return fs::read_symlink(root() + "/TAVO", ec).string();
    }
    std::string archive(const std::string& version) {
        return updateFolder() + "TAVO-Ver" + version + ".zip";
    }
    // The installation is as SetUp left it, and the run failed.
    void expectUnchanged() {
        EXPECT_EQ(versions(), std::vector<std::string>{"TAVO-Ver2.1.0"});
        EXPECT_EQ(linkTarget(), root() + "/TAVO-Ver2.1.0");
        EXPECT_EQ(progressCount(kPCUserInfoKeyCopyErrorOccurred), 1u);
        EXPECT_TRUE(workspace->launches().empty());
        EXPECT_EQ(terminations, 0);
        EXPECT_FALSE(fs::exists(updateFolder() + "TAVO-Ver2.2.0")) << "extraction left behind";
        EXPECT_EQ(configText(kConfigSpecifiedVersion), "(none)");
        EXPECT_FALSE(controller->isStartUpdate());
    }
    void writeSignedArchive(const std::string& version,
                            const std::vector<test::ZipEntry>& entries) {
        test::TestArchives::writeZip(archive(version), entries);
        test::TestArchives::sign(archive(version));
        Config::updateUserConfig([&](PlistDict& c) {
            c[kConfigUpdateVersion] = version;
            c[kConfigForcedUpdate] = false;
        });
    }
};

TEST_F(UpdateApplyTest, InstallsLinksRemovesOldGenerationsAndRelaunches) {
    installVersion("1.5");
    installVersion("2.0.0");
    Config::updateUserConfig([](PlistDict& c) { c[kConfigSpecifiedVersion] = "2.0.0"; });
    placeDownloaded("2.2.0");
    test::Sandbox::writeFile(archive("1.9"), "an older archive");
    test::Sandbox::writeFile(updateFolder() + "notes.txt", "not an archive");
    ASSERT_TRUE(applyUpdate());

    // The running and the specified version stay; 1.5 goes.
    EXPECT_EQ(versions(),
              (std::vector<std::string>{"TAVO-Ver2.0.0", "TAVO-Ver2.1.0", "TAVO-Ver2.2.0"}));
    EXPECT_EQ(linkTarget(), root() + "/TAVO-Ver2.2.0");
    EXPECT_TRUE(fs::exists(root() + "/TAVO-Ver2.2.0/TAVO.app/Contents/MacOS/TAVO"));
    EXPECT_EQ(configText(kConfigSpecifiedVersion), "2.2.0");
    EXPECT_EQ(configText(kConfigGenerationCurrentVersion), "2.2.0");
    EXPECT_EQ(configText(kConfigGenerationPreviousVersion), "2.1.0");
    ASSERT_EQ(workspace->launches().size(), 1u);
    EXPECT_EQ(workspace->launches()[0].bundlePath, root() + "/TAVO-Ver2.2.0/TAVO.app");
    EXPECT_EQ(workspace->launches()[0].arguments, std::vector<std::string>{"-Updated"});
    EXPECT_EQ(terminations, 1);
    // Every archive goes, other files stay.
    EXPECT_FALSE(fs::exists(archive("2.2.0")));
    EXPECT_FALSE(fs::exists(archive("2.2.0") + ".sig"));
    EXPECT_FALSE(fs::exists(archive("1.9")));
    EXPECT_TRUE(fs::exists(updateFolder() + "notes.txt"));
    EXPECT_FALSE(fs::exists(updateFolder() + "TAVO-Ver2.2.0"));

    EXPECT_EQ(progressCount(kPCUserInfoKeyIsCopyStarted), 1u);
    EXPECT_EQ(progressCount(kPCUserInfoKeyIsCopyFinished), 1u);
    EXPECT_EQ(progressCount(kPCUserInfoKeyCopyErrorOccurred), 0u);
    // One pass of five ticks: the bundle is there after the first.
    EXPECT_EQ(progressValues(), (std::vector<int>{18, 36, 54, 72, 90}));
    EXPECT_FALSE(controller->isStartUpdate());
}

TEST_F(UpdateApplyTest, WhatAnEarlierRunLeftExtractedIsNotInstalled) {
    test::Sandbox::writeFile(updateFolder() + "TAVO-Ver2.2.0/TAVO.app/Contents/planted", "x");
    placeDownloaded("2.2.0");
    ASSERT_TRUE(applyUpdate());
    EXPECT_EQ(linkTarget(), root() + "/TAVO-Ver2.2.0");
    EXPECT_TRUE(fs::exists(root() + "/TAVO-Ver2.2.0/TAVO.app/Contents/Info.plist"));
    EXPECT_FALSE(fs::exists(root() + "/TAVO-Ver2.2.0/TAVO.app/Contents/planted"));
}

TEST_F(UpdateApplyTest, FailedLaunchKeepsThisCopyRunning) {
    workspace->launches_ = false;
    placeDownloaded("2.2.0");
    controller->startUpdate();
    waitUntil([this] { return !workspace->launches().empty(); });
    waitUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(terminations, 0);
    EXPECT_EQ(configText(kConfigSpecifiedVersion), "2.2.0");
    EXPECT_EQ(linkTarget(), root() + "/TAVO-Ver2.2.0");
}

TEST_F(UpdateApplyTest, NoUpdateVersionEndsAtOnce) {
    ASSERT_TRUE(applyUpdate());
    expectUnchanged();
    EXPECT_EQ(progressCount(kPCUserInfoKeyIsCopyStarted), 1u);
    EXPECT_TRUE(progressValues().empty());
}

TEST_F(UpdateApplyTest, DamagedArchiveIsNotInstalled) {
    test::Sandbox::writeFile(archive("2.2.0"), "PK\x03\x04 this is no zip archive at all");
    test::TestArchives::sign(archive("2.2.0"));
    Config::updateUserConfig([](PlistDict& c) { c[kConfigUpdateVersion] = "2.2.0"; });
    ASSERT_TRUE(applyUpdate());
    expectUnchanged();
    EXPECT_TRUE(fs::exists(archive("2.2.0"))) << "kept for another try";
    EXPECT_EQ(configText(kConfigUpdateVersion), "2.2.0");
}

TEST_F(UpdateApplyTest, ArchiveChangedSinceTheDownloadIsRemovedUnextracted) {
    placeDownloaded("2.2.0");
    test::TestArchives::writeZip(archive("2.2.0"), test::TestArchives::bundleEntries("6.6.6"));
    ASSERT_TRUE(applyUpdate());
    expectUnchanged();
    EXPECT_FALSE(fs::exists(archive("2.2.0")));
    EXPECT_FALSE(fs::exists(updateFolder() + "TAVO-Ver6.6.6"));
}

TEST_F(UpdateApplyTest, MissingSignatureFileIsRefused) {
    placeDownloaded("2.2.0");
    fs::remove(archive("2.2.0") + ".sig");
    ASSERT_TRUE(applyUpdate());
    expectUnchanged();
}

TEST_F(UpdateApplyTest, EntryLeadingOutOfTheVersionFolderIsRefusedBeforeExtraction) {
    auto entries = test::TestArchives::bundleEntries("2.2.0");
    entries.push_back({"TAVO-Ver2.2.0/../../../../escaped.txt", "x", false, false});
    writeSignedArchive("2.2.0", entries);
    ASSERT_TRUE(applyUpdate());
    expectUnchanged();
    EXPECT_FALSE(fs::exists(sandbox.home() + "/escaped.txt"));
    EXPECT_FALSE(fs::exists(sandbox.path("/escaped.txt")));
}

TEST_F(UpdateApplyTest, EntryBesideTheVersionFolderIsRefused) {
    auto entries = test::TestArchives::bundleEntries("2.2.0");
    entries.push_back({"TAVO-Ver2.1.0/TAVO.app/Contents/MacOS/TAVO", "replaced", false, true});
    writeSignedArchive("2.2.0", entries);
    ASSERT_TRUE(applyUpdate());
    expectUnchanged();
}

TEST_F(UpdateApplyTest, LinkPointingOutOfTheBundleIsRefused) {
    auto entries = test::TestArchives::bundleEntries("2.2.0");
    entries.push_back({"TAVO-Ver2.2.0/TAVO.app/Contents/Resources", "/etc", true, false});
    writeSignedArchive("2.2.0", entries);
    ASSERT_TRUE(applyUpdate());
    expectUnchanged();
}

TEST_F(UpdateApplyTest, CancelledPromptChangesNothing) {
    // An elevator that answers as pkexec does when the user dismisses it.
    const std::string elevator = sandbox.path("/usr/bin/fake-pkexec");
    test::Sandbox::writeFile(elevator, "#!/bin/sh\nexit 126\n");
    fs::permissions(elevator, fs::perms::owner_all);
    platform::Authorization::setDefaultAuthorization(
        std::make_shared<platform::ProcessAuthorization>(elevator, [] { return false; }));
    placeDownloaded("2.2.0");
    ASSERT_TRUE(applyUpdate());
    expectUnchanged();
    EXPECT_EQ(progressCount(kPCUserInfoKeyIsCopyFinished), 1u) << "extraction had succeeded";
    EXPECT_TRUE(fs::exists(archive("2.2.0")));
}

TEST_F(UpdateApplyTest, HelperThatCannotStartChangesNothing) {
    controller->setHelperPath(sandbox.path("/nowhere/tavo-update-helper"));
    placeDownloaded("2.2.0");
    ASSERT_TRUE(applyUpdate());
    expectUnchanged();
}

TEST_F(UpdateApplyTest, VersionFolderAlreadyPresentIsLeftAlone) {
    // Something already lies where the new version would go: it stays.
    test::Sandbox::writeFile(root() + "/TAVO-Ver2.2.0/keep.txt", "mine");
    placeDownloaded("2.2.0");
    ASSERT_TRUE(applyUpdate());
    EXPECT_TRUE(fs::exists(root() + "/TAVO-Ver2.2.0/keep.txt"));
    EXPECT_EQ(linkTarget(), root() + "/TAVO-Ver2.1.0");
    EXPECT_EQ(progressCount(kPCUserInfoKeyCopyErrorOccurred), 1u);
    EXPECT_TRUE(workspace->launches().empty());
}

}  // namespace
}  // namespace tavo
