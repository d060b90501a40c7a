#include "service/ApiEndpoint.h"

namespace tavo {

ApiHeaders ApiEndpoint::deviceHeaders() const {
    ApiHeaders headers;
    if (const auto id = apiClient.deviceId())
        headers[kHeaderDeviceId] = *id;
    return headers;
}

ApiHeaders ApiEndpoint::authorisedHeaders() const {
    ApiHeaders headers = deviceHeaders();
    if (const auto token = apiClient.accessToken())
        headers[kHeaderAuthorization] = format("%@ %@", kPrefixBearer, *token);
    return headers;
}

ApiParams givenParams(std::initializer_list<std::pair<const char*, std::optional<std::string>>> args) {
    ApiParams params;
    for (const auto& [key, value] : args)
        if (value)
            params[key] = *value;
    return params;
}

}  // namespace tavo
