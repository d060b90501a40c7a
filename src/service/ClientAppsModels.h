#pragma once

#include <optional>
#include <string>

#include "service/BaseModel.h"
#include "service/Envelope.h"

namespace tavo {

// The version this application should run (GET /client-apps/version,
// GET /client-apps/update-info).
struct ClientApps : BaseModel {
    std::optional<std::string> appId;
    std::optional<std::string> version;  // newest version of the application
    std::optional<std::string> url;      // download address of the update package
    std::optional<bool> isForcedUpdate;

    void propertyInjection(const Json& dictionary, const std::string& path);
    void propertyExport(Json& dictionary) const;
    bool operator==(const ClientApps&) const = default;
};

using ClientAppsBase = Envelope<ClientApps>;

extern template struct Envelope<ClientApps>;

}  // namespace tavo
