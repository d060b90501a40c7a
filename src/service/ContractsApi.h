#pragma once

#include "service/AccountModels.h"
#include "service/ApiEndpoint.h"

namespace tavo {

// The account's home page on the service's web site.
class ContractsApi : public ApiEndpoint {
public:
    using ApiEndpoint::ApiEndpoint;

    ScreensBase getScreensHomeUrlWithError(std::optional<Error>* error);
    void getScreensHomeUrlAsync(Handler<ScreensBase> handler);
};

}  // namespace tavo
