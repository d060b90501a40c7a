// Fonts switched on and off on the web site, fonts removed from the
// account, and the service's fonts that must stay inactive.
#include "FontFixture.h"
#include "fontid/FontIdReader.h"

namespace tavo::test {
namespace {

class FontWebActionTest : public FontFixture {
protected:
    void SetUp() override {
        FontFixture::SetUp();
        if (HasFatalFailure())
            return;
        fonts = accountFonts();
    }
    std::vector<Fonts> fonts;
};

TEST_F(FontWebActionTest, NewFontIsRecordedAndFetchedUnderTheServersFileName) {
    onWeb(true, *fonts[0].fontId);
    ASSERT_TRUE(waitForChain());
    const auto r = record(*fonts[0].fontId);
    ASSERT_TRUE(r);
    EXPECT_EQ(text(*r, kFontFileName), *fonts[0].fileName) << "from the answer's file name";
    EXPECT_EQ(text(*r, kFontStatusType), kFontStatusInstalled);
    EXPECT_EQ(text(*r, kFontDisplayFontName), *fonts[0].displayFontName);
    EXPECT_TRUE(fontid::FontIdReader::read(fontPath(*fonts[0].fileName)));
    EXPECT_EQ(posted(kFMUpdateProgressNotification, kFMProgress).size(), 1u);
}

TEST_F(FontWebActionTest, InstalledFontOfTheSameVersionIsOnlyRegistered) {
    ASSERT_TRUE(synchronize());
    onWeb(false, *fonts[0].fontId);
    controller->waitForActivationBatches();
    const auto path = fontPath(*fonts[0].fileName);
    EXPECT_TRUE(fontManager->isHidden(path));
    EXPECT_FALSE(*plistGet<bool>(*record(*fonts[0].fontId), kFontActivate));
    service.context()->requests.clear();

    onWeb(true, *fonts[0].fontId);
    ASSERT_TRUE(waitForChain());
    controller->waitForActivationBatches();
    EXPECT_FALSE(fontManager->isHidden(path));
    EXPECT_TRUE(*plistGet<bool>(*record(*fonts[0].fontId), kFontActivate));
    EXPECT_EQ(fontFileRequests(), 0u);
}

TEST_F(FontWebActionTest, InstalledFontOfAnotherVersionIsFetchedAndRegistered) {
    ASSERT_TRUE(synchronize());
    onWeb(false, *fonts[0].fontId);
    controller->waitForActivationBatches();
    const auto reply = admin("/admin/fonts", {{"fonts",
                                               {{{"fontId", *fonts[0].fontId},
                                                 {"from", *fonts[0].fontId},
                                                 {"fileName", *fonts[0].fileName},
                                                 {"version", "3.0"}}}},
                                              {"mailAddress", kMail}});
    ASSERT_TRUE(reply.value("ok", false)) << reply.dump();
    service.context()->requests.clear();

    onWeb(true, *fonts[0].fontId);
    ASSERT_TRUE(waitForChain());
    controller->waitForActivationBatches();
    EXPECT_EQ(fontFileRequests(), 1u);
    EXPECT_EQ(fontid::FontIdReader::read(fontPath(*fonts[0].fileName))->version, "3.0");
    EXPECT_FALSE(fontManager->isHidden(fontPath(*fonts[0].fileName))) << "the new file is active";
}

TEST_F(FontWebActionTest, NotInstalledKnownFontIsFetchedAgain) {
    PlistDict r = FontManagementController::createFontKeyList();
    r[kFontFileName] = *fonts[1].fileName;
    writeList({{*fonts[1].fontId, r}});
    onWeb(true, *fonts[1].fontId);
    ASSERT_TRUE(waitForChain());
    EXPECT_EQ(text(*record(*fonts[1].fontId), kFontStatusType), kFontStatusInstalled);
    EXPECT_TRUE(FileUtil::exists(fontPath(*fonts[1].fileName)));
}

TEST_F(FontWebActionTest, ChainsEndingWhileTheFontManagerCatchesUpShareOnePass) {
    fontManager->hold();  // the first refresh takes long
    onWeb(true, *fonts[0].fontId);
    ASSERT_TRUE(waitForChain());
    ASSERT_TRUE(fontManager->waitForFilesChanged(1));
    onWeb(true, *fonts[1].fontId);
    ASSERT_TRUE(waitForChain());
    onWeb(true, *fonts[2].fontId);
    ASSERT_TRUE(waitForChain());
    EXPECT_EQ(fontManager->filesChangedCount(), 1) << "the others wait for the pass in progress";
    fontManager->release();
    controller->waitForActivationBatches();
    EXPECT_EQ(fontManager->filesChangedCount(), 2) << "one more pass for both";
    const auto registrations = fontManager->registrations();
    ASSERT_FALSE(registrations.empty());
    EXPECT_EQ(registrations.back().size(), 2u);
}

TEST_F(FontWebActionTest, DeactivationOfAnUnknownFontChangesNothing) {
    onWeb(false, *fonts[2].fontId);
    controller->waitForActivationBatches();
    EXPECT_FALSE(record(*fonts[2].fontId));
    EXPECT_TRUE(fontManager->unregistrations().empty());
}

TEST_F(FontWebActionTest, RemovedFontsAreDeletedOnlyWhenTheyCarryTheServicesRecord) {
    ASSERT_TRUE(synchronize());
    // Font 1: the service's file. Font 2: a file of the same name that the
    // user put there, without the record.
    const auto foreign = fontPath(*fonts[1].fileName);
    Sandbox::writeFile(foreign, "the user's own file");
    for (int i : {0, 1}) {
        const auto reply =
            admin("/admin/fonts/withdraw", {{"mailAddress", kMail}, {"fontId", *fonts[i].fontId}});
        ASSERT_TRUE(reply.value("ok", false)) << reply.dump();
    }
    auto c = controller;
    queue->sync([c] { c->fontUninstallationRemovedServer(1000, 0); });

    EXPECT_FALSE(FileUtil::exists(fontPath(*fonts[0].fileName)));
    EXPECT_TRUE(FileUtil::exists(foreign));
    EXPECT_TRUE(FileUtil::exists(fontPath(*fonts[2].fileName)));
    EXPECT_TRUE(record(*fonts[0].fontId)) << "the list is not changed";
}

TEST_F(FontWebActionTest, FontsTheSystemActivatedAreDeactivatedUnlessTheAccountWantsThem) {
    ASSERT_TRUE(synchronize());
    const auto wanted = fontPath(*fonts[0].fileName);
    const auto unwanted = fontPath(*fonts[1].fileName);
    const auto unrecorded = fontPath("Unrecorded.ttf");
    const auto foreign = fontPath("Foreign.ttf");
    std::filesystem::copy_file(wanted, unrecorded);
    Sandbox::writeFile(foreign, "not the service's");
    auto r = *record(*fonts[1].fontId);
    r[kFontActivate] = false;
    controller->store().setRecord(*fonts[1].fontId, r, FontListStore::Write::Now);

    controller->deactivateFromAvailableFonts({wanted, unwanted, unrecorded, foreign});
    controller->waitForActivationBatches();
    EXPECT_FALSE(fontManager->isHidden(wanted));
    EXPECT_TRUE(fontManager->isHidden(unwanted));
    EXPECT_TRUE(fontManager->isHidden(unrecorded));
    EXPECT_FALSE(fontManager->isHidden(foreign));
}

TEST_F(FontWebActionTest, SignedOutEveryServiceFontIsDeactivatedAndKept) {
    ASSERT_TRUE(synchronize());
    Sandbox::writeFile(fontPath("Foreign.ttf"), "not the service's");
    controller->processPeriodicConfirmationFontDeactivationLogout();
    controller->waitForActivationBatches();
    for (const auto& font : fonts) {
        EXPECT_TRUE(fontManager->isHidden(fontPath(*font.fileName)));
        EXPECT_TRUE(FileUtil::exists(fontPath(*font.fileName)));
    }
    EXPECT_FALSE(fontManager->isHidden(fontPath("Foreign.ttf")));
    const auto calls = fontManager->unregistrations();
    ASSERT_EQ(calls.size(), 1u);

    // A second time: every file is already unregistered, nothing to call.
    controller->processPeriodicConfirmationFontDeactivationLogout();
    controller->waitForActivationBatches();
    EXPECT_EQ(fontManager->unregistrations().size(), 1u);
}

}  // namespace
}  // namespace tavo::test
