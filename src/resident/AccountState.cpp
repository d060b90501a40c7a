// The account state: identity and tokens loaded at start-up, the first
// online or offline processing, and logout.
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
#include "resident/AppDelegate.h"
#include "resident/ResidentNames.h"
#include "service/ApiClient.h"
#include "service/LoginApi.h"
#include "service/OVError.h"
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

void AppDelegate::setApiClient() {
    TAVO_DLOG("start");
    ApiClient& api = client();
    api.setApiEndpoint(apiServerAddress());
    api.setSseEndpoint(sseServerAddress());
    auto& chain = env_.fontController->chainState();
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
        submitToSerialQueue([](AppDelegate& self) {
            ILog("Detect empty access token with start up, retrying");
            self.getAccessToken(3);
        });
    }
    if (api.isOnlineStatusApi) {
        TAVO_DLOG("calling connectNotifications");
        if (env_.programController)
            env_.programController->connectNotifications();
    }
    TAVO_DLOG("end");
}

void AppDelegate::getAccessToken(int attempts) {
    TAVO_DLOG("start");
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        ILog("Trying to get access token with %d/%d time(s)", attempt, attempts);
        Clock::current().sleepFor(seconds(kAccessTokenRetryPause));
        if (!client().isLoginStatus)
            break;  // signed out while waiting: nothing to ask for any more
        LoginApi login(client());
        std::optional<Error> error;
        const auto token = login.tokenWithRefreshToken(client().refreshToken(), &error);
        std::string accessToken;
        if (OVError::checkApiError(error, token.code, token.message) && token.data) {
            TAVO_DLOG("setting access token: [%@]", "(masked)");
            accessToken = token.data->accessToken.value_or("");
        }
        if (!accessToken.empty()) {
            ILog("Configuration get access token with %d time(s)", attempt);
            client().setAccessToken(accessToken);
            break;
        }
    }
    TAVO_DLOG("end");
}

void AppDelegate::applicationDidFinishLaunchingOrOnlineFirstDetection() {
    TAVO_DLOG("start");
    if (client().isOnlineStatus()) {
        client().isOnlineFirstProcessingExecuted = true;
        statusMenuIconAnimationFrameCount = 0;
        updateHalfHourTimer();
        if (env_.programController)
            env_.programController->startSpecifiedVersionOnLine();
        startSynchronization(
            "Skip first performing font synchronization because of already running",
            "Perfroming font synchronization at first", "First performing font synchronization");
    } else if (env_.programController) {
        env_.programController->startSpecifiedVersionOffLine();
    }
    if (env_.programController)
        env_.programController->showForceUpdateDialog();
    // The 24-hour processing starts a little after this one: a delayed call
    // instead of a sleep, so the main thread stays free meanwhile.
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    MainQueue::main().after(seconds(kTwentyFourHourStartDelay), [weak] {
        if (auto self = weak.lock()) {
            ILog("Raise the timer process by twenty four hour");
            self->updateTwentyFourHourTimer();
        }
    });
    TAVO_DLOG("end");
}

bool AppDelegate::startSynchronization(const char* skipLine, const char* startLine,
                                       const char* runLine) {
    auto hold = std::make_shared<FontSyncGate::Hold>(env_.fontController->syncGate().tryAcquire());
    if (!*hold) {
        ILog("%@", skipLine);
        return false;
    }
    ILog("%@", startLine);
    const std::string run = runLine;
    submitToSerialQueue([run, hold](AppDelegate& self) {
        ILog("%@", run);
        self.runSynchronization(std::move(*hold));
    });
    return true;
}

void AppDelegate::runSynchronization(FontSyncGate::Hold hold) {
    env_.fontController->syncSettingedFontActiveDeactiveOnMembersSite(std::move(hold));
}

void AppDelegate::performLogout(bool forced) {
    // A refusal of the logout request itself, or of requests still in
    // flight, would start another logout in the middle of this one.
    if (loggingOut_.exchange(true)) {
        ILog("Skipping a logout while another one runs");
        return;
    }
    setStatusItemEnabled(false);
    if (env_.programController)
        env_.programController->disconnectNotifications();
    if (!forced) {
        LoginApi login(client());
        std::optional<Error> error;
        login.logoutWithError(&error);
    }
    client().isLoginStatus = false;
    submitToMainQueue([](AppDelegate& self) {
        for (auto* timer :
             {&self.statusMenuIconAnimationTimer, &self.statusMenuIconAnimationTimerP}) {
            if (*timer) {
                (*timer)->invalidate();
                timer->reset();
            }
        }
        if (self.env_.statusItem)
            self.env_.statusItem->setImage(kStatusIconLogout);
    });

    // Pending writes of the list are dropped first, so none brings it back.
    env_.fontController->store().discard();
    if (const auto fontList = Const::applicationFontPlistPath()) {
        if (std::remove(fontList->c_str()) != 0 && errno != ENOENT)
            ILog("code %ld: message: An error for removing font list occurs.: Description: [%@]: ",
                 static_cast<long>(errno), *fontList);
    }

    const std::string deviceKey = client().deviceKey().value_or("");
    Config::createConfigPlist(deviceKey.empty() ? std::nullopt
                                                : CryptorUtil::encryptString(deviceKey));

    env_.fontController->processPeriodicConfirmationFontDeactivationLogout();
    setStatusItemEnabled(true);
    loggingOut_ = false;
}

void AppDelegate::forcedLogout() {
    if (!client().isLoginStatus || loggingOut_) {
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
