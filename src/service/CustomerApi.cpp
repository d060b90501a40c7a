#include "service/CustomerApi.h"

namespace tavo {

CustomerBase CustomerApi::getCustomerWithError(std::optional<Error>* error) {
    return call<CustomerBase>(v1("/customer"), kHttpGet, std::nullopt, authorisedHeaders(), error);
}

ScreensBase CustomerApi::getScreensHelpUrlWithError(std::optional<Error>* error) {
    return call<ScreensBase>(v1("/screens/help/url"), kHttpGet, std::nullopt, authorisedHeaders(), error);
}

void CustomerApi::getCustomerAsync(Handler<CustomerBase> handler) {
    callAsync<CustomerBase>(v1("/customer"), kHttpGet, std::nullopt, authorisedHeaders(), std::move(handler));
}

void CustomerApi::getScreensHelpUrlAsync(Handler<ScreensBase> handler) {
    callAsync<ScreensBase>(v1("/screens/help/url"), kHttpGet, std::nullopt, authorisedHeaders(),
                           std::move(handler));
}

}  // namespace tavo
