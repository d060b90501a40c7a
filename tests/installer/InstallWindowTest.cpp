#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <filesystem>

#include "GuiTestSupport.h"
#include "InstallerFixture.h"
#include "foundation/MainQueue.h"
#include "installer/Installation.h"
#include "installer/widgets/InstallCompleteViewController.h"
#include "installer/widgets/InstallFailureViewController.h"
#include "installer/widgets/InstallStartViewController.h"
#include "installer/widgets/InstallWindow.h"
#include "installer/widgets/InstallationViewController.h"
#include "installer/widgets/TutorialViewController.h"
#include "platform/qt/QtMainQueueBackend.h"

namespace fs = std::filesystem;

namespace tavo::test {
namespace {

using namespace tavo::installer;

// The window over the sandbox's layout; alerts, starts of TAVO and the
// program's end are recorded.
class InstallWindowTest : public InstallerFixture {
protected:
    void SetUp() override {
        InstallerFixture::SetUp();
        guiApplication();
        // The background copies report through the main queue, on Qt's loop.
        MainQueue::main().setBackend(std::make_shared<platform::QtMainQueueBackend>());
        context = std::make_shared<InstallContext>();
        context->version = kVersion;
        context->isAdministrator = [this] { return administrator; };
        context->checkLibraries = [this] { return LibraryCheck::reportFor(missing); };
        context->makeInstallation = [this](InstallCallbacks callbacks) {
            InstallSetup setup;
            setup.layout = layout;
            setup.installerBundle = bundle;
            setup.version = kVersion;
            setup.currentUser = me;
            setup.runningApplications = [] { return std::vector<int>{}; };
            setup.launch = [this](const std::string& path) {
                launched.push_back(path);
                return true;
            };
            setup.progress = std::move(callbacks.progress);
            setup.cancelAvailable = std::move(callbacks.cancelAvailable);
            return Installation::create(std::move(setup));
        };
        context->alert = [this](const std::string& message, const std::string&) {
            alerts.push_back(message);
        };
        context->terminate = [this] { ++terminations; };
    }

