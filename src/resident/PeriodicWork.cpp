// The half-hour check, the once-a-day regular processing, the refresh-token
// schedule, the stream watchdog, and the reactions to reachability, sleep
// and wake.
#include "resident/PeriodicWork.h"

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
#include "resident/ResidentNames.h"
#include "resident/ResidentQueues.h"
#include "resident/WeakCall.h"
#include "service/ApiClient.h"
#include "service/LoginApi.h"
#include "service/NoticeApi.h"
#include "service/OVError.h"
#include "service/Reachability.h"
#include "session/SessionState.h"
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

PeriodicWork::PeriodicWork(ApiClient& client, SessionState& sessionState,
                           std::shared_ptr<FontManagementController> fontController,
                           std::shared_ptr<ProgramController> programController)
    : client_(client),
      sessionState_(sessionState),
      fontController_(std::move(fontController)),
      programController_(std::move(programController)),
      random_(std::random_device{}()) {}

PeriodicWork::~PeriodicWork() {
    invalidateTimers();
}

void PeriodicWork::setReachability(std::shared_ptr<Reachability> reachability) {
    reachability_ = std::move(reachability);
}

void PeriodicWork::invalidateTimers() {
    for (auto* timer : {&halfHourCheckTimer_, &twentyFourHourCheckTimer_}) {
        if (*timer) {
            (*timer)->invalidate();
            timer->reset();
        }
    }
}

void PeriodicWork::runSynchronization(FontSyncGate::Hold hold) {
    fontController_->syncSettingedFontActiveDeactiveOnMembersSite(std::move(hold));
}

std::optional<Clock::SystemTime> PeriodicWork::updateTwentyFourHourTimerDate() const {
    std::lock_guard lock(mutex_);
    return updateTwentyFourHourTimerDate_;
}

void PeriodicWork::setUpdateTwentyFourHourTimerDate(std::optional<Clock::SystemTime> date) {
    std::lock_guard lock(mutex_);
    updateTwentyFourHourTimerDate_ = date;
}

// ---- half-hour check

