#include "service/ContractsApi.h"

namespace tavo {

ScreensBase ContractsApi::getScreensHomeUrlWithError(std::optional<Error>* error) {
    return call<ScreensBase>(v1("/screens/home/url"), kHttpGet, std::nullopt, authorisedHeaders(), error);
}

void ContractsApi::getScreensHomeUrlAsync(Handler<ScreensBase> handler) {
    callAsync<ScreensBase>(v1("/screens/home/url"), kHttpGet, std::nullopt, authorisedHeaders(),
                           std::move(handler));
}

}  // namespace tavo
