#pragma once

#include "service/AccountModels.h"
#include "service/ApiEndpoint.h"

namespace tavo {

// The signed-in customer and the help page.
class CustomerApi : public ApiEndpoint {
public:
    using ApiEndpoint::ApiEndpoint;

    CustomerBase getCustomerWithError(std::optional<Error>* error);
    ScreensBase getScreensHelpUrlWithError(std::optional<Error>* error);
    void getCustomerAsync(Handler<CustomerBase> handler);
    void getScreensHelpUrlAsync(Handler<ScreensBase> handler);
};

}  // namespace tavo