void PeriodicWork::updateHalfHourTimer() {
    TAVO_DLOG("start");
    ILog("Status checker of [%@](%@) at %@", Const::getCurrentAppVersion(),
         Const::getCurrentBuildNumber(), DateUtil::getCurrentDate(kZoneDateFormat));
    if (!halfHourCheckTimer_) {
        std::weak_ptr<PeriodicWork> weak = weak_from_this();
        halfHourCheckTimer_ = Timer::scheduledTimer(seconds(kHalfHourTimerInterval), true, [weak] {
            if (auto self = weak.lock())
                self->updateHalfHourTimer();
        });
    }
    if (!client_.isLoginStatus) {
        TAVO_DLOG("end");
        return;
    }
    submitToSerialQueue(client_, shared_from_this(), [](PeriodicWork& self) {
        ApiClient& client = self.client_;
        const bool preOnlineStatus = client.isOnlineStatus();
        TAVO_DLOG("preOnlineStatus=%d", preOnlineStatus ? 1 : 0);
        if (client.accessToken().value_or("").empty()) {
            ILog("Detect empty access token with timer");
            callIfSet(self.links_.getAccessToken, 1);
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
            if (auto hold = self.fontController_->syncGate().tryAcquire(); !hold) {
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
            callIfSet(self.links_.forcedLogout);
        }
    });
    TAVO_DLOG("end");
}

bool PeriodicWork::isOwnDeviceRegistered(bool* fetched) {
    LoginApi api(client_);
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

void PeriodicWork::updateTwentyFourHourTimer() {
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
        if (!twentyFourHourCheckTimer_) {
            std::weak_ptr<PeriodicWork> weak = weak_from_this();
            twentyFourHourCheckTimer_ =
                Timer::scheduledTimer(seconds(kTwentyFourHourTimerInterval), true, [weak] {
                    if (auto self = weak.lock())
                        self->updateTwentyFourHourTimer();
                });
        }
        TAVO_DLOG("submitting performRegularProcessing");
        submitToSerialQueue(client_, shared_from_this(),
                            [](PeriodicWork& self) { self.performRegularProcessing(); });
    }
    ILog("End Timer process by twenty four hour");
}

void PeriodicWork::performRegularProcessing() {
    ILog("Start regular process for user license");
    fontController_->chainState().isDiskSpaceInsufficientNotified = false;
    if (!client_.isLoginStatus) {
        ILog("Perfrom regular process of logout status");
        fontController_->processPeriodicConfirmationFontDeactivationLogout();
        ILog("End regular process for user license");
        return;
    }
    ILog("Perfrom regular process of login status");
    NoticeApi api(client_);
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
    callIfSet(links_.setNoticeInfoTitle, title);

    fontController_->fontUninstallationRemovedServer(kRemovedFontsLimit, kRemovedFontsOffset);

    if (existsLatestNotice)
        callIfSet(links_.raiseNoticeBadge);
    if (programController_)
        programController_->nextVersionDownloadInBackground();
    ILog("End regular process for user license");
}

// ---- refresh token

void PeriodicWork::updateUserRefreshTokenScheduled() {
    TAVO_DLOG("start");
    ILog("Performing scheduled check to update refresh token");
    if (!client_.isLoginStatus) {
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
    LoginApi api(client_);
    std::optional<Error> error;
    const auto result = api.refreshTokenWithRefreshToken(&error);
    if (OVError::checkApiError(error, result.code, result.message) && result.data) {
        const auto& data = *result.data;
        if (data.refreshToken && !data.refreshToken->empty()) {
            TAVO_DLOG("Change refresh token: from [%@] to [%@]", secretText(client_.refreshToken()),
                      secretText(data.refreshToken));
            client_.setRefreshToken(data.refreshToken);
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
                      secretText(client_.accessToken()), secretText(data.accessToken));
            client_.setAccessToken(data.accessToken);
            ILog("Application gets new access token");
        }
        settingScheduleCheckUserRereshToken();
    }
    TAVO_DLOG("end");
}

void PeriodicWork::settingScheduleCheckUserRereshToken() {
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

void PeriodicWork::sseWatchDog() {
    TAVO_DLOG("start");
    if (programController_ && programController_->isActiveSSERetryTimer()) {
        TAVO_DLOG("skip watch dog because of the retrying connection");
        return;
    }
    const auto now = Clock::current().systemNow();
    const auto allowable = now - std::chrono::seconds(kSSEAllowableConnectionSeconds);
    const auto lastRetry = sessionState_.lastRetryTimestamp();
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
        callIfSet(links_.getAccessToken, 1);
        ILog("calling connectNotifications by watch dog (%d seconds has passed since %@)",
             kSSEAllowableConnectionSeconds, since);
        if (programController_)
            programController_->connectNotifications();
    }
    TAVO_DLOG("end");
}

// ---- reachability, sleep and wake

void PeriodicWork::reachabilityChanged(const Notification&) {
    const bool reachable = reachability_ && reachability_->isReachable();
    ILog("Detected reachability changed: into the %@", reachable ? "enabled" : "disabled");
    if (!reachable) {
        client_.isOnlineStatusSse = false;
        client_.isOnlineStatusApi = false;
        ELog("code=%@, message=%@", "MSG_E0001",
             "a communication error has occurred. Move to offline mode(no reachability).");
        return;
    }
    if (!client_.isLoginStatus)
        return;
    if (auto hold = fontController_->syncGate().tryAcquire(); !hold) {
        ILog("Skip reachable performing font synchronization because of already running");
    } else {
        ILog("Perfroming font synchronization at reachability");
        auto held = std::make_shared<FontSyncGate::Hold>(std::move(hold));
        submitToSerialQueue(client_, shared_from_this(), [held](PeriodicWork& self) {
            if (self.client_.accessToken().value_or("").empty()) {
                ILog("Detect empty access token with reachablity");
                callIfSet(self.links_.getAccessToken, 2);
            }
            ILog("Reachable performing font synchronization");
            self.runSynchronization(std::move(*held));
        });
    }
    ILog("Calling connectNotifications because of the reachability has been enabled");
    if (programController_)
        programController_->connectNotifications();
}

void PeriodicWork::receiveSleepNotification() {
    ILog("The host sleeps at %@", DateUtil::getCurrentDate(kDefaultDateFormat));
}

void PeriodicWork::receiveAwakeNotification() {
    ILog("The host awakes at %@", DateUtil::getCurrentDate(kDefaultDateFormat));
    const auto now = Clock::current().systemNow();
    sessionState_.setAwakenTimestamp(now);
    if (client_.isLoginStatus) {
        const auto next = sessionState_.nextRetryTimestamp();
        if (!next || now > *next) {
            ILog("Calling connectNotifications because of the host awoken");
            if (programController_)
                programController_->connectNotifications();
        }
        submitToSerialQueue(client_, shared_from_this(),
                            [](PeriodicWork& self) { self.updateUserRefreshTokenScheduled(); });
    } else {
        ILog("Skipping connectNotifications without logged in");
    }
    submitToMainQueue(shared_from_this(), [](PeriodicWork& self) {
        ILog("Call the timer process by twenty four hour because of the host awoken");
        self.updateTwentyFourHourTimer();
    });
}

}  // namespace tavo
