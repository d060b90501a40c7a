// The half-hour check, the once-a-day regular processing, the refresh-token
// schedule, the stream watchdog, and the reactions to reachability, sleep,
// wake and refused requests.
#include <cinttypes>

#include "events/SSEEvents.h"
#include "fonts/FontManagementController.h"
#include "foundation/Config.h"
#include "foundation/Const.h"
#include "foundation/CryptorUtil.h"
#include "foundation/DateUtil.h"
#include "foundation/Localization.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "platform/StatusItem.h"
#include "resident/AppDelegate.h"
#include "resident/ResidentNames.h"
#include "service/ApiClient.h"
#include "service/LoginApi.h"
#include "service/NoticeApi.h"
#include "service/OVError.h"
#include "service/ResultCodes.h"
#include "update/ProgramController.h"

namespace tavo {

namespace {

constexpr const char* kZoneDateFormat = "yyyy-MM-dd HH:mm:ss Z";

std::string dateText(const std::optional<Clock::SystemTime>& date,
                     const char* pattern = kDefaultDateFormat) {
    return date ? DateUtil::getFormatStringFromDate(*date, pattern) : std::string("(nil)");
}

double secondsSince1970(Clock::SystemTime time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

// Tokens stay out of the log, even at debug level.
std::string secretText(const std::optional<std::string>& value) {
    return value && !value->empty() ? "(" + std::to_string(value->size()) + " characters)"
                                    : std::string("(empty)");
}

}  // namespace

std::optional<Clock::SystemTime> AppDelegate::updateTwentyFourHourTimerDate() const {
    std::lock_guard lock(mutex_);
    return updateTwentyFourHourTimerDate_;
}

void AppDelegate::setUpdateTwentyFourHourTimerDate(std::optional<Clock::SystemTime> date) {
    std::lock_guard lock(mutex_);
    updateTwentyFourHourTimerDate_ = date;
}

// ---- half-hour check

void AppDelegate::updateHalfHourTimer() {
    TAVO_DLOG("start");
    ILog("Status checker of [%@](%@) at %@", Const::getCurrentAppVersion(),
         Const::getCurrentBuildNumber(), DateUtil::getCurrentDate(kZoneDateFormat));
    if (!halfHourCheckTimer) {
        std::weak_ptr<AppDelegate> weak = weak_from_this();
        halfHourCheckTimer = Timer::scheduledTimer(seconds(kHalfHourTimerInterval), true, [weak] {
            if (auto self = weak.lock())
                self->updateHalfHourTimer();
        });
    }
    if (!client().isLoginStatus) {
        TAVO_DLOG("end");
        return;
    }
    submitToSerialQueue([](AppDelegate& self) {
        ApiClient& client = self.client();
        const bool preOnlineStatus = client.isOnlineStatus();
        TAVO_DLOG("preOnlineStatus=%d", preOnlineStatus ? 1 : 0);
        if (client.accessToken().value_or("").empty()) {
            ILog("Detect empty access token with timer");
            self.getAccessToken(1);
        }
        self.updateUserRefreshTokenScheduled();

        bool fetched = false;
        const bool registered = self.isOwnDeviceRegistered(&fetched);
        if (!fetched) {
            self.sseWatchDog();
            return;
        }
        TAVO_DLOG("isOnlineStatus=%d", client.isOnlineStatus() ? 1 : 0);
        if (!preOnlineStatus && registered) {
            if (auto hold = self.env_.fontController->syncGate().tryAcquire(); !hold) {
                ILog("Skip regular performing font synchronization because of already running");
            } else {
                ILog("Perfroming font synchronization at regular process");
                ILog("Regular performing font synchronization");
                self.runSynchronization(std::move(hold));
            }
        }
        if (registered) {
            self.sseWatchDog();
        } else {
            ILog("Forced logout because own device is not in list");
            self.forcedLogout();
        }
    });
    TAVO_DLOG("end");
}

bool AppDelegate::isOwnDeviceRegistered(bool* fetched) {
    LoginApi api(client());
    std::optional<Error> error;
    const auto result = api.getDevicesWithError(&error);
    *fetched = OVError::checkApiError(error, result.code, result.message);
    if (!*fetched)
        return false;
    const auto config = Config::userConfig();
    const auto ownDeviceId =
        config ? Config::decryptedValue(*config, kConfigDeviceId) : std::optional<std::string>();
    if (!ownDeviceId || ownDeviceId->empty() || !result.data)
        return false;
    for (const auto& device : *result.data)
        if (device.deviceId == *ownDeviceId)
            return true;
    return false;
}

// ---- regular processing

void AppDelegate::updateTwentyFourHourTimer() {
    ILog("Start Timer process by twenty four hour at %@",
         DateUtil::getCurrentDate(kZoneDateFormat));
    const auto last = updateTwentyFourHourTimerDate();
    const double elapsed =
        (last ? DateUtil::getCurrentDateTimeInteval(*last) : 0.0) + kTwentyFourHourSlack;
    TAVO_DLOG(
        "(getCurrentDateTimeInteval = %f) : (kTwentyFourHourTimerInterval = %f): "
        "updateTwentyFourHourTimerDate: [%@]",
        elapsed, kTwentyFourHourTimerInterval, dateText(last, kZoneDateFormat));
    if (!(elapsed < kTwentyFourHourTimerInterval && last)) {
        setUpdateTwentyFourHourTimerDate(Clock::current().systemNow());
        if (!twentyFourHourCheckTimer) {
            std::weak_ptr<AppDelegate> weak = weak_from_this();
            twentyFourHourCheckTimer =
                Timer::scheduledTimer(seconds(kTwentyFourHourTimerInterval), true, [weak] {
                    if (auto self = weak.lock())
                        self->updateTwentyFourHourTimer();
                });
        }
        TAVO_DLOG("submitting performRegularProcessing");
        submitToSerialQueue([](AppDelegate& self) { self.performRegularProcessing(); });
    }
    ILog("End Timer process by twenty four hour");
}

void AppDelegate::performRegularProcessing() {
    ILog("Start regular process for user license");
    env_.fontController->chainState().isDiskSpaceInsufficientNotified = false;
    if (!client().isLoginStatus) {
        ILog("Perfrom regular process of logout status");
        env_.fontController->processPeriodicConfirmationFontDeactivationLogout();
        ILog("End regular process for user license");
        return;
    }
    ILog("Perfrom regular process of login status");
    NoticeApi api(client());
    std::optional<Error> error;
    const auto notice = api.getNoticeWithError(&error);
    bool existsLatestNotice = false;
    std::optional<std::int64_t> total;
    if (OVError::checkApiError(error, notice.code, notice.message) && notice.data) {
        existsLatestNotice = notice.data->existsLatestNotice.value_or(false);
        total = notice.data->total;
    }
    const std::string countText =
        total && *total >= 1 ? "(" + std::to_string(*total) + localized("Notice number unit") + ")"
                             : std::string();
    const std::string title = localized("Notice information") + countText;
    submitToMainQueue([title](AppDelegate& self) {
        if (self.env_.statusItem)
            self.env_.statusItem->setItemTitle(kMenuTagNoticeInfo, title);
    });

    env_.fontController->fontUninstallationRemovedServer(kRemovedFontsLimit, kRemovedFontsOffset);

    if (existsLatestNotice) {
        setStatusIcon(appUpdated ? kStatusIconFinish : kStatusIconNotified);
        isRedBadge = true;
    }
    if (env_.programController)
        env_.programController->nextVersionDownloadInBackground();
    ILog("End regular process for user license");
}

// ---- refresh token

void AppDelegate::updateUserRefreshTokenScheduled() {
    TAVO_DLOG("start");
    ILog("Performing scheduled check to update refresh token");
    if (!client().isLoginStatus) {
        ILog("Logout status makes nothing to update refresh token");
        return;
    }
    const auto config = Config::userConfig();
    const auto* scheduledDate =
        config ? plistGet<PlistDate>(*config, kConfigScheduledDate) : nullptr;
    const double scheduled = scheduledDate ? secondsSince1970(*scheduledDate) : 0.0;
    const auto now = Clock::current().systemNow();
    TAVO_DLOG("compare is true by date: [%@] < [%@]",
              dateText(scheduledDate ? std::optional(*scheduledDate) : std::nullopt),
              dateText(now));
    TAVO_DLOG("compare is true by seconds: [%f] < [%f]", scheduled, secondsSince1970(now));
    if (!(secondsSince1970(now) > scheduled)) {
        ILog("No reached schedule timestamp makes nothing to update refresh token: [%@]",
             dateText(scheduledDate ? std::optional(*scheduledDate) : std::nullopt));
        return;
    }
    LoginApi api(client());
    std::optional<Error> error;
    const auto result = api.refreshTokenWithRefreshToken(&error);
    if (OVError::checkApiError(error, result.code, result.message) && result.data) {
        const auto& data = *result.data;
        if (data.refreshToken && !data.refreshToken->empty()) {
            TAVO_DLOG("Change refresh token: from [%@] to [%@]",
                      secretText(client().refreshToken()), secretText(data.refreshToken));
            client().setRefreshToken(data.refreshToken);
            ILog("Configuration gets new refresh token");
            const auto encrypted = CryptorUtil::encryptString(*data.refreshToken);
            if (!encrypted || !Config::updateUserConfig([&](PlistDict& dict) {
                    dict[kConfigRefreshTokens] = *encrypted;
                }))
                ELog("code %ld: message: The new refresh token was not stored: Description: [%@]",
                     -1L, Config::userConfigPath().value_or("(empty)"));
        }
        if (data.accessToken && !data.accessToken->empty()) {
            TAVO_DLOG("Change access token token: from [%@] to [%@]",
                      secretText(client().accessToken()), secretText(data.accessToken));
            client().setAccessToken(data.accessToken);
            ILog("Application gets new access token");
        }
        settingScheduleCheckUserRereshToken();
    }
    TAVO_DLOG("end");
}

void AppDelegate::settingScheduleCheckUserRereshToken() {
    long extraDays = 0;
    {
        std::lock_guard lock(mutex_);
        extraDays = std::uniform_int_distribution<long>(0, kRefreshTokenScheduleExtraDays)(random_);
    }
    const auto next = Clock::current().systemNow() +
                      std::chrono::seconds(kRefreshTokenScheduleBaseSeconds + extraDays * 86400);
    const bool stored = Config::updateUserConfig([&](PlistDict& dict) {
        if (const auto* old = plistGet<PlistDate>(dict, kConfigScheduledDate))
            ILog("Setting schedule for next check to refresh token: [%@]: old :[%@]",
                 dateText(next), dateText(*old));
        else
            ILog("Initial setting schedule for next check to refresh token: [%@]", dateText(next));
        dict[kConfigScheduledDate] = PlistDate(next);
    });
    if (!stored)
        ILog("The schedule for the next refresh token check was not stored");
}

// ---- stream watchdog

void AppDelegate::sseWatchDog() {
    TAVO_DLOG("start");
    if (env_.programController && env_.programController->isActiveSSERetryTimer()) {
        TAVO_DLOG("skip watch dog because of the retrying connection");
        return;
    }
    const auto now = Clock::current().systemNow();
    const auto allowable = now - std::chrono::seconds(kSSEAllowableConnectionSeconds);
    const auto lastRetry = client().lastRetryTimestamp();
    TAVO_DLOG("allowableConnectionTime: [%@](now - %d), apiClient.lastRetryTimestamp: [%@]",
              dateText(allowable), kSSEAllowableConnectionSeconds, dateText(lastRetry));
    std::string since = "no experience";
    bool stale = true;
    if (lastRetry) {
        TAVO_DLOG("comparing connection time between allowable and lastRetry");
        since = dateText(lastRetry);
        stale = allowable > *lastRetry;
    }
    if (stale) {
        ILog("Update access token by watch dog");
        getAccessToken(1);
        ILog("calling connectNotifications by watch dog (%d seconds has passed since %@)",
             kSSEAllowableConnectionSeconds, since);
        if (env_.programController)
            env_.programController->connectNotifications();
    }
    TAVO_DLOG("end");
}

// ---- reachability, sleep and wake

void AppDelegate::reachabilityChanged(const Notification&) {
    const bool reachable = reachability_ && reachability_->isReachable();
    ILog("Detected reachability changed: into the %@", reachable ? "enabled" : "disabled");
    if (!reachable) {
        client().isOnlineStatusSse = false;
        client().isOnlineStatusApi = false;
        ELog("code=%@, message=%@", "MSG_E0001",
             "a communication error has occurred. Move to offline mode(no reachability).");
        return;
    }
    if (!client().isLoginStatus)
        return;
    if (auto hold = env_.fontController->syncGate().tryAcquire(); !hold) {
        ILog("Skip reachable performing font synchronization because of already running");
    } else {
        ILog("Perfroming font synchronization at reachability");
        auto held = std::make_shared<FontSyncGate::Hold>(std::move(hold));
        submitToSerialQueue([held](AppDelegate& self) {
            if (self.client().accessToken().value_or("").empty()) {
                ILog("Detect empty access token with reachablity");
                self.getAccessToken(2);
            }
            ILog("Reachable performing font synchronization");
            self.runSynchronization(std::move(*held));
        });
    }
    ILog("Calling connectNotifications because of the reachability has been enabled");
    if (env_.programController)
        env_.programController->connectNotifications();
}

void AppDelegate::receiveSleepNotification() {
    ILog("The host sleeps at %@", DateUtil::getCurrentDate(kDefaultDateFormat));
}

void AppDelegate::receiveAwakeNotification() {
    ILog("The host awakes at %@", DateUtil::getCurrentDate(kDefaultDateFormat));
    const auto now = Clock::current().systemNow();
    client().setAwakenTimestamp(now);
    if (client().isLoginStatus) {
        const auto next = client().nextRetryTimestamp();
        if (!next || now > *next) {
            ILog("Calling connectNotifications because of the host awoken");
            if (env_.programController)
                env_.programController->connectNotifications();
        }
        submitToSerialQueue([](AppDelegate& self) { self.updateUserRefreshTokenScheduled(); });
    } else {
        ILog("Skipping connectNotifications without logged in");
    }
    submitToMainQueue([](AppDelegate& self) {
        ILog("Call the timer process by twenty four hour because of the host awoken");
        self.updateTwentyFourHourTimer();
    });
}

// ---- refused requests

void AppDelegate::apiErrorDetection(const Notification& notification) {
    TAVO_DLOG("start");
    const auto text = [&](const char* key) {
        const auto* value = userInfoText(notification.userInfo, key);
        return value ? *value : std::string();
    };
    const std::string code = text(kOVErrorUserInfoKeyCode);
    if (hasIntegerValue(code) && integerValue(code) == kHttpResponceCodeRefreshTokenExpired) {
        ILog("Forced logout because of expired refresh token: code=%@, message=%@", code,
             text(kOVErrorUserInfoKeyMessage));
        forcedLogout();
    }
    TAVO_DLOG("end");
}

}  // namespace tavo
