#include "UpdateFixture.h"

#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "TestArchives.h"
#include "foundation/Config.h"
#include "foundation/ConfigKeys.h"
#include "foundation/Const.h"
#include "foundation/MainQueue.h"
#include "platform/Authorization.h"
#include "platform/SystemInfo.h"
#include "platform/linux/ProcessAuthorization.h"
#include "update/UpdateNotifications.h"

namespace fs = std::filesystem;

namespace tavo::test {

bool LaunchRecorder::launchApplication(const std::string& bundlePath,
                                       const std::vector<std::string>& arguments) {
    std::lock_guard lock(mutex_);
    recorded_.push_back({bundlePath, arguments});
    return launches_;
}

std::vector<LaunchRecorder::Launch> LaunchRecorder::launches() {
    std::lock_guard lock(mutex_);
    return recorded_;
}

void UpdateFixture::SetUp() {
    StreamServiceFixture::SetUp();
    log = std::make_unique<LogCapture>(sandbox.path("/update-test.log"));
    Clock::setCurrent(std::make_shared<ScaledClock>(0.001));
    Config::createConfigPlist(std::nullopt);
    client.isLoginStatus = true;
    client.isOnlineStatusApi = true;
    client.setSerialDispatchQueue(queue);
    platform::Workspace::setSharedWorkspace(workspace);
    // Inside the sandbox root the helper runs without elevation.
    platform::Authorization::setDefaultAuthorization(
        std::make_shared<platform::ProcessAuthorization>());
    controller = std::make_shared<ProgramController>(client, sessionState);
    controller->setWindows(windows);
    controller->setTerminateHandler([this] { ++terminations; });
    controller->setForceUpdatePresenter([this] { ++presented; });
    controller->setUpdatePublicKey(TestArchives::publicKey());
    controller->setHelperPath(bundlesDirectory() + "/TAVO.app/Contents/MacOS/tavo-update-helper");
    observer_ = NotificationCenter::defaultCenter().addObserver(
        kPCNotificationKeyUpdateProgress, [this](const Notification& note) {
            std::lock_guard lock(notesMutex_);
            notes_.push_back(note.userInfo);
        });
    installVersion("2.1.0");
    fs::create_symlink(root() + "/TAVO-Ver2.1.0", root() + "/TAVO");
    makeAdministrator(true);
}

void UpdateFixture::TearDown() {
    queue->sync([] {});
    if (controller->isUpdaterDownloading())
        client.waitForDownloads(seconds(2));
    NotificationCenter::defaultCenter().removeObserver(observer_);
    controller.reset();
    MainQueue::main().drain();
    platform::Workspace::setSharedWorkspace(nullptr);
    platform::Authorization::setDefaultAuthorization(nullptr);
    Clock::setCurrent(nullptr);
    if (HasFailure())
        std::cerr << log->text();
    log.reset();
    StreamServiceFixture::TearDown();
}

void UpdateFixture::offer(const std::string& version, bool forced, const std::string& signature,
                          const std::string& archiveFile) {
    nlohmann::json body = {
        {"offeredVersion", version}, {"isForcedUpdate", forced}, {"signature", signature}};
    if (!archiveFile.empty())
        body["archive"] = archiveFile;
    admin("/admin/client-apps", body);
}

bool UpdateFixture::checkAndDownload() {
    bool started = false;
    queue->sync([&] { started = controller->nextVersionDownloadInBackground(); });
    if (started)
        waitUntil([this] { return !controller->isUpdaterDownloading(); });
    return started;
}

std::string UpdateFixture::installVersion(const std::string& version) {
    const std::string bundle = root() + "/TAVO-Ver" + version + "/TAVO.app";
    Sandbox::writeFile(bundle + "/Contents/Info.plist", "<plist/>");
    return bundle;
}

void UpdateFixture::placeDownloaded(const std::string& version, bool forced) {
    const std::string archive = updateFolder() + "TAVO-Ver" + version + ".zip";
    TestArchives::writeZip(archive, TestArchives::bundleEntries(version));
    TestArchives::sign(archive);
    Config::updateUserConfig([&](PlistDict& config) {
        config[kConfigUpdateVersion] = version;
        config[kConfigForcedUpdate] = forced;
    });
}

void UpdateFixture::makeAdministrator(bool admin) {
    const std::string user = platform::SystemInfo::loginName();
    Sandbox::writeFile(sandbox.path("/etc/group"),
                       admin ? "sudo:x:27:someone," + user + "\n" : "sudo:x:27:someone\n");
}

std::string UpdateFixture::root() const {
    return Const::appBaseDir();
}

std::string UpdateFixture::updateFolder() const {
    return Const::applicationUpdateTempolaryDirectoryPath().value_or("");
}

std::string UpdateFixture::configText(const std::string& key) const {
    const auto config = Config::userConfig();
    const auto* text = config ? plistGet<std::string>(*config, key) : nullptr;
    return text && !text->empty() ? *text : std::string("(none)");
}

std::size_t UpdateFixture::progressCount(const std::string& key) {
    std::lock_guard lock(notesMutex_);
    std::size_t n = 0;
    for (const auto& info : notes_)
        n += info.count(key);
    return n;
}

std::vector<int> UpdateFixture::progressValues() {
    std::lock_guard lock(notesMutex_);
    std::vector<int> values;
    for (const auto& info : notes_)
        if (const auto it = info.find(kPCUserInfoKeyProgress); it != info.end())
            values.push_back(std::any_cast<int>(it->second));
    return values;
}

bool UpdateFixture::applyUpdate() {
    controller->startUpdate();
    return waitUntil(
        [this] { return terminations > 0 || progressCount(kPCUserInfoKeyCopyErrorOccurred) > 0; },
        std::chrono::seconds(20));
}

}  // namespace tavo::test
