// Activation and deactivation that reach fontconfig: the sandbox's
// fontconfig lists the account's active fonts and hides the others.
#include "FontFixture.h"
#include "foundation/Process.h"
#include "platform/Layout.h"
#include "platform/SystemInfo.h"
#include "platform/linux/FontconfigFontManager.h"

namespace tavo::test {
namespace {

// Whether a program that starts now sees the file through fontconfig: ask
// fc-list, which reads the sandbox's configuration from FONTCONFIG_FILE.
bool fontconfigLists(const std::string& path) {
    const auto result = Process::run("fc-list", {":", "file"});
    return result.standardOutput.find(path + ":") != std::string::npos;
}

class FontconfigActivationTest : public FontFixture {
protected:
    void SetUp() override {
        FontFixture::SetUp();
        if (HasFatalFailure())
            return;
        manager = platform::FontconfigFontManager::create();
        ASSERT_TRUE(manager);
        controller = FontManagementController::create(client, manager);
    }
    // Whether fontconfig lists the link that activates the stored file.
    bool listed(const std::string& fileName) {
        return fontconfigLists(manager->linkPath(fileName));
    }
    std::shared_ptr<platform::FontconfigFontManager> manager;
};

TEST_F(FontconfigActivationTest, WebSideSwitchesReachFontconfig) {
    ASSERT_TRUE(synchronize());
    controller->waitForActivationBatches();
    const auto fonts = accountFonts();
    for (const auto& font : fonts)
        EXPECT_TRUE(listed(*font.fileName)) << *font.fileName;

    onWeb(false, *fonts[0].fontId);
    controller->waitForActivationBatches();
    EXPECT_FALSE(listed(*fonts[0].fileName));
    EXPECT_TRUE(listed(*fonts[1].fileName));

    onWeb(true, *fonts[0].fontId);
    ASSERT_TRUE(waitForChain());
    controller->waitForActivationBatches();
    EXPECT_TRUE(listed(*fonts[0].fileName));
}

TEST_F(FontconfigActivationTest, LogoutHidesEveryServiceFontAndASyncBringsThemBack) {
    ASSERT_TRUE(synchronize());
    controller->waitForActivationBatches();
    controller->processPeriodicConfirmationFontDeactivationLogout();
    controller->waitForActivationBatches();
    const auto fonts = accountFonts();
    for (const auto& font : fonts) {
        EXPECT_FALSE(listed(*font.fileName)) << *font.fileName;
        EXPECT_TRUE(FileUtil::exists(fontPath(*font.fileName)));
    }
    ASSERT_TRUE(synchronize());
    controller->waitForActivationBatches();
    for (const auto& font : fonts)
        EXPECT_TRUE(listed(*font.fileName)) << *font.fileName;
}

TEST_F(FontconfigActivationTest, UpdatedFileOfAHiddenFontIsShownWhenTheAccountWantsItActive) {
    ASSERT_TRUE(synchronize());
    const auto font = accountFonts()[0];
    const auto path = fontPath(*font.fileName);
    std::vector<platform::FontManagerError> errors;
    ASSERT_TRUE(manager->unregisterFonts({path}, platform::FontManagerScope::Persistent, &errors));
    auto r = *record(*font.fontId);
    r[kFontStatusType] = kFontStatusDownloading;
    controller->store().setRecord(*font.fontId, r, FontListStore::Write::Now);

    controller->downloadFont();
    ASSERT_TRUE(waitForChain());
    controller->waitForActivationBatches();
    EXPECT_TRUE(listed(*font.fileName));
}

TEST_F(FontconfigActivationTest, RemovedFontTakesItsLinkAlong) {
    ASSERT_TRUE(synchronize());
    controller->waitForActivationBatches();
    const auto font = accountFonts()[0];
    const std::string link = manager->linkPath(*font.fileName);
    ASSERT_TRUE(listed(*font.fileName));
    controller->fontRemove({fontPath(*font.fileName)});
    EXPECT_FALSE(FileUtil::exists(fontPath(*font.fileName)));
    EXPECT_FALSE(FileUtil::exists(link));
    EXPECT_FALSE(listed(*font.fileName));
}

TEST_F(FontconfigActivationTest, NoRejectConfigurationIsWritten) {
    ASSERT_TRUE(synchronize());
    onWeb(false, *accountFonts()[0].fontId);
    controller->waitForActivationBatches();
    const platform::Layout layout = platform::Layout::current();
    const std::string confD = *platform::SystemInfo::homeDirectory() + "/" + layout.userFontConfig;
    EXPECT_FALSE(FileUtil::exists(confD + "/" + platform::FontconfigFontManager::kListFileName));
}

}  // namespace
}  // namespace tavo::test
