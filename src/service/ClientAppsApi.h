#pragma once

#include "service/AccountModels.h"
#include "service/ApiEndpoint.h"
#include "service/ClientAppsModels.h"

namespace tavo {

// The version this application should run, and its update package.
class ClientAppsApi : public ApiEndpoint {
public:
    using ApiEndpoint::ApiEndpoint;

    ClientAppsBase getClientAppsVersionWithError(std::optional<Error>* error);
    ClientAppsBase getClientAppsUpdateInfoWithError(std::optional<Error>* error);
    void getClientAppsVersionAsync(Handler<ClientAppsBase> handler);
    void getClientAppsUpdateInfoAsync(Handler<ClientAppsBase> handler);
};

}  // namespace tavo
