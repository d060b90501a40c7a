#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace tavo::refservice {

using Clock = std::chrono::system_clock;

// A font of the catalogue: what every account that holds it is told, and the
// stamped file that is served for it.
struct CatalogueFont {
    std::string fontId;
    std::string displayFontName;
    std::string fileName;
    std::string version;
    bool isFreemium = false;
    std::shared_ptr<const std::string> file;  // stamped bytes; null when kept on disk
    std::string filePath;                     // stamped file in the data folder
    std::int64_t fileSize = 0;
};

// A font as one account holds it.
struct AccountFont {
    std::string fontId;
    std::string userFontId;
    bool activate = false;
    bool available = true;  // false: withdrawn, listed under deletedFonts
    bool needFontVersionUpdate = false;
    std::optional<nlohmann::json> contractIds;  // overrides the account's
};

struct Notice {
    long total = 0;
    bool existsLatestNotice = false;
};

// One machine registration (POST /deviceId); a device may be in use by
// several accounts.
struct Device {
    std::string deviceId;
    std::string deviceKey;
    std::string hostname;
    std::string osUserName;
    std::string osType;
    std::string osVersion;
};

struct DeviceUse {
    std::string deviceId;
    std::string userDeviceId;
};

struct Account {
    std::string mailAddress;
    std::string password;
    std::string firstName;
    std::string lastName;
    bool locked = false;
    bool contractExpired = false;
    bool notAuthorized = false;
    std::string twoFactorCode;  // empty: no second factor
    int maxDevices = 2;
    nlohmann::json contractIds = nlohmann::json::array();
    Notice notice;
    std::vector<AccountFont> fonts;
    std::vector<DeviceUse> devicesInUse;
};

struct Token {
    std::string mailAddress;
    std::string deviceId;
    Clock::time_point expiresAt;
};

struct PendingTwoFactor {
    std::string mailAddress;
    Clock::time_point issuedAt;
};

struct Event {
    long id = 0;
    std::string mailAddress;
    std::string name;
    nlohmann::json data;
};

struct ClientAppsInfo {
    std::string appId = "TAVO";
    std::string specifiedVersion;  // empty: none named
    std::string offeredVersion;    // empty: no update offered
    bool isForcedUpdate = false;
    std::shared_ptr<const std::string> archive;  // the offered version's zip
    // What is served at the archive's address + ".sig": "valid" (the
    // archive's signature), "bad" (another archive's) or "missing" (none).
    std::string signatureMode = "valid";
    std::string signature;  // base64 of the archive's signature
};

struct Settings {
    std::chrono::seconds accessTokenLifetime{3600};
    std::chrono::seconds refreshTokenLifetime{30 * 24 * 3600};
    std::chrono::seconds twoFactorLifetime{600};
    std::size_t eventHistory = 10000;
};

}  // namespace tavo::refservice
