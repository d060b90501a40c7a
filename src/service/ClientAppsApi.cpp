#include "service/ClientAppsApi.h"

namespace tavo {

ClientAppsBase ClientAppsApi::getClientAppsVersionWithError(std::optional<Error>* error) {
    return call<ClientAppsBase>(v1("/client-apps/version"), kHttpGet, std::nullopt, authorisedHeaders(), error);
}

ClientAppsBase ClientAppsApi::getClientAppsUpdateInfoWithError(std::optional<Error>* error) {
    return call<ClientAppsBase>(v1("/client-apps/update-info"), kHttpGet, std::nullopt, authorisedHeaders(),
                                error);
}

void ClientAppsApi::getClientAppsVersionAsync(Handler<ClientAppsBase> handler) {
    callAsync<ClientAppsBase>(v1("/client-apps/version"), kHttpGet, std::nullopt, authorisedHeaders(),
                              std::move(handler));
}

void ClientAppsApi::getClientAppsUpdateInfoAsync(Handler<ClientAppsBase> handler) {
    callAsync<ClientAppsBase>(v1("/client-apps/update-info"), kHttpGet, std::nullopt, authorisedHeaders(),
                              std::move(handler));
}

}  // namespace tavo
