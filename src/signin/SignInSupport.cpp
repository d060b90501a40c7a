#include "signin/SignInSupport.h"

#include <uuid/uuid.h>

#include <algorithm>
#include <cctype>

#include "foundation/Config.h"
#include "foundation/CryptorUtil.h"
#include "foundation/Log.h"
#include "foundation/ShellExecute.h"
#include "platform/SystemInfo.h"
#include "service/ApiClient.h"

namespace tavo::signin::detail {

std::size_t utf16Length(std::string_view text) {
    std::size_t units = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) == 0x80)
            continue;                                   // continuation byte
        units += byte >= 0xF0 && byte <= 0xF4 ? 2 : 1;  // four-byte sequences are surrogate pairs
    }
    return units;
}

bool isHeaderSafe(const std::optional<std::string>& value) {
    return value && !value->empty() &&
           std::all_of(value->begin(), value->end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

std::string printable(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    }
    return out;
}

std::string secretShape(const std::optional<std::string>& value) {
    return value && !value->empty() ? "(" + std::to_string(value->size()) + " characters)"
                                    : std::string("(empty)");
}

std::optional<std::string> openableUrl(const std::optional<std::string>& url) {
    if (!isHeaderSafe(url))
        return std::nullopt;
    std::string scheme = url->substr(0, url->find(':'));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if ((scheme != "http" && scheme != "https") || url->compare(scheme.size(), 3, "://") != 0)
        return std::nullopt;
    return url;
}

std::string newDeviceKey() {
    uuid_t uuid;
    uuid_generate_random(uuid);
    char text[37] = {};
    uuid_unparse_upper(uuid, text);
    std::string key(text);
    std::erase(key, '-');
    return key;
}

std::string currentHostName() {
    // Only the standard output: a missing command must not become the name.
    std::string name = ShellExecute::execute("hostname 2>/dev/null");
    std::erase(name, '\n');
    if (name.empty())
        name = platform::SystemInfo::hostName();
    return name;
}

std::optional<std::string> storedDeviceId(const std::string& deviceKey) {
    const auto config = Config::userConfig();
    if (!config || Config::decryptedValue(*config, kConfigDeviceKey) != deviceKey)
        return std::nullopt;  // an id belongs to the key it was registered with
    auto deviceId = Config::decryptedValue(*config, kConfigDeviceId);
    return isHeaderSafe(deviceId) ? deviceId : std::nullopt;
}

bool storeDeviceId(const std::string& deviceId) {
    const auto encrypted = CryptorUtil::encryptString(deviceId);
    return encrypted &&
           Config::updateUserConfig([&](PlistDict& dict) { dict[kConfigDeviceId] = *encrypted; });
}

bool dropDeviceId() {
    return Config::updateUserConfig([](PlistDict& dict) { dict[kConfigDeviceId] = std::string(); });
}

namespace {

bool storeRefreshToken(const std::string& refreshToken) {
    auto config = Config::userConfig();
    const auto encrypted = CryptorUtil::encryptString(refreshToken);
    if (!config || !encrypted) {
        ELog("code %ld: message: The refresh token was not stored: Description: [%@]", -1L,
             Config::userConfigPath().value_or("(empty)"));
        return false;
    }
    (*config)[kConfigRefreshTokens] = *encrypted;
    return Config::writeToUserConfig(*config, false, nullptr);
}

// The token when it can be used, else the empty text.
std::string usable(const std::optional<std::string>& token) {
    return isHeaderSafe(token) ? *token : std::string();
}

// Sets the usable tokens in the client with their log lines; the refresh token.
std::string setTokens(ApiClient& client, const std::optional<std::string>& refreshToken,
                      const std::optional<std::string>& accessToken, const std::string& logPrefix) {
    const std::string refresh = usable(refreshToken);
    const std::string access = usable(accessToken);
    client.setRefreshToken(refresh);
    ILog(refresh.empty() ? "%@ has empty refresh token" : "%@ set refresh token", logPrefix);
    client.setAccessToken(access);
    ILog(access.empty() ? "%@ has empty access token" : "%@ set access token", logPrefix);
    TAVO_DLOG("refresh token %@, access token %@", secretShape(refresh), secretShape(access));
    return refresh;
}

}  // namespace

bool takeTokens(ApiClient& client, const std::optional<std::string>& refreshToken,
                const std::optional<std::string>& accessToken, const std::string& logPrefix) {
    const std::string refresh = setTokens(client, refreshToken, accessToken, logPrefix);
    const bool stored = storeRefreshToken(refresh);
    return stored && !refresh.empty();
}

void holdTokens(ApiClient& client, const std::optional<std::string>& refreshToken,
                const std::optional<std::string>& accessToken, const std::string& logPrefix) {
    setTokens(client, refreshToken, accessToken, logPrefix);
    const auto config = Config::userConfig();
    if (config && !Config::decryptedValue(*config, kConfigRefreshTokens).value_or("").empty())
        storeRefreshToken(std::string());
}

StepOutcome segueTo(const char* segue) {
    StepOutcome outcome;
    outcome.segue = segue;
    outcome.enableButton = false;  // the page is left
    return outcome;
}

StepOutcome showErrorText(const char* text) {
    StepOutcome outcome;
    outcome.showError = true;
    outcome.errorText = text;
    outcome.enableButton = true;
    return outcome;
}

}  // namespace tavo::signin::detail
