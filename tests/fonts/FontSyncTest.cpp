// Synchronization runs against the reference service.
#include "FontFixture.h"
#include "fontid/FontIdReader.h"
#include "foundation/Config.h"
#include "foundation/FileUtil.h"
#include "refservice/ServiceState.h"

namespace tavo::test {
namespace {

using namespace std::chrono_literals;

class FontSyncTest : public FontFixture {};

TEST_F(FontSyncTest, FirstRunInstallsEveryActiveFontAndReportsTheEnd) {
    const auto fonts = accountFonts();
    ASSERT_EQ(fonts.size(), 3u);
    ASSERT_TRUE(synchronize());

    for (const auto& font : fonts) {
        const auto path = fontPath(*font.fileName);
        const auto id = fontid::FontIdReader::read(path);
        ASSERT_TRUE(id) << path;
        EXPECT_EQ(id->fontId, *font.fontId);
        const auto r = record(*font.fontId);
        ASSERT_TRUE(r);
        EXPECT_EQ(text(*r, kFontStatusType), kFontStatusInstalled);
        EXPECT_EQ(text(*r, kFontFileName), *font.fileName);
        EXPECT_EQ(text(*r, kFontStorageLocationType), "3");
        EXPECT_TRUE(*plistGet<bool>(*r, kFontActivate));
    }
    // The list on disk says the same once written.
    const auto onDisk = Config::fontList();
    ASSERT_TRUE(onDisk);
    EXPECT_EQ(onDisk->size(), 3u);

    // The page's three names enter the progress list together.
    const auto started = posted(kFMUpdateProgressNotification, kFMStartProgress);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(std::any_cast<int>(started[0].userInfo.at(kFMStartProgress)), 3);
    EXPECT_EQ(posted(kFMUpdateProgressNotification, kFMProgress).size(), 3u);
    const auto done = posted(kFMCommonMessageNotification);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(std::any_cast<std::string>(done[0].userInfo.at(kFMCommonMessageHeading)),
              "Font Synchronization Completed");
    EXPECT_TRUE(controller->downloadDisplayFontNames().empty());
    // Every temporary file is gone.
    const auto workspace = *Const::applicationDownloadFontTempolaryDirectoryPath() + "/Font";
    for (const auto& entry : std::filesystem::directory_iterator(workspace))
        ADD_FAILURE() << "left behind: " << entry.path();
    for (const auto& entry : std::filesystem::directory_iterator(fontFolder()))
        EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
}

TEST_F(FontSyncTest, SecondRunDownloadsNothingAndActivatesInstalledFonts) {
    ASSERT_TRUE(synchronize());
    controller->waitForActivationBatches();
    for (const auto& font : accountFonts())
        fontManager->hide(fontPath(*font.fileName));
    service.context()->requests.clear();
    const auto before = fontManager->registrations().size();

    ASSERT_TRUE(synchronize());
    controller->waitForActivationBatches();
    EXPECT_EQ(fontFileRequests(), 0u);
    const auto registrations = fontManager->registrations();
    ASSERT_EQ(registrations.size(), before + 1) << "one call for the whole batch";
    EXPECT_EQ(registrations.back().size(), 3u);
}

TEST_F(FontSyncTest, FontThatLostItsContractIsDeactivatedAndAMissingOneBecomesNotInstalled) {
    ASSERT_TRUE(synchronize());
    const auto fonts = accountFonts();
    admin("/admin/accounts/update",
          {{"mailAddress", kMail}, {"contractIds", nlohmann::json::array()}});
    std::filesystem::remove(fontPath(*fonts[1].fileName));

    ASSERT_TRUE(synchronize());
    controller->waitForActivationBatches();
    EXPECT_TRUE(fontManager->isHidden(fontPath(*fonts[0].fileName)));
    EXPECT_FALSE(*plistGet<bool>(*record(*fonts[0].fontId), kFontActivate));
    EXPECT_EQ(text(*record(*fonts[1].fontId), kFontStatusType), kFontStatusNotInstalled);
    EXPECT_FALSE(FileUtil::exists(fontPath(*fonts[1].fileName)))
        << "a deactivated font is not fetched";
}

TEST_F(FontSyncTest, OutdatedFileIsFetchedAgain) {
    ASSERT_TRUE(synchronize());
    const auto font = accountFonts()[0];
    const auto reply = admin("/admin/fonts", {{"fonts",
                                               {{{"fontId", *font.fontId},
                                                 {"from", *font.fontId},
                                                 {"fileName", *font.fileName},
                                                 {"version", "2.000"}}}},
                                              {"mailAddress", kMail}});
    ASSERT_TRUE(reply.value("ok", false)) << reply.dump();
    service.context()->requests.clear();

    ASSERT_TRUE(synchronize());
    EXPECT_EQ(fontFileRequests(*font.fontId), 1u);
    EXPECT_EQ(fontid::FontIdReader::read(fontPath(*font.fileName))->version, "2.000");
}

TEST_F(FontSyncTest, DownloadingRecordIsLeftAsItIsAndShownInTheProgressList) {
    const auto font = accountFonts()[0];
    PlistDict pending = FontManagementController::createFontKeyList();
    pending[kFontFileName] = *font.fileName;
    pending[kFontDisplayFontName] = "Name from before";
    pending[kFontStatusType] = kFontStatusDownloading;
    FileUtil::createDirectories(FileUtil::parentPath(*Config::fontListPath()));
    ASSERT_TRUE(Config::writeFontList({{*font.fontId, pending}}));

    auto c = controller;
    queue->async([c] { c->syncSettingedFontActiveDeactiveOnMembersSite(); });
    ASSERT_TRUE(waitForChain());

    const auto r = record(*font.fontId);
    EXPECT_EQ(text(*r, kFontDisplayFontName), "Name from before") << "the run did not refresh it";
    EXPECT_EQ(text(*r, kFontStatusType), kFontStatusInstalled) << "the chain fetched it";
    bool shown = false;
    for (const auto& n : posted(kFMUpdateProgressNotification, kFMStartProgress))
        shown |=
            std::any_cast<std::string>(n.userInfo.at(kFMTypeface)).find(*font.displayFontName) !=
            std::string::npos;
    EXPECT_TRUE(shown);
}

TEST_F(FontSyncTest, FirstPageRefusedReportsFailureAndWritesNothing) {
    addFault({{"path", "/api/v1/install-fonts"}, {"status", 500}});
    auto c = controller;
    queue->sync([c] { c->syncSettingedFontActiveDeactiveOnMembersSite(); });
    settle();
    const auto failed = posted(kFMCommonMessageNotification);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(std::any_cast<std::string>(failed[0].userInfo.at(kFMCommonMessageHeading)),
              "Font Synchronization Failed");
    EXPECT_FALSE(controller->syncGate().inFontSynchroizing()) << "a later starter may run";
    EXPECT_TRUE(Config::fontList()->empty());
}

TEST_F(FontSyncTest, ARunAfterARefusedOneInstallsTheFonts) {
    addFault({{"path", "/api/v1/install-fonts"}, {"status", 500}, {"count", 1}});
    // A starter takes the gate and hands it to the run, as the resident ones do.
    auto hold = std::make_shared<FontSyncGate::Hold>(controller->syncGate().tryAcquire());
    ASSERT_TRUE(*hold);
    auto c = controller;
    queue->sync([c, hold] { c->syncSettingedFontActiveDeactiveOnMembersSite(std::move(*hold)); });
    ASSERT_EQ(posted(kFMCommonMessageNotification).size(), 1u);

    auto next = controller->syncGate().tryAcquire();
    ASSERT_TRUE(next) << "the failed run released the gate";
    next.release();
    ASSERT_TRUE(synchronize());
    for (const auto& font : accountFonts())
        EXPECT_TRUE(FileUtil::exists(fontPath(*font.fileName))) << *font.fileName;
}

TEST_F(FontSyncTest, AChainThatGaveUpLeavesTheNextRunFree) {
    const auto fonts = accountFonts();
    addFault({{"path", "/api/v1/fonts/*"}, {"status", 500}, {"count", 1}});
    ASSERT_TRUE(synchronize());
    ASSERT_FALSE(posted(kFMUpdateProgressNotification, kFMCopyErrorOccurred).empty());
    EXPECT_FALSE(controller->syncGate().inFontSynchroizing());

    ASSERT_TRUE(synchronize());
    for (const auto& font : fonts)
        EXPECT_EQ(text(*record(*font.fontId), kFontStatusType), kFontStatusInstalled)
            << *font.fontId;
}

TEST_F(FontSyncTest, ARunWhileTheGateIsTakenSkips) {
    auto hold = controller->syncGate().tryAcquire();
    auto c = controller;
    queue->sync([c] { c->syncSettingedFontActiveDeactiveOnMembersSite(); });
    EXPECT_TRUE(requests("/api/v1/install-fonts").empty());
    EXPECT_TRUE(controller->syncGate().inFontSynchroizing()) << "the starter's hold is kept";
}

// Font lists that would page for ever: each run ends as a failure after a
// few requests, writes nothing and leaves the gate free.
class BrokenFontListTest : public FontFixture {
protected:
    void SetUp() override {
        FontFixture::SetUp();
        if (HasFatalFailure())
            return;
        // What an earlier run left: the three fonts installed.
        ASSERT_TRUE(synchronize());
        before = *Config::fontList();
        std::lock_guard lock(notificationsMutex);
        notifications.clear();
        service.context()->requests.clear();
    }