    void TearDown() override {
        window.reset();
        MainQueue::main().drain();
        MainQueue::main().setBackend(nullptr);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void open() {
        window = std::make_unique<InstallWindow>(context);
        window->show();
    }

    template <typename Page>
    Page* page() const {
        return qobject_cast<Page*>(window->contentViewController());
    }

    std::string title() const { return window->windowTitle().toStdString(); }

    bool administrator = true;
    std::vector<std::string> missing;
    std::shared_ptr<InstallContext> context;
    std::unique_ptr<InstallWindow> window;
    std::vector<std::string> alerts;
    int terminations = 0;
};

TEST_F(InstallWindowTest, AFirstInstallGoesThroughCompletionToTheTutorial) {
    open();
    EXPECT_EQ(title(), "Install of TAVO desktop application");
    auto* start = page<InstallStartViewController>();
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(start->subTitleLabel()->text().toStdString(), "Welcome to TAVO installer");
    EXPECT_FALSE(start->librariesLabel()->isVisible());
    start->installButton()->click();
    auto* installing = page<InstallationViewController>();
    ASSERT_NE(installing, nullptr);
    EXPECT_FALSE(installing->cancelButton()->isEnabled());  // only while copying
    ASSERT_TRUE(waitUntil([&] { return page<InstallCompleteViewController>() != nullptr; }));
    auto* complete = page<InstallCompleteViewController>();
    EXPECT_EQ(complete->nextButton()->text().toStdString(), "Next");
    EXPECT_EQ(launched.size(), 1u);  // TAVO starts as the page loads
    EXPECT_TRUE(fs::exists(versionDir(kVersion) + "/TAVO-Uninstaller.app"));
    EXPECT_EQ(context->status, 0);
    complete->nextButton()->click();
    auto* tutorial = page<TutorialViewController>();
    ASSERT_NE(tutorial, nullptr);
    EXPECT_EQ(title(), "");
    EXPECT_FALSE(tutorial->pictureLabel()->pixmap().isNull());  // where the tray icon appears
    tutorial->closeButton()->click();
    ASSERT_TRUE(waitUntil([&] { return terminations > 0; }));
    EXPECT_EQ(terminations, 1);
}

TEST_F(InstallWindowTest, AnOverwriteEndsOnTheCompletionPage) {
    installVersion(kVersion);
    open();
    page<InstallStartViewController>()->installButton()->click();
    auto* installing = page<InstallationViewController>();
    ASSERT_NE(installing, nullptr);
    EXPECT_TRUE(installing->cancelButton()->isEnabled());  // from the start on an overwrite
    ASSERT_TRUE(waitUntil([&] { return page<InstallCompleteViewController>() != nullptr; }));
    auto* complete = page<InstallCompleteViewController>();
    EXPECT_EQ(complete->nextButton()->text().toStdString(), "Completion");
    complete->nextButton()->click();
    EXPECT_EQ(terminations, 1);
    EXPECT_FALSE(fs::exists(versionDir(kVersion) + ".old"));
}

TEST_F(InstallWindowTest, ANonAdministratorGetsTheAlertAndTheProgramEnds) {
    administrator = false;
    open();
    page<InstallStartViewController>()->installButton()->click();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0], "Please install with administrator privileges");
    EXPECT_EQ(terminations, 1);
    EXPECT_NE(page<InstallStartViewController>(), nullptr);
    EXPECT_FALSE(fs::exists(versionDir(kVersion)));
}

TEST_F(InstallWindowTest, MissingLibrariesShowTheCommandInsteadOfInstall) {
    missing = {"libQt6Svg.so.6", "libcurl.so.4"};
    open();
    auto* start = page<InstallStartViewController>();
    EXPECT_TRUE(start->librariesLabel()->isVisible());
    EXPECT_EQ(start->librariesLabel()->text().toStdString(),
              "sudo apt-get install libcurl4 libqt6svg6");
    EXPECT_FALSE(start->installButton()->isEnabled());
}

TEST_F(InstallWindowTest, AFailingStepShowsTheFailurePage) {
    fs::remove_all(bundle + "/Contents/MacOS/TAVO-Uninstaller.app");
    open();
    page<InstallStartViewController>()->installButton()->click();
    ASSERT_TRUE(waitUntil([&] { return page<InstallFailureViewController>() != nullptr; }));
    EXPECT_EQ(page<InstallFailureViewController>()->subTitleLabel()->text().toStdString(),
              "Installation couldn't be completed");
    EXPECT_NE(context->status, 0);
    EXPECT_TRUE(launched.empty());
    page<InstallFailureViewController>()->closeButton()->click();
    EXPECT_EQ(terminations, 1);
}

TEST_F(InstallWindowTest, CancelOnTheInstallationPageRestoresAndEnds) {
    installVersion(kVersion, true, "the installed one");
    open();
    page<InstallStartViewController>()->installButton()->click();
    auto* installing = page<InstallationViewController>();
    ASSERT_NE(installing, nullptr);
    ASSERT_TRUE(waitUntil([&] { return context->installation != nullptr; }));
    installing->cancelButton()->click();
    ASSERT_TRUE(waitUntil([&] { return terminations > 0; }));
    EXPECT_EQ(Sandbox::readFile(versionDir(kVersion) + "/TAVO.app/Contents/MacOS/TAVO"),
              "the installed one");
    EXPECT_FALSE(fs::exists(versionDir(kVersion) + ".old"));
    EXPECT_TRUE(launched.empty());
}

TEST_F(InstallWindowTest, ClosingTheWindowWhileCopyingUndoesTheOverwrite) {
    installVersion(kVersion, true, "the installed one");
    open();
    page<InstallStartViewController>()->installButton()->click();
    ASSERT_TRUE(waitUntil([&] { return context->installation != nullptr; }));
    window->close();  // the program's loop ends here; main undoes what was begun
    ASSERT_TRUE(context->installation->cancelAndWait());
    EXPECT_EQ(Sandbox::readFile(versionDir(kVersion) + "/TAVO.app/Contents/MacOS/TAVO"),
              "the installed one");
    EXPECT_FALSE(fs::exists(versionDir(kVersion) + ".old"));
    EXPECT_NE(context->status, 0);
}

TEST_F(InstallWindowTest, CancelOnTheStartPageEndsTheProgram) {
    open();
    page<InstallStartViewController>()->backButton()->click();
    EXPECT_EQ(terminations, 1);
    EXPECT_FALSE(fs::exists(versionDir(kVersion)));
}

}  // namespace
}  // namespace tavo::test
