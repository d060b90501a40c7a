// The download chain against the reference service: answers it refuses,
// the retries it makes, and what it never leaves behind.
#include <set>
#include <thread>

#include "FontFixture.h"
#include "fontid/FontIdReader.h"

namespace tavo::test {
namespace {

using namespace std::chrono_literals;

class FontDownloadTest : public FontFixture {
protected:
    void SetUp() override {
        FontFixture::SetUp();
        if (HasFatalFailure())
            return;
        font = accountFonts().at(0);
        other = accountFonts().at(1);
    }

    void startChain() {
        controller->downloadFont();
        ASSERT_TRUE(waitForChain());
    }

    std::size_t workspaceFiles() {
        const auto folder = *Const::applicationDownloadFontTempolaryDirectoryPath() + "/Font";
        if (!FileUtil::isDirectory(folder))
            return 0;
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(folder), {}));
    }

    bool gaveUp() { return !posted(kFMUpdateProgressNotification, kFMCopyErrorOccurred).empty(); }

    Fonts font, other;
};

TEST_F(FontDownloadTest, JsonAnswerWithStatus200IsRefusedWithoutATemporaryFile) {
    writeList({{*font.fontId, downloadingRecord(*font.fileName)}});
    addFault({{"path", "/api/v1/fonts/*"}, {"contentType", "application/json"}, {"count", 1}});
    startChain();
    EXPECT_TRUE(gaveUp());
    EXPECT_EQ(workspaceFiles(), 0u);
    EXPECT_FALSE(FileUtil::exists(fontPath(*font.fileName)));
    EXPECT_EQ(text(*record(*font.fontId), kFontStatusType), kFontStatusDownloading)
        << "fetched by a later run";
    EXPECT_TRUE(controller->downloadDisplayFontNames().empty());
}

TEST_F(FontDownloadTest, SuspectedTokenExpiryIsRetriedOnce) {
    writeList({{*font.fontId, downloadingRecord(*font.fileName)}});
    addFault({{"path", "/api/v1/fonts/*"}, {"status", 400}, {"emptyBody", true}, {"count", 1}});
    startChain();
    EXPECT_EQ(fontFileRequests(*font.fontId), 2u);
    EXPECT_FALSE(gaveUp());
    EXPECT_EQ(text(*record(*font.fontId), kFontStatusType), kFontStatusInstalled);
    EXPECT_EQ(controller->chainState().retryDownloadFont, 0) << "reset by the success";
}

TEST_F(FontDownloadTest, SecondSuspectedTokenExpiryGivesUpAndClearsTheProgressList) {
    writeList({{*font.fontId, downloadingRecord(*font.fileName)}});
    controller->appendDownloadDisplayFont("A font");
    addFault({{"path", "/api/v1/fonts/*"}, {"status", 400}, {"emptyBody", true}, {"count", 2}});
    startChain();
    EXPECT_EQ(fontFileRequests(*font.fontId), 2u);
    EXPECT_TRUE(gaveUp());
    EXPECT_TRUE(controller->downloadDisplayFontNames().empty());
    EXPECT_EQ(controller->chainState().retryDownloadFont, 0);
    EXPECT_FALSE(controller->chainState().isFontDownloading);
}

TEST_F(FontDownloadTest, ExpiredAccessTokenIsRenewedAndTheFontFetchedAgain) {
    writeList({{*font.fontId, downloadingRecord(*font.fileName)}});
    expireTokens(true, false);
    startChain();
    EXPECT_EQ(fontFileRequests(*font.fontId), 2u);
    EXPECT_FALSE(requests("/api/v1/token").empty());
    EXPECT_TRUE(fontid::FontIdReader::read(fontPath(*font.fileName)));
    EXPECT_FALSE(gaveUp());
}

TEST_F(FontDownloadTest, DownloadsRunOneAfterTheOther) {
    writeList({{*font.fontId, downloadingRecord(*font.fileName)},
               {*other.fontId, downloadingRecord(*other.fileName)}});
    addFault({{"path", "/api/v1/fonts/*"}, {"delayMs", 400}});
    controller->downloadFont();
    controller->downloadFont();  // a second start while one is in flight does nothing
    ASSERT_TRUE(MainQueue::main().runUntil([&] { return fontFileRequests() >= 1; }, 5s));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(fontFileRequests(), 1u) << "the second waits for the first";
    ASSERT_TRUE(waitForChain());
    EXPECT_EQ(fontFileRequests(), 2u);
    EXPECT_EQ(controller->store().downloadingCount(), 0u);
}