    void answerFontListWith(const std::string& data) {
        addFault({{"path", "/api/v1/install-fonts"},
                  {"status", 200},
                  {"body", R"({"code":0,"message":"","data":)" + data + "}"}});
    }

    void expectFailedRunAfter(std::size_t pages) {
        auto c = controller;
        queue->sync([c] { c->syncSettingedFontActiveDeactiveOnMembersSite(); });
        settle();
        EXPECT_EQ(requests("/api/v1/install-fonts").size(), pages);
        const auto messages = posted(kFMCommonMessageNotification);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(std::any_cast<std::string>(messages[0].userInfo.at(kFMCommonMessageHeading)),
                  "Font Synchronization Failed");
        EXPECT_FALSE(controller->syncGate().inFontSynchroizing());
        EXPECT_EQ(*Config::fontList(), before) << "nothing of the broken list is written";
        EXPECT_EQ(fontFileRequests(), 0u);
        EXPECT_TRUE(controller->downloadDisplayFontNames().empty());
    }

    PlistDict before;
};

TEST_F(BrokenFontListTest, AnEmptyPageThatClaimsMoreEndsTheRun) {
    answerFontListWith(R"({"fonts":[],"hasNext":true})");
    expectFailedRunAfter(1);
}

TEST_F(BrokenFontListTest, FontsThatAreNoListEndTheRun) {
    answerFontListWith(R"({"fonts":"many","hasNext":true})");
    expectFailedRunAfter(1);
}

TEST_F(BrokenFontListTest, APageRepeatingTheFontsOfTheLastEndsTheRun) {
    answerFontListWith(R"({"fonts":[{"fontId":"77","fileName":"Repeat.ttf","activateFlg":true,)"
                       R"("isFreemium":true,"fileSize":10}],"hasNext":true})");
    expectFailedRunAfter(2);
    EXPECT_FALSE(record("77"));
}

TEST_F(BrokenFontListTest, AnOffsetBeyondAnyAccountEndsTheRun) {
    // Every page a fresh font: the list goes on until the offset is absurd.
    answerFontListWith(
        R"({"fonts":[{"fontId":"9{{offset}}","fileName":"F{{offset}}.ttf","activateFlg":false}],)"
        R"("hasNext":true})");
    expectFailedRunAfter(1001);  // offsets 0 to 1,000,000
}

TEST_F(BrokenFontListTest, TheRemovedFontsListEndsAsWell) {
    answerFontListWith(R"({"fonts":[],"hasNext":true})");
    auto c = controller;
    queue->sync([c] { c->fontUninstallationRemovedServer(1000, 0); });
    EXPECT_EQ(requests("/api/v1/install-fonts").size(), 1u);
    EXPECT_EQ(before.size(), 3u);
    for (const auto& [id, value] : before)
        EXPECT_TRUE(FileUtil::exists(fontPath(text(*value.get<PlistDict>(), kFontFileName)))) << id;
}

TEST_F(FontSyncTest, NoRoomSkipsThePageAndNotifiesOnce) {
    controller->setDiskFreeSizeProvider([] { return 0.0; });
    ASSERT_TRUE(synchronize());
    EXPECT_EQ(fontFileRequests(), 0u);
    EXPECT_TRUE(controller->chainState().isDiskSpaceInsufficientNotified);
    // Only the first font of the page was looked at.
    EXPECT_EQ(Config::fontList()->size(), 1u);
}

TEST_F(FontSyncTest, HostileFileNamesAreRefused) {
    // A server that sends names no sound server would: put them in its catalogue directly.
    const std::string modelId = *accountFonts().at(0).fontId;
    {
        auto& state = *service.context()->state;
        std::lock_guard lock(state.mutex);
        const refservice::CatalogueFont model = *state.findFont(modelId);
        int id = 900;
        for (const char* name : {"..", "../escape.ttf", ".hidden.ttf", "a*.ttf", "tab\t.ttf"}) {
            refservice::CatalogueFont font = model;
            font.fontId = std::to_string(++id);
            font.fileName = name;
            state.putFont(font);
            state.findAccount(kMail)->fonts.push_back(state.grant(font.fontId, true));
        }
    }
    ASSERT_TRUE(synchronize());
    for (int id = 901; id <= 905; ++id) {
        EXPECT_FALSE(record(std::to_string(id))) << id;
        EXPECT_EQ(fontFileRequests(std::to_string(id)), 0u) << id;
    }
    EXPECT_FALSE(FileUtil::exists(FileUtil::parentPath(fontFolder()) + "/escape.ttf"));
    EXPECT_EQ(Config::fontList()->size(), 3u) << "the sound fonts are synchronized";
}

// An account of 2,500 inactive fonts: three pages, and no record for fonts
// that are neither wanted, installed nor on disk.
class LargeAccountSyncTest : public FontFixture {
protected:
    nlohmann::json seed() const override {
        return {{"syntheticFonts", {{"count", 2500}}},
                {"accounts",
                 {{{"mailAddress", kMail},
                   {"password", kPassword},
                   {"maxDevices", 5},
                   {"contractIds", {"c-1"}},
                   {"fonts", "all"},
                   {"activateAll", false}}}}};
    }
};

TEST_F(LargeAccountSyncTest, PagesAtOffsetsOfAThousand) {
    ASSERT_TRUE(synchronize(60s));
    std::vector<std::string> offsets;
    for (const auto& entry : requests("/api/v1/install-fonts"))
        offsets.push_back(entry["query"].value("offset", std::string()));
    EXPECT_EQ(offsets, (std::vector<std::string>{"0", "1000", "2000"}));
    EXPECT_TRUE(Config::fontList()->empty());
}

}  // namespace
}  // namespace tavo::test
