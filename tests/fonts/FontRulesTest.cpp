// The decisions of the font controller that need no server.
#include "FakeFontManager.h"
#include "fonts/FontDownloadDelegate.h"
#include "fonts/FontFileName.h"
#include "fonts/FontManagementController.h"
#include "foundation/MainQueue.h"
#include "foundation/NotificationCenter.h"
#include "service/ApiClient.h"
#include "support/Sandbox.h"

namespace tavo::test {
namespace {

class FontRulesTest : public SandboxTest {
protected:
    ApiClient client;
    std::shared_ptr<FontManagementController> controller =
        FontManagementController::create(client, std::make_shared<FakeFontManager>());
};

TEST(FontFileNameTest, OnlyPlainNamesNameAFileInTheFontFolder) {
    for (const char* good : {"Sans.ttf", "Sans Bold.otf", "Ünïcödé.ttc", "a..b.ttf", "x"})
        EXPECT_TRUE(isPlainFontFileName(good)) << good;
    for (const std::string& bad : std::vector<std::string>{
             "", ".", "..", ".hidden.ttf", "../x.ttf", "a/b.ttf", "/abs.ttf", "a*.ttf", "a?.ttf",
             "tab\t.ttf", "nl\n.ttf", std::string("nul\0.ttf", 8), std::string(256, 'a')})
        EXPECT_FALSE(isPlainFontFileName(bad)) << bad;
    EXPECT_TRUE(isPlainFontFileName(std::string(255, 'a')));
}

TEST_F(FontRulesTest, ThreeTimesTheFileSizeMustFitStrictly) {
    controller->setDiskFreeSizeProvider([] { return 3000.0; });
    EXPECT_TRUE(controller->existsDiskFreeSpaces(999));
    EXPECT_FALSE(controller->existsDiskFreeSpaces(1000));
    EXPECT_FALSE(controller->existsDiskFreeSpaces(1001));
}

TEST_F(FontRulesTest, FreeSpaceIsMeasuredEvenBeforeTheFontFolderExists) {
    EXPECT_GT(controller->getDiskFreeSize(), 0);
}

TEST_F(FontRulesTest, InsufficientSpaceIsShownOnceUntilTheFlagIsCleared) {
    controller->notifyDiskSpaceInsufficient();
    EXPECT_TRUE(controller->chainState().isDiskSpaceInsufficientNotified);
    controller->notifyDiskSpaceInsufficient();
    EXPECT_TRUE(controller->chainState().isDiskSpaceInsufficientNotified);
}

TEST_F(FontRulesTest, FontWithoutContractOrFreemiumIsDeactivated) {
    auto font = [](bool freemium, PlistArray contracts) {
        PlistDict r = FontManagementController::createFontKeyList();
        r[kFontFreemium] = freemium;
        r[kFontContractIds] = std::move(contracts);
        return r;
    };
    EXPECT_EQ(controller->getSyncFontAction({}, font(false, {})), kSyncFontActionDeactivate);
    EXPECT_EQ(controller->getSyncFontAction({}, font(true, {})), kSyncFontActionActivate);
    EXPECT_EQ(controller->getSyncFontAction({}, font(false, {"c-1"})), kSyncFontActionActivate);
}

TEST_F(FontRulesTest, NewRecordHasTheDefaultValues) {
    const PlistDict r = FontManagementController::createFontKeyList();
    EXPECT_EQ(r.size(), 9u);
    EXPECT_EQ(*plistGet<std::string>(r, kFontStatusType), kFontStatusNotInstalled);
    EXPECT_FALSE(*plistGet<bool>(r, kFontActivate));
    EXPECT_TRUE(plistGet<PlistArray>(r, kFontContractIds)->empty());
}

TEST_F(FontRulesTest, ProgressListKeepsNewestFirstWithoutDuplicates) {
    std::vector<std::string> posted;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        kFMUpdateProgressNotification, [&](const Notification& n) {
            posted.push_back(std::to_string(std::any_cast<int>(n.userInfo.at(kFMStartProgress))) +
                             ":" + std::any_cast<std::string>(n.userInfo.at(kFMTypeface)));
        });
    controller->appendDownloadDisplayFont("A");
    controller->appendDownloadDisplayFont("B");
    controller->appendDownloadDisplayFont("A");
    NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_EQ(posted, (std::vector<std::string>{"1:A", "2:B,A"}));
    controller->removeDownloadDisplayFont("A");
    EXPECT_EQ(controller->downloadDisplayFontNames(), std::vector<std::string>{"B"});
    controller->clearDownloadDisplayFont();
    MainQueue::main().drain();
    EXPECT_TRUE(controller->downloadDisplayFontNames().empty());
}

TEST_F(FontRulesTest, ArrivedNamesLeaveTheListInOrderAndNeverBeforeTheyEntered) {
    std::vector<std::string> arrived;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        kFMUpdateProgressNotification, [&](const Notification& n) {
            if (n.userInfo.contains(kFMProgress))
                arrived.push_back(std::any_cast<std::string>(n.userInfo.at(kFMTypeface)));
        });
    controller->showDownloadDisplayFonts({"A", "B"});
    controller->downloadArrived("A");
    // C enters after A's arrival was posted: its own arrival, and those
    // after it, must not be handled before it is in the list.
    controller->showDownloadDisplayFonts({"C"});
    controller->downloadArrived("C");
    controller->downloadArrived("B");
    MainQueue::main().drain();
    NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_EQ(arrived, (std::vector<std::string>{"A", "C", "B"}));
    EXPECT_TRUE(controller->downloadDisplayFontNames().empty());
}

