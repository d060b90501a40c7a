#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>

#include "events/SSERetryPolicy.h"
#include "events/ServerSentEvent.h"
#include "events/ServerSentEventDelegate.h"
#include "foundation/Clock.h"
#include "foundation/Timer.h"
#include "service/ApiClient.h"
#include "session/SessionState.h"

namespace tavo {

// The notification stream's connection manager: opens the stream with the
// last event id, keeps the stream half of the online state, records and
// re-posts each event, and reconnects after a loss. Always owned through a
// shared_ptr: timers, queued work and the stream hold it weakly.
class NotificationConnection : public std::enable_shared_from_this<NotificationConnection>,
                               public ServerSentEventDelegate {
public:
    NotificationConnection(ApiClient& apiClient, SessionState& sessionState);
    ~NotificationConnection() override;
    NotificationConnection(const NotificationConnection&) = delete;
    NotificationConnection& operator=(const NotificationConnection&) = delete;

    // Opens the stream with the stored last event id, on the serial queue,
    // after closing the current one. Nothing happens while signed out.
    void connectNotifications();
    // Closes the current stream and waits up to 2 seconds for its end.
    void disconnectNotifications();
    // Cancels a pending reconnection (on the main queue).
    void terminateSSERetryTimer();
    // Whether a reconnection is pending.
    bool isActiveSSERetryTimer() const;

    // The stream's delegate operations.
    void serverSentEventDidOpen(const std::shared_ptr<ServerSentEvent>& sse) override;
    void serverSentEvent(const std::shared_ptr<ServerSentEvent>& sse,
                         const SSEEvents& event) override;
    void serverSentEvent(const std::shared_ptr<ServerSentEvent>& sse,
                         const std::optional<Error>& error) override;
    void serverSentEventDidClose(const std::shared_ptr<ServerSentEvent>& sse) override;

    std::shared_ptr<ServerSentEvent> serverSentEvent() const;
    // The id of the last event received, as the server sent it.
    std::optional<std::string> lastEventId() const;
    std::shared_ptr<Timer> sseRetryThereafterTimer() const;
    bool ssrClosing() const { return ssrClosing_.load(); }

private:
    void connectOnSerialQueue();
    void setServerSentEvent(std::shared_ptr<ServerSentEvent> stream);
    void storeLastEventId(const std::string& identifier);
    void scheduleRetry(int delay, const std::string& reason, Clock::SystemTime next);
    void logRetryRule(const SSERetryDecision& decision, bool hasError);
    // Waits until a connection attempt in progress has its stream in place,
    // so the stream's callbacks never overtake it.
    void waitForAttemptInPlace() const;
    // After waiting for the attempt in progress: whether sse is the current
    // stream (none stands for the current one).
    bool isCurrent(const std::shared_ptr<ServerSentEvent>& sse) const;

    ApiClient& apiClient_;
    SessionState& sessionState_;  // the stream's retry moments and the last wake

    mutable std::mutex streamMutex_;
    std::shared_ptr<ServerSentEvent> serverSentEvent_;
    std::optional<std::string> lastEventId_;
    std::shared_ptr<Timer> sseRetryThereafterTimer_;
    std::optional<Clock::SystemTime> awakeRetryUsedFor_;  // the wake whose quick retry was used
    std::mt19937 random_;
    std::atomic<bool> ssrClosing_{false};
    mutable std::mutex attemptMutex_;  // held while an attempt puts its stream in place
};

}  // namespace tavo
