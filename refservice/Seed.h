#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "refservice/ServiceModels.h"

namespace tavo::refservice {

class ServiceState;
class FontFiles;

// Loads the service's starting state from a JSON seed (format in README.md):
// settings, the catalogue (listed fonts, installed fonts, synthetic fonts),
// accounts with their fonts and devices, and the client versions.
class Seed {
public:
    // Applies a seed to an empty state; false with a reason when the seed
    // is malformed. Relative font sources are taken from baseDir.
    static bool apply(const nlohmann::json& seed, ServiceState& state, const FontFiles& files,
                      const std::string& baseDir, std::string* error);
    // Reads a seed file; false with a reason.
    static bool readFile(const std::string& path, nlohmann::json* seed, std::string* error);

    // One account entry; none with a reason.
    static std::optional<Account> parseAccount(const nlohmann::json& entry, std::string* error);
    // Adds (or replaces) an account with its fonts and devices; the caller
    // holds the state's lock.
    static bool addAccount(const nlohmann::json& entry, ServiceState& state, std::string* error);
    // Applies the "clientApps" entry (versions and the offered archive).
    static bool applyClientApps(const nlohmann::json& entry, ClientAppsInfo& info,
                                const std::string& baseDir, std::string* error);
};

}  // namespace tavo::refservice