TEST_F(FontDownloadTest, AChainFetchesGroupByGroupAndRegistersEachGroupOnceComplete) {
    const Fonts third = accountFonts().at(2);
    // The font manager takes `other` apart from the two others.
    fontManager->group = [name = *other.fileName](const std::string& fileName) {
        return fileName == name ? 1u : 0u;
    };
    writeList({{*font.fontId, downloadingRecord(*font.fileName)},
               {*other.fontId, downloadingRecord(*other.fileName)},
               {*third.fontId, downloadingRecord(*third.fileName)}});
    startChain();
    controller->waitForActivationBatches();
    const auto calls = fontManager->registrations();
    ASSERT_GE(calls.size(), 2u);
    // The first group was registered on its own, before the chain's end.
    EXPECT_EQ(std::set<std::string>(calls[0].begin(), calls[0].end()),
              (std::set<std::string>{fontPath(*font.fileName), fontPath(*third.fileName)}));
    std::set<std::string> later;
    for (std::size_t i = 1; i < calls.size(); ++i)
        later.insert(calls[i].begin(), calls[i].end());
    EXPECT_EQ(later, std::set<std::string>{fontPath(*other.fileName)});
    EXPECT_EQ(controller->store().downloadingCount(), 0u);
}

TEST_F(FontDownloadTest, BadBodiesNeverReplaceAnInstalledFile) {
    ASSERT_TRUE(synchronize());
    const std::string installed = Sandbox::readFile(fontPath(*font.fileName));
    for (const nlohmann::json& fault : {nlohmann::json{{"status", 200},
                                                       {"body", "not a font at all"},
                                                       {"contentType", "application/octet-stream"}},
                                        nlohmann::json{{"cutAfterBytes", 100}}}) {
        SCOPED_TRACE(fault.dump());
        auto rule = fault;
        rule["path"] = "/api/v1/fonts/*";
        rule["count"] = 1;
        addFault(rule);
        auto r = *record(*font.fontId);
        r[kFontStatusType] = kFontStatusDownloading;
        controller->store().setRecord(*font.fontId, r, FontListStore::Write::Now);
        startChain();
        EXPECT_EQ(Sandbox::readFile(fontPath(*font.fileName)), installed);
        EXPECT_EQ(text(*record(*font.fontId), kFontStatusType), kFontStatusDownloading);
        EXPECT_EQ(workspaceFiles(), 0u);
    }
}

TEST_F(FontDownloadTest, AFileThatCannotBeInstalledEndsTheChainWithNothingMoreInstalled) {
    const Fonts third = accountFonts().at(2);
    writeList({{*font.fontId, downloadingRecord(*font.fileName)},
               {*other.fontId, downloadingRecord(*other.fileName)},
               {*third.fontId, downloadingRecord(*third.fileName)}});
    // The first answer is not a font: the next download may be under way
    // while it is checked, but what that one brings stays out.
    addFault({{"path", "/api/v1/fonts/*"},
              {"status", 200},
              {"body", "not a font at all"},
              {"contentType", "application/octet-stream"},
              {"count", 1}});
    startChain();
    EXPECT_TRUE(gaveUp());
    EXPECT_LE(fontFileRequests(), 2u);
    EXPECT_EQ(controller->store().downloadingCount(), 3u) << "all fetched by a later run";
    for (const auto& f : {font, other, third})
        EXPECT_FALSE(FileUtil::exists(fontPath(*f.fileName))) << *f.fileName;
    EXPECT_EQ(workspaceFiles(), 0u);
    EXPECT_FALSE(controller->chainState().isFontDownloading);

    // The next chain is not given up at once for the last one's failure.
    startChain();
    EXPECT_EQ(controller->store().downloadingCount(), 0u);
    for (const auto& f : {font, other, third})
        EXPECT_TRUE(fontid::FontIdReader::read(fontPath(*f.fileName))) << *f.fileName;
}

TEST_F(FontDownloadTest, ARefusedAnswerHoldsBackTheNextDownloadAndTheChainLosesNoFont) {
    const Fonts third = accountFonts().at(2);
    writeList({{*font.fontId, downloadingRecord(*font.fileName)},
               {*other.fontId, downloadingRecord(*other.fileName)},
               {*third.fontId, downloadingRecord(*third.fileName)}});
    // The first answer says the token expired: that font goes again with
    // the renewed one, and the download waiting behind it, which carries
    // the old token, does not go out at all.
    expireTokens(true, false);
    startChain();
    EXPECT_FALSE(gaveUp());
    EXPECT_EQ(requests("/api/v1/token").size(), 1u);
    EXPECT_EQ(fontFileRequests(), 4u);
    EXPECT_EQ(controller->store().downloadingCount(), 0u);
    for (const auto& f : {font, other, third}) {
        EXPECT_GE(fontFileRequests(*f.fontId), 1u) << *f.fileName;
        EXPECT_TRUE(fontid::FontIdReader::read(fontPath(*f.fileName))) << *f.fileName;
    }
}

