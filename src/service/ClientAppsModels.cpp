#include "service/ClientAppsModels.h"

namespace tavo {

template struct Envelope<ClientApps>;

void ClientApps::propertyInjection(const Json& dictionary, const std::string& path) {
    inject(dictionary, "appId", appId, path);
    inject(dictionary, "version", version, path);
    inject(dictionary, "url", url, path);
    inject(dictionary, "isForcedUpdate", isForcedUpdate, path);
}

void ClientApps::propertyExport(Json& dictionary) const {
    put(dictionary, "appId", appId);
    put(dictionary, "version", version);
    put(dictionary, "url", url);
    put(dictionary, "isForcedUpdate", isForcedUpdate);
}

}  // namespace tavo
