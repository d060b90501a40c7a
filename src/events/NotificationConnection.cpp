// The notification stream's connection manager: opens the stream with the
// last event id, keeps the stream half of the online state, records and
// re-posts each event, and reconnects after a loss.
#include "events/NotificationConnection.h"

#include <string>

#include "events/LastEventId.h"
#include "events/NotificationsApi.h"
#include "events/SSEConstants.h"
#include "foundation/Config.h"
#include "foundation/DateUtil.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "foundation/NotificationCenter.h"
#include "service/BaseModel.h"

namespace tavo {

namespace {

constexpr int kCloseChecks = 10;
constexpr double kCloseCheckInterval = 0.2;

std::string dateText(const std::optional<Clock::SystemTime>& date) {
    return date ? DateUtil::getFormatStringFromDate(*date, kDefaultDateFormat)
                : std::string("(nil)");
}

void postServerSentEvent(UserInfo userInfo) {
    NotificationCenter::defaultCenter().post(kSSENotificationKeyServerSentEvent,
                                             std::move(userInfo));
}

// "Last Event ID" of the user configuration, as the server sent it.
std::optional<std::string> storedLastEventId() {
    const auto config = Config::userConfig();
    return config ? LastEventId::fromConfig(*config) : std::nullopt;
}

// Why the data of a font event cannot be acted upon; empty when it can.
std::string fontEventDataProblem(const SSEEvents& event) {
    if (!event.data() || event.data()->empty())
        return "holds no data";
    return BaseModel::jsonObjectProblem(*event.data());
}

}  // namespace

NotificationConnection::NotificationConnection(ApiClient& apiClient, SessionState& sessionState)
    : apiClient_(apiClient), sessionState_(sessionState), random_(std::random_device{}()) {}

NotificationConnection::~NotificationConnection() {
    if (sseRetryThereafterTimer_)
        sseRetryThereafterTimer_->invalidate();
}

// ---- properties

std::shared_ptr<ServerSentEvent> NotificationConnection::serverSentEvent() const {
    std::lock_guard lock(streamMutex_);
    return serverSentEvent_;
}

void NotificationConnection::setServerSentEvent(std::shared_ptr<ServerSentEvent> stream) {
    std::lock_guard lock(streamMutex_);
    serverSentEvent_ = std::move(stream);
}

std::optional<std::string> NotificationConnection::lastEventId() const {
    std::lock_guard lock(streamMutex_);
    return lastEventId_;
}

std::shared_ptr<Timer> NotificationConnection::sseRetryThereafterTimer() const {
    std::lock_guard lock(streamMutex_);
    return sseRetryThereafterTimer_;
}

void NotificationConnection::waitForAttemptInPlace() const {
    std::lock_guard barrier(attemptMutex_);
}

bool NotificationConnection::isCurrent(const std::shared_ptr<ServerSentEvent>& sse) const {
    waitForAttemptInPlace();
    if (!sse || sse == serverSentEvent())
        return true;
    // A stream replaced or dropped meanwhile: its end must not schedule a
    // reconnection that would tear down the current one.
    TAVO_DLOG("nothing to do for a stream that is no longer current");
    return false;
}

// ---- connecting and disconnecting

void NotificationConnection::connectNotifications() {
    if (!apiClient_.isLoginStatus) {
        ILog("Nothing to do for connectNotifications without logged in");
        return;
    }
    std::weak_ptr<NotificationConnection> weak = weak_from_this();
    auto work = [weak] {
        if (auto self = weak.lock())
            self->connectOnSerialQueue();
    };
    if (auto queue = apiClient_.serialDispatchQueue()) {
        queue->async(std::move(work));
    } else {
        WLog("connectNotifications runs on the calling thread without a serial queue");
        work();
    }
}

void NotificationConnection::connectOnSerialQueue() {
    terminateSSERetryTimer();
    ssrClosing_ = false;
    disconnectNotifications();
    const std::optional<std::string> lastEventId = storedLastEventId();
    {
        std::lock_guard lock(streamMutex_);
        lastEventId_ = lastEventId;
    }
    sessionState_.setLastRetryTimestamp(Clock::current().systemNow());
    sessionState_.setNextRetryTimestamp(std::nullopt);
    TAVO_DLOG("calling getNotificationsAsyncWithLastEventId(%@)",
              ssrClosing_ ? "closing now" : "closed");

    bool movedOnline = false;
    {
        std::lock_guard attempt(attemptMutex_);
        NotificationsApi api(apiClient_);
        auto stream = api.getNotificationsAsyncWithLastEventId(lastEventId, weak_from_this());
        setServerSentEvent(stream);
        if (stream->isTaskRunning()) {
            // The stream half counts as online from the moment the GET
            // starts; its failure takes it back.
            const bool wasOnline = apiClient_.isOnlineStatus();
            apiClient_.isOnlineStatusSse = true;
            movedOnline = !wasOnline && apiClient_.isOnlineStatus();
        } else {
            const auto state = stream->taskState();
            ILog("ServerSentEvent Session task status = %ld",
                 state ? static_cast<long>(*state) : -1L);
        }
    }
    if (movedOnline) {
        ILog("moved to online mode (sse)");
        postServerSentEvent({{kPCUserInfoKeyOpen, true}});
    }
}

void NotificationConnection::disconnectNotifications() {
    auto stream = serverSentEvent();
    if (!stream)
        return;
    const bool endedBefore = stream->isClosed() || stream->isFailed();
    ssrClosing_ = true;
    stream->close();
    if (endedBefore || stream->isFailed())
        ssrClosing_ = false;  // it had already ended: no close will be reported
    // The stream's own queue cannot report the close while we wait on it.
    const bool onStreamQueue = stream->operationQueue()->isCurrent();
    for (int check = 0; check < kCloseChecks && ssrClosing_ && !onStreamQueue; ++check)
        Clock::current().sleepFor(seconds(kCloseCheckInterval));
    // A late end of this stream must not touch the next one's state.
    stream->setDelegate({});
    ILog("disconnected");
    std::lock_guard lock(streamMutex_);
    if (serverSentEvent_ == stream)
        serverSentEvent_.reset();
}

// ---- the stream's delegate operations

void NotificationConnection::serverSentEventDidOpen(const std::shared_ptr<ServerSentEvent>& sse) {
    if (!isCurrent(sse))
        return;
    const bool wasOnline = apiClient_.isOnlineStatus();
    apiClient_.isOnlineStatusSse = true;
    ILog("Response %@ status=%@", kSSEPath, wasOnline ? "keep online" : "turn to online");
    terminateSSERetryTimer();
    if (!wasOnline && apiClient_.isOnlineStatus()) {
        ILog("moved to online mode (sse OPEN)");
        postServerSentEvent({{kPCUserInfoKeyOpen, true}});
    }
}

void NotificationConnection::serverSentEventDidClose(const std::shared_ptr<ServerSentEvent>&) {
    waitForAttemptInPlace();
    ILog("Closing response for %@", kSSEPath);
    postServerSentEvent({{kPCUserInfoKeyClose, true}});
    ssrClosing_ = false;
}

void NotificationConnection::serverSentEvent(const std::shared_ptr<ServerSentEvent>&,
                                             const SSEEvents& event) {
    waitForAttemptInPlace();
    TAVO_DLOG("start");
    if (!event.event()) {
        ILog("Received empty event");
        return;
    }
    const std::string name = *event.event();
    const auto& identifier = event.identifier();
    const std::string dataText = event.data() && !event.data()->empty() ? *event.data() : "(empty)";
    ILog("Received an event: lastEventId=[%@]", identifier.value_or("(empty)"));
    TAVO_DLOG("jsonData=[%@]", dataText);
    // Recorded before anything acts on it, so it is not delivered again
    // after a reconnection. An id that could not go back exactly as it came
    // leaves the stored one alone: another id would resume elsewhere, and
    // storing 0 would make the server send its whole history again.
    if (const auto kept = LastEventId::fromEvent(identifier))
        storeLastEventId(*kept);
    else if (identifier)
        WLog("Keeping the last event id: the event's id [%@] is no id to send back", *identifier);
    else
        ILog("Keeping the last event id for an event without an id");
    if (name == kEventFontActivate || name == kEventFontDeactivate) {
        if (const std::string problem = fontEventDataProblem(event); !problem.empty())
            WLog("Event %@ (id %@): the data %@", name, identifier.value_or("(empty)"), problem);
    }
    if (name == kPCUserInfoKeyOpen || name == kPCUserInfoKeyClose ||
        name == kFMUserInfoKeyJsonData) {
        // Such a name would read as the stream's own open or close.
        WLog("Ignoring an event named %@", name);
        return;
    }
    postServerSentEvent({{name, event}, {kFMUserInfoKeyJsonData, dataText}});
    TAVO_DLOG("end");
}

void NotificationConnection::storeLastEventId(const std::string& identifier) {
    {
        std::lock_guard lock(streamMutex_);
        lastEventId_ = identifier;
    }
    const bool stored = Config::updateUserConfig([&identifier](PlistDict& config) {
        config[kConfigLastEventID] = LastEventId::toConfigValue(identifier);
    });
    if (!stored)
        ILog("The last event id %@ was not kept in the user configuration", identifier);
}

void NotificationConnection::serverSentEvent(const std::shared_ptr<ServerSentEvent>& sse,
                                             const std::optional<Error>& error) {
    if (!isCurrent(sse))
        return;
    const bool wasOnline = apiClient_.isOnlineStatus();
    const std::string errorText = error ? error->text() : std::string("unknown");
    const auto response = sse ? sse->httpUrlResponse() : std::nullopt;
    const long status = response ? response->statusCode : 0;
    if (response) {
        TAVO_DLOG("with response status: %ld: Description: [%@]", status, errorText);
        if (status == 200) {
            apiClient_.isOnlineStatusSse = true;
            if (!wasOnline && apiClient_.isOnlineStatus()) {
                ILog("moved to online mode (sse DFWE)");
                terminateSSERetryTimer();
                postServerSentEvent({{kPCUserInfoKeyOpen, true}});
            }
        } else {
            apiClient_.isOnlineStatusSse = false;
            if (!apiClient_.isLoginStatus || wasOnline)
                ELog("code=%@, message=%@", "MSG_E0003",
                     "a server error has occurred. Move to offline mode(sse).");
        }
    } else {
        // Not even an answer: the stream is not connected.
        apiClient_.isOnlineStatusSse = false;
    }
    ILog("Detected sse response status: %ld: Description: [%@]", status, errorText);
    if (error)
        ILog("Error Descriptions(sse): [%@]", error->text());

    const Clock::SystemTime now = Clock::current().systemNow();
    SSERetryPolicy::Input input;
    input.hasError = error.has_value();
    input.httpStatus = status;
    input.now = now;
    input.awakenTimestamp = sessionState_.awakenTimestamp();
    input.lastRetryTimestamp = sessionState_.lastRetryTimestamp();
    SSERetryDecision decision;
    {
        std::lock_guard lock(streamMutex_);
        input.awakeRetryUsed = awakeRetryUsedFor_ && awakeRetryUsedFor_ == input.awakenTimestamp;
        decision = SSERetryPolicy::decide(input, random_);
        if (decision.rule == SSERetryDecision::Rule::AwakeFromSleep)
            awakeRetryUsedFor_ = input.awakenTimestamp;
    }
    logRetryRule(decision, input.hasError);

    const Clock::SystemTime next = now + std::chrono::seconds(decision.delay);
    sessionState_.setNextRetryTimestamp(next);
    TAVO_DLOG(
        "intervals:[%d]: estimateLastRetryTime:[%@]: lastRetryTimestamp:[%@]: "
        "nextRetryTimestamp:[%@]",
        decision.delay, dateText(SSERetryPolicy::referenceMoment(now)),
        dateText(input.lastRetryTimestamp), dateText(next));
    if (apiClient_.isLoginStatus)
        scheduleRetry(decision.delay, decision.reason, next);
    else
        TAVO_DLOG("no retrying to connect notification without logged in");
}

void NotificationConnection::logRetryRule(const SSERetryDecision& decision, bool hasError) {
    using Rule = SSERetryDecision::Rule;
    switch (decision.rule) {
        case Rule::ClosedByServer:
            break;
        case Rule::AwakeFromSleep:
            TAVO_DLOG("Assuming 1st retry for SSE because awakes from sleep within 300 seconds(%@)",
                      dateText(sessionState_.awakenTimestamp()));
            break;
        case Rule::LastAttemptLongAgo:
            TAVO_DLOG("Assuming 1st retry for SSE because last performing over 480 seconds(%@)",
                      dateText(sessionState_.lastRetryTimestamp()));
            break;
        case Rule::FollowingRetry:
            if (hasError)
                ELog("code=%@, message=%@", "MSG_E0001",
                     "a communication error has occurred. Move to offline mode(sse).");
            TAVO_DLOG(
                "Assuming following retry for SSE because last performing within 480 seconds(%@)",
                dateText(sessionState_.lastRetryTimestamp()));
            break;
    }
}

// ---- the retry timer

void NotificationConnection::scheduleRetry(int delay, const std::string& reason,
                                           Clock::SystemTime next) {
    std::weak_ptr<NotificationConnection> weak = weak_from_this();
    MainQueue::main().async([weak, delay, reason, next] {
        auto self = weak.lock();
        if (!self)
            return;
        ILog("Retrying to connect notification at %@ (after %d seconds), reason: %@.",
             dateText(next), delay, reason);
        auto timer = Timer::scheduledTimer(seconds(delay), false, [weak] {
            if (auto owner = weak.lock())
                owner->connectNotifications();
        });
        std::shared_ptr<Timer> replaced;
        {
            std::lock_guard lock(self->streamMutex_);
            replaced = std::exchange(self->sseRetryThereafterTimer_, timer);
        }
        if (replaced)
            replaced->invalidate();  // one pending reconnection at a time
    });
}

void NotificationConnection::terminateSSERetryTimer() {
    auto terminate = [](NotificationConnection& self) {
        std::shared_ptr<Timer> timer;
        {
            std::lock_guard lock(self.streamMutex_);
            timer = std::move(self.sseRetryThereafterTimer_);
            self.sseRetryThereafterTimer_.reset();
        }
        if (timer) {
            timer->invalidate();
            TAVO_DLOG("self.sseRetryThereafterTimer = nil");
        }
    };
    if (MainQueue::isMainThread()) {
        terminate(*this);
        return;
    }
    // After anything already queued there, such as a retry being scheduled.
    MainQueue::main().async([weak = weak_from_this(), terminate] {
        if (auto self = weak.lock())
            terminate(*self);
    });
}

bool NotificationConnection::isActiveSSERetryTimer() const {
    const auto timer = sseRetryThereafterTimer();
    // A timer that has fired is no longer a pending reconnection.
    const bool alive = timer && timer->isValid();
    TAVO_DLOG(alive ? "sseRetryThereafterTimer is alive" : "sseRetryThereafterTimer is dead");
    return alive;
}

}  // namespace tavo
