#include "update/ProgramController.h"

#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "platform/Bundle.h"

namespace tavo {

namespace {

constexpr const char* kUpdatePublicKeyInfoKey = "TAVOUpdatePublicKey";
constexpr const char* kUpdateHelperName = "tavo-update-helper";

}  // namespace

std::shared_ptr<ProgramController> ProgramController::sharedInstance() {
    // Created once, on first use, and kept for the whole process.
    static auto* instance =
        new std::shared_ptr<ProgramController>(std::make_shared<ProgramController>(
            ApiClient::defaultApiClient(), SessionState::sharedInstance()));
    return *instance;
}

ProgramController::ProgramController(ApiClient& apiClient, SessionState& sessionState)
    : apiClient_(apiClient),
      sessionState_(sessionState),
      notifications_(std::make_shared<NotificationConnection>(apiClient, sessionState)) {}

ProgramController::~ProgramController() = default;

void ProgramController::finish() {
    TAVO_DLOG("start");
    // The update side has no timer of its own; an update download in flight
    // ends with the client's transfers.
    terminateSSERetryTimer();
    disconnectNotifications();
    TAVO_DLOG("end");
}

void ProgramController::setWindows(std::shared_ptr<platform::Windows> windows) {
    std::lock_guard lock(updateMutex_);
    windows_ = std::move(windows);
}

void ProgramController::setTerminateHandler(std::function<void()> terminate) {
    std::lock_guard lock(updateMutex_);
    terminate_ = std::move(terminate);
}

void ProgramController::setForceUpdatePresenter(std::function<void()> present) {
    std::lock_guard lock(updateMutex_);
    forceUpdatePresenter_ = std::move(present);
}

void ProgramController::setUpdatePublicKey(std::string key) {
    std::lock_guard lock(updateMutex_);
    updatePublicKey_ = std::move(key);
}

void ProgramController::setHelperPath(std::string path) {
    std::lock_guard lock(updateMutex_);
    helperPath_ = std::move(path);
}

void ProgramController::setDownloadProgressHandler(
    std::function<void(std::int64_t, std::int64_t)> progress) {
    std::lock_guard lock(updateMutex_);
    downloadProgress_ = std::move(progress);
}

std::string ProgramController::updatePublicKey() const {
    {
        std::lock_guard lock(updateMutex_);
        if (updatePublicKey_)
            return *updatePublicKey_;
    }
    return platform::Bundle::mainBundle()->infoValue(kUpdatePublicKeyInfoKey);
}

std::string ProgramController::helperPath() const {
    {
        std::lock_guard lock(updateMutex_);
        if (helperPath_)
            return *helperPath_;
    }
    const auto bundle = platform::Bundle::mainBundle();
    if (bundle->bundlePath().empty())
        return {};
    return bundle->executableFolderPath() + "/" + kUpdateHelperName;
}

void ProgramController::reportDownloadProgress(std::int64_t written, std::int64_t expected) const {
    std::function<void(std::int64_t, std::int64_t)> progress;
    {
        std::lock_guard lock(updateMutex_);
        progress = downloadProgress_;
    }
    if (progress)
        progress(written, expected);
}

void ProgramController::terminateProgram() {
    std::weak_ptr<ProgramController> weak = weak_from_this();
    MainQueue::main().async([weak] {
        auto self = weak.lock();
        if (!self)
            return;
        std::function<void()> terminate;
        {
            std::lock_guard lock(self->updateMutex_);
            terminate = self->terminate_;
        }
        if (terminate)
            terminate();
        else
            WLog("Nothing ends this program: it keeps running");
    });
}

}  // namespace tavo
