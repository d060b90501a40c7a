#pragma once

#include <functional>
#include <optional>
#include <string>

#include "foundation/Log.h"
#include "service/ApiClient.h"

namespace tavo {

// What every endpoint class shares: the client, the header sets, and one
// call that logs, sends and decodes.
class ApiEndpoint {
public:
    explicit ApiEndpoint(ApiClient& client = ApiClient::defaultApiClient()) : apiClient(client) {}

    ApiClient& apiClient;

    template <typename Base>
    using Handler = std::function<void(const Base&, const std::optional<Error>&)>;

protected:
    // "X-TAVO-DEVICEID" whenever a device id is set (also an empty one), and
    // "Authorization: Bearer <token>" whenever an access token is set.
    ApiHeaders authorisedHeaders() const;
    // "X-TAVO-DEVICEID" only.
    ApiHeaders deviceHeaders() const;

    static std::string v1(const std::string& endpointPath) { return std::string(kAPIV1Path) + endpointPath; }

    template <typename Base>
    Base call(const std::string& path, const std::string& method, const std::optional<ApiParams>& params,
              const std::optional<ApiHeaders>& headers, std::optional<Error>* error) {
        ILog("Request %@", path);
        const Response response = apiClient.requestAtPath(path, method, params, headers);
        if (error)
            *error = response.error;
        return Base::initWithJson(response.body, path);
    }

    template <typename Base>
    void callAsync(const std::string& path, const std::string& method,
                   const std::optional<ApiParams>& params, const std::optional<ApiHeaders>& headers,
                   Handler<Base> handler) {
        ILog("Request %@", path);
        apiClient.asyncRequestAtPath(path, method, params, headers,
                                     [path, handler = std::move(handler)](const Response& response) {
                                         if (handler)
                                             handler(Base::initWithJson(response.body, path), response.error);
                                     });
    }
};

// The entries of a parameter map for the arguments that are given.
ApiParams givenParams(std::initializer_list<std::pair<const char*, std::optional<std::string>>> args);

}  // namespace tavo