TEST_F(FontDownloadTest, AFontRemovedWhileOnItsWayIsNotInstalledNorRecordedAgain) {
    writeList({{*font.fontId, downloadingRecord(*font.fileName, "Removed font")},
               {*other.fontId, downloadingRecord(*other.fileName)}});
    controller->appendDownloadDisplayFont("Removed font");
    // The record goes while the server holds the answer back.
    addFault({{"path", "/api/v1/fonts/" + *font.fontId}, {"delayMs", 1500}, {"count", 1}});
    controller->downloadFont();
    ASSERT_TRUE(
        MainQueue::main().runUntil([&] { return fontFileRequests(*font.fontId) == 1; }, 5s));
    auto list = *controller->store().list();
    list.erase(*font.fontId);
    ASSERT_TRUE(controller->store().replace(list));
    ASSERT_TRUE(waitForChain());
    EXPECT_FALSE(record(*font.fontId)) << "no record made up for it";
    EXPECT_FALSE(FileUtil::exists(fontPath(*font.fileName)));
    EXPECT_EQ(workspaceFiles(), 0u);
    EXPECT_FALSE(gaveUp()) << "the chain goes on";
    EXPECT_EQ(text(*record(*other.fontId), kFontStatusType), kFontStatusInstalled);
    MainQueue::main().drain();
    EXPECT_TRUE(controller->downloadDisplayFontNames().empty())
        << "its name left the progress list";
}

TEST_F(FontDownloadTest, RecordNamingAFileOutsideTheFolderIsNotInstalled) {
    writeList({{*font.fontId, downloadingRecord("../../escape.ttf")}});
    startChain();
    EXPECT_TRUE(gaveUp());
    EXPECT_FALSE(FileUtil::exists(fontFolder() + "/../../escape.ttf"));
    EXPECT_EQ(workspaceFiles(), 0u);
}

TEST_F(FontDownloadTest, TheBodyArrivesInTheDownloadFolderOfTheUserArea) {
    writeList({{*font.fontId, downloadingRecord(*font.fileName)}});
    addFault({{"path", "/api/v1/fonts/*"}, {"delayMs", 300}, {"count", 1}});
    controller->downloadFont();
    // While the server holds the answer back, the body's file waits in the folder.
    ASSERT_TRUE(MainQueue::main().runUntil([&] { return workspaceFiles() == 1; }, 5s));
    const auto entry = *std::filesystem::directory_iterator(*ApiClient::downloadFolder());
    EXPECT_EQ(entry.path().string().rfind(sandbox.root() + "/", 0), 0u) << entry.path();
    ASSERT_TRUE(waitForChain());
    EXPECT_EQ(text(*record(*font.fontId), kFontStatusType), kFontStatusInstalled);
    EXPECT_EQ(workspaceFiles(), 0u);
}

TEST_F(FontDownloadTest, AStoppedTransferEndsTheChainQuietlyAndLeavesNoFile) {
    writeList({{*font.fontId, downloadingRecord(*font.fileName)},
               {*other.fontId, downloadingRecord(*other.fileName)}});
    addFault({{"path", "/api/v1/fonts/*"}, {"delayMs", 20000}, {"count", 1}});
    controller->downloadFont();
    ASSERT_TRUE(MainQueue::main().runUntil([&] { return fontFileRequests() == 1; }, 5s));
    controller->stop();
    client.stopTransfers();
    EXPECT_TRUE(client.waitForDownloads(seconds(5)));
    ASSERT_TRUE(waitForChain(5s));
    EXPECT_EQ(workspaceFiles(), 0u);
    EXPECT_FALSE(gaveUp()) << "an ending program tells the user nothing";
    EXPECT_EQ(fontFileRequests(), 1u) << "nothing more starts";
    EXPECT_EQ(controller->store().downloadingCount(), 2u) << "fetched by the next run";
}

TEST_F(FontDownloadTest, MissingFontFolderIsCreated) {
    std::filesystem::remove_all(fontFolder());
    writeList({{*font.fontId, downloadingRecord(*font.fileName)}});
    startChain();
    EXPECT_TRUE(fontid::FontIdReader::read(fontPath(*font.fileName)));
}

}  // namespace
}  // namespace tavo::test
