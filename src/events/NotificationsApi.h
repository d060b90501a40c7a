#pragma once

#include <memory>
#include <optional>
#include <string>

#include "events/ServerSentEvent.h"
#include "events/ServerSentEventDelegate.h"
#include "service/ApiEndpoint.h"

namespace tavo {

// The notification stream of the notification server.
class NotificationsApi : public ApiEndpoint {
public:
    using ApiEndpoint::ApiEndpoint;

    // The whole request ends after one day and five seconds.
    static constexpr double kTimeoutInterval = 86405;
    // The server sends a keep-alive comment well within this; a connection
    // that has carried nothing for this long has stalled.
    static constexpr double kStallInterval = 300;

    // GET /notifications with "Last-Event-ID" when an id is known (the text
    // the server sent, as it stands); the stream is open (its task running)
    // when it comes back.
    std::shared_ptr<ServerSentEvent> getNotificationsAsyncWithLastEventId(
        const std::optional<std::string>& lastEventId,
        std::weak_ptr<ServerSentEventDelegate> delegate);

    // The session configuration of that request.
    SessionConfiguration sessionConfiguration(const std::optional<std::string>& lastEventId) const;
};

}  // namespace tavo
