// The account state: identity and tokens loaded at start-up, the first
// online or offline processing, and logout.
#include "resident/AccountState.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fonts/FontManagementController.h"
#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/CryptorUtil.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "foundation/NotificationUtil.h"
#include "platform/StatusItem.h"
#include "platform/SystemInfo.h"
#include "resident/ResidentNames.h"
#include "resident/ResidentQueues.h"
#include "resident/WeakCall.h"
#include "service/ApiClient.h"
#include "service/LoginApi.h"
#include "service/OVError.h"
#include "session/SessionState.h"
#include "update/ProgramController.h"

namespace tavo {

namespace {

// A value of the user configuration, decrypted; empty when absent.
std::string storedSecret(const std::optional<PlistDict>& config, const char* key) {
    if (!config)
        return {};
    return Config::decryptedValue(*config, key).value_or("");
}

// Whether the stored value is there at all (decryptable or not).
bool hasStoredValue(const std::optional<PlistDict>& config, const char* key) {
    if (!config)
        return false;
    if (const auto* data = plistGet<PlistData>(*config, key))
        return !data->empty();
    if (const auto* text = plistGet<std::string>(*config, key))
        return !text->empty();
    return false;
}

}  // namespace

AccountState::AccountState(ApiClient& client, SessionState& sessionState,
                           std::shared_ptr<FontManagementController> fontController,
                           std::shared_ptr<ProgramController> programController)
    : client_(client),
      sessionState_(sessionState),
      fontController_(std::move(fontController)),
      programController_(std::move(programController)) {}

void AccountState::setApiClient(const std::string& apiServerAddress,
                                const std::string& sseServerAddress) {
    TAVO_DLOG("start");
    ApiClient& api = client_;
    api.setApiEndpoint(apiServerAddress);
    api.setSseEndpoint(sseServerAddress);
    auto& chain = fontController_->chainState();
    chain.isFontDownloading = false;
    TAVO_DLOG(": apiClient.isFontDownloading=%d", chain.isFontDownloading ? 1 : 0);

    const std::string swVers = platform::SystemInfo::osVersionText();
    ILog("sw_vers information below:\n%@", swVers);
    api.setUserAgent(Const::userAgent(swVers));
    ILog("Using User Agent=[%@]", api.userAgent());

    api.isLoginStatus = false;

    const auto config = Config::userConfig();
    const std::string configPath = Config::userConfigPath().value_or("(empty)");
    api.setDeviceKey(std::string());
    if (hasStoredValue(config, kConfigDeviceKey)) {
        api.setDeviceKey(storedSecret(config, kConfigDeviceKey));
        ILog("Loaded device key from user license configuration: %@", configPath);
        TAVO_DLOG("user config: %@: [%@]", kConfigDeviceKey, "(encrypted)");
    }
    if (hasStoredValue(config, kConfigDeviceId)) {
        api.setDeviceId(storedSecret(config, kConfigDeviceId));
        ILog("Loaded device id from user license configuration: %@", configPath);
        TAVO_DLOG("user config: %@: [%@]", kConfigDeviceId, "(encrypted)");
    }
    api.timeoutIntervalForRequest = kRequestTimeout;

    api.setRefreshToken(std::string());
    api.setAccessToken(std::string());
    const std::string refreshToken = storedSecret(config, kConfigRefreshTokens);
    if (refreshToken.empty()) {
        // An undecryptable value counts as none: it could never be sent.
        ILog("Could not load refresh token from user license configuration: %@", configPath);
        TAVO_DLOG("end");
        return;
    }
    api.isLoginStatus = true;
    api.setRefreshToken(refreshToken);
    ILog("Loaded refresh token from user license configuration: %@", configPath);

    LoginApi login(api);
    std::optional<Error> error;
    const auto token = login.tokenWithRefreshToken(refreshToken, &error);
    if (OVError::checkApiError(error, token.code, token.message) && token.data &&
        token.data->accessToken && !token.data->accessToken->empty()) {
        ILog("Configuration get access token");
        api.setAccessToken(token.data->accessToken);
    }
    if (api.accessToken().value_or("").empty()) {
        submitToSerialQueue(client_, shared_from_this(), [](AccountState& self) {
            ILog("Detect empty access token with start up, retrying");
            self.getAccessToken(3);
        });
    }
    if (api.isOnlineStatusApi) {
        TAVO_DLOG("calling connectNotifications");
        if (programController_)
            programController_->connectNotifications();
    }
    TAVO_DLOG("end");
}

void AccountState::getAccessToken(int attempts) {
    TAVO_DLOG("start");
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        ILog("Trying to get access token with %d/%d time(s)", attempt, attempts);
        Clock::current().sleepFor(seconds(kAccessTokenRetryPause));
        if (!client_.isLoginStatus)
            break;  // signed out while waiting: nothing to ask for any more
        LoginApi login(client_);
        std::optional<Error> error;
        const auto token = login.tokenWithRefreshToken(client_.refreshToken(), &error);
        std::string accessToken;
        if (OVError::checkApiError(error, token.code, token.message) && token.data) {
            TAVO_DLOG("setting access token: [%@]", "(masked)");
            accessToken = token.data->accessToken.value_or("");
        }
        if (!accessToken.empty()) {
            ILog("Configuration get access token with %d time(s)", attempt);
            client_.setAccessToken(accessToken);
            break;
        }
    }
    TAVO_DLOG("end");
}

