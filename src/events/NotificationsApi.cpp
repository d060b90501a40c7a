#include "events/NotificationsApi.h"

#include <string>

#include "foundation/Log.h"
#include "service/SecretMasking.h"

namespace tavo {

SessionConfiguration NotificationsApi::sessionConfiguration(
    const std::optional<std::string>& lastEventId) const {
    SessionConfiguration configuration = SessionConfiguration::defaultSessionConfiguration();
    configuration.timeoutIntervalForRequest = kTimeoutInterval;
    configuration.timeoutIntervalForIdle = kStallInterval;
    auto& headers = configuration.HTTPAdditionalHeaders;
    headers.emplace_back("User-Agent", apiClient.userAgent());
    headers.emplace_back("Connection", "keep-alive");
    headers.emplace_back("Accept", "text/event-stream");
    headers.emplace_back("Cache-Control", "no-cache");
    headers.emplace_back(kHeaderDeviceId, apiClient.deviceId().value_or(""));
    headers.emplace_back(kHeaderAuthorization,
                         format("%@ %@", kPrefixBearer, apiClient.accessToken().value_or("")));
    if (lastEventId)
        headers.emplace_back("Last-Event-ID", *lastEventId);
    return configuration;
}

std::shared_ptr<ServerSentEvent> NotificationsApi::getNotificationsAsyncWithLastEventId(
    const std::optional<std::string>& lastEventId,
    std::weak_ptr<ServerSentEventDelegate> delegate) {
    const SessionConfiguration configuration = sessionConfiguration(lastEventId);
    for (const auto& [name, value] : configuration.HTTPAdditionalHeaders)
        TAVO_DLOG("request header: %@ %@", name, SecretMasking::maskHeader(name, value));
    const std::string url = apiClient.sseEndpoint() + kSSEPath;
    ILog("Request %@, lastEventId: %@", url, lastEventId.value_or("(empty)"));
    auto stream = ServerSentEvent::initWithURL(url, configuration);
    stream->setDelegate(std::move(delegate));
    stream->open();
    return stream;
}

}  // namespace tavo
