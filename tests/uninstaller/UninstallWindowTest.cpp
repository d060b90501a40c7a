#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <filesystem>

#include "GuiTestSupport.h"
#include "platform/Layout.h"
#include "platform/SystemInfo.h"
#include "service/ApiClient.h"
#include "support/Sandbox.h"
#include "uninstaller/Uninstallation.h"
#include "uninstaller/widgets/UninstallFailureViewController.h"
#include "uninstaller/widgets/UninstallStartViewController.h"
#include "uninstaller/widgets/UninstallWindow.h"
#include "uninstaller/widgets/UninstallationViewController.h"

namespace fs = std::filesystem;

namespace tavo::test {
namespace {

using namespace tavo::uninstaller;

constexpr const char* kVersion = "2.1.0";

// The window over an installed layout in the sandbox; alerts and the
// program's end are recorded.
class UninstallWindowTest : public SandboxTest {
protected:
    void SetUp() override {
        guiApplication();
        layout = platform::Layout::current();
        own = layout.applicationRoot + "/TAVO-Ver" + kVersion;
        Sandbox::writeFile(own + "/TAVO-Uninstaller.app/Contents/Info.plist", "x");
        Sandbox::writeFile(layout.autostartEntry, "[Desktop Entry]\n");
        context = std::make_shared<UninstallContext>();
        context->version = kVersion;
        context->isAdministrator = [this] { return administrator; };
        context->client = &client;
        context->makeUninstallation = [this](std::function<void(double)> progress) {
            UninstallSetup setup;
            setup.layout = layout;
            setup.version = kVersion;
            setup.bundleFolder = own;
            setup.currentUser = platform::SystemInfo::loginName();
            setup.runningApplications = [] { return std::vector<int>{}; };
            setup.progress = std::move(progress);
            return std::make_unique<Uninstallation>(std::move(setup));
        };
        context->alert = [this](const std::string& message, const std::string&) {
            alerts.push_back(message);
        };
        context->errorAlert = context->alert;
        context->terminate = [this] { ++terminations; };
        window = std::make_unique<UninstallWindow>(context);
        window->show();
    }

    template <typename Page>
    Page* page() const {
        return qobject_cast<Page*>(window->contentViewController());
    }

    void clickUninstall() {
        auto* start = page<UninstallStartViewController>();
        ASSERT_NE(start, nullptr);
        start->uninstallButton()->click();
    }

    platform::Layout layout;
    std::string own;
    bool administrator = true;
    ApiClient client;
    std::shared_ptr<UninstallContext> context;
    std::unique_ptr<UninstallWindow> window;
    std::vector<std::string> alerts;
    int terminations = 0;
};

TEST_F(UninstallWindowTest, AnAdministratorGoesThroughToTheFinishedState) {
    EXPECT_EQ(window->windowTitle().toStdString(), "Uninstall of TAVO desktop application");
    clickUninstall();
    auto* progress = page<UninstallationViewController>();
    ASSERT_NE(progress, nullptr);
    EXPECT_FALSE(progress->closeButton()->isVisible());
    ASSERT_TRUE(waitUntil([&] { return progress->closeButton()->isVisible(); }));
    EXPECT_TRUE(progress->closeButton()->isEnabled());
    EXPECT_FALSE(progress->progressBar()->isVisible());
    EXPECT_EQ(progress->statusLabel()->text().toStdString(), "Uninstall complete");
    EXPECT_EQ(progress->progressBar()->value(), 100);  // no font: the last step fills it
    EXPECT_FALSE(fs::exists(own));
    EXPECT_FALSE(fs::exists(layout.autostartEntry));
    EXPECT_EQ(context->status, 0);
    progress->closeButton()->click();
    EXPECT_EQ(terminations, 1);
}

TEST_F(UninstallWindowTest, ANonAdministratorGetsTheAlertAndTheProgramEnds) {
    administrator = false;
    clickUninstall();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0], "Please Uninstall with administrator privileges");
    EXPECT_EQ(terminations, 1);
    EXPECT_NE(page<UninstallStartViewController>(), nullptr);
    EXPECT_TRUE(fs::exists(own));
}

TEST_F(UninstallWindowTest, NothingInstalledSaysSoAndEnds) {
    fs::remove_all(own);
    clickUninstall();
    ASSERT_TRUE(waitUntil([&] { return terminations > 0; }));
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0], "Already uninstalled");
}

TEST_F(UninstallWindowTest, AFailingStepShowsTheFailurePage) {
    // A user's configuration folder behind a link out of the home is refused.
    const std::string area = layout.usersHomes + "/other/" + layout.userArea;
    const std::string outside = sandbox.path("/elsewhere");
    Sandbox::writeFile(outside + "/" + fs::path(area).filename().string() + "/keep", "x");
    fs::create_directories(fs::path(area).parent_path().parent_path());
    fs::create_directory_symlink(outside, fs::path(area).parent_path());
    clickUninstall();
    ASSERT_TRUE(waitUntil([&] { return page<UninstallFailureViewController>() != nullptr; }));
    EXPECT_EQ(page<UninstallFailureViewController>()->subTitleLabel()->text().toStdString(),
              "Uninstallation failure");
    EXPECT_TRUE(fs::exists(own));  // later steps never ran
    EXPECT_TRUE(fs::exists(layout.autostartEntry));
    EXPECT_NE(context->status, 0);
    page<UninstallFailureViewController>()->closeButton()->click();
    EXPECT_EQ(terminations, 1);
}

TEST_F(UninstallWindowTest, CancelEndsTheProgram) {
    page<UninstallStartViewController>()->backButton()->click();
    EXPECT_EQ(terminations, 1);
    EXPECT_TRUE(fs::exists(own));
}

}  // namespace
}  // namespace tavo::test