void AccountState::applicationDidFinishLaunchingOrOnlineFirstDetection() {
    TAVO_DLOG("start");
    if (client_.isOnlineStatus()) {
        sessionState_.isOnlineFirstProcessingExecuted = true;
        callIfSet(links_.resetIconAnimation);
        callIfSet(links_.updateHalfHourTimer);
        if (programController_)
            programController_->startSpecifiedVersionOnLine();
        startSynchronization(
            "Skip first performing font synchronization because of already running",
            "Perfroming font synchronization at first", "First performing font synchronization");
    } else if (programController_) {
        programController_->startSpecifiedVersionOffLine();
    }
    if (programController_)
        programController_->showForceUpdateDialog();
    // The 24-hour processing starts a little after this one: a delayed call
    // instead of a sleep, so the main thread stays free meanwhile.
    std::weak_ptr<AccountState> weak = weak_from_this();
    MainQueue::main().after(seconds(kTwentyFourHourStartDelay), [weak] {
        if (auto self = weak.lock()) {
            ILog("Raise the timer process by twenty four hour");
            callIfSet(self->links_.updateTwentyFourHourTimer);
        }
    });
    TAVO_DLOG("end");
}

bool AccountState::startSynchronization(const char* skipLine, const char* startLine,
                                        const char* runLine) {
    auto hold = std::make_shared<FontSyncGate::Hold>(fontController_->syncGate().tryAcquire());
    if (!*hold) {
        ILog("%@", skipLine);
        return false;
    }
    ILog("%@", startLine);
    const std::string run = runLine;
    submitToSerialQueue(client_, shared_from_this(), [run, hold](AccountState& self) {
        ILog("%@", run);
        self.runSynchronization(std::move(*hold));
    });
    return true;
}

void AccountState::runSynchronization(FontSyncGate::Hold hold) {
    fontController_->syncSettingedFontActiveDeactiveOnMembersSite(std::move(hold));
}

void AccountState::performLogout(bool forced) {
    // A refusal of the logout request itself, or of requests still in
    // flight, would start another logout in the middle of this one.
    if (loggingOut_.exchange(true)) {
        ILog("Skipping a logout while another one runs");
        return;
    }
    callIfSet(links_.setStatusItemEnabled, false);
    if (programController_)
        programController_->disconnectNotifications();
    if (!forced) {
        LoginApi login(client_);
        std::optional<Error> error;
        login.logoutWithError(&error);
    }
    client_.isLoginStatus = false;
    callIfSet(links_.showSignedOut);

    // Pending writes of the list are dropped first, so none brings it back.
    fontController_->store().discard();
    if (const auto fontList = Const::applicationFontPlistPath()) {
        if (std::remove(fontList->c_str()) != 0 && errno != ENOENT)
            ILog("code %ld: message: An error for removing font list occurs.: Description: [%@]: ",
                 static_cast<long>(errno), *fontList);
    }

    const std::string deviceKey = client_.deviceKey().value_or("");
    Config::createConfigPlist(deviceKey.empty() ? std::nullopt
                                                : CryptorUtil::encryptString(deviceKey));

    fontController_->processPeriodicConfirmationFontDeactivationLogout();
    callIfSet(links_.setStatusItemEnabled, true);
    loggingOut_ = false;
}

void AccountState::forcedLogout() {
    if (!client_.isLoginStatus || loggingOut_) {
        // Several requests refused at once each report it, and so may the
        // logout request of a logout in progress: one logout is enough.
        ILog("Skipping forced logout without logged in");
        return;
    }
    ILog("Perform forced logout");
    performLogout(true);
    NotificationUtil::deliverNotificationWithSubtile(localized("Forced logout subtitle"),
                                                     localized("Forced logout message"));
}

}  // namespace tavo