TEST_F(FontRulesTest, FinishCheckReportsTheEndOnlyWithoutDownloadingRecords) {
    int completed = 0;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        kFMCommonMessageNotification, [&](const Notification&) { ++completed; });
    controller->store().replace(
        {{"1", PlistValue(PlistDict{{kFontStatusType, kFontStatusDownloading}})}});
    // A run that left a font "downloading" handed the gate to the chain.
    controller->syncGate().handToChain(controller->syncGate().tryAcquire());
    controller->checkFinishedSynchronizing();
    EXPECT_TRUE(controller->syncGate().inFontSynchroizing());
    EXPECT_EQ(completed, 0);

    controller->store().setRecord("1", {{kFontStatusType, kFontStatusInstalled}},
                                  FontListStore::Write::Now);
    controller->checkFinishedSynchronizing();
    EXPECT_FALSE(controller->syncGate().inFontSynchroizing());
    EXPECT_EQ(completed, 1);
    controller->checkFinishedSynchronizing();  // not synchronizing: nothing more
    NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_EQ(completed, 1);
}

TEST_F(FontRulesTest, OnlyAnEmptyJsonAnswerToADownloadLooksLikeAnExpiredToken) {
    HttpUrlResponse json;
    json.statusCode = 400;
    json.headers["content-type"] = "application/json";
    std::atomic<int> retry{0};
    std::string type;
    auto suspicious = [&](const std::optional<HttpUrlResponse>& r, long status, long code) {
        return FontDownloadDelegate::isSuspeciousExpiredToken(r, status, code, &type, retry);
    };
    EXPECT_FALSE(suspicious(std::nullopt, 400, kURLErrorFileDoesNotExist));
    EXPECT_FALSE(suspicious(json, 500, kURLErrorFileDoesNotExist));
    EXPECT_FALSE(suspicious(json, 400, -1001));
    HttpUrlResponse html = json;
    html.headers["content-type"] = "text/html";
    EXPECT_FALSE(suspicious(html, 400, kURLErrorFileDoesNotExist));
    EXPECT_EQ(type, "text/html");
    HttpUrlResponse charset = json;
    charset.headers["content-type"] = "application/json; charset=utf-8";
    EXPECT_FALSE(suspicious(charset, 400, kURLErrorFileDoesNotExist))
        << "the type must match exactly";

    EXPECT_TRUE(suspicious(json, 400, kURLErrorFileDoesNotExist));
    EXPECT_EQ(retry, 1);
    EXPECT_FALSE(suspicious(json, 400, kURLErrorFileDoesNotExist)) << "once only";
}

TEST_F(FontRulesTest, EventDataIsReadFromItsJsonText) {
    EXPECT_FALSE(FontManagementController::getNotificationData({}));
    EXPECT_FALSE(
        FontManagementController::getNotificationData({{"jsonData", std::string("{broken")}}));
    EXPECT_FALSE(FontManagementController::getNotificationData({{"jsonData", 42}}));
    const auto data = FontManagementController::getNotificationData(
        {{"jsonData", std::string(R"({"fontId":7})")}});
    ASSERT_TRUE(data);
    EXPECT_EQ((*data)["fontId"], 7);
}

}  // namespace
}  // namespace tavo::test
